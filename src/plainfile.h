#pragma once

// Files that the program keeps for itself (the journal) or that the user names for the log: read,
// replaced and appended to only while they are regular files, and never waited on. A FIFO, a
// device, a terminal or (for the program's own files) a link is refused before it could block
// the program or carry its lines anywhere else. One implementation per platform
// (plainfile_posix.cpp, plainfile_win32.cpp); this header and the Windows file stay free of Qt.

#include <cstddef>
#include <string>

namespace PlainFile {

#ifdef _WIN32
using Path = std::wstring;
#else
using Path = std::string; // as the file system spells it
#endif

enum class Outcome
{
    Done,
    Missing, // nothing of that name
    Refused, // not a regular file, or too large: left alone
    Failed,  // the system refused (no access, an input/output error)
    Changed  // the file changed while it was read: another program writes it
};

// Reads the regular file `path` into `content`. A link (not followed), a directory, a FIFO, a
// device or a file of more than `maxBytes` is refused, and nothing is opened that could block.
// `why` says what the file is or what the system answered.
Outcome read(const Path &path, std::size_t maxBytes, std::string *content, std::string *why);

// Reads the regular file `path` that the user named (a link is followed) into `content`, all of
// it from one open file, and only as one state of the file: Changed when its identity, size or
// times changed during the read or the bytes differ when read a second time. A file that changed
// in the moments before must first stay as it is for a little while (it may still be written),
// and one that keeps changing for longer is Changed too. Refused as read() refuses.
Outcome readUnchanged(const Path &path, std::size_t maxBytes, std::string *content, std::string *why);

// Replaces `path` with `content` at once: a new file beside it is written and flushed to disk,
// then renamed over `path` (a link there is replaced, not followed). False, with `why`, when
// that cannot be done; `path` is then as it was.
bool replace(const Path &path, const std::string &content, std::string *why);

enum class Links
{
    Follow, // a file the user names for the program's lines (the log): what the link names
    Refuse  // a file the program keeps for the user (the station record), as its own files
};

// Opens `path` to append to it, created when missing: a C runtime descriptor, or -1 with `why`.
// A link is followed (the user named it) or refused as `links` says; what is opened must be a
// regular file.
int openToAppend(const Path &path, std::string *why, Links links = Links::Follow);

// Whether `path` is the file open on descriptor `fd` (standard output); `appends` tells whether
// that descriptor writes at the end of the file whatever else wrote there.
bool isOpenOn(const Path &path, int fd, bool *appends);

// Whether `a` and `b` both name one existing file, however they are spelt (a link, a hard link,
// "./" in front): the same device and inode, or on Windows the same volume and file index.
bool sameFile(const Path &a, const Path &b);

// An exclusive lock on a file of the program's own (the journal's "journal.ini.lock"), held while
// the object lives. The lock file gets the rules of the file it guards: a link, a directory, a
// FIFO or a device is refused before anything could block on it, it is opened without blocking
// and without following a link, and its size and content are never looked at. Another process's
// lock is waited for at most `waitMs`, in short steps, so that a signal is never kept waiting.
class Lock
{
public:
    Lock() = default;
    ~Lock() { release(); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

    // Done when taken; Refused when the lock file is no regular file; Failed, with `why`, when
    // another process held it for all of `waitMs` or the system refused.
    Outcome take(const Path &path, int waitMs, std::string *why);
    void release();

private:
    Path _path;
    long long _handle = -1; // a descriptor, or a HANDLE on Windows
};

#ifndef _WIN32
// Writes all of `bytes` to the descriptor `fd`, going on after an interrupted or partial write: 0,
// or the system's reason when not every byte went in (a full disk, a file size limit).
int writeAll(int fd, const std::string &bytes);
#endif

#ifdef _WIN32
// The system's words for an error code (GetLastError()), in UTF-8, without the closing full stop.
std::string systemErrorWords(unsigned long code);
#endif

} // namespace PlainFile
