#include "BSL_IO_UART.h"

#include "BSL_Common.h"
#include "CRC.h"
#include "logcategories.h"

#include <QDebug>
#include <QElapsedTimer>

BSL_IO_UART::BSL_IO_UART(QObject *parent) : QObject(parent) {}

BSL_IO_UART::~BSL_IO_UART()
{
    close();
}

bool BSL_IO_UART::open(const wchar_t *comPort, long rate, unsigned char parity)
{
    const SerialLine::OpenResult result = _line.open(comPort, rate, parity);
    switch (result) {
    case SerialLine::OpenOk:
        return true;
    case SerialLine::CreateFileFailed:
        qCDebug(lcSerial) << "BSL_IO_UART::open"
                          << "CreateFile failed!";
        return false;
    case SerialLine::SetupCommFailed:
        qCDebug(lcSerial) << "BSL_IO_UART::open"
                          << "SetupComm failed!";
        return false;
    case SerialLine::GetCommTimeoutsFailed:
    case SerialLine::SetCommTimeoutsFailed:
        if (!setTimeouts(result))
            qCDebug(lcSerial) << "BSL_IO_UART::open"
                              << "setTimeouts failed!";
        return false;
    case SerialLine::GetCommStateFailed:
    case SerialLine::SetCommStateFailed:
        setState(result);
        return false;
    }
    return false;
}

// The time-out step of open, reported under its own label.
bool BSL_IO_UART::setTimeouts(SerialLine::OpenResult result)
{
    if (result == SerialLine::GetCommTimeoutsFailed) {
        qCDebug(lcSerial) << "BSL_IO_UART::setTimeouts"
                          << "GetCommTimeouts failed!";
        return false;
    }
    if (result == SerialLine::SetCommTimeoutsFailed) {
        qCDebug(lcSerial) << "BSL_IO_UART::setTimeouts"
                          << "SetCommTimeouts failed!";
        return false;
    }
    return true;
}

// The line-settings step of open, reported under its own label.
bool BSL_IO_UART::setState(SerialLine::OpenResult result)
{
    if (result == SerialLine::GetCommStateFailed) {
        qCDebug(lcSerial) << "BSL_IO_UART::setState"
                          << "GetCommState failed!";
        return false;
    }
    if (result == SerialLine::SetCommStateFailed) {
        qCDebug(lcSerial) << "BSL_IO_UART::setState"
                          << "SetCommState failed!";
        return false;
    }
    return true;
}

bool BSL_IO_UART::restoreTimeouts(SerialLine::CloseResult result)
{
    if (result == SerialLine::RestoreTimeoutsFailed) {
        qCDebug(lcSerial) << "BSL_IO_UART::restoreTimeouts"
                          << "SetCommTimeouts failed!";
        return false;
    }
    return true;
}

bool BSL_IO_UART::close()
{
    const SerialLine::CloseResult result = _line.close();
    if (!restoreTimeouts(result)) {
        qCDebug(lcSerial) << "BSL_IO_UART::close"
                          << "restoreTimeouts failed!";
        return false;
    }
    if (result == SerialLine::CloseHandleFailed) {
        qCDebug(lcSerial) << "BSL_IO_UART::close"
                          << "CloseHandle failed!";
        return false;
    }
    return true;
}

void BSL_IO_UART::clearBuffers()
{
    _line.clearBuffers();
}

SerialLine::ReadResult BSL_IO_UART::readLineByte()
{
    const SerialLine::ReadResult result = _line.readByte(TIMEOUT_MS);
    // One line per call at most: a port that has gone away must not flood the log.
    if (result.waitFailed)
        qCDebug(lcSerial) << "BSL_IO_UART::readByte"
                          << "ClearCommError failed!";
    if (result.readFailed)
        qCDebug(lcSerial) << "BSL_IO_UART::readByte"
                          << "ReadFile failed!";
    return result;
}

unsigned char BSL_IO_UART::readByte()
{
    const SerialLine::ReadResult result = readLineByte();
    return result.received ? result.byte : static_cast<unsigned char>(TIMEOUT_ERROR);
}

