// Stands in for TalvoUpdater.exe's code when its executable is checked: it does nothing. Both
// entry points are there, so that the stub links as a console program too and the check can
// tell which subsystem the build asked for.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}

int wmain()
{
    return 0;
}
