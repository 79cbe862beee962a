#include "plainfile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlainFile {

namespace {

// What a file that is not a regular one is, in words; empty for a regular file.
std::string notRegular(const struct stat &info)
{
    if (S_ISREG(info.st_mode))
        return std::string();
    if (S_ISLNK(info.st_mode))
        return "it is a symbolic link";
    if (S_ISDIR(info.st_mode))
        return "it is a directory";
    if (S_ISFIFO(info.st_mode))
        return "it is a FIFO";
    if (S_ISSOCK(info.st_mode))
        return "it is a socket";
    if (S_ISCHR(info.st_mode))
        return "it is a character device (a terminal, a serial port, /dev/null), not a regular file";
    if (S_ISBLK(info.st_mode))
        return "it is a block device";
    return "it is not a regular file";
}

std::string tooLarge(std::size_t maxBytes)
{
    return "it is larger than " + std::to_string(maxBytes) + " bytes";
}

void setWhy(std::string *why, const std::string &text)
{
    if (why)
        *why = text;
}

std::string folderOf(const Path &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

long long nowMs(clockid_t clock)
{
    timespec now;
    ::clock_gettime(clock, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

bool sameState(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Everything from offset 0 up to maxBytes + 1 bytes (one more shows a file larger than allowed).
bool readFrom(int fd, std::size_t maxBytes, std::string *content)
{
    content->clear();
    char buffer[16384];
    for (off_t offset = 0; content->size() <= maxBytes;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        content->append(buffer, std::size_t(got));
        offset += got;
    }
    return true;
}

// A file written this recently may still be being written.
const long long RECENT_MS = 2000;
// It must then stay unchanged this long before it is read,
const long long STEADY_MS = 300;
// and give up changing within this.
const long long SETTLE_LIMIT_MS = 3000;
const char *const CHANGED = "it changed while it was read (another program writes it)";

// A file written in the last moments is read only once it has held still for STEADY_MS; one that
// keeps changing for SETTLE_LIMIT_MS is refused. `before` ends as the state it held still in.
Outcome waitUntilSteady(int fd, struct stat *before, std::string *why)
{
    const long long start = nowMs(CLOCK_MONOTONIC);
    long long steadySince = start;
    const auto recent = [](const struct stat &info) {
        const long long changed = info.st_ctim.tv_sec * 1000LL + info.st_ctim.tv_nsec / 1000000;
        return std::llabs(nowMs(CLOCK_REALTIME) - changed) < RECENT_MS;
    };
    while (recent(*before) && nowMs(CLOCK_MONOTONIC) - steadySince < STEADY_MS) {
        struct stat now;
        const timespec step{0, 50 * 1000 * 1000};
        ::nanosleep(&step, nullptr);
        if (::fstat(fd, &now) != 0) {
            setWhy(why, std::strerror(errno));
            return Outcome::Failed;
        }
        if (!sameState(now, *before)) {
            *before = now;
            steadySince = nowMs(CLOCK_MONOTONIC);
            if (steadySince - start > SETTLE_LIMIT_MS) {
                setWhy(why, CHANGED);
                return Outcome::Changed;
            }
        }
    }
    return Outcome::Done;
}

// Opens a regular file for reading (its state in `info`), or says why not and returns -1. The name
// is looked at before anything is opened: opening a FIFO, or a serial port (which raises its
// control lines), is already harm; whatever takes the name's place after that cannot make the open
// wait either. A symbolic link is followed when `follow` is set, else refused.
int openRegular(const Path &path, bool follow, struct stat *info, Outcome *outcome, std::string *why)
{
    if ((follow ? ::stat(path.c_str(), info) : ::lstat(path.c_str(), info)) != 0) {
        const int error = errno;
        setWhy(why, std::strerror(error));
        *outcome = error == ENOENT ? Outcome::Missing : Outcome::Failed;
        return -1;
    }
    if (!notRegular(*info).empty()) {
        setWhy(why, notRegular(*info));
        *outcome = Outcome::Refused;
        return -1;
    }
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int error = errno;
        const bool link = error == ELOOP && !follow;
        setWhy(why, link ? std::string("it is a symbolic link") : std::strerror(error));
        *outcome = error == ENOENT ? Outcome::Missing : link ? Outcome::Refused : Outcome::Failed;
        return -1;
    }
    if (::fstat(fd, info) != 0) {
        setWhy(why, std::strerror(errno));
        *outcome = Outcome::Failed;
    } else if (!notRegular(*info).empty()) {
        setWhy(why, notRegular(*info));
        *outcome = Outcome::Refused;
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

// The whole file read twice from the one descriptor: both the same, and the file's state as before.
Outcome readTwice(int fd, const struct stat &before, std::size_t maxBytes, std::string *content,
                  std::string *why)
{
    std::string again;
    struct stat after;
    if (std::size_t(before.st_size) > maxBytes) {
        setWhy(why, tooLarge(maxBytes));
        return Outcome::Refused;
    }
    if (!readFrom(fd, maxBytes, content) || !readFrom(fd, maxBytes, &again) || ::fstat(fd, &after) != 0) {
        setWhy(why, std::strerror(errno));
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

} // namespace

int writeAll(int fd, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        done += std::size_t(written);
    }
    return 0;
}

Outcome readUnchanged(const Path &path, std::size_t maxBytes, std::string *content, std::string *why)
{
    content->clear();
    struct stat before;
    Outcome outcome = Outcome::Done;
    const int fd = openRegular(path, true, &before, &outcome, why);
    if (fd < 0)
        return outcome;
    outcome = waitUntilSteady(fd, &before, why);
    if (outcome == Outcome::Done)
        outcome = readTwice(fd, before, maxBytes, content, why);
    ::close(fd);
    if (outcome != Outcome::Done)
        content->clear();
    return outcome;
}

Outcome read(const Path &path, std::size_t maxBytes, std::string *content, std::string *why)
{
    content->clear();
    struct stat info;
    Outcome outcome = Outcome::Done;
    const int fd = openRegular(path, false, &info, &outcome, why);
    if (fd < 0)
        return outcome;
    if (std::size_t(info.st_size) > maxBytes) {
        setWhy(why, tooLarge(maxBytes));
        outcome = Outcome::Refused;
    }
    char buffer[16384];
    while (outcome == Outcome::Done) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            setWhy(why, std::strerror(errno));
            outcome = Outcome::Failed;
        } else if (got == 0) {
            break;
        } else if (content->size() + std::size_t(got) > maxBytes) {
            setWhy(why, tooLarge(maxBytes)); // it grew while being read
            outcome = Outcome::Refused;
        } else {
            content->append(buffer, std::size_t(got));
        }
    }
    ::close(fd);
    if (outcome != Outcome::Done)
        content->clear();
    return outcome;
}

bool replace(const Path &path, const std::string &content, std::string *why)
{
    static std::atomic<unsigned> serial{0};
    std::string temporary;
    int fd = -1;
    // A name of this process's own: O_EXCL creates a new file, never one a link points to.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + '.' + std::to_string(::getpid()) + '-' + std::to_string(serial++) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        setWhy(why, std::strerror(errno));
        return false;
    }
    int error = writeAll(fd, content);
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        setWhy(why, std::strerror(error));
        ::unlink(temporary.c_str());
        return false;
    }
    // The new name must reach the disk too, before whatever the file is about happens.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

int openToAppend(const Path &path, std::string *why, Links links)
{
    const bool follow = links == Links::Follow;
    struct stat info;
    if ((follow ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) == 0 &&
        !notRegular(info).empty()) {
        setWhy(why, notRegular(info));
        return -1;
    }
    const int fd = ::open(
        path.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW), 0666);
    if (fd < 0) {
        setWhy(why, errno == ELOOP && !follow ? std::string("it is a symbolic link") : std::strerror(errno));
        return -1;
    }
    // Whatever took the name's place since the look above is not written either.
    const std::string what = ::fstat(fd, &info) != 0 ? std::strerror(errno) : notRegular(info);
    if (!what.empty()) {
        setWhy(why, what);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Outcome Lock::take(const Path &path, int waitMs, std::string *why)
{
    release();
    timespec start;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const auto elapsedMs = [&start] {
        timespec now;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        return (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
    };
    for (;;) {
        // Opening a FIFO or a serial port is already harm: the name is looked at first.
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && !notRegular(info).empty()) {
            setWhy(why, notRegular(info));
            return Outcome::Refused;
        }
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            setWhy(why, error == ELOOP ? std::string("it is a symbolic link") : std::strerror(error));
            return error == ELOOP ? Outcome::Refused : Outcome::Failed;
        }
        const bool statted = ::fstat(fd, &info) == 0;
        if (!statted || !notRegular(info).empty()) {
            setWhy(why, statted ? notRegular(info) : std::string(std::strerror(errno)));
            ::close(fd);
            return statted ? Outcome::Refused : Outcome::Failed;
        }
        int locked;
        while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && (errno == EWOULDBLOCK || errno == EINTR) &&
               elapsedMs() < waitMs) {
            const timespec step{0, 20 * 1000 * 1000};
            ::nanosleep(&step, nullptr);
        }
        if (locked != 0) {
            const int error = errno;
            ::close(fd);
            setWhy(why, error == EWOULDBLOCK || error == EINTR
                            ? "another run has held it for more than " + std::to_string(waitMs) + " ms"
                            : std::string(std::strerror(error)));
            return Outcome::Failed;
        }
        // The holder before removes the file as it lets go: a lock on a name no longer there
        // excludes nobody, so it is taken again on the file that has the name now.
        struct stat named;
        if (::lstat(path.c_str(), &named) == 0 && named.st_dev == info.st_dev &&
            named.st_ino == info.st_ino) {
            _path = path;
            _handle = fd;
            return Outcome::Done;
        }
        ::close(fd);
        if (elapsedMs() >= waitMs) {
            setWhy(why, "it was replaced again and again for " + std::to_string(waitMs) + " ms");
            return Outcome::Failed;
        }
    }
}

void Lock::release()
{
    if (_handle < 0)
        return;
    // Removed while still held: whoever opened it meanwhile sees that it lost its name.
    ::unlink(_path.c_str());
    ::close(int(_handle));
    _handle = -1;
}

bool isOpenOn(const Path &path, int fd, bool *appends)
{
    struct stat named, open;
    if (::stat(path.c_str(), &named) != 0 || ::fstat(fd, &open) != 0)
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    if (appends)
        *appends = flags >= 0 && (flags & O_APPEND) != 0;
    return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool sameFile(const Path &a, const Path &b)
{
    struct stat first, second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace PlainFile
