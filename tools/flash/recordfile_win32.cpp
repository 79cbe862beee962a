#include "recordfile.h"

#include <windows.h>

#include <io.h>

namespace RecordFile {

bool canAppend(const PlainFile::Path &path, std::string *why)
{
    const int fd = PlainFile::openToAppend(path, why);
    if (fd < 0)
        return false;
    _close(fd);
    return true;
}

bool append(const PlainFile::Path &path, const std::string &header, const std::string &rows, std::string *why)
{
    // The checks of a file to append to (no device, no directory), then a handle of this file's
    // own: a lock needs read or write access, which an append-only handle lacks.
    if (!canAppend(path, why))
        return false;
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (why)
            *why = PlainFile::systemErrorWords(GetLastError());
        return false;
    }
    DWORD error = GetFileType(handle) == FILE_TYPE_DISK ? 0 : ERROR_INVALID_HANDLE;
    OVERLAPPED whole = {};
    // The whole file and beyond, as far as a lock reaches: every appender waits for the one before.
    if (error == 0 && !LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        error = GetLastError();
    LARGE_INTEGER size = {};
    if (error == 0 && !GetFileSizeEx(handle, &size))
        error = GetLastError();
    if (error == 0) {
        const std::string bytes = size.QuadPart == 0 ? header + rows : rows;
        OVERLAPPED atEnd = {};
        atEnd.Offset = MAXDWORD; // both halves all ones: at the file's end
        atEnd.OffsetHigh = MAXDWORD;
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), DWORD(bytes.size()), &written, &atEnd))
            error = GetLastError();
        else if (written != bytes.size())
            error = ERROR_DISK_FULL;
        OVERLAPPED again = {};
        UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &again);
    }
    if (error != 0 && why)
        *why = PlainFile::systemErrorWords(error);
    CloseHandle(handle);
    return error == 0;
}

} // namespace RecordFile
