#include "targetinfo.h"

#include "families.h"
#include "firmwareinfo.h"

TargetInfo::TargetInfo(QObject *parent) : QObject(parent)
{
    // Each family is served by its own catalogue entry.
    for (const Family &family : Families::all())
        _firmware.insert(family.family, new FirmwareInfo(family.image, static_cast<int>(family.size),
                                                         family.version, family.changelog, family.picture));
}

TargetInfo::~TargetInfo()
{
    qDeleteAll(_firmware);
    _firmware.clear();
}

void TargetInfo::setName(const QString &name)
{
    _name = name;
    const Family *family = Families::ofModel(name);
    _type = family ? family->family : TARGET_UNKNOWN;
}

void TargetInfo::setVersion(const QString &version)
{
    _version = version;
}

const FirmwareInfo *TargetInfo::entry() const
{
    return _firmware.value(_type, nullptr);
}

QString TargetInfo::firmwareImage() const
{
    const FirmwareInfo *info = entry();
    return info ? info->image() : QString();
}

unsigned int TargetInfo::firmwareSize() const
{
    const FirmwareInfo *info = entry();
    return info ? info->size() : 0;
}

QString TargetInfo::firmwareVersion() const
{
    const FirmwareInfo *info = entry();
    return info ? info->version() : QString();
}

QString TargetInfo::firmwareChangelog() const
{
    const FirmwareInfo *info = entry();
    return info ? info->changelog() : QString();
}

QString TargetInfo::firmwareLogo() const
{
    const FirmwareInfo *info = entry();
    return info ? info->logo() : QString();
}
