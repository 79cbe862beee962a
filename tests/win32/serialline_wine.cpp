// Runs the Win32 serial line under wine against simulated units on wine COM ports.
//
// Usage: serialline_wine.exe UNIT BURSTS MARKER HELD MISSING LATE BABBLE VERSION
//   UNIT     COM port of a unit with the default reply "\x7d\x7d\x01" VERSION "\x7e"
//   BURSTS   COM port of a unit that sends its reply as 5 bytes, a pause of 300 ms, the rest
//   MARKER   COM port of a unit whose reply is 7D 7D 01 41 EE 42 43 7E
//   HELD     COM port of a unit that another program holds exclusively
//   MISSING  COM port with no device behind it
//   LATE     COM port of a unit that sends the default reply 20 ms after the request
//   BABBLE   COM port of a device that answers any byte with 3 s of 'x', never 40 ms apart
//   VERSION  the default unit's version text
//
// The Win32 communications calls of the line are watched through the program's import table, so
// the checks see the exact calls and arguments as well as their effect on the line. Reads to the
// line's quiet are the transport's own (quietread.h), with its bounds. One line per check; the
// exit code is the number of failed checks.

#include "BSL_Common.h"
#include "quietread.h"
#include "serialline.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(const std::string &name, bool ok, const std::string &detail = std::string())
{
    std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", name.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
    if (!ok)
        ++failures;
}

std::string hex(const std::vector<unsigned char> &bytes)
{
    std::string out;
    char digits[3];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

std::string narrow(const wchar_t *text)
{
    std::string out;
    for (; *text; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

double nowMs()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string ms(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", value);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Watching the communications calls
// ---------------------------------------------------------------------------------------------

struct Calls
{
    bool recording = false;
    std::vector<std::string> trace;
    std::set<HANDLE> ports; // handles that CreateFileW returned for COM ports
    DCB lastState{};
    COMMTIMEOUTS timeoutsAtClose{};
    // Time-outs written into every newly opened port, as a driver keeps them from its last user.
    bool seedTimeouts = false;
    COMMTIMEOUTS seed{};
} calls;

decltype(&CreateFileW) realCreateFileW;
decltype(&SetupComm) realSetupComm;
decltype(&GetCommTimeouts) realGetCommTimeouts;
decltype(&SetCommTimeouts) realSetCommTimeouts;
decltype(&GetCommState) realGetCommState;
decltype(&SetCommState) realSetCommState;
decltype(&PurgeComm) realPurgeComm;
decltype(&CloseHandle) realCloseHandle;
decltype(&ClearCommError) realClearCommError;
decltype(&ReadFile) realReadFile;

void record(const std::string &line)
{
    if (calls.recording)
        calls.trace.push_back(line);
}

std::string timeoutsText(const COMMTIMEOUTS &t)
{
    return std::to_string(t.ReadIntervalTimeout) + "," + std::to_string(t.ReadTotalTimeoutMultiplier) + "," +
           std::to_string(t.ReadTotalTimeoutConstant) + "," + std::to_string(t.WriteTotalTimeoutMultiplier) +
           "," + std::to_string(t.WriteTotalTimeoutConstant);
}

HANDLE WINAPI spyCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile)
{
    HANDLE handle = realCreateFileW(name, access, share, security, disposition, flags, templateFile);
    char text[160];
    std::snprintf(text, sizeof text,
                  "CreateFileW(access=%#lx share=%lu security=%s disposition=%lu flags=%#lx template=%s)%s",
                  access, share, security ? "set" : "null", disposition, flags, templateFile ? "set" : "null",
                  handle == INVALID_HANDLE_VALUE ? " failed" : "");
    record(text);
    if (handle != INVALID_HANDLE_VALUE && std::wcsncmp(name, L"\\\\.\\COM", 7) == 0) {
        calls.ports.insert(handle);
        if (calls.seedTimeouts)
            realSetCommTimeouts(handle, &calls.seed);
    }
    return handle;
}

BOOL WINAPI spySetupComm(HANDLE handle, DWORD in, DWORD out)
{
    record("SetupComm(" + std::to_string(in) + "," + std::to_string(out) + ")");
    return realSetupComm(handle, in, out);
}

BOOL WINAPI spyGetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts)
{
    const BOOL ok = realGetCommTimeouts(handle, timeouts);
    record("GetCommTimeouts() -> " + (ok ? timeoutsText(*timeouts) : std::string("failed")));
    return ok;
}

BOOL WINAPI spySetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts)
{
    record("SetCommTimeouts(" + timeoutsText(*timeouts) + ")");
    return realSetCommTimeouts(handle, timeouts);
}

BOOL WINAPI spyGetCommState(HANDLE handle, LPDCB dcb)
{
    record("GetCommState()");
    return realGetCommState(handle, dcb);
}

BOOL WINAPI spySetCommState(HANDLE handle, LPDCB dcb)
{
    record("SetCommState()");
    calls.lastState = *dcb;
    return realSetCommState(handle, dcb);
}

BOOL WINAPI spyPurgeComm(HANDLE handle, DWORD flags)
{
    char text[32];
    std::snprintf(text, sizeof text, "PurgeComm(%#lx)", flags);
    record(text);
    return realPurgeComm(handle, flags);
}

BOOL WINAPI spyCloseHandle(HANDLE handle)
{
    if (calls.ports.count(handle)) {
        realGetCommTimeouts(handle, &calls.timeoutsAtClose);
        calls.ports.erase(handle);
        record("CloseHandle()");
    }
    return realCloseHandle(handle);
}

BOOL WINAPI spyClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT state)
{
    record("ClearCommError()");
    return realClearCommError(handle, errors, state);
}

