#include "debuglog.h"

#include "nativepath.h"
#include "plainfile.h"
#include "userfolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

std::atomic<bool> verbose{false};
QMutex fileMutex;
QList<QFile *> files;       // guarded by fileMutex
QFile *namedFile = nullptr; // the file named with openFile, guarded by fileMutex
QString namedFileError;     // why it could not be written, guarded by fileMutex

// The log files are closed when the application object goes, and at the latest when the program
// ends: a file left open would never be flushed to its end nor freed.
void closeFiles()
{
    QMutexLocker locker(&fileMutex);
    qDeleteAll(files);
    files.clear();
    namedFile = nullptr;
}

struct ClosedAtExit
{
    ~ClosedAtExit() { closeFiles(); }
} closedAtExit;

// A message as it is shown and kept: the control characters that text from a unit or the port
// list may bring (ESC, a lone carriage return, ...) as \xNN, so that none reaches a terminal as a
// command; line breaks and tabs stay.
QString withoutControls(const QString &message)
{
    QString text;
    text.reserve(message.size());
    for (int i = 0; i < message.size(); ++i) {
        const QChar c = message.at(i);
        const bool layout = c == QLatin1Char('\n') || c == QLatin1Char('\t') ||
                            (c == QLatin1Char('\r') && message.midRef(i + 1, 1) == QLatin1String("\n"));
        if (c.category() != QChar::Other_Control || layout)
            text += c;
        else
            text += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return text;
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &original)
{
    const QString message = withoutControls(original);
    {
        QMutexLocker locker(&fileMutex);
        if (!files.isEmpty()) {
            // A message of several lines stays one line of the file, after its category unless
            // that is the default one.
            QString line = message;
            if (context.category && qstrcmp(context.category, "default") != 0)
                line.prepend(QLatin1String(context.category) + QLatin1String(": "));
            line.replace(QLatin1String("\r\n"), QLatin1String("\\n"))
                .replace(QLatin1Char('\n'), QLatin1String("\\n"));
            const QByteArray bytes = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) +
                                      QLatin1Char(' ') + line + QLatin1Char('\n'))
                                         .toUtf8();
            for (QFile *file : qAsConst(files)) {
                const bool written = file->write(bytes) == bytes.size() && file->flush();
                if (!written && file == namedFile && namedFileError.isEmpty())
                    namedFileError = file->errorString();
            }
        }
    }
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verbose.load())
        return;
    std::fputs(qPrintable(qFormatLogMessage(type, context, message) + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

void addFile(QFile *file)
{
    QMutexLocker locker(&fileMutex);
    if (files.isEmpty() && QCoreApplication::instance())
        qAddPostRoutine(closeFiles);
    files << file;
}

// Removes the oldest of the program's run files beyond DebugLog::KEPT_RUN_LOGS, never `current`.
// Age is the time a file was last written: a name only tells when a run started by a clock that
// may have been wrong, and a name from the future must not outlive every new log. Links and
// anything but regular files of the program's pattern are not its logs.
void pruneRunLogs(QDir dir, const QString &program, const QString &current)
{
    const QRegularExpression runLog(
        QStringLiteral("^") + QRegularExpression::escape(program) +
        QStringLiteral("-(\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d)(?:_(\\d+))?\\.log$"));
    struct Entry
    {
        QString name;
        QDateTime written;
        QString stamp;
        int sameSecond;
    };
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<Entry> entries;
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::NoSymLinks)) {
        const QRegularExpressionMatch match = runLog.match(info.fileName());
        if (!match.hasMatch() || info.fileName() == current)
            continue;
        // A time yet to come tells nothing of when the file was written: such a file goes first.
        const QDateTime written = info.lastModified().toUTC();
        entries.append({info.fileName(), written > now ? QDateTime::fromSecsSinceEpoch(0, Qt::UTC) : written,
                        match.captured(1), match.captured(2).toInt()});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.written != b.written)
            return a.written < b.written;
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.sameSecond < b.sameSecond;
    });
    // This run's file is the newest and is kept: the others make up the rest.
    for (int i = 0; i < entries.size() - (DebugLog::KEPT_RUN_LOGS - 1); ++i)
        dir.remove(entries.at(i).name);
}

} // namespace

namespace DebugLog {

void install()
{
    qInstallMessageHandler(handleMessage);
}

void setVerbose(bool on)
{
    verbose.store(on);
}

bool openFile(const QString &path, QString *error)
{
    // A FIFO without a reader would hold the program at the open, a terminal or a serial port
    // would carry the log onto its line: only a regular file is opened, and never waited on.
    std::string why;
    const int fd = PlainFile::openToAppend(nativePath(path), &why);
    auto *opened = new QFile();
    if (fd < 0 || !opened->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text,
                                QFileDevice::AutoCloseHandle)) {
        if (error)
            *error = fd < 0 ? QString::fromStdString(why) : opened->errorString();
        delete opened;
        return false;
    }
    addFile(opened);
    QMutexLocker locker(&fileMutex);
    namedFile = opened;
    namedFileError.clear();
    return true;
}

bool isStandardOutput(const QString &path, bool *appends)
{
#ifdef Q_OS_WIN
    return PlainFile::isOpenOn(nativePath(path), _fileno(stdout), appends);
#else
    return PlainFile::isOpenOn(nativePath(path), fileno(stdout), appends);
#endif
}

QString fileError()
{
    QMutexLocker locker(&fileMutex);
    return namedFileError;
}

QString folder()
{
    const QString user = UserFolder::path();
    return user.isEmpty() ? QString() : user + QStringLiteral("/logs");
}

QString openRunLog(const QString &program)
{
    const QString logFolder = folder();
    if (logFolder.isEmpty()) {
        // Without one, whatever the program would keep would land at the root or anywhere.
        qWarning().noquote() << QStringLiteral(
                                    "Warning: no per-user folder (%1): no log and no journal are kept")
                                    .arg(UserFolder::whyNone());
        return QString();
    }
    if (!QDir().mkpath(logFolder))
        return QString();
    const QDir dir(logFolder);
    const QString base = program + QLatin1Char('-') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH-mm-ss"));
    // NewOnly: a run started in the same second by another process gets a name of its own.
    for (int sameSecond = 1; sameSecond <= 100; ++sameSecond) {
        const QString name = base + (sameSecond > 1 ? QStringLiteral("_%1").arg(sameSecond) : QString()) +
                             QStringLiteral(".log");
        auto *file = new QFile(dir.filePath(name));
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)) {
            addFile(file);
            pruneRunLogs(dir, program, name);
            return file->fileName();
        }
        const bool taken = file->exists();
        delete file;
        if (!taken)
            break;
    }
    return QString();
}

} // namespace DebugLog
