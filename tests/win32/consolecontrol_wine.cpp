// The flasher's console control handler under wine. Ctrl-C comes from the console itself
// (GenerateConsoleCtrlEvent); Ctrl-Break and a closed console, which wine's console cannot raise,
// are dispatched the way the system dispatches every control event: kernelbase's CtrlRoutine, on a
// thread of its own, runs the handlers registered. Caught, each event reaches the sink and the
// process lives on; released, in a process of its own (this program with "released EVENT"), each
// takes the system's default action and ends that process. Ends "N passed, N failed".
#include "../../tools/flash/consolecontrol.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>

namespace {

std::atomic<int> received{0}, count{0};
int passed = 0, failed = 0;

void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    (ok ? passed : failed) += 1;
}

void sink(int event)
{
    received.store(event);
    count.fetch_add(1);
}

// Runs what the system runs for a control event; true once it has returned.
bool dispatch(DWORD controlType)
{
    const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
    HANDLE thread = routine ? CreateThread(nullptr, 0, routine,
                                           reinterpret_cast<void *>(ULONG_PTR(controlType)), 0, nullptr)
                            : nullptr;
    if (!thread)
        return false;
    const bool returned = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return returned;
}

// A real Ctrl-C for this console, or the other events dispatched, awaited at the sink.
bool reachesTheSink(DWORD controlType, int expected)
{
    const int before = count.load();
    if (controlType == CTRL_C_EVENT ? !GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) : !dispatch(controlType))
        return false;
    for (int waited = 0; waited < 5000 && count.load() == before; waited += 10)
        Sleep(10);
    return count.load() == before + 1 && received.load() == expected;
}

// The process of its own: events caught, then released, then one dispatched. It only returns
// when the event did not end it: 3 when it lived on, 4 when the sink still got the event.
int releasedProcess(DWORD controlType)
{
    if (!ConsoleControl::catchEvents(sink))
        return 5;
    ConsoleControl::releaseEvents();
    dispatch(controlType);
    return count.load() > 0 ? 4 : 3;
}

// The default action ends a process with 0 under wine, with STATUS_CONTROL_C_EXIT on Windows.
bool endsTheProcessOnceReleased(DWORD controlType)
{
    wchar_t self[MAX_PATH];
    wchar_t command[MAX_PATH + 32];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::swprintf(command, MAX_PATH + 32, L"\"%ls\" released %lu", self, controlType);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 9);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf("INFO released, event %lu: exit code %#lx\n", controlType, code);
    return code == 0 || code == DWORD(STATUS_CONTROL_C_EXIT);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"released") == 0)
        return releasedProcess(std::wcstoul(argv[2], nullptr, 10));

    // With its output in a pipe, a program under wine has no console that takes control events.
    FreeConsole();
    AllocConsole();
    check(ConsoleControl::catchEvents(sink) && reachesTheSink(CTRL_C_EVENT, ConsoleControl::Interrupt),
          "Ctrl-C reaches the sink as SIGINT");
    check(reachesTheSink(CTRL_BREAK_EVENT, ConsoleControl::Break), "Ctrl-Break reaches the sink as SIGBREAK");
    check(reachesTheSink(CTRL_C_EVENT, ConsoleControl::Interrupt), "a second Ctrl-C reaches it too");
    check(reachesTheSink(CTRL_CLOSE_EVENT, ConsoleControl::HangUp),
          "a closed console reaches the sink as a hang-up");
    ConsoleControl::releaseEvents();
    check(endsTheProcessOnceReleased(CTRL_C_EVENT), "released: Ctrl-C ends the process");
    check(endsTheProcessOnceReleased(CTRL_BREAK_EVENT), "released: Ctrl-Break ends the process");
    check(endsTheProcessOnceReleased(CTRL_CLOSE_EVENT), "released: a closed console ends the process");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