BOOL WINAPI spyReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    record("ReadFile(" + std::to_string(size) + ")");
    return realReadFile(handle, buffer, size, read, overlapped);
}

// Points this program's import-table entry for `name` at `spy`; returns the real function.
template <typename Function> Function hook(const char *name, Function spy)
{
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleW(nullptr));
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         module->Name; ++module) {
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(
            base + (module->OriginalFirstThunk ? module->OriginalFirstThunk : module->FirstThunk));
        auto *entries = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++entries) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto *byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), name) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&entries->u1.Function, sizeof entries->u1.Function, PAGE_READWRITE, &protection);
            const auto real = reinterpret_cast<Function>(entries->u1.Function);
            entries->u1.Function = reinterpret_cast<ULONG_PTR>(spy);
            VirtualProtect(&entries->u1.Function, sizeof entries->u1.Function, protection, &protection);
            return real;
        }
    }
    std::printf("FAIL %s is not in the import table\n", name);
    std::exit(100);
}

void installSpies()
{
    realCreateFileW = hook("CreateFileW", &spyCreateFileW);
    realSetupComm = hook("SetupComm", &spySetupComm);
    realGetCommTimeouts = hook("GetCommTimeouts", &spyGetCommTimeouts);
    realSetCommTimeouts = hook("SetCommTimeouts", &spySetCommTimeouts);
    realGetCommState = hook("GetCommState", &spyGetCommState);
    realSetCommState = hook("SetCommState", &spySetCommState);
    realPurgeComm = hook("PurgeComm", &spyPurgeComm);
    realCloseHandle = hook("CloseHandle", &spyCloseHandle);
    realClearCommError = hook("ClearCommError", &spyClearCommError);
    realReadFile = hook("ReadFile", &spyReadFile);
}

std::vector<std::string> traced(const std::function<void()> &action)
{
    calls.trace.clear();
    calls.recording = true;
    action();
    calls.recording = false;
    return calls.trace;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string out;
    for (const std::string &line : lines)
        out += "\n    " + line;
    return out;
}

// ---------------------------------------------------------------------------------------------
// The transport's byte read and read to the quiet, on the line
// ---------------------------------------------------------------------------------------------

