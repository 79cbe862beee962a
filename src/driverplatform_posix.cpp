#include "driverplatform.h"

#include <sys/stat.h>

namespace DriverPlatform {

// The CDC-ACM class driver is part of the kernel: there is no package to install.
bool isClassDriverInstalled()
{
    return true;
}

LoadState classDriverLoadState()
{
    return usbDriverRegistered("/sys", "cdc_acm") ? LoadState::Loaded : LoadState::NotLoaded;
}

bool usbDriverRegistered(const std::string &sysfsRoot, const std::string &driverName)
{
    const std::string path = sysfsRoot + "/bus/usb/drivers/" + driverName;
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace DriverPlatform
