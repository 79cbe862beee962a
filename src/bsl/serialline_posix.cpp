// The serial line on termios (Linux and other POSIX systems).

#include "serialline.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

struct SerialLine::State
{
    int fd = -1;
    cc_t orgVmin = 0;
    cc_t orgVtime = 0;
    bool orgTimeoutsRead = false;
    SerialLine::OpenFailure failure = SerialLine::OpenFailure::None;
    int errorCode = 0;
};

namespace {

// How long one wait for the driver to take more output may last before write gives up: a device
// that stops reading must not hold the caller for ever.
constexpr int WRITE_STALL_MS = 2000;

timespec monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

timespec addMs(timespec t, int ms)
{
    t.tv_sec += ms / 1000;
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

// Time left until `deadline`, zero once it has passed.
timespec remaining(const timespec &deadline)
{
    const timespec now = monotonicNow();
    timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
    if (left.tv_nsec < 0) {
        left.tv_sec -= 1;
        left.tv_nsec += 1000000000L;
    }
    if (left.tv_sec < 0)
        return timespec{0, 0};
    return left;
}

bool passed(const timespec &deadline)
{
    const timespec left = remaining(deadline);
    return left.tv_sec == 0 && left.tv_nsec == 0;
}

void sleepUntil(const timespec &deadline)
{
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

// Device paths arrive as wide text; the file system wants UTF-8.
std::string toUtf8(const wchar_t *path)
{
    std::string out;
    for (; *path; ++path) {
        const auto c = static_cast<unsigned long>(*path);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool speedFor(long rate, speed_t &speed)
{
    switch (rate) {
    case 9600:
        speed = B9600;
        return true;
    case 19200:
        speed = B19200;
        return true;
    case 38400:
        speed = B38400;
        return true;
    case 57600:
        speed = B57600;
        return true;
    case 115200:
        speed = B115200;
        return true;
    case 230400:
        speed = B230400;
        return true;
    default:
        return false;
    }
}

SerialLine::OpenFailure failureFor(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO: // the device node is there, the device behind it is not
    case ENODEV:
        return SerialLine::OpenFailure::Missing;
    case EACCES:
    case EPERM:
        return SerialLine::OpenFailure::NoAccess;
    case EBUSY: // TIOCEXCL of another program, for everyone but root
    case EWOULDBLOCK:
        return SerialLine::OpenFailure::Busy;
    case EISDIR:
    case ENOTTY:
        return SerialLine::OpenFailure::NotSerial;
    default:
        return SerialLine::OpenFailure::Other;
    }
}

// Opens a terminal device for this program alone, or gives the reason it cannot in `error`.
int openExclusive(const std::string &device, int &error)
{
    // Non-blocking: the open must not wait for a carrier, and reads and writes keep their own time.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    // Exclusive: TIOCEXCL keeps ordinary users out (root ignores it), the advisory lock is what
    // other serial programs, and a second open of ours, test before they touch the port.
    const bool serial = isatty(fd) != 0;
    if (!serial || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = serial ? errno : ENOTTY;
        ::close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

// Raw 8-bit bytes at `rate`, even parity when asked, no flow control, reads that never block,
// DTR and RTS on.
SerialLine::OpenResult setLine(int fd, long rate, unsigned char parity)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return SerialLine::GetCommStateFailed;
    speed_t speed = B115200;
    if (!speedFor(rate, speed))
        return SerialLine::SetCommStateFailed;
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (parity)
        tio.c_cflag |= PARENB; // even parity
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return SerialLine::SetCommStateFailed;
    // DTR and RTS on. Devices without modem lines (a pseudo-terminal answers ENOTTY) are fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
    return SerialLine::OpenOk;
}

} // namespace

SerialLine::SerialLine() : _state(new State) {}

SerialLine::~SerialLine()
{
    if (_state->fd >= 0)
        ::close(_state->fd);
    delete _state;
}

bool SerialLine::isHeld() const
{
    return _state->fd >= 0;
}

SerialLine::OpenFailure SerialLine::openFailure() const
{
    return _state->failure;
}

int SerialLine::openErrorCode() const
{
    return _state->errorCode;
}

SerialLine::OpenResult SerialLine::open(const wchar_t *path, long rate, unsigned char parity)
{
    if (_state->fd >= 0) {
        // One opening per object: the held port stays as it is.
        _state->failure = OpenFailure::Busy;
        _state->errorCode = EBUSY;
        return CreateFileFailed;
    }
    _state->failure = OpenFailure::None;
    _state->errorCode = 0;
    const int fd = openExclusive(toUtf8(path), _state->errorCode);
    if (fd < 0) {
        _state->failure = failureFor(_state->errorCode);
        return CreateFileFailed;
    }
    _state->fd = fd;

    // Driver queues are fixed on POSIX systems: nothing to ask for (the counterpart of SetupComm).

    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return GetCommTimeoutsFailed;
    _state->orgVmin = tio.c_cc[VMIN];
    _state->orgVtime = tio.c_cc[VTIME];
    _state->orgTimeoutsRead = true;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return SetCommTimeoutsFailed;

    const OpenResult configured = setLine(fd, rate, parity);
    if (configured != OpenOk)
        return configured;
    clearBuffers();
    return OpenOk;
}

SerialLine::CloseResult SerialLine::close()
{
    if (_state->fd < 0)
        return CloseOk;
    if (_state->orgTimeoutsRead) {
        termios tio{};
        if (tcgetattr(_state->fd, &tio) == 0) {
            tio.c_cc[VMIN] = _state->orgVmin;
            tio.c_cc[VTIME] = _state->orgVtime;
            if (tcsetattr(_state->fd, TCSANOW, &tio) != 0 && errno != EIO)
                return RestoreTimeoutsFailed;
        } else if (errno != EIO) {
            return RestoreTimeoutsFailed;
        }
        // EIO: the device has gone away (hang-up); there is nothing left to restore.
    }
    ioctl(_state->fd, TIOCNXCL);
    flock(_state->fd, LOCK_UN);
    if (::close(_state->fd) != 0 && errno != EINTR)
        return CloseHandleFailed;
    _state->fd = -1;
    _state->orgTimeoutsRead = false;
    return CloseOk;
}

void SerialLine::clearBuffers()
{
    if (_state->fd < 0)
        return;
    tcflush(_state->fd, TCOFLUSH);
    tcflush(_state->fd, TCIFLUSH);
}

void SerialLine::clearInput()
{
    if (_state->fd >= 0)
        tcflush(_state->fd, TCIFLUSH);
}

SerialLine::ReadResult SerialLine::readByte(int timeoutMs)
{
    ReadResult result;
    const timespec deadline = addMs(monotonicNow(), timeoutMs);
    if (_state->fd < 0) {
        sleepUntil(deadline);
        return result;
    }

    // Block in poll until a byte comes or the deadline passes: an idle wait costs no CPU.
    for (;;) {
        pollfd pfd{_state->fd, POLLIN, 0};
        const timespec left = remaining(deadline);
        const int ready = ppoll(&pfd, 1, &left, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            result.waitFailed = true;
            break;
        }
        if (ready == 0)
            return result; // deadline passed, nothing came
        if (pfd.revents & POLLIN) {
            const ssize_t n = ::read(_state->fd, &result.byte, 1);
            if (n == 1) {
                result.received = true;
                return result;
            }
            // 0 on an empty raw line is not end of file (unless the line has hung up); EAGAIN:
            // someone else took the byte.
            const bool hungUp = pfd.revents & (POLLHUP | POLLERR);
            if ((n == 0 && !hungUp) || (n < 0 && (errno == EAGAIN || errno == EINTR))) {
                if (passed(deadline))
                    return result;
                continue;
            }
            result.readFailed = true;
            break;
        }
        // POLLHUP, POLLERR, POLLNVAL without data: the device has gone away.
        result.readFailed = true;
        break;
    }
    // A failing line waits out its deadline like a silent one, so callers never spin.
    sleepUntil(deadline);
    return result;
}

std::size_t SerialLine::write(const unsigned char *data, std::size_t size, bool *failed)
{
    if (failed)
        *failed = false;
    if (_state->fd < 0) {
        if (failed)
            *failed = true;
        return 0;
    }
    // Whatever came in before this write is not the answer to it.
    tcflush(_state->fd, TCIFLUSH);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(_state->fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            if (failed)
                *failed = true;
            return 0;
        }
        // The driver's output queue is full: wait until it takes more, within a bound.
        pollfd pfd{_state->fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, WRITE_STALL_MS);
        if (ready <= 0 || !(pfd.revents & POLLOUT))
            break;
    }
    return done;
}

long SerialLine::bytesWaiting()
{
    if (_state->fd < 0)
        return -1;
    int count = 0;
    if (ioctl(_state->fd, FIONREAD, &count) != 0)
        return -1;
    return count;
}
