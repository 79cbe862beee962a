#include "simline.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

const qint64 HANG_UP_DRAIN_NS = 50 * NS_PER_MS;

timespec toTimespec(qint64 ns)
{
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

bool setRaw(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

QString errnoText()
{
    return QString::fromLocal8Bit(strerror(errno));
}

} // namespace

qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// ---------------------------------------------------------------------------------------------------
// Opening and closing

bool SimLine::open(const QString &devicePath, QString *error)
{
    close();
    _devicePath = devicePath;
    if (devicePath.isEmpty())
        return openPty(error);
    if (!openDevice() || pipe2(_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot serve %1: %2").arg(_devicePath, errnoText());
        close();
        return false;
    }
    _portPath = _devicePath;
    return true;
}

bool SimLine::openPty(QString *error)
{
    _master = posix_openpt(O_RDWR | O_NOCTTY);
    if (_master < 0 || grantpt(_master) != 0 || unlockpt(_master) != 0) {
        *error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(errnoText());
        close();
        return false;
    }
    char name[128];
    if (ptsname_r(_master, name, sizeof name) != 0) {
        *error = QStringLiteral("ptsname failed");
        close();
        return false;
    }
    _slave = ::open(name, O_RDWR | O_NOCTTY);
    // Raw on both sides before anything flows: a slave in its default cooked mode would echo what
    // the unit sends back to the unit.
    if (_slave < 0 || !setRaw(_slave) || !setRaw(_master) || pipe2(_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot set up %1: %2").arg(QString::fromLocal8Bit(name), errnoText());
        close();
        return false;
    }
    fcntl(_master, F_SETFL, fcntl(_master, F_GETFL) | O_NONBLOCK);
    fcntl(_master, F_SETFD, FD_CLOEXEC);
    fcntl(_slave, F_SETFD, FD_CLOEXEC);
    _portPath = QString::fromLocal8Bit(name);
    return true;
}

bool SimLine::openDevice()
{
    _master = ::open(QFile::encodeName(_devicePath).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (_master >= 0 && setRaw(_master))
        return true;
    const int error = errno;
    if (_master >= 0)
        ::close(_master);
    _master = -1;
    errno = error;
    return false;
}

void SimLine::close()
{
    for (int *fd : {&_master, &_slave, &_wake[0], &_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void SimLine::closeDevice()
{
    ::close(_master);
    _master = -1;
}

bool SimLine::reopen()
{
    return openDevice();
}

void SimLine::hangUp()
{
    // Closing the master hangs the slave up: the host's reads see end of file, its writes fail.
    // The hang-up also discards what the host has not read yet, so bytes already sent are first
    // given a moment to be taken, as they would have reached the host before a cable is pulled.
    if (_master >= 0 && _slave >= 0) {
        // Delivery into the slave's queue is asynchronous: wait until bytes have been seen there and
        // taken again, or until the bound runs out.
        const qint64 start = monotonicNs();
        bool seen = false;
        int waiting = 0;
        while (monotonicNs() - start < HANG_UP_DRAIN_NS && ioctl(_slave, FIONREAD, &waiting) == 0) {
            if (waiting > 0)
                seen = true;
            else if (seen)
                break;
            const timespec pause = toTimespec(NS_PER_MS / 4);
            nanosleep(&pause, nullptr);
        }
    }
    for (int *fd : {&_master, &_slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    _hangUpRequested = true;
}

// ---------------------------------------------------------------------------------------------------
// The serving thread's waits

void SimLine::requestEnd(bool hangUp)
{
    (hangUp ? _hangUpRequested : _stopRequested) = true;
    wake();
}

void SimLine::wake()
{
    if (_wake[1] >= 0) {
        const char byte = 1;
        ssize_t ignored = ::write(_wake[1], &byte, 1);
        (void)ignored;
    }
}

void SimLine::drainWake()
{
    char drain[64];
    while (::read(_wake[0], drain, sizeof drain) > 0) {
    }
}

bool SimLine::sleepUntil(qint64 deadlineNs)
{
    for (;;) {
        if (ending())
            return false;
        const qint64 now = monotonicNs();
        if (now >= deadlineNs)
            return true;
        pollfd fd = {_wake[0], POLLIN, 0};
        const timespec timeout = toTimespec(deadlineNs - now);
        if (ppoll(&fd, 1, &timeout, nullptr) > 0 && (fd.revents & POLLIN))
            drainWake();
    }
}

bool SimLine::waitForInput(qint64 deadlineNs, bool *hungUp, bool *readable)
{
    pollfd fds[2] = {{_master, POLLIN, 0}, {_wake[0], POLLIN, 0}};
    timespec timeout;
    if (deadlineNs >= 0)
        timeout = toTimespec(std::max<qint64>(0, deadlineNs - monotonicNs()));
    const int ready = ppoll(fds, 2, deadlineNs >= 0 ? &timeout : nullptr, nullptr);
    if (ready < 0 && errno != EINTR)
        return false;
    if (fds[1].revents & POLLIN)
        drainWake();
    // Only a device hangs up here: the pty's slave side is held open.
    *hungUp = servesDevice() && (fds[0].revents & (POLLHUP | POLLERR));
    *readable = fds[0].revents & (POLLIN | POLLHUP | POLLERR);
    return true;
}

ssize_t SimLine::read(char *buffer, size_t size)
{
    const ssize_t n = ::read(_master, buffer, size);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        sleepUntil(monotonicNs() + NS_PER_MS); // no reader on the other side: do not spin
    return n;
}

qint64 SimLine::arrival(qint64 readNs, Pace pace)
{
    if (!pace.paced)
        return readNs;
    _inFreeNs = std::max(readNs, _inFreeNs) + pace.byteTimeNs;
    return _inFreeNs;
}

// ---------------------------------------------------------------------------------------------------
// Writing

bool SimLine::writeAll(const char *data, int size)
{
    int done = 0;
    while (done < size) {
        if (ending() || _master < 0)
            return false;
        const ssize_t n = ::write(_master, data + done, size_t(size - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The host is not reading: wait until the line takes bytes again.
        pollfd fds[2] = {{_master, POLLOUT, 0}, {_wake[0], POLLIN, 0}};
        ppoll(fds, 2, nullptr, nullptr);
        if (fds[1].revents & POLLIN)
            drainWake();
    }
    return true;
}

QByteArray SimLine::writeWhatFits(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QByteArray();
    const ssize_t n = ::write(_master, bytes.constData(), size_t(bytes.size()));
    return n > 0 ? bytes.left(int(n)) : QByteArray();
}

bool SimLine::send(const QByteArray &bytes, qint64 notBeforeNs, Pace pace,
                   const std::function<void(const QByteArray &)> &sent)
{
    if (!pace.paced) {
        if (!sleepUntil(notBeforeNs) || !writeAll(bytes.constData(), bytes.size()))
            return false;
        _outFreeNs = monotonicNs();
        sent(bytes);
        return true;
    }
    // One character at a time on an absolute schedule: each byte reaches the host when its
    // character time on a 115200-baud line is over.
    if (notBeforeNs > monotonicNs() + 2 * NS_PER_MS && !sleepUntil(notBeforeNs - NS_PER_MS))
        return false;
    qint64 at = std::max({notBeforeNs, _outFreeNs, monotonicNs()});
    for (int i = 0; i < bytes.size(); ++i) {
        if (ending())
            return false;
        at += pace.byteTimeNs;
        const timespec ts = toTimespec(at);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        if (!writeAll(bytes.constData() + i, 1))
            return false;
        _outFreeNs = at;
        sent(bytes.mid(i, 1));
    }
    return true;
}