std::optional<unsigned char> readByte(SerialLine &line)
{
    const SerialLine::ReadResult result = line.readByte(TIMEOUT_MS);
    if (!result.received)
        return std::nullopt;
    return result.byte;
}

// As BSL_IO_UART::readUntilTimeout: every byte appended until the line is quiet or the bounds end it.
QuietRead readUntilTimeout(SerialLine &line, std::vector<unsigned char> &data)
{
    return readUntilQuiet([&line] { return line.readByte(TIMEOUT_MS); },
                          [&data](unsigned char byte) {
                              data.push_back(byte);
                              return false;
                          });
}

std::size_t write(SerialLine &line, const std::vector<unsigned char> &data)
{
    return line.write(data.data(), data.size());
}

// Waits until the driver reports at least `count` received bytes; false after two seconds.
bool waitForInput(SerialLine &line, long count)
{
    const double start = nowMs();
    while (nowMs() - start < 2000) {
        if (line.bytesWaiting() >= count)
            return true;
        Sleep(1);
    }
    return false;
}

const std::vector<unsigned char> REQUEST = {QS_ESC, QS_ESC, BSL_MODE};
// A read returns a waiting byte at once, else the first byte within 40 ms; a write may take 2 s
// plus 1 ms per byte.
const COMMTIMEOUTS LINE_TIMEOUTS = {MAXDWORD, MAXDWORD, TIMEOUT_MS, 1, 2000};

// ---------------------------------------------------------------------------------------------
// Checks
// ---------------------------------------------------------------------------------------------

void openConfiguresTheLine(SerialLine &line, const std::wstring &port)
{
    SerialLine::OpenResult result = SerialLine::CreateFileFailed;
    const auto trace = traced([&] { result = line.open(port.c_str(), UART_BAUDRATE, UART_PARITY); });
    check("open succeeds", result == SerialLine::OpenOk, "result " + std::to_string(result));
    if (result != SerialLine::OpenOk || calls.ports.empty())
        return;
    const std::vector<std::string> expected = {
        "CreateFileW(access=0xc0000000 share=0 security=null disposition=3 flags=0 template=null)",
        "SetupComm(512,512)",
        "GetCommTimeouts() -> " + timeoutsText(calls.seed),
        "SetCommTimeouts(" + timeoutsText(LINE_TIMEOUTS) + ")",
        "GetCommState()",
        "SetCommState()",
        "PurgeComm(0x5)",
        "PurgeComm(0xa)"};
    check("open makes the calls in order: exclusive synchronous CreateFileW, 512-byte queues, time-outs "
          "read then set to a 40 ms wait for the first byte and bounded writes, line state read then "
          "written, transmit then receive purge",
          trace == expected, joined(trace));

    const DCB &d = calls.lastState;
    char written[256];
    std::snprintf(
        written, sizeof written,
        "BaudRate=%lu ByteSize=%u Parity=%u StopBits=%u fBinary=%u fParity=%u fOutxCtsFlow=%u "
        "fOutxDsrFlow=%u fDtrControl=%u fRtsControl=%u fOutX=%u fInX=%u fErrorChar=%u ErrorChar=%#x "
        "fNull=%u",
        d.BaudRate, d.ByteSize, d.Parity, d.StopBits, d.fBinary, d.fParity, d.fOutxCtsFlow, d.fOutxDsrFlow,
        d.fDtrControl, d.fRtsControl, d.fOutX, d.fInX, d.fErrorChar, static_cast<unsigned char>(d.ErrorChar),
        d.fNull);
    check("SetCommState is given 115200 baud, 8N1, no flow control, DTR and RTS on, no error or NUL handling",
          d.BaudRate == 115200 && d.ByteSize == 8 && d.Parity == NOPARITY && d.StopBits == ONESTOPBIT &&
              d.fBinary && d.fParity && !d.fOutxCtsFlow && !d.fOutxDsrFlow &&
              d.fDtrControl == DTR_CONTROL_ENABLE && d.fRtsControl == RTS_CONTROL_ENABLE && !d.fOutX &&
              !d.fInX && !d.fErrorChar && static_cast<unsigned char>(d.ErrorChar) == 0xEF && !d.fNull,
          written);

    // What the port reports back once configured (wine derives it from the pty's termios).
    HANDLE handle = *calls.ports.begin();
    DCB now{};
    now.DCBlength = sizeof now;
    COMMTIMEOUTS timeouts{};
    const bool read = realGetCommState(handle, &now) && realGetCommTimeouts(handle, &timeouts);
    char back[200];
    std::snprintf(back, sizeof back,
                  "BaudRate=%lu ByteSize=%u Parity=%u StopBits=%u fOutxCtsFlow=%u fOutX=%u fInX=%u "
                  "fDtrControl=%u fRtsControl=%u; time-outs %s",
                  now.BaudRate, now.ByteSize, now.Parity, now.StopBits, now.fOutxCtsFlow, now.fOutX, now.fInX,
                  now.fDtrControl, now.fRtsControl, timeoutsText(timeouts).c_str());
    check("the open port reports 115200 baud, 8N1, no flow control and the line's own time-outs",
          read && now.BaudRate == 115200 && now.ByteSize == 8 && now.Parity == NOPARITY &&
              now.StopBits == ONESTOPBIT && !now.fOutxCtsFlow && !now.fOutX && !now.fInX &&
              timeoutsText(timeouts) == timeoutsText(LINE_TIMEOUTS),
          back);
}

