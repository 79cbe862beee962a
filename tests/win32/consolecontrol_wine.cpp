// The flasher's console control handler (tools/flash/consolecontrol_win32.cpp) under wine: a real
// Ctrl-C raised with GenerateConsoleCtrlEvent reaches the sink instead of ending the process while
// the events are caught; Ctrl-Break and a closed console are handed to the handler directly; once
// released, the handler leaves every event to the system. Prints one line per check and
// "N passed, N failed".
#include "../../tools/flash/consolecontrol.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<int> received{0};
std::atomic<int> count{0};
int passed = 0, failed = 0;

void sink(int event)
{
    received.store(event);
    count.fetch_add(1);
}

void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    std::fflush(stdout);
    (ok ? passed : failed) += 1;
}

// Raises the event for this process group and waits for the sink to count it.
bool raised(DWORD controlType, int expected)
{
    const int before = count.load();
    if (!GenerateConsoleCtrlEvent(controlType, 0)) {
        std::printf("GenerateConsoleCtrlEvent failed: %lu\n", GetLastError());
        return false;
    }
    for (int waited = 0; waited < 5000 && count.load() == before; waited += 10)
        Sleep(10);
    return count.load() == before + 1 && received.load() == expected;
}

} // namespace

int wmain()
{
    // Under wine with its output in a pipe the program has no console: it makes one (the CRT's
    // standard output stays the pipe), and the child shares it.
    FreeConsole();
    if (!AllocConsole())
        std::printf("AllocConsole failed: %lu\n", GetLastError());
    check(ConsoleControl::handle(CTRL_C_EVENT) == 0, "no sink: the default action");
    check(ConsoleControl::catchEvents(sink), "SetConsoleCtrlHandler takes the handler");
    check(raised(CTRL_C_EVENT, ConsoleControl::Interrupt),
          "Ctrl-C reaches the sink as SIGINT, the process lives on");
    // Wine's GenerateConsoleCtrlEvent raises no Ctrl-Break: the handler is called with it instead.
    check(ConsoleControl::handle(CTRL_BREAK_EVENT) == 1 && received.load() == ConsoleControl::Break,
          "Ctrl-Break reaches the sink as SIGBREAK");
    check(raised(CTRL_C_EVENT, ConsoleControl::Interrupt), "a second Ctrl-C reaches it too");
    const int before = count.load();
    check(ConsoleControl::handle(CTRL_CLOSE_EVENT) == 1 && received.load() == ConsoleControl::HangUp &&
              count.load() == before + 1,
          "a closed console reaches the sink as a hang-up");
    ConsoleControl::releaseEvents();
    check(ConsoleControl::handle(CTRL_C_EVENT) == 0 && ConsoleControl::handle(CTRL_CLOSE_EVENT) == 0,
          "released: the default action again");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
