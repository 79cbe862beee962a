#ifndef SIMLINE_H
#define SIMLINE_H

// The simulated unit's serial line: the master side of a pty pair (or a serial device in raw mode),
// its power and plug, the wake-up pipe of the serving thread, and bytes written at the line rate.
// Everything but requestEnd() and wake() belongs to the thread that serves the line once it runs.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <sys/types.h>

constexpr qint64 NS_PER_MS = 1000000;
qint64 monotonicNs();

class SimLine
{
public:
    // How bytes leave: paced at one character per byteTimeNs, or as fast as the line takes them.
    struct Pace
    {
        bool paced = false;
        qint64 byteTimeNs = 0;
    };

    SimLine() = default;
    ~SimLine() { close(); }
    SimLine(const SimLine &) = delete;
    SimLine &operator=(const SimLine &) = delete;

    // A new pty pair, or with a device path that device; false with *error set.
    bool open(const QString &devicePath, QString *error);
    void close();
    QString portPath() const { return _portPath; }
    bool servesDevice() const { return !_devicePath.isEmpty(); }
    // The device hung up: closed until reopen() succeeds.
    void closeDevice();
    bool reopen();
    // Closes the line as a pulled cable does, once the host has had a moment to take what was sent.
    void hangUp();

    // Asks the serving thread to leave (hangUp: by a hang-up, else by a stop) and wakes it.
    void requestEnd(bool hangUp);
    void clearRequests() { _stopRequested = _hangUpRequested = false; }
    bool stopRequested() const { return _stopRequested; }
    bool hangUpRequested() const { return _hangUpRequested; }
    bool ending() const { return _stopRequested || _hangUpRequested; }
    void wake();

    // Waits until deadlineNs passes; false when asked to leave first.
    bool sleepUntil(qint64 deadlineNs);
    // Writes bytes not before notBeforeNs, each reported to sent() once written; false when the line
    // is gone or the thread asked to leave.
    bool send(const QByteArray &bytes, qint64 notBeforeNs, Pace pace,
              const std::function<void(const QByteArray &)> &sent);
    // Writes what the line takes now and drops the rest, as an endless stream does; the bytes taken.
    QByteArray writeWhatFits(const QByteArray &bytes);
    // Waits for input, a wake-up or deadlineNs (-1: none); false on a failed wait. *hungUp when the
    // device hung up, *readable when there is something to read.
    bool waitForInput(qint64 deadlineNs, bool *hungUp, bool *readable);
    ssize_t read(char *buffer, size_t size);
    // When a byte read at readNs has arrived on a paced line: once its character time is over.
    qint64 arrival(qint64 readNs, Pace pace);

    void resetTimes() { _inFreeNs = _outFreeNs = 0; }
    qint64 outFreeNs() const { return _outFreeNs; } // when the last byte sent has left

private:
    bool openPty(QString *error);
    bool openDevice();
    bool writeAll(const char *data, int size);
    void drainWake();

    int _master = -1;
    int _slave = -1; // held open so the master side survives the host closing and reopening the port
    int _wake[2] = {-1, -1};
    QString _devicePath;
    QString _portPath;
    std::atomic<bool> _stopRequested{false};
    std::atomic<bool> _hangUpRequested{false};
    qint64 _inFreeNs = 0;
    qint64 _outFreeNs = 0;
};

#endif // SIMLINE_H