// Windows refuses a second CreateFileW on a port opened with share mode 0 (checked in the open's
// call trace above). Wine checks share modes only for files and folders, so there the second
// open goes through; the line is told what happened rather than judged.
void secondOpen(const std::wstring &port)
{
    SerialLine second;
    const SerialLine::OpenResult result = second.open(port.c_str(), UART_BAUDRATE, UART_PARITY);
    std::printf("INFO a second open of the held port under wine: %s (result %d, GetLastError %lu)\n",
                result == SerialLine::CreateFileFailed ? "CreateFile failed" : "not refused", result,
                GetLastError());
    second.close();
}

// A port that cannot be opened fails in CreateFile, holds nothing and tells why, with the error
// the system gave. Held: another program asked the system for exclusive use (on this machine a
// Linux process holding the pseudo-terminal with TIOCEXCL).
void openFails(const std::wstring &port, const char *what, SerialLine::OpenFailure why)
{
    SerialLine line;
    const SerialLine::OpenResult result = line.open(port.c_str(), UART_BAUDRATE, UART_PARITY);
    const DWORD error = GetLastError();
    check(what,
          result == SerialLine::CreateFileFailed && !line.isHeld() && line.openFailure() == why &&
              line.openErrorCode() == int(error),
          "result " + std::to_string(result) + ", GetLastError " + std::to_string(error));
}

void silentLineTimesOut(SerialLine &line)
{
    // The wait is the driver's: a read costs a handful of calls, however long it waits.
    double shortest = 1e9, longest = 0;
    std::size_t mostCalls = 0;
    bool allTimedOut = true;
    for (int i = 0; i < 10; ++i) {
        const double start = nowMs();
        const auto trace = traced([&] { allTimedOut = !readByte(line) && allTimedOut; });
        shortest = std::min(shortest, nowMs() - start);
        longest = std::max(longest, nowMs() - start);
        mostCalls = std::max(mostCalls, trace.size());
    }
    check("ten reads on a silent line return no byte after 40 ms, never sooner",
          allTimedOut && shortest >= TIMEOUT_MS && longest < 250,
          "from " + ms(shortest) + " to " + ms(longest));
    check("readByte on a silent line waits without polling: at most 4 communications calls a read",
          mostCalls <= 4, std::to_string(mostCalls) + " calls in the busiest read");

    std::vector<unsigned char> data = {0x11, 0x22};
    const double loopStart = nowMs();
    const QuietRead read = readUntilTimeout(line, data);
    const double loopElapsed = nowMs() - loopStart;
    check("readUntilTimeout on a silent line leaves the data as it was after 40 ms",
          read.end == QuietRead::Silence && data == std::vector<unsigned char>({0x11, 0x22}) &&
              loopElapsed >= 40 && loopElapsed < 1000,
          hex(data) + " after " + ms(loopElapsed));
}

