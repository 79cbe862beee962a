#include "recordfile.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RecordFile {

bool canAppend(const PlainFile::Path &path, std::string *why)
{
    const int fd = PlainFile::openToAppend(path, why);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool append(const PlainFile::Path &path, const std::string &header, const std::string &rows, std::string *why)
{
    const int fd = PlainFile::openToAppend(path, why);
    if (fd < 0)
        return false;
    int error = 0;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    struct stat info;
    if (error == 0 && ::fstat(fd, &info) != 0)
        error = errno;
    if (error == 0) {
        // Under the lock no other run appends: the file's size tells whether the header is there.
        const std::string bytes = info.st_size == 0 ? header + rows : rows;
        ssize_t written;
        do
            written = ::write(fd, bytes.data(), bytes.size());
        while (written < 0 && errno == EINTR);
        if (written < 0)
            error = errno;
        else if (std::size_t(written) != bytes.size())
            error = ENOSPC;
    }
    if (error != 0 && why)
        *why = std::strerror(error);
    ::close(fd); // and the lock with it
    return error == 0;
}

} // namespace RecordFile
