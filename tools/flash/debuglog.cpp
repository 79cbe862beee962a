#include "debuglog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<bool> verbose{false};
QMutex fileMutex;
QFile *file = nullptr; // guarded by fileMutex

void handleMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    {
        QMutexLocker locker(&fileMutex);
        if (file) {
            // A message of several lines stays one line of the file.
            QString line = message;
            line.replace(QLatin1String("\r\n"), QLatin1String("\\n"))
                .replace(QLatin1Char('\n'), QLatin1String("\\n"));
            line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + line +
                   QLatin1Char('\n');
            file->write(line.toUtf8());
            file->flush();
        }
    }
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verbose.load())
        return;
    std::fputs(qPrintable(message + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
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
    QMutexLocker locker(&fileMutex);
    delete file;
    file = opened;
    return true;
}

} // namespace DebugLog
