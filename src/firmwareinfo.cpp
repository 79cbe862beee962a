#include "firmwareinfo.h"

FirmwareInfo::FirmwareInfo(const QString &image, int size, const QString &version, const QString &changelog,
                           const QString &logo, QObject *parent)
    : QObject(parent), _image(image), _size(static_cast<unsigned int>(size)), _version(version),
      _changelog(changelog), _logo(logo)
{
}