// The unit answers 20 ms after the request: the read that is already waiting must return with
// the first byte as it arrives, not at the end of its 40 ms. A busy machine may make the unit
// later than that now and then, so three tries are allowed.
void byteArrivingDuringTheWait(const std::wstring &port)
{
    SerialLine line;
    const bool opened = line.open(port.c_str(), UART_BAUDRATE, UART_PARITY) == SerialLine::OpenOk;
    std::string seen = opened ? "" : "not opened";
    bool prompt = false;
    for (int attempt = 0; opened && attempt < 3 && !prompt; ++attempt) {
        write(line, REQUEST);
        const double start = nowMs();
        const std::optional<unsigned char> byte = readByte(line);
        const double took = nowMs() - start;
        seen += (byte ? hex({*byte}) : std::string("nothing")) + " after " + ms(took) + "; ";
        prompt = byte == QS_ESC && took >= 10 && took < TIMEOUT_MS - 2;
    }
    check("a byte that arrives during the wait is returned as it arrives", prompt, seen);
}

void handshake(SerialLine &line, const std::string &version)
{
    std::vector<unsigned char> expected = REQUEST;
    expected.insert(expected.end(), version.begin(), version.end());
    expected.push_back(QS_FRAME);

    const std::size_t written = write(line, REQUEST);
    check("the programming-mode request is written in full", written == 3,
          std::to_string(written) + " bytes");

    // Wait for the reply (a busy machine may delay the unit), then time the byte read.
    const bool arrived = waitForInput(line, static_cast<long>(expected.size()));
    const double start = nowMs();
    const std::optional<unsigned char> first = readByte(line);
    const double firstElapsed = nowMs() - start;
    check("a waiting byte is read at once", arrived && first == QS_ESC && firstElapsed < TIMEOUT_MS,
          (first ? "byte " + hex({*first}) : std::string("nothing")) + " after " + ms(firstElapsed));

    std::vector<unsigned char> reply = {first.value_or(0)};
    const QuietRead read = readUntilTimeout(line, reply);
    const double elapsed = nowMs() - start;
    check("readUntilTimeout appends the rest of the reply and stops when the line is silent",
          read.end == QuietRead::Silence && reply == expected, hex(reply) + " in " + ms(elapsed));
    const std::string text =
        reply.size() >= 4 ? std::string(reply.begin() + PROG_MODE_VER_OFF, reply.end() - 1) : std::string();
    check("the unit is in programming mode and names its version", text == version, "\"" + text + "\"");
}

void writeDiscardsEarlierInput(SerialLine &line)
{
    // In programming mode the loader answers a byte that is not a frame header with 0x51, and a
    // frame header announcing zero bytes with 0x53.
    write(line, {0x01});
    const bool arrived = waitForInput(line, 1);
    check("the loader's answer to a stray byte is waiting", arrived,
          std::to_string(line.bytesWaiting()) + " bytes waiting");
    const std::size_t written = write(line, {0x80, 0x00, 0x00});
    waitForInput(line, 1);
    std::vector<unsigned char> answer;
    readUntilTimeout(line, answer);
    check("after a write only the answer to that write is read: the earlier answer is gone",
          written == 3 && answer == std::vector<unsigned char>({0x53}), hex(answer));
}

