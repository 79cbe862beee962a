#pragma once

#include "serialline.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

// The byte-level serial port: opens one COM port by its device path at 115200 baud 8N1 without flow
// control and offers synchronous reads with a 40 ms deadline, writes that drop stale input, purges,
// and the programming-mode handshake. Used from one thread only; nothing here is asynchronous.
class BSL_IO_UART : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BSL_IO_UART)

public:
    explicit BSL_IO_UART(QObject *parent = nullptr);
    ~BSL_IO_UART() override;

    // `comPort`: the device path ("\\.\COM7" on Windows, "/dev/ttyACM0" elsewhere).
    bool open(const wchar_t *comPort, long rate, unsigned char parity);
    bool close();
    // Why the last open failed in its first step (CreateFile), with the system's error code.
    SerialLine::OpenFailure openFailure() const { return _line.openFailure(); }
    int openErrorCode() const { return _line.openErrorCode(); }
    // A read or a write failed since the port was opened: the device has gone away.
    bool portLost() const { return _portLost; }
    void clearBuffers();
    // One byte within the read time-out, or none: every byte value, 0xEE included, is data.
    std::optional<unsigned char> readByte();
    void readUntilTimeout(QByteArray &data);
    // Appends one loader reply (80, length low, length high, that many bytes, CRC-16 low and high
    // over them) and returns true as soon as its last byte has arrived and its CRC checks. Anything
    // else (a reply that stops short, fails its CRC or starts with another byte) is read like
    // readUntilTimeout, to the line's quiet, and gives false. A 0xEE byte is data here.
    bool readReply(QByteArray &data);
    void readGarbageUntilTimeout();
    int write(const QByteArray &data);

    bool txProgrammingMode();
    bool rxProgrammingMode(QString &version);
    // Everything the last rxProgrammingMode collected.
    QByteArray lastProgrammingModeReply() const { return _lastProgrammingModeReply; }

private:
    bool setTimeouts(SerialLine::OpenResult result);
    bool restoreTimeouts(SerialLine::CloseResult result);
    bool setState(SerialLine::OpenResult result);
    // Reads until the line is silent for one byte time-out, within the bounds of BSL_Common;
    // `keep` null drops the bytes.
    void readBounded(QByteArray *keep, const char *label);
    // One byte within TIMEOUT_MS, with the line's failures logged.
    SerialLine::ReadResult readLineByte();

    SerialLine _line;
    QByteArray _lastProgrammingModeReply;
    bool _portLost = false;
};
