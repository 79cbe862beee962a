#pragma once

#include "plainfile.h"

#include <QDir>
#include <QFile>
#include <QString>

// A path as the platform's file functions take it.
inline PlainFile::Path nativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return QDir::toNativeSeparators(path).toStdWString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}