void replyInBursts(const std::wstring &port, const std::string &version)
{
    SerialLine line;
    if (line.open(port.c_str(), UART_BAUDRATE, UART_PARITY) != SerialLine::OpenOk) {
        check("open the unit that replies in bursts", false);
        return;
    }
    write(line, REQUEST);
    // Collect until the final 0x7E, one readUntilTimeout after the other; a call that meets the
    // silence inside the pause returns empty.
    std::vector<std::vector<unsigned char>> bursts;
    std::vector<double> durations;
    int emptyCalls = 0;
    const double start = nowMs();
    while (nowMs() - start < 2000 && (bursts.empty() || bursts.back().back() != QS_FRAME)) {
        std::vector<unsigned char> data;
        const double callStart = nowMs();
        readUntilTimeout(line, data);
        if (data.empty()) {
            ++emptyCalls;
        } else {
            bursts.push_back(data);
            durations.push_back(nowMs() - callStart);
        }
    }
    line.close();

    std::string seen;
    for (std::size_t i = 0; i < bursts.size(); ++i)
        seen += (i ? " | " : "") + hex(bursts[i]) + " (" + ms(durations[i]) + ")";
    std::vector<unsigned char> expectedFirst = REQUEST;
    expectedFirst.insert(expectedFirst.end(), version.begin(), version.begin() + 2);
    std::vector<unsigned char> expectedRest(version.begin() + 2, version.end());
    expectedRest.push_back(QS_FRAME);
    check("readUntilTimeout collects a burst whole and stops in the 300 ms pause: two reads, 5 bytes then "
          "the rest",
          bursts.size() == 2 && bursts[0] == expectedFirst && bursts[1] == expectedRest, seen);
    check("the pause between the bursts reads as silence", emptyCalls >= 1,
          std::to_string(emptyCalls) + " empty reads in between");
    bool lastByteWaited = !durations.empty();
    for (double d : durations)
        lastByteWaited = lastByteWaited && d >= 40;
    check("each burst's read lasts at least 40 ms, the silence after its last byte", lastByteWaited, seen);
}

void markerByteIsData(const std::wstring &port)
{
    SerialLine line;
    if (line.open(port.c_str(), UART_BAUDRATE, UART_PARITY) != SerialLine::OpenOk) {
        check("open the unit whose reply holds 0xEE", false);
        return;
    }
    write(line, REQUEST);
    waitForInput(line, 8);
    std::vector<unsigned char> reply;
    readUntilTimeout(line, reply);
    check("a data byte 0xEE is read as data: readUntilTimeout takes the whole reply",
          reply == std::vector<unsigned char>({0x7d, 0x7d, 0x01, 0x41, 0xee, 0x42, 0x43, 0x7e}), hex(reply));
    line.close();
}

// A device that never falls silent for 40 ms holds a read no longer than the transport's bounds. A
// busy machine may stall the talker for that long now and then: such a round proves nothing about
// the bounds, waits for the talk to end and is run again, three rounds at most.
void babbleIsCutOffByTheBounds(const std::wstring &port)
{
    SerialLine line;
    if (line.open(port.c_str(), UART_BAUDRATE, UART_PARITY) != SerialLine::OpenOk) {
        check("open the device that keeps talking", false);
        return;
    }
    std::vector<unsigned char> data;
    QuietRead read;
    for (int round = 0; round < 3 && read.end != QuietRead::Bounded; ++round) {
        if (round > 0)
            Sleep(3500);
        data.clear();
        write(line, {0x01});
        waitForInput(line, 1);
        read = readUntilTimeout(line, data);
    }
    line.close();
    const bool allTalk = std::all_of(data.begin(), data.end(), [](unsigned char b) { return b == 'x'; });
    check("readUntilTimeout on a line that never falls silent stops at the time bound with what it read",
          read.end == QuietRead::Bounded && read.elapsedMs >= READ_UNTIL_TIMEOUT_MAX_MS &&
              read.elapsedMs < READ_UNTIL_TIMEOUT_MAX_MS + 500 && read.count == int(data.size()) &&
              !data.empty() && data.size() < READ_UNTIL_TIMEOUT_MAX_BYTES && allTalk,
          std::to_string(data.size()) + " bytes in " + std::to_string(read.elapsedMs) + " ms, end " +
              std::to_string(read.end));
}

