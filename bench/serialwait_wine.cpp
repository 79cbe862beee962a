// Measures, under wine, what a byte read on the Windows serial line costs while no byte comes:
// CPU time per second of waiting, in the program and in the wine server that carries its
// communications calls, and how long the read takes to give up (the 40 ms time-out). Two ways
// of waiting are measured in the same run on the same silent port, one after the other:
//
//   polling      REFERENCE ONLY, not used by the program: the earlier byte read, kept here as it
//                was (driver time-outs all off; ClearCommError asked again and again without
//                sleeping until a byte is waiting or 40 ms have passed, then ReadFile of 1 byte).
//   driver wait  SerialLine::readByte as the program uses it (the driver waits for the first byte).
//
// Both run on a thread at time-critical priority, as the program's worker thread does.
//
// Usage: serialwait_wine.exe COMPORT [READS]   (COMPORT such as COM31, a port nobody writes to)

#include "BSL_Common.h"
#include "serialline.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double nowMs()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double processCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    const auto ticks = [](const FILETIME &t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0; // 100 ns units
}

// The wine server's CPU time, from its /proc entry: wine opens files in its server, so
// /proc/self seen through drive Z: is the server's own. -1 when that is not what is found.
double wineServerCpuMs()
{
    FILE *file = _wfopen(L"Z:\\proc\\self\\stat", L"r");
    if (!file)
        return -1;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    const char *end = std::strrchr(line, ')');
    if (!read || !end || !std::strstr(line, "(wineserver"))
        return -1;
    // After "pid (comm)": state is field 3; utime and stime are fields 14 and 15, in 1/100 s.
    const char *field = end + 2;
    for (int index = 3; index < 14 && field; ++index) {
        field = std::strchr(field, ' ');
        if (field)
            ++field;
    }
    if (!field)
        return -1;
    unsigned long long user = 0, system = 0;
    if (std::sscanf(field, "%llu %llu", &user, &system) != 2)
        return -1;
    return static_cast<double>(user + system) * 10.0;
}

// ---------------------------------------------------------------------------------------------
// REFERENCE ONLY: the earlier polling byte read, as it was, on a port opened with all driver
// time-outs off. Measured next to the driver wait; the program does not use it.
// ---------------------------------------------------------------------------------------------
struct PollingLine
{
    HANDLE port = INVALID_HANDLE_VALUE;
    COMSTAT state{};

    bool open(const std::wstring &path)
    {
        port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (port == INVALID_HANDLE_VALUE)
            return false;
        COMMTIMEOUTS off{};
        return SetupComm(port, QUEUE_SIZE, QUEUE_SIZE) && SetCommTimeouts(port, &off) &&
               PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR);
    }
    ~PollingLine()
    {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
    }

    bool readByte(int timeoutMs, unsigned char &byte)
    {
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        const LONGLONG ticks = frequency.QuadPart * timeoutMs / 1000;
        const auto passed = [&] {
            QueryPerformanceCounter(&now);
            return now.QuadPart - start.QuadPart >= ticks;
        };
        DWORD waiting = 0;
        for (;;) {
            DWORD errors = 0;
            if (ClearCommError(port, &errors, &state)) {
                waiting = state.cbInQue;
            } else {
                waiting = 0;
                Sleep(1);
            }
            if (waiting != 0 || passed())
                break;
        }
        if (waiting == 0 || passed())
            return false;
        DWORD count = 0;
        return ReadFile(port, &byte, 1, &count, nullptr) && count == 1;
    }
};

// ---------------------------------------------------------------------------------------------

struct Figures
{
    const char *name = "";
    bool opened = false;
    int reads = 0;
    int received = 0; // bytes that came although nobody writes: should stay 0
    double wallMs = 0;
    double programCpuMs = 0;
    double serverCpuMs = -1;
    std::vector<double> durations;
};

struct Job
{
    std::wstring path;
    int reads = 0;
    bool polling = false;
    Figures figures;
};

