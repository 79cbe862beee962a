#include "driverplatform.h"

#include <windows.h>

#include <psapi.h>

#include <vector>

namespace DriverPlatform {

namespace {
// Below the system folder (System32 on a usual installation).
const wchar_t DRIVER_STORE_DIR[] = L"\\DriverStore\\FileRepository";
const wchar_t CLASS_DRIVER_PACKAGE[] = L"mchpcdc.inf";
const wchar_t CLASS_DRIVER_FILE[] = L"usbser.sys";
const DWORD DRIVER_NAME_CHARS = 1024;

// The system folder as the system names it: Windows need not live in C:\Windows.
std::wstring systemDirectory()
{
    std::vector<wchar_t> path(MAX_PATH);
    UINT length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (length >= path.size()) {
        path.resize(length);
        length = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    }
    if (length == 0 || length >= path.size())
        return std::wstring();
    return std::wstring(path.data(), length);
}
} // namespace

bool isClassDriverInstalled()
{
    const std::wstring systemDir = systemDirectory();
    if (systemDir.empty())
        return false;
    return driverStoreHasPackage(systemDir + DRIVER_STORE_DIR, CLASS_DRIVER_PACKAGE) ||
           systemDriverFilePresent(systemDir, CLASS_DRIVER_FILE);
}

LoadState classDriverLoadState()
{
    return kernelDriverLoadState(CLASS_DRIVER_FILE);
}

bool driverStoreHasPackage(const std::wstring &storeDir, const std::wstring &prefix)
{
    const std::wstring pattern = storeDir + L"\\*";
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    do {
        const std::wstring name(entry.cFileName);
        if (name.compare(0, prefix.size(), prefix) == 0) {
            found = true;
            break;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

bool systemDriverFilePresent(const std::wstring &systemDir, const std::wstring &fileName)
{
    const std::wstring path = systemDir + L"\\drivers\\" + fileName;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

LoadState kernelDriverLoadState(const std::wstring &baseName, unsigned maxDrivers)
{
    std::vector<LPVOID> drivers(maxDrivers);
    const DWORD capacity = static_cast<DWORD>(drivers.size() * sizeof(LPVOID));
    DWORD needed = 0;
    // A list that needs the whole array (or more) may have been cut short.
    if (!K32EnumDeviceDrivers(drivers.data(), capacity, &needed) || needed >= capacity)
        return LoadState::EnumerationFailed;

    const DWORD count = needed / sizeof(LPVOID);
    std::vector<wchar_t> name(DRIVER_NAME_CHARS);
    for (DWORD i = 0; i < count; ++i) {
        if (!K32GetDeviceDriverBaseNameW(drivers[i], name.data(), DRIVER_NAME_CHARS))
            continue;
        if (baseName == name.data())
            return LoadState::Loaded;
    }
    return LoadState::NotLoaded;
}

} // namespace DriverPlatform
