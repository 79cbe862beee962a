#pragma once

#include "BSL_Common.h"
#include "serialline.h"

#include <chrono>

// The transport's read of a serial line to its quiet, bounded as BSL_Common says. No framework
// types: BSL_IO_UART reads its replies with it, and the Win32 serial line's checks under wine run
// it on the real line.
struct QuietRead
{
    enum End
    {
        Silence, // a byte read met its time-out
        Taken,   // the taker asked to stop at the last byte
        Bounded  // READ_UNTIL_TIMEOUT_MAX_BYTES bytes read, or READ_UNTIL_TIMEOUT_MAX_MS passed
    };

    End end = Silence;
    int count = 0;           // bytes read
    long long elapsedMs = 0; // from the first read to the end
};

// Reads one byte after the other with `readByte` (a SerialLine::ReadResult for one byte within
// the line's time-out) and hands each to `take`, which returns true to stop at that byte. Only a
// silence ends the read otherwise: line noise may hold any byte value, 0xEE among them.
template <typename ReadByte, typename Take> QuietRead readUntilQuiet(ReadByte readByte, Take take)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const auto elapsedMs = [start] {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    QuietRead read;
    for (;;) {
        const SerialLine::ReadResult result = readByte();
        if (!result.received) {
            read.end = QuietRead::Silence;
            break;
        }
        ++read.count;
        if (take(result.byte)) {
            read.end = QuietRead::Taken;
            break;
        }
        if (read.count >= READ_UNTIL_TIMEOUT_MAX_BYTES || elapsedMs() >= READ_UNTIL_TIMEOUT_MAX_MS) {
            read.end = QuietRead::Bounded;
            break;
        }
    }
    read.elapsedMs = elapsedMs();
    return read;
}
