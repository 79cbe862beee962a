// Stands in for TalvoUpdater.exe in the installer check: writes the folder it was started in and
// its arguments to standin.txt, in the per-user folder with --user-folder, else in that folder.
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t cwd[MAX_PATH], local[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring folder = cwd;
    if (__argc > 1 && std::wcscmp(__wargv[1], L"--user-folder") == 0) {
        if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local) != S_OK)
            return 2;
        folder = std::wstring(local) + L"\\Talvo";
        CreateDirectoryW(folder.c_str(), nullptr);
        folder += L"\\TalvoUpdater";
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    FILE *out = _wfopen((folder + L"\\standin.txt").c_str(), L"w");
    if (!out)
        return 1;
    std::fwprintf(out, L"cwd=%ls\n", cwd);
    for (int i = 1; i < __argc; ++i)
        std::fwprintf(out, L"arg=%ls\n", __wargv[i]);
    return std::fclose(out) == 0 ? 0 : 1;
}