template <typename Read> void measure(Figures &figures, int reads, Read read)
{
    figures.durations.reserve(reads);
    const double serverStart = wineServerCpuMs();
    const double cpuStart = processCpuMs();
    const double wallStart = nowMs();
    for (int i = 0; i < reads; ++i) {
        const double start = nowMs();
        if (read())
            ++figures.received;
        figures.durations.push_back(nowMs() - start);
    }
    figures.wallMs = nowMs() - wallStart;
    figures.programCpuMs = processCpuMs() - cpuStart;
    const double serverEnd = wineServerCpuMs();
    if (serverStart >= 0 && serverEnd >= 0)
        figures.serverCpuMs = serverEnd - serverStart;
    figures.reads = reads;
}

DWORD WINAPI runJob(void *argument)
{
    Job &job = *static_cast<Job *>(argument);
    Figures &figures = job.figures;
    if (job.polling) {
        figures.name = "polling (earlier read, reference)";
        PollingLine line;
        figures.opened = line.open(job.path);
        unsigned char byte = 0;
        if (figures.opened)
            measure(figures, job.reads, [&] { return line.readByte(TIMEOUT_MS, byte); });
    } else {
        figures.name = "driver wait (SerialLine)";
        SerialLine line;
        figures.opened = line.open(job.path.c_str(), UART_BAUDRATE, UART_PARITY) == SerialLine::OpenOk;
        if (figures.opened)
            measure(figures, job.reads, [&] { return line.readByte(TIMEOUT_MS).received; });
        line.close();
    }
    return 0;
}

Figures run(const std::wstring &path, int reads, bool polling)
{
    Job job;
    job.path = path;
    job.reads = reads;
    job.polling = polling;
    HANDLE thread = CreateThread(nullptr, 0, runJob, &job, CREATE_SUSPENDED, nullptr);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return job.figures;
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    std::size_t index = static_cast<std::size_t>(share * static_cast<double>(values.size()) + 0.999999);
    index = std::min(values.size(), std::max<std::size_t>(index, 1)) - 1;
    return values[index];
}

std::string perSecond(double cpuMs, double wallMs)
{
    if (cpuMs < 0)
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms/s", cpuMs * 1000.0 / wallMs);
    return text;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: serialwait_wine COMPORT [READS]\n");
        return 2;
    }
    const std::wstring path = std::wstring(L"\\\\.\\") + argv[1];
    const int reads = argc > 2 ? std::max(10, _wtoi(argv[2])) : 250;

    const Figures figures[] = {run(path, reads, true), run(path, reads, false)};
    std::printf("Waiting for a byte that does not come: %d reads of %d ms each way, one after the other\n\n",
                reads, TIMEOUT_MS);
    std::printf("| %-34s | %-19s | %-20s | %-18s | %-15s | %-13s |\n", "byte read", "program CPU",
                "wine server CPU", "time-out median", "time-out p99", "bytes read");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), std::string(21, '-').c_str(),
                std::string(22, '-').c_str(), std::string(20, '-').c_str(), std::string(17, '-').c_str(),
                std::string(15, '-').c_str());
    int failures = 0;
    for (const Figures &f : figures) {
        if (!f.opened) {
            std::printf("| %-34s | the port did not open\n", f.name);
            ++failures;
            continue;
        }
        char median[32], p99[32];
        std::snprintf(median, sizeof median, "%.3f ms", percentile(f.durations, 0.5));
        std::snprintf(p99, sizeof p99, "%.3f ms", percentile(f.durations, 0.99));
        std::printf("| %-34s | %-19s | %-20s | %-18s | %-15s | %-13d |\n", f.name,
                    perSecond(f.programCpuMs, f.wallMs).c_str(), perSecond(f.serverCpuMs, f.wallMs).c_str(),
                    median, p99, f.received);
    }
    return failures;
}
