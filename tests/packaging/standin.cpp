// Stands in for TalvoUpdater.exe in the installer check: writes its working folder and arguments
// to standin.txt in its per-user folder, %LOCALAPPDATA%\Talvo\TalvoUpdater.
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int)
{
    wchar_t cwd[MAX_PATH] = L"", local[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local);
    std::wstring folder = std::wstring(local) + L"\\Talvo";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder += L"\\TalvoUpdater").c_str(), nullptr);
    FILE *out = _wfopen((folder + L"\\standin.txt").c_str(), L"w");
    if (!out || std::fwprintf(out, L"cwd=%ls\nargs=%ls\n", cwd, arguments) < 0)
        return 1;
    return std::fclose(out) == 0 ? 0 : 1;
}
