#pragma once

#include "BSL_Common.h"
#include "BSL_IO_UART.h"
#include "BSL_Interface.h"
#include "PortInfo.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// One end of a pseudo-terminal, written and read raw: the host's end of a simulated unit's port
// (opened by path, as a serial port would be), or the far end a PtyPeer holds.
class PtyLine
{
public:
    explicit PtyLine(const QString &path)
    {
        _fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        makeRaw(_fd);
    }
    ~PtyLine() { close(); }
    PtyLine(const PtyLine &) = delete;
    PtyLine &operator=(const PtyLine &) = delete;

    bool isOpen() const { return _fd >= 0; }
    int fd() const { return _fd; }
    // The other end went away while this one was reading.
    bool hungUp() const { return _hungUp; }

    // All of the bytes, or false when the line refuses them (the other end has gone).
    bool send(const QByteArray &bytes)
    {
        qint64 done = 0;
        while (_fd >= 0 && done < bytes.size()) {
            const ssize_t n = ::write(_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                return false;
        }
        return _fd >= 0;
    }

    // Exactly `count` bytes unless `timeoutMs` run out or the other end hangs up first.
    QByteArray receive(int count, int timeoutMs = 2000) { return read(count, timeoutMs, -1); }

    // Until `quietMs` pass without a byte, `totalMs` have passed, `maxBytes` came or the other end
    // hangs up.
    QByteArray receiveUntilQuiet(int quietMs = 40, int totalMs = 2000, int maxBytes = 1 << 20)
    {
        return read(maxBytes, totalMs, quietMs);
    }

protected:
    PtyLine() = default;

    static void makeRaw(int fd)
    {
        termios tio{};
        if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
    }
    void close()
    {
        if (_fd >= 0)
            ::close(_fd);
        _fd = -1;
    }

    int _fd = -1;

private:
    QByteArray read(int maxBytes, int totalMs, int quietMs)
    {
        QByteArray data;
        QElapsedTimer total, quiet;
        total.start();
        quiet.start();
        while (_fd >= 0 && data.size() < maxBytes && total.elapsed() < totalMs &&
               (quietMs < 0 || quiet.elapsed() < quietMs)) {
            pollfd fd = {_fd, POLLIN, 0};
            if (::poll(&fd, 1, 5) <= 0)
                continue;
            char buffer[4096];
            const size_t wanted = size_t(qMin<qint64>(sizeof buffer, maxBytes - data.size()));
            const ssize_t n = (fd.revents & POLLIN) ? ::read(_fd, buffer, wanted) : 0;
            if (n > 0) {
                data.append(buffer, int(n));
                quiet.restart();
            } else if (fd.revents & (POLLHUP | POLLERR)) {
                _hungUp = true;
                break;
            }
        }
        return data;
    }

    bool _hungUp = false;
};

// The far end of a pseudo-terminal that the code under test opens as its serial port. The peer
// holds the master side and keeps one raw slave descriptor of its own, so nothing is echoed before
// the port is configured and the peer can look at the slave's input queue. A script can run on a
// thread of its own to answer with timed bursts.
class PtyPeer : public PtyLine
{
public:
    PtyPeer()
    {
        _fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (_fd < 0 || grantpt(_fd) != 0 || unlockpt(_fd) != 0)
            return;
        _path = QString::fromLocal8Bit(ptsname(_fd));
        _slave = ::open(ptsname(_fd), O_RDWR | O_NOCTTY | O_NONBLOCK);
        makeRaw(_slave);
        makeRaw(_fd);
    }
    ~PtyPeer()
    {
        join();
        if (_slave >= 0)
            ::close(_slave);
    }

    bool isValid() const { return isOpen() && _slave >= 0; }
    QString path() const { return _path; }
    int slave() const { return _slave; }

    // Bytes sent by the peer that the slave side has not read yet. Delivery through a pty takes a
    // moment: poll this, never assert it right after send().
    int pendingAtPort() const
    {
        int count = 0;
        return ioctl(_slave, FIONREAD, &count) == 0 ? count : -1;
    }

    bool waitPendingAtPort(int count, int timeoutMs = 2000) const
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (pendingAtPort() == count)
                return true;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return false;
    }

    // Closes the master side: the port under test sees a hang-up.
    void hangUp() { close(); }

    // Runs `script` on a thread of its own; join() or the destructor waits for it.
    void run(std::function<void(PtyPeer &)> script)
    {
        join();
        _thread = std::thread([this, script] { script(*this); });
    }
    void join()
    {
        if (_thread.joinable())
            _thread.join();
    }

    static void pauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

private:
    int _slave = -1;
    QString _path;
    std::thread _thread;
};

// The peer's end as the port the code under test opens.
inline PortInfo portOf(const PtyPeer &peer)
{
    PortInfo info;
    info.portName = peer.path().mid(5);
    info.systemLocation = peer.path();
    return info;
}

// The transport, or the loader interface, opened on the peer's pseudo-terminal.
inline bool openOn(BSL_IO_UART &uart, const PtyPeer &peer)
{
    return peer.isValid() && uart.open(peer.path().toStdWString().c_str(), UART_BAUDRATE, UART_PARITY);
}

inline bool openOn(BSL_Interface &bsl, const PtyPeer &peer)
{
    return peer.isValid() && bsl.openPort(portOf(peer));
}
