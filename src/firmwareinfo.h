#pragma once

#include <QObject>
#include <QString>

// One catalogue entry: a firmware image the program carries for one model family.
class FirmwareInfo : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FirmwareInfo)

public:
    FirmwareInfo(const QString &image, int size, const QString &version, const QString &changelog,
                 const QString &logo, QObject *parent = nullptr);

    QString image() const { return _image; }
    unsigned int size() const { return _size; }
    QString version() const { return _version; }
    QString changelog() const { return _changelog; }
    QString logo() const { return _logo; }

private:
    const QString _image;     // resource path of the TI-TXT image
    const unsigned int _size; // data bytes in the image, the denominator of the progress
    const QString _version;   // "major.minor"
    const QString _changelog; // resource path of the change log
    const QString _logo;      // picture path as the scene uses it ("/fmw/s/logo.jpg")
};
