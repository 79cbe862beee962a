#pragma once

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QString>
#include <QtGlobal>

// Descriptors of this process that refer to the device, also after the device has gone.
inline QSet<int> descriptorsOf(const QString &path)
{
    QSet<int> descriptors;
    const QFileInfoList fds =
        QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &fd : fds) {
        const QString target = fd.symLinkTarget();
        if (target == path || target.startsWith(path + " ("))
            descriptors.insert(fd.fileName().toInt());
    }
    return descriptors;
}

// A message handler that keeps the loader's many debug lines per block out of the test output
// and passes everything else on.
inline void dropDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg)
        qt_message_output(type, context, message);
}