void closeRestoresTheTimeouts(SerialLine &line, const std::wstring &port)
{
    SerialLine::CloseResult result = SerialLine::CloseHandleFailed;
    const auto trace = traced([&] { result = line.close(); });
    check("close succeeds and holds nothing afterwards", result == SerialLine::CloseOk && !line.isHeld(),
          "result " + std::to_string(result));
    const std::vector<std::string> expected = {"SetCommTimeouts(" + timeoutsText(calls.seed) + ")",
                                               "CloseHandle()"};
    check("close writes back the time-outs found at open, then closes the handle", trace == expected,
          joined(trace));
    check("the port holds the time-outs found at open when it is closed",
          timeoutsText(calls.timeoutsAtClose) == timeoutsText(calls.seed),
          timeoutsText(calls.timeoutsAtClose));

    const auto again = traced([&] { result = line.close(); });
    check("close on a line that holds nothing makes no call", result == SerialLine::CloseOk && again.empty(),
          joined(again));

    SerialLine next;
    check("the released port opens again",
          next.open(port.c_str(), UART_BAUDRATE, UART_PARITY) == SerialLine::OpenOk);
    next.close();
}

void evenParity(const std::wstring &port)
{
    SerialLine line;
    const SerialLine::OpenResult result = line.open(port.c_str(), UART_BAUDRATE, 1);
    const DCB written = calls.lastState;
    char detail[128];
    std::snprintf(detail, sizeof detail, "BaudRate=%lu ByteSize=%u Parity=%u StopBits=%u fOutX=%u fInX=%u",
                  written.BaudRate, written.ByteSize, written.Parity, written.StopBits, written.fOutX,
                  written.fInX);
    // Only what SetCommState is given: a pseudo-terminal always reads back as 8 bits without parity.
    check("open with a non-zero parity argument sets even parity, the rest unchanged",
          result == SerialLine::OpenOk && written.Parity == EVENPARITY && written.ByteSize == 8 &&
              written.StopBits == ONESTOPBIT && written.BaudRate == 115200 && !written.fOutX && !written.fInX,
          detail);
    line.close();
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 9) {
        std::fprintf(stderr, "usage: serialline_wine UNIT BURSTS MARKER HELD MISSING LATE BABBLE VERSION\n");
        return 100;
    }
    const std::wstring unit = std::wstring(L"\\\\.\\") + argv[1];
    const std::wstring bursts = std::wstring(L"\\\\.\\") + argv[2];
    const std::wstring marker = std::wstring(L"\\\\.\\") + argv[3];
    const std::wstring held = std::wstring(L"\\\\.\\") + argv[4];
    const std::wstring missing = std::wstring(L"\\\\.\\") + argv[5];
    const std::wstring late = std::wstring(L"\\\\.\\") + argv[6];
    const std::wstring babble = std::wstring(L"\\\\.\\") + argv[7];
    const std::string version = narrow(argv[8]);

    installSpies();
    // Windows keeps a port's time-outs from one user to the next; give the port some that are
    // not all zero, as a previous program may have left them.
    calls.seedTimeouts = true;
    calls.seed = {7, 11, 13, 17, 19};

    SerialLine line;
    openConfiguresTheLine(line, unit);
    if (!line.isHeld()) {
        std::printf("%d failed\n", failures + 1);
        return failures + 1;
    }
    secondOpen(unit);
    openFails(held,
              "a port that another program holds exclusively fails in CreateFile as busy and holds nothing",
              SerialLine::OpenFailure::Busy);
    openFails(missing, "a port without a device fails in CreateFile as missing and holds nothing",
              SerialLine::OpenFailure::Missing);
    silentLineTimesOut(line);
    handshake(line, version);
    writeDiscardsEarlierInput(line);
    closeRestoresTheTimeouts(line, unit);
    replyInBursts(bursts, version);
    markerByteIsData(marker);
    evenParity(marker);
    byteArrivingDuringTheWait(late);
    babbleIsCutOffByTheBounds(babble);

    std::printf("%d failed\n", failures);
    return failures;
}
