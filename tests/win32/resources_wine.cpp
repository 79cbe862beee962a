// Reads back, through the Windows API, the metadata that a program linked with the resource
// script carries: the version record as Explorer's properties page shows it, the icon sizes,
// the manifest's execution level and common-controls binding, and the subsystem.
// Usage: resources_wine.exe PROGRAM.exe. Prints one "key: value" line per item; the test
// compares them with the expected list.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t *const STRING_FIELDS[] = {L"CompanyName",   L"FileDescription",  L"FileVersion",
                                        L"InternalName",  L"OriginalFilename", L"ProductName",
                                        L"ProductVersion"};

std::string narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string fixedVersion(DWORD ms, DWORD ls)
{
    return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." + std::to_string(HIWORD(ls)) +
           "." + std::to_string(LOWORD(ls));
}

bool printVersionRecord(const wchar_t *program)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program, &ignored);
    if (size == 0) {
        std::printf("Version record: missing\n");
        return false;
    }
    std::vector<char> record(size);
    if (!GetFileVersionInfoW(program, 0, size, record.data()))
        return false;

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(record.data(), L"\\", reinterpret_cast<void **>(&fixed), &length) && fixed) {
        std::printf("Fixed file version: %s\n",
                    fixedVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS).c_str());
        std::printf("Fixed product version: %s\n",
                    fixedVersion(fixed->dwProductVersionMS, fixed->dwProductVersionLS).c_str());
    }

    // The language and code page under which the strings are kept.
    WORD *translation = nullptr;
    if (!VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                        &length) ||
        length < 2 * sizeof(WORD))
        return false;
    wchar_t block[64];
    swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    std::printf("Translation: %04x %u\n", translation[0], translation[1]);

    for (const wchar_t *field : STRING_FIELDS) {
        wchar_t *value = nullptr;
        const std::wstring query = std::wstring(block) + field;
        if (VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void **>(&value), &length) && value)
            std::printf("%s: %s\n", narrow(field).c_str(), narrow(std::wstring(value)).c_str());
        else
            std::printf("%s: missing\n", narrow(field).c_str());
    }
    return true;
}

std::vector<char> resource(HMODULE module, const wchar_t *type, const wchar_t *name)
{
    HRSRC found = FindResourceW(module, name, type);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const char *data = static_cast<const char *>(LockResource(loaded));
    return data ? std::vector<char>(data, data + SizeofResource(module, found)) : std::vector<char>();
}

BOOL CALLBACK firstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out)
{
    auto *target = reinterpret_cast<std::wstring *>(out);
    *target = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name;
    return FALSE;
}

#pragma pack(push, 2)
struct GroupIconHeader
{
    WORD reserved, type, count;
};
struct GroupIconEntry
{
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

void printIcons(HMODULE module)
{
    std::wstring name;
    EnumResourceNamesW(module, RT_GROUP_ICON, firstName, reinterpret_cast<LONG_PTR>(&name));
    const std::vector<char> group =
        name.empty() ? std::vector<char>() : resource(module, RT_GROUP_ICON, name.c_str());
    if (group.size() < sizeof(GroupIconHeader)) {
        std::printf("Icon sizes: missing\n");
        return;
    }
    const auto *header = reinterpret_cast<const GroupIconHeader *>(group.data());
    const auto *entries = reinterpret_cast<const GroupIconEntry *>(group.data() + sizeof(GroupIconHeader));
    std::string sizes;
    for (WORD i = 0;
         i < header->count && sizeof(GroupIconHeader) + (i + 1) * sizeof(GroupIconEntry) <= group.size();
         ++i) {
        const int width = entries[i].width ? entries[i].width : 256;
        // Every image the group names must be there with the size the group records.
        const std::vector<char> image = resource(module, RT_ICON, MAKEINTRESOURCEW(entries[i].id));
        const bool intact = image.size() == entries[i].bytes;
        sizes += (sizes.empty() ? "" : " ") + std::to_string(width) + (intact ? "" : "(broken)");
    }
    std::printf("Icon sizes: %s\n", sizes.c_str());
}

// Value of attribute `name` in the first element `tag` that follows position `from`.
std::string attribute(const std::string &xml, const std::string &tag, const std::string &name,
                      size_t from = 0)
{
    const size_t start = xml.find("<" + tag, from);
    if (start == std::string::npos)
        return "missing";
    const size_t end = xml.find('>', start);
    const std::string element = xml.substr(start, end - start);
    const size_t at = element.find(" " + name + "=\"");
    if (at == std::string::npos)
        return "missing";
    const size_t value = at + name.size() + 3;
    return element.substr(value, element.find('"', value) - value);
}

void printManifest(HMODULE module)
{
    const std::vector<char> data = resource(module, RT_MANIFEST, MAKEINTRESOURCEW(1));
    const std::string xml(data.begin(), data.end());
    std::printf("Manifest execution level: %s\n", attribute(xml, "requestedExecutionLevel", "level").c_str());
    const size_t dependency = xml.find("<dependentAssembly");
    if (dependency == std::string::npos) {
        std::printf("Manifest dependency: missing\n");
        return;
    }
    std::printf("Manifest dependency: %s %s\n",
                attribute(xml, "assemblyIdentity", "name", dependency).c_str(),
                attribute(xml, "assemblyIdentity", "version", dependency).c_str());
}

void printSubsystem(HMODULE module)
{
    // A module loaded as an image data file: the low bits of the handle mark it, the headers follow.
    const auto *base =
        reinterpret_cast<const BYTE *>(reinterpret_cast<ULONG_PTR>(module) & ~static_cast<ULONG_PTR>(3));
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const WORD subsystem = nt->OptionalHeader.Subsystem;
    std::printf("Subsystem: %s\n", subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI   ? "Windows GUI"
                                   : subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI ? "Windows console"
                                                                              : "other");
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: resources_wine PROGRAM.exe\n");
        return 2;
    }
    if (!printVersionRecord(argv[1]))
        return 1;
    HMODULE module =
        LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::printf("LoadLibraryEx failed: %lu\n", GetLastError());
        return 1;
    }
    printIcons(module);
    printManifest(module);
    printSubsystem(module);
    FreeLibrary(module);
    return 0;
}
