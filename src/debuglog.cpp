#include "debuglog.h"

#include "userfolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
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

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
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
void pruneRunLogs(QDir dir, const QString &program, const QString &current)
{
    const QRegularExpression runLog(
        QStringLiteral("^") + QRegularExpression::escape(program) +
        QStringLiteral("-(\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d)(?:_(\\d+))?\\.log$"));
    struct Entry
    {
        QString name;
        QString stamp;
        int sameSecond;
    };
    QList<Entry> entries;
    for (const QString &name : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch match = runLog.match(name);
        if (match.hasMatch())
            entries.append({name, match.captured(1), match.captured(2).toInt()});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.sameSecond < b.sameSecond;
    });
    for (int i = 0; i < entries.size() - DebugLog::KEPT_RUN_LOGS; ++i) {
        if (entries.at(i).name != current)
            dir.remove(entries.at(i).name);
    }
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
    auto *opened = new QFile(path);
    if (!opened->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error)
            *error = opened->errorString();
        delete opened;
        return false;
    }
    addFile(opened);
    QMutexLocker locker(&fileMutex);
    namedFile = opened;
    namedFileError.clear();
    return true;
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
    if (logFolder.isEmpty() || !QDir().mkpath(logFolder))
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