void BSL_IO_UART::readBounded(QByteArray *keep, const char *label)
{
    QElapsedTimer elapsed;
    elapsed.start();
    int count = 0;
    for (;;) {
        const unsigned char byte = readByte();
        if (byte == TIMEOUT_ERROR)
            return;
        if (keep)
            keep->append(static_cast<char>(byte));
        ++count;
        if (count >= READ_UNTIL_TIMEOUT_MAX_BYTES || elapsed.elapsed() >= READ_UNTIL_TIMEOUT_MAX_MS) {
            qCDebug(lcSerial).noquote() << label << "the line does not fall silent, stopped after" << count
                                        << "bytes in" << elapsed.elapsed() << "ms";
            return;
        }
    }
}

void BSL_IO_UART::readUntilTimeout(QByteArray &data)
{
    readBounded(&data, "BSL_IO_UART::readUntilTimeout");
}

bool BSL_IO_UART::readReply(QByteArray &data)
{
    const int start = data.size();
    QElapsedTimer elapsed;
    elapsed.start();
    int count = 0;
    for (;;) {
        const SerialLine::ReadResult result = readLineByte();
        if (!result.received)
            return false;
        data.append(static_cast<char>(result.byte));
        if (endsWithWholeReply(data, start))
            return true;
        ++count;
        if (count >= READ_UNTIL_TIMEOUT_MAX_BYTES || elapsed.elapsed() >= READ_UNTIL_TIMEOUT_MAX_MS) {
            qCDebug(lcSerial).noquote()
                << "BSL_IO_UART::readReply the line does not fall silent, stopped after" << count
                << "bytes in" << elapsed.elapsed() << "ms";
            return false;
        }
    }
}

// The bytes from `start` on are exactly one reply: header, length, core and a CRC that checks.
bool BSL_IO_UART::endsWithWholeReply(const QByteArray &data, int start)
{
    const int size = data.size() - start;
    if (size < 5)
        return false;
    const auto byteAt = [&data, start](int i) { return static_cast<unsigned char>(data.at(start + i)); };
    const int length = byteAt(1) | byteAt(2) << 8;
    if (byteAt(0) != BSL_HEADER || size != 3 + length + 2)
        return false;
    Flash_crcInit(0xFFFF);
    for (int i = 3; i < 3 + length; ++i)
        Flash_crcInput(byteAt(i));
    return byteAt(3 + length) == Flash_getLowByte() && byteAt(4 + length) == Flash_getHighByte();
}

void BSL_IO_UART::readGarbageUntilTimeout()
{
    readBounded(nullptr, "BSL_IO_UART::readGarbageUntilTimeout");
}

int BSL_IO_UART::write(const QByteArray &data)
{
    bool failed = false;
    const std::size_t written =
        _line.write(reinterpret_cast<const unsigned char *>(data.constData()), data.size(), &failed);
    if (failed) {
        qCDebug(lcSerial) << "BSL_IO_UART::write"
                          << "WriteFile failed!";
        return 0;
    }
    return static_cast<int>(written);
}

bool BSL_IO_UART::txProgrammingMode()
{
    _lastProgrammingModeReply.clear();
    const QByteArray request{"\x7D\x7D\x01", 3};
    if (write(request) != request.size()) {
        qCDebug(lcSerial, "%s: set mode failed!", "BSL_IO_UART::txProgrammingMode");
        return false;
    }
    return true;
}

bool BSL_IO_UART::rxProgrammingMode(QString &version)
{
    // The reply may come in several bursts: each attempt appends the next one.
    QByteArray buffer;
    bool status = false;
    for (int attempt = 0; attempt < PROG_MODE_ATTEMPTS; ++attempt) {
        readUntilTimeout(buffer);
        if (buffer.isEmpty() || static_cast<unsigned char>(buffer.back()) != QS_FRAME)
            continue;
        // A reply of one to three bytes fails here on its final 0x7E, never past its end.
        const bool header = static_cast<unsigned char>(buffer.at(0)) == QS_ESC &&
                            static_cast<unsigned char>(buffer.at(1)) == QS_ESC &&
                            static_cast<unsigned char>(buffer.at(2)) == BSL_MODE;
        if (header) {
            version.clear();
            version = QString::fromUtf8(buffer.mid(PROG_MODE_VER_OFF, buffer.size() - 4));
            status = true;
        } else {
            qCDebug(lcSerial).noquote() << "Wrong header!" << buffer.size() << dataToHexString(buffer);
        }
        break;
    }
    _lastProgrammingModeReply = buffer;
    if (buffer.size() < PROG_MODE_MIN_RESP)
        qCDebug(lcSerial).noquote() << "Not enought data!" << buffer.size() << dataToHexString(buffer);
    return status;
}

QString BSL_IO_UART::dataToHexString(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex());
}
