#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// The far end of a pseudo-terminal that the code under test opens as its serial port. The peer
// holds the master side and keeps one raw slave descriptor of its own, so nothing is echoed before
// the port is configured and the peer can look at the slave's input queue. A script can run on a
// thread of its own to answer with timed bursts.
class PtyPeer
{
public:
    PtyPeer()
    {
        _master = posix_openpt(O_RDWR | O_NOCTTY);
        if (_master < 0 || grantpt(_master) != 0 || unlockpt(_master) != 0)
            return;
        _path = QString::fromLocal8Bit(ptsname(_master));
        _slave = ::open(ptsname(_master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (_slave >= 0 && tcgetattr(_slave, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(_slave, TCSANOW, &tio);
        }
        tcgetattr(_master, &tio);
        cfmakeraw(&tio);
        tcsetattr(_master, TCSANOW, &tio);
    }
    ~PtyPeer()
    {
        join();
        hangUp();
        if (_slave >= 0)
            ::close(_slave);
    }
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isValid() const { return _master >= 0 && _slave >= 0; }
    QString path() const { return _path; }
    int slave() const { return _slave; }

    // Sends bytes towards the port under test.
    void send(const QByteArray &bytes)
    {
        qint64 done = 0;
        while (_master >= 0 && done < bytes.size()) {
            const ssize_t n = ::write(_master, bytes.constData() + done, bytes.size() - done);
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                return;
        }
    }

    // Collects what the port under test sent until `count` bytes have come or `timeoutMs` passed.
    QByteArray receive(int count, int timeoutMs = 2000)
    {
        QByteArray bytes;
        QElapsedTimer timer;
        timer.start();
        while (_master >= 0 && bytes.size() < count && timer.elapsed() < timeoutMs) {
            pollfd pfd{_master, POLLIN, 0};
            if (poll(&pfd, 1, 10) <= 0 || !(pfd.revents & POLLIN))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(_master, buffer, qMin<qint64>(sizeof buffer, count - bytes.size()));
            if (n > 0)
                bytes.append(buffer, static_cast<int>(n));
        }
        return bytes;
    }

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
    void hangUp()
    {
        if (_master >= 0)
            ::close(_master);
        _master = -1;
    }

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
    int _master = -1;
    int _slave = -1;
    QString _path;
    std::thread _thread;
};
