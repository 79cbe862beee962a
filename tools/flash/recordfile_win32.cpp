#include "recordfile.h"

#include <windows.h>

#include <io.h>

namespace {

// Writes `bytes` at `size`, the file's end as measured under the lock: no other run appends then.
// A part that went in would glue the next row to it, so on a failure the file gets its length
// back; `words` tells when it could not. The system's error code, 0 when all went in.
DWORD appendAt(HANDLE handle, LARGE_INTEGER size, const std::string &bytes, std::string *words)
{
    DWORD error = 0;
    std::size_t done = 0;
    while (error == 0 && done < bytes.size()) {
        OVERLAPPED at = {};
        const unsigned long long offset = static_cast<unsigned long long>(size.QuadPart) + done;
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + done, DWORD(bytes.size() - done), &written, &at))
            error = GetLastError();
        else if (written == 0)
            error = ERROR_DISK_FULL;
        done += written;
    }
    if (error != 0 && (!SetFilePointerEx(handle, size, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)))
        *words = "; the part written could not be taken back (" +
                 PlainFile::systemErrorWords(GetLastError()) + ")";
    return error;
}

} // namespace

namespace RecordFile {

bool canAppend(const PlainFile::Path &path, std::string *why)
{
    const int fd = PlainFile::openToAppend(path, why, PlainFile::Links::Refuse);
    if (fd < 0)
        return false;
    _close(fd);
    return true;
}

Outcome append(const PlainFile::Path &path, const std::string &header, const std::string &rows,
               const Waiting &waiting, std::string *why)
{
    // The checks of a file to append to (no device, no directory), then a handle of this file's
    // own: a lock needs read or write access, which an append-only handle lacks, and taking back a
    // write cut short needs write access.
    if (!canAppend(path, why))
        return Outcome::Failed;
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (why)
            *why = PlainFile::systemErrorWords(GetLastError());
        return Outcome::Failed;
    }
    // A disk file, and no link that took the name's place since the checks.
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                          !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                      ? 0
                      : ERROR_INVALID_HANDLE;
    // The whole file and beyond, as far as a lock reaches: every appender waits for the one before.
    const Outcome locked =
        error != 0 ? Outcome::Failed
                   : takeLock(
                         [handle, &error] {
                             OVERLAPPED whole = {};
                             if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                                            MAXDWORD, MAXDWORD, &whole))
                                 return Attempt::Taken;
                             const DWORD code = GetLastError();
                             error = code == ERROR_LOCK_VIOLATION ? 0 : code;
                             return error == 0 ? Attempt::Busy : Attempt::Failed;
                         },
                         waiting);
    if (locked == Outcome::Held || locked == Outcome::Stopped) {
        CloseHandle(handle);
        return locked;
    }
    LARGE_INTEGER size = {};
    if (error == 0 && !GetFileSizeEx(handle, &size))
        error = GetLastError();
    std::string words;
    if (error == 0) {
        error = appendAt(handle, size, size.QuadPart == 0 ? header + rows : rows, &words);
        OVERLAPPED again = {};
        UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &again);
    }
    if (error != 0 && why)
        *why = PlainFile::systemErrorWords(error) + words;
    CloseHandle(handle);
    return error == 0 ? Outcome::Written : Outcome::Failed;
}

} // namespace RecordFile
