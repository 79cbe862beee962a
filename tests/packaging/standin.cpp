// Stands in for TalvoUpdater.exe in the installer check: writes its working folder and arguments
// to standin.txt in its per-user folder, %LOCALAPPDATA%\Talvo\TalvoUpdater.
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t cwd[MAX_PATH], local[MAX_PATH];
    if (!GetCurrentDirectoryW(MAX_PATH, cwd) ||
        SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local) != S_OK)
        return 2;
    const std::wstring folder = std::wstring(local) + L"\\Talvo";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\TalvoUpdater").c_str(), nullptr);
    FILE *out = _wfopen((folder + L"\\TalvoUpdater\\standin.txt").c_str(), L"w");
    if (!out)
        return 1;
    std::fwprintf(out, L"cwd=%ls\n", cwd);
    for (int i = 1; i < __argc; ++i)
        std::fwprintf(out, L"arg=%ls\n", __wargv[i]);
    return std::fclose(out) == 0 ? 0 : 1;
}
