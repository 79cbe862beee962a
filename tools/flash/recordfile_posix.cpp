#include "recordfile.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RecordFile {

bool canAppend(const PlainFile::Path &path, std::string *why)
{
    const int fd = PlainFile::openToAppend(path, why, PlainFile::Links::Refuse);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

Outcome append(const PlainFile::Path &path, const std::string &header, const std::string &rows,
               const Waiting &waiting, std::string *why)
{
    const int fd = PlainFile::openToAppend(path, why, PlainFile::Links::Refuse);
    if (fd < 0)
        return Outcome::Failed;
    int error = 0;
    const Outcome locked = takeLock(
        [fd, &error] {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
                return Attempt::Taken;
            error = errno == EINTR || errno == EWOULDBLOCK ? 0 : errno;
            return error == 0 ? Attempt::Busy : Attempt::Failed;
        },
        waiting);
    if (locked == Outcome::Held || locked == Outcome::Stopped) {
        ::close(fd);
        return locked;
    }
    struct stat info;
    if (error == 0 && ::fstat(fd, &info) != 0)
        error = errno;
    std::string words;
    if (error == 0) {
        // Under the lock no other run appends: the file's size tells whether the header is there.
        error = PlainFile::writeAll(fd, info.st_size == 0 ? header + rows : rows);
        // The part of a row that went in would glue the next row to it: the file gets its length back.
        if (error != 0 && ::ftruncate(fd, info.st_size) != 0)
            words = std::string("; the part written could not be taken back (") + std::strerror(errno) + ")";
    }
    if (error != 0 && why)
        *why = std::strerror(error) + words;
    ::close(fd); // and the lock with it
    return error == 0 ? Outcome::Written : Outcome::Failed;
}

} // namespace RecordFile
