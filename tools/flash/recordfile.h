#pragma once

// The station record's file: rows appended whole, each run's in one write under an advisory lock
// on the whole file (flock on POSIX, LockFileEx on Windows), so that runs side by side and stations
// sharing a folder never interleave their lines. One implementation per platform
// (recordfile_posix.cpp, recordfile_win32.cpp); this header and the Windows file stay free of Qt.

#include "plainfile.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace RecordFile {

enum class Outcome
{
    Written,
    Held,    // another process held the lock for the whole wait: nothing written
    Stopped, // the wait for the lock was given up (the user's interrupt): nothing written
    Failed   // the system refused; nothing of the rows is in the file
};

// How long an append waits for the lock that another process holds (a station's other program,
// `flock station.csv ...`), polling for it so that the wait can be told of and given up.
struct Waiting
{
    int noticeMs = 1000;          // held this long: onHeld() is called, once
    int limitMs = 10000;          // held this long: Held
    std::function<void()> onHeld; // may be empty
    std::function<bool()> stop;   // asked while waiting; true: Stopped at once. May be empty
};

// Whether `path` can take rows: a regular file opened to append, created when missing; a link is
// refused, as for the program's own files. False, with `why`, when it cannot.
bool canAppend(const PlainFile::Path &path, std::string *why);

// Appends `rows` under the lock, with `header` before them when the file is empty. Anything but
// Written, with `why` for Failed, leaves the file without these bytes: a write cut short (a full
// disk, a file size limit) is taken back, under the same lock, to the length before it.
Outcome append(const PlainFile::Path &path, const std::string &header, const std::string &rows,
               const Waiting &waiting, std::string *why);

enum class Attempt
{
    Taken,
    Busy,  // another process holds it
    Failed // `why` says why
};

// Tries `tryLock` until the lock is taken or `waiting` ends the wait; Written stands for taken.
template <typename TryLock> Outcome takeLock(TryLock tryLock, const Waiting &waiting)
{
    const auto start = std::chrono::steady_clock::now();
    for (bool told = false;;) {
        const Attempt attempt = tryLock();
        if (attempt != Attempt::Busy)
            return attempt == Attempt::Taken ? Outcome::Written : Outcome::Failed;
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (!told && waited.count() >= waiting.noticeMs && waiting.onHeld) {
            waiting.onHeld();
            told = true;
        }
        if (waiting.stop && waiting.stop())
            return Outcome::Stopped;
        if (waited.count() >= waiting.limitMs)
            return Outcome::Held;
        // Another run of a station holds it for a moment only: a short pause finds it free.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace RecordFile
