#include "filecopy.h"

#include <QDebug>
#include <QFile>

bool copyFileByLines(const QString &source, const QString &destination)
{
    QFile from(source);
    if (!from.open(QIODevice::ReadOnly)) {
        qDebug() << "file_R.open() failed!";
        return false;
    }
    QFile to(destination);
    if (!to.open(QIODevice::WriteOnly)) {
        qDebug() << "file_W.open() failed!";
        from.close();
        return false;
    }
    while (!from.atEnd())
        to.write(from.readLine());
    to.close();
    from.close();
    return true;
}
