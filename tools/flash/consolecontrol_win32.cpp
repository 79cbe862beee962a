#include "consolecontrol.h"

#include <windows.h>

#include <atomic>

namespace {

std::atomic<ConsoleControl::Sink> currentSink{nullptr};

// How long the handler of a closed console holds the process, so that a stop after the current
// frame can end the installation cleanly: the system ends the process after about 5 s anyway.
const DWORD CLOSE_GRACE_MS = 4500;

BOOL WINAPI onControl(DWORD controlType)
{
    return ConsoleControl::handle(controlType) != 0 ? TRUE : FALSE;
}

} // namespace

namespace ConsoleControl {

bool catchEvents(Sink sink)
{
    currentSink.store(sink);
    return SetConsoleCtrlHandler(onControl, TRUE) != 0;
}

void releaseEvents()
{
    SetConsoleCtrlHandler(onControl, FALSE);
    currentSink.store(nullptr);
}

int handle(unsigned long controlType)
{
    const Sink sink = currentSink.load();
    if (!sink)
        return 0;
    switch (controlType) {
    case CTRL_C_EVENT:
        sink(Interrupt);
        return 1;
    case CTRL_BREAK_EVENT:
        sink(Break);
        return 1;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        sink(HangUp);
        // Returning lets the system end the process now; the program ends it sooner itself.
        Sleep(CLOSE_GRACE_MS);
        return 1;
    default:
        return 0;
    }
}

} // namespace ConsoleControl
