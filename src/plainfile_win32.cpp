#include "plainfile.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cwctype>

namespace PlainFile {

namespace {

void setWhy(std::string *why, const std::string &text)
{
    if (why)
        *why = text;
}

// The system's words for its last error.
std::string lastError()
{
    return systemErrorWords(GetLastError());
}

bool isMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A name that Windows takes for a device wherever it stands (NUL, CON, COM3, LPT1.txt) or a path
// into the device namespace (\\.\COM12): opening it would open the device.
bool namesDevice(const Path &path)
{
    if (path.compare(0, 4, L"\\\\.\\") == 0)
        return true;
    const std::size_t slash = path.find_last_of(L"\\/:");
    std::wstring base = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    base = base.substr(0, base.find_first_of(L". "));
    for (wchar_t &c : base)
        c = wchar_t(std::towupper(c));
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

const char *const A_DEVICE = "it is a device, not a regular file";

// What a file that is not a regular one is, from its attributes; empty for a regular file.
std::string notRegular(DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "it is a link (a reparse point)";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return "it is a directory";
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return A_DEVICE;
    return std::string();
}

// The same for an open handle: a pipe or a console is no disk file.
std::string notRegular(HANDLE handle)
{
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return A_DEVICE;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return lastError();
    return notRegular(info.dwFileAttributes);
}

std::string tooLarge(std::size_t maxBytes)
{
    return "it is larger than " + std::to_string(maxBytes) + " bytes";
}

// A handle that only asks about the file `path` names (no access to its content, any sharing).
HANDLE openToAsk(const Path &path)
{
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Whether two handles are on one file: the same volume and file index.
bool sameIdentity(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first, second;
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

bool sameState(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow && CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

// Everything from offset 0 up to maxBytes + 1 bytes (one more shows a file larger than allowed).
bool readFrom(HANDLE file, std::size_t maxBytes, std::string *content)
{
    content->clear();
    char buffer[16384];
    for (unsigned long long offset = 0; content->size() <= maxBytes;) {
        OVERLAPPED at = {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, &at))
            return GetLastError() == ERROR_HANDLE_EOF;
        if (got == 0)
            break;
        content->append(buffer, got);
        offset += got;
    }
    return true;
}

unsigned long long ticksOf(const FILETIME &time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// As in plainfile_posix.cpp: recently written, steady for, settled within (ms).
const unsigned long long RECENT_MS = 2000, STEADY_MS = 300, SETTLE_LIMIT_MS = 3000;
const char *const CHANGED = "it changed while it was read (another program writes it)";

// A file written in the last moments is read only once it has held still for STEADY_MS; one that
// keeps changing for SETTLE_LIMIT_MS is refused. `before` ends as the state it held still in.
Outcome waitUntilSteady(HANDLE file, BY_HANDLE_FILE_INFORMATION *before, std::string *why)
{
    const auto recent = [](const BY_HANDLE_FILE_INFORMATION &info) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        const unsigned long long a = ticksOf(now), b = ticksOf(info.ftLastWriteTime);
        return (a > b ? a - b : b - a) / 10000 < RECENT_MS;
    };
    const ULONGLONG start = GetTickCount64();
    ULONGLONG steadySince = start;
    while (recent(*before) && GetTickCount64() - steadySince < STEADY_MS) {
        Sleep(50);
        BY_HANDLE_FILE_INFORMATION now = {};
        if (!GetFileInformationByHandle(file, &now)) {
            setWhy(why, lastError());
            return Outcome::Failed;
        }
        if (!sameState(now, *before)) {
            *before = now;
            steadySince = GetTickCount64();
            if (steadySince - start > SETTLE_LIMIT_MS) {
                setWhy(why, CHANGED);
                return Outcome::Changed;
            }
        }
    }
    return Outcome::Done;
}

// The whole file read twice from the one handle: both the same, and the file's state as before.
Outcome readTwice(HANDLE file, const BY_HANDLE_FILE_INFORMATION &before, std::size_t maxBytes,
                  std::string *content, std::string *why)
{
    const unsigned long long size =
        (static_cast<unsigned long long>(before.nFileSizeHigh) << 32) | before.nFileSizeLow;
    std::string again;
    BY_HANDLE_FILE_INFORMATION after = {};
    if (size > maxBytes) {
        setWhy(why, tooLarge(maxBytes));
        return Outcome::Refused;
    }
    if (!readFrom(file, maxBytes, content) || !readFrom(file, maxBytes, &again) ||
        !GetFileInformationByHandle(file, &after)) {
        setWhy(why, lastError());
        return Outcome::Failed;
    }
    if (!sameState(before, after) || *content != again) {
        setWhy(why, CHANGED);
        return Outcome::Changed;
    }
    if (content->size() > maxBytes) {
        setWhy(why, tooLarge(maxBytes));
        return Outcome::Refused;
    }
    return Outcome::Done;
}

// The outcome of a call that failed just now on `path`: Missing when nothing is there.
Outcome lastFailure(std::string *why)
{
    const bool missing = isMissing(GetLastError());
    setWhy(why, lastError());
    return missing ? Outcome::Missing : Outcome::Failed;
}

// What the name stands for, before it is opened for reading: a device or anything but a regular
// file is refused (attributes in `followed` are not held against it). Done when it may be opened.
Outcome checkNamed(const Path &path, DWORD followed, std::string *why)
{
    if (namesDevice(path)) {
        setWhy(why, A_DEVICE);
        return Outcome::Refused;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return lastFailure(why);
    if (!notRegular(attributes & ~followed).empty()) {
        setWhy(why, notRegular(attributes & ~followed));
        return Outcome::Refused;
    }
    return Outcome::Done;
}

// Opens a regular file for reading (its state in `info`), or says why not and returns
// INVALID_HANDLE_VALUE. The name is looked at first: a device, or anything but a regular file, is
// never opened. A link is followed when `follow` is set; else the link itself is opened, should one
// have taken the name's place since, and refused.
HANDLE openRegular(const Path &path, bool follow, BY_HANDLE_FILE_INFORMATION *info, Outcome *outcome,
                   std::string *why)
{
    *outcome = checkNamed(path, follow ? FILE_ATTRIBUTE_REPARSE_POINT : 0, why);
    if (*outcome != Outcome::Done)
        return INVALID_HANDLE_VALUE;
    const HANDLE file = CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, follow ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *outcome = lastFailure(why);
        return file;
    }
    const std::string what = notRegular(file);
    if (!what.empty()) {
        setWhy(why, what);
        *outcome = Outcome::Refused;
    } else if (!GetFileInformationByHandle(file, info)) {
        setWhy(why, lastError());
        *outcome = Outcome::Failed;
    } else {
        return file;
    }
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

} // namespace

Outcome readUnchanged(const Path &path, std::size_t maxBytes, std::string *content, std::string *why)
{
    content->clear();
    BY_HANDLE_FILE_INFORMATION before = {};
    Outcome outcome = Outcome::Done;
    // The user named it: a link to a regular file is followed.
    const HANDLE file = openRegular(path, true, &before, &outcome, why);
    if (file == INVALID_HANDLE_VALUE)
        return outcome;
    outcome = waitUntilSteady(file, &before, why);
    if (outcome == Outcome::Done)
        outcome = readTwice(file, before, maxBytes, content, why);
    CloseHandle(file);
    if (outcome != Outcome::Done)
        content->clear();
    return outcome;
}

Outcome read(const Path &path, std::size_t maxBytes, std::string *content, std::string *why)
{
    content->clear();
    BY_HANDLE_FILE_INFORMATION info = {};
    Outcome outcome = Outcome::Done;
    const HANDLE file = openRegular(path, false, &info, &outcome, why);
    if (file == INVALID_HANDLE_VALUE)
        return outcome;
    if (((static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) > maxBytes) {
        setWhy(why, tooLarge(maxBytes));
        outcome = Outcome::Refused;
    }
    char buffer[16384];
    while (outcome == Outcome::Done) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            setWhy(why, lastError());
            outcome = Outcome::Failed;
        } else if (got == 0) {
            break;
        } else if (content->size() + got > maxBytes) {
            setWhy(why, tooLarge(maxBytes));
            outcome = Outcome::Refused;
        } else {
            content->append(buffer, got);
        }
    }
    CloseHandle(file);
    if (outcome != Outcome::Done)
        content->clear();
    return outcome;
}

bool replace(const Path &path, const std::string &content, std::string *why)
{
    static std::atomic<unsigned> serial{0};
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary =
            path + L'.' + std::to_wstring(GetCurrentProcessId()) + L'-' + std::to_wstring(serial++) + L".tmp";
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        setWhy(why, lastError());
        return false;
    }
    std::size_t done = 0;
    bool written = true;
    while (written && done < content.size()) {
        DWORD chunk = 0;
        const DWORD wanted = DWORD(std::min<std::size_t>(content.size() - done, 1u << 20));
        written = WriteFile(file, content.data() + done, wanted, &chunk, nullptr) && chunk > 0;
        done += chunk;
    }
    written = written && FlushFileBuffers(file);
    std::string error = written ? std::string() : lastError();
    CloseHandle(file);
    // MoveFileEx replaces a link at `path` itself, never what it points to.
    if (written &&
        !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = lastError();
    if (!error.empty()) {
        setWhy(why, error);
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

int openToAppend(const Path &path, std::string *why, Links links)
{
    const bool follow = links == Links::Follow;
    const DWORD attributes = namesDevice(path) ? FILE_ATTRIBUTE_DEVICE : GetFileAttributesW(path.c_str());
    // A file the user named for the log: a link to a regular file is followed.
    const DWORD ignored = follow ? DWORD(FILE_ATTRIBUTE_REPARSE_POINT) : 0;
    if (attributes != INVALID_FILE_ATTRIBUTES && !notRegular(attributes & ~ignored).empty()) {
        setWhy(why, notRegular(attributes & ~ignored));
        return -1;
    }
    // Else the link itself, should one have taken the name's place since: refused below.
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        setWhy(why, lastError());
        return -1;
    }
    const std::string what = notRegular(file);
    const int fd =
        what.empty() ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_WRONLY) : -1;
    if (fd < 0) {
        setWhy(why, what.empty() ? std::string("no descriptor for the file") : what);
        CloseHandle(file);
    }
    return fd;
}

Outcome Lock::take(const Path &path, int waitMs, std::string *why)
{
    release();
    const DWORD attributes = namesDevice(path) ? FILE_ATTRIBUTE_DEVICE : GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !notRegular(attributes).empty()) {
        setWhy(why, notRegular(attributes));
        return Outcome::Refused;
    }
    // The link itself, should one have taken the name's place since; never a pipe's wait.
    const HANDLE file = CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        setWhy(why, lastError());
        return Outcome::Failed;
    }
    const std::string what = notRegular(file);
    if (!what.empty()) {
        setWhy(why, what);
        CloseHandle(file);
        return Outcome::Refused;
    }
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        OVERLAPPED whole = {};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
            _path = path;
            _handle = reinterpret_cast<intptr_t>(file);
            return Outcome::Done;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION || GetTickCount64() - start >= ULONGLONG(waitMs)) {
            setWhy(why, error == ERROR_LOCK_VIOLATION
                            ? "another run has held it for more than " + std::to_string(waitMs) + " ms"
                            : systemErrorWords(error));
            CloseHandle(file);
            return Outcome::Failed;
        }
        Sleep(20);
    }
}

