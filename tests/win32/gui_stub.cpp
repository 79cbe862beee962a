// Stands in for TalvoUpdater.exe when the resource script is checked: a GUI-subsystem program
// that carries the resources and does nothing.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return 0;
}
