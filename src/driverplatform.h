#pragma once

// Checks for the USB serial class driver of the unit. One implementation per platform
// (driverplatform_win32.cpp, driverplatform_posix.cpp); this header and the Windows file stay
// free of Qt so that the Windows code can be compiled and run without a Windows Qt.

#include <string>

namespace DriverPlatform {

enum class LoadState
{
    Loaded,
    NotLoaded,
    EnumerationFailed
};

// Is a driver that can serve the unit's serial port installed on this system? On Windows: the
// vendor's package in the driver store, or the system's own CDC serial driver, which Windows 10
// and later bind to the unit without any package.
bool isClassDriverInstalled();

// Is the class driver loaded into the kernel?
LoadState classDriverLoadState();

#ifdef _WIN32
// True when an entry of storeDir begins with prefix (case-sensitive).
bool driverStoreHasPackage(const std::wstring &storeDir, const std::wstring &prefix);
// True when systemDir\drivers holds a file of this name.
bool systemDriverFilePresent(const std::wstring &systemDir, const std::wstring &fileName);
// Looks for a loaded kernel driver by base file name (case-sensitive), with room for
// maxDrivers load addresses.
LoadState kernelDriverLoadState(const std::wstring &baseName, unsigned maxDrivers = 1024);
#else
// True when the kernel has registered a USB driver of this name under sysfsRoot.
bool usbDriverRegistered(const std::string &sysfsRoot, const std::string &driverName);
#endif

} // namespace DriverPlatform