void Lock::release()
{
    if (_handle < 0)
        return;
    // The file stays: a name removed while another process waits for it would not exclude it.
    const HANDLE file = reinterpret_cast<HANDLE>(static_cast<intptr_t>(_handle));
    OVERLAPPED whole = {};
    UnlockFileEx(file, 0, 1, 0, &whole);
    CloseHandle(file);
    _handle = -1;
}

bool isOpenOn(const Path &path, int fd, bool *appends)
{
    // Whether the descriptor appends cannot be asked here: a file that is both is refused.
    if (appends)
        *appends = false;
    const HANDLE open = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (open == INVALID_HANDLE_VALUE || namesDevice(path))
        return false;
    const HANDLE named = openToAsk(path);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    const bool same = sameIdentity(named, open);
    CloseHandle(named);
    return same;
}

bool sameFile(const Path &a, const Path &b)
{
    if (namesDevice(a) || namesDevice(b))
        return false;
    const HANDLE first = openToAsk(a);
    if (first == INVALID_HANDLE_VALUE)
        return false;
    const HANDLE second = openToAsk(b);
    const bool same = second != INVALID_HANDLE_VALUE && sameIdentity(first, second);
    if (second != INVALID_HANDLE_VALUE)
        CloseHandle(second);
    CloseHandle(first);
    return same;
}

std::string systemErrorWords(unsigned long code)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string words = "system error " + std::to_string(code);
    if (length > 0) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
        words.assign(std::size_t(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), &words[0], bytes, nullptr, nullptr);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
            words.pop_back();
    }
    LocalFree(text);
    return words;
}

} // namespace PlainFile
