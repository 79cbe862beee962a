#include "filecopy.h"

#include "logcategories.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>

bool copyFileByLines(const QString &source, const QString &destination)
{
    QFile from(source);
    if (!from.open(QIODevice::ReadOnly)) {
        qCDebug(lcController) << "file_R.open() failed!";
        return false;
    }
    // Written under a temporary name and renamed: a copy cut off half-way, or a second instance
    // writing the same file, never leaves a truncated destination behind.
    QSaveFile to(destination);
    if (!to.open(QIODevice::WriteOnly)) {
        qCDebug(lcController) << "file_W.open() failed!";
        from.close();
        return false;
    }
    while (!from.atEnd())
        to.write(from.readLine());
    // The rename fails where the destination is in use (a loaded library on Windows): it stays.
    const bool committed = to.commit();
    if (!committed)
        qCDebug(lcController) << "file_W.commit() failed!";
    from.close();
    return committed;
}
