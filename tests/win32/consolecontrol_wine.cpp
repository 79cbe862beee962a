// The flasher's console control handler under wine: a real Ctrl-C (GenerateConsoleCtrlEvent) reaches
// the sink and the process lives on; Ctrl-Break and a closed console, which wine cannot raise, go
// to the handler directly; released, every event is left to the system. Ends "N passed, N failed".
#include "../../tools/flash/consolecontrol.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<int> received{0}, count{0};
int passed = 0, failed = 0;

void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    (ok ? passed : failed) += 1;
}

// A real Ctrl-C for this console, awaited at the sink.
bool ctrlCReachesTheSink()
{
    const int before = count.load();
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        return false;
    for (int waited = 0; waited < 5000 && count.load() == before; waited += 10)
        Sleep(10);
    return count.load() == before + 1 && received.load() == ConsoleControl::Interrupt;
}

} // namespace

int wmain()
{
    // With its output in a pipe, a program under wine has no console that takes control events.
    FreeConsole();
    AllocConsole();
    const ConsoleControl::Sink sink = [](int event) {
        received.store(event);
        count.fetch_add(1);
    };
    check(ConsoleControl::handle(CTRL_C_EVENT) == 0, "no sink: the default action");
    check(ConsoleControl::catchEvents(sink) && ctrlCReachesTheSink(), "Ctrl-C reaches the sink as SIGINT");
    check(ConsoleControl::handle(CTRL_BREAK_EVENT) == 1 && received.load() == ConsoleControl::Break,
          "Ctrl-Break reaches the sink as SIGBREAK");
    check(ctrlCReachesTheSink(), "a second Ctrl-C reaches it too");
    check(ConsoleControl::handle(CTRL_CLOSE_EVENT) == 1 && received.load() == ConsoleControl::HangUp,
          "a closed console reaches the sink as a hang-up");
    ConsoleControl::releaseEvents();
    check(ConsoleControl::handle(CTRL_C_EVENT) == 0 && ConsoleControl::handle(CTRL_CLOSE_EVENT) == 0,
          "released: the default action again");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
