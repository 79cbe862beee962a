#include "targetinfo.h"

#include "firmwareinfo.h"

TargetInfo::TargetInfo(QObject *parent) : QObject(parent)
{
    _talvoModelsS << "Talvo"
                  << "Talvo 400"
                  << "Talvo 800"
                  << "Talvo 400S"
                  << "Talvo 800S"
                  << "Talvo 400 S"
                  << "Talvo 800 S";
    _talvoModelsL << "Talvo 400L"
                  << "Talvo 800L"
                  << "Talvo 400 L"
                  << "Talvo 800 L";

    _firmware.insert(TARGET_TALVO_S, new FirmwareInfo(":/fmw/s/image.txt", 124670, "49.09",
                                                      ":/fmw/s/changelog.txt", "/fmw/s/logo.jpg"));
    _firmware.insert(TARGET_TALVO_L, new FirmwareInfo(":/fmw/l/image.txt", 126452, "52.05",
                                                      ":/fmw/l/changelog.txt", "/fmw/l/logo.jpg"));
}

TargetInfo::~TargetInfo()
{
    qDeleteAll(_firmware);
    _firmware.clear();
}

void TargetInfo::setName(const QString &name)
{
    _name = name;
    // Each family is served by its own catalogue entry.
    if (_talvoModelsS.contains(name))
        _type = TARGET_TALVO_S;
    else if (_talvoModelsL.contains(name))
        _type = TARGET_TALVO_L;
    else
        _type = TARGET_UNKNOWN;
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
