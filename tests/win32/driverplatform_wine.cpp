// Runs the Windows driver checks under wine. The driver-store listing and the look for usbser.sys
// are pointed at temporary folders standing in for the store and the system folder, then at the
// prefix's own with a package folder or the driver file put there for the check; the kernel-driver
// enumeration runs against whatever the system reports (under wine: no drivers). Prints one line
// per check; the exit code is the number of failed checks.

#include "driverplatform.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(const char *name, bool ok, const std::string &detail = std::string())
{
    std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", name, detail.empty() ? "" : ": ", detail.c_str());
    if (!ok)
        ++failures;
}

const char *stateName(DriverPlatform::LoadState state)
{
    switch (state) {
    case DriverPlatform::LoadState::Loaded:
        return "Loaded";
    case DriverPlatform::LoadState::NotLoaded:
        return "NotLoaded";
    case DriverPlatform::LoadState::EnumerationFailed:
        return "EnumerationFailed";
    }
    return "?";
}

std::wstring temporaryRoot()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    return std::wstring(base) + L"talvo-driverstore-" + std::to_wstring(GetCurrentProcessId());
}

// A store (or system) folder holding the given entries; names ending in '/' are folders, others files.
std::wstring makeStore(const std::wstring &root, const std::wstring &name,
                       const std::vector<std::wstring> &entries)
{
    const std::wstring store = root + L"\\" + name;
    CreateDirectoryW(store.c_str(), nullptr);
    for (const std::wstring &entry : entries) {
        if (!entry.empty() && entry.back() == L'/') {
            CreateDirectoryW((store + L"\\" + entry.substr(0, entry.size() - 1)).c_str(), nullptr);
        } else {
            HANDLE file = CreateFileW((store + L"\\" + entry).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        }
    }
    return store;
}

void removeTree(const std::wstring &path)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name(entry.cFileName);
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

struct StoreCase
{
    const char *name;
    std::vector<std::wstring> entries;
    bool expected;
    bool systemFolder = false; // drivers\usbser.sys is looked for, not a package
};

void driverStoreListing()
{
    const std::wstring root = temporaryRoot();
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring prefix = L"mchpcdc.inf";
    const StoreCase cases[] = {
        {"store with the package folder", {L"usbser.inf_amd64_1/", L"mchpcdc.inf_amd64_5f3c2a1e/"}, true},
        {"store with a file named exactly like the package", {L"mchpcdc.inf"}, true},
        {"store with other packages only", {L"usbser.inf_amd64_1/", L"mdmcpq.inf_amd64_2/"}, false},
        {"store with the package name in capitals", {L"MCHPCDC.INF_amd64_5f3c2a1e/"}, false},
        {"store with the package name in mixed case", {L"Mchpcdc.inf_amd64_5f3c2a1e/"}, false},
        {"store with a name shorter than the prefix", {L"mchpcdc.in/"}, false},
        {"store with the prefix inside a longer name", {L"x_mchpcdc.inf_amd64/"}, false},
        {"empty store", {}, false},
        {"system folder with drivers\\usbser.sys", {L"drivers/", L"drivers\\usbser.sys"}, true, true},
        {"system folder with other drivers only", {L"drivers/", L"drivers\\serial.sys"}, false, true},
        {"system folder with a folder named usbser.sys", {L"drivers/", L"drivers\\usbser.sys/"}, false, true},
        {"system folder with usbser.sys outside drivers", {L"usbser.sys"}, false, true},
    };
    int index = 0;
    for (const StoreCase &c : cases) {
        const std::wstring store = makeStore(root, L"store" + std::to_wstring(index++), c.entries);
        const bool found = c.systemFolder ? DriverPlatform::systemDriverFilePresent(store, L"usbser.sys")
                                          : DriverPlatform::driverStoreHasPackage(store, prefix);
        check(c.name, found == c.expected, found ? "found" : "not found");
    }
    const bool missing = DriverPlatform::driverStoreHasPackage(root + L"\\no-such-folder", prefix);
    check("missing store folder", !missing, missing ? "found" : "not found");
    removeTree(root);
    const bool removed = GetFileAttributesW(root.c_str()) == INVALID_FILE_ATTRIBUTES;
    check("temporary store removed", removed);
}

void kernelDriverEnumeration()
{
    // The enumeration succeeds but lists no drivers under wine.
    const auto state = DriverPlatform::kernelDriverLoadState(L"usbser.sys");
    check("usbser.sys load state with room for 1024 drivers", state == DriverPlatform::LoadState::NotLoaded,
          stateName(state));
    const auto tiny = DriverPlatform::kernelDriverLoadState(L"usbser.sys", 1);
    check("usbser.sys load state with room for 1 driver", tiny == DriverPlatform::LoadState::NotLoaded,
          stateName(tiny));
    // No room at all: an empty list fills the array, so it cannot be trusted to be complete.
    const auto none = DriverPlatform::kernelDriverLoadState(L"usbser.sys", 0);
    check("usbser.sys load state with no room", none == DriverPlatform::LoadState::EnumerationFailed,
          stateName(none));
    const auto classState = DriverPlatform::classDriverLoadState();
    check("the class driver usbser.sys is not loaded under wine",
          classState == DriverPlatform::LoadState::NotLoaded, stateName(classState));
}

// The system's own driver store, as the program looks at it: a package folder put there (and
// taken away again) is what makes the class driver count as installed.
void systemDriverStore()
{
    const wchar_t *const levels[] = {L"C:\\Windows\\System32\\DriverStore",
                                     L"C:\\Windows\\System32\\DriverStore\\FileRepository"};
    std::vector<std::wstring> created;
    for (const wchar_t *level : levels) {
        if (CreateDirectoryW(level, nullptr))
            created.push_back(level);
    }
    const bool before = DriverPlatform::isClassDriverInstalled();
    check("the system's driver store without the package", !before, before ? "installed" : "not installed");

    const std::wstring package = std::wstring(levels[1]) + L"\\mchpcdc.inf_amd64_3c1d9e2f5a7b8c40";
    CreateDirectoryW(package.c_str(), nullptr);
    const bool with = DriverPlatform::isClassDriverInstalled();
    check("the system's driver store with the package folder", with, with ? "installed" : "not installed");
    RemoveDirectoryW(package.c_str());
    for (auto level = created.rbegin(); level != created.rend(); ++level)
        RemoveDirectoryW(level->c_str());

    // Windows 10 and later: their own usbser.sys, found through the system folder.
    wchar_t system[MAX_PATH];
    const std::wstring driver =
        makeStore(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)), L"drivers", {L"usbser.sys"});
    const bool inbox = DriverPlatform::isClassDriverInstalled();
    check("the system folder with its own usbser.sys", inbox, inbox ? "installed" : "not installed");
    DeleteFileW((driver + L"\\usbser.sys").c_str());
}

} // namespace

int wmain()
{
    driverStoreListing();
    kernelDriverEnumeration();
    systemDriverStore();
    std::printf("%d failed\n", failures);
    return failures;
}
