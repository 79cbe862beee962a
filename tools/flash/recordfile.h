#pragma once

// The station record's file: rows appended whole, each run's in one write under an advisory lock
// on the whole file (flock on POSIX, LockFileEx on Windows), so that runs side by side and stations
// sharing a folder never interleave their lines. One implementation per platform
// (recordfile_posix.cpp, recordfile_win32.cpp); this header and the Windows file stay free of Qt.

#include "plainfile.h"

#include <string>

namespace RecordFile {

// Whether `path` can take rows: a regular file (or a link to one) opened to append, created when
// missing. False, with `why`, when it cannot.
bool canAppend(const PlainFile::Path &path, std::string *why);

// Appends `rows` under the lock, with `header` before them when the file is empty. False, with
// `why`, when that cannot be done; the file then has none of these bytes: a write cut short (a
// full disk, a file size limit) is taken back, under the same lock, to the length before it.
bool append(const PlainFile::Path &path, const std::string &header, const std::string &rows,
            std::string *why);

} // namespace RecordFile
