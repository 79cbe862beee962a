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
