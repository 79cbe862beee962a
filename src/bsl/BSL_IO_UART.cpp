#include "BSL_IO_UART.h"

#include "BSL_Common.h"
#include "bslframe.h"
#include "logcategories.h"
#include "quietread.h"

#include <QDebug>

namespace {

// Every failure of the line is logged as "<where> <what>", each under the label of the step it ended.
void logFailure(const char *where, const char *what)
{
    qCDebug(lcSerial) << where << what;
}

struct StepFailure
{
    SerialLine::OpenResult result;
    const char *text;
};

// A step of open reads a group of the line's settings and writes them back: either half may fail.
bool stepPassed(SerialLine::OpenResult result, const char *where, StepFailure get, StepFailure set)
{
    for (const StepFailure &failure : {get, set}) {
        if (result == failure.result) {
            logFailure(where, failure.text);
            return false;
        }
    }
    return true;
}

// The line read to its quiet; a read that the bounds cut off is logged under `label`.
template <typename ReadByte, typename Take>
QuietRead readToQuiet(const char *label, ReadByte readByte, Take take)
{
    const QuietRead read = readUntilQuiet(readByte, take);
    if (read.end == QuietRead::Bounded) {
        qCDebug(lcSerial).noquote() << label << "the line does not fall silent, stopped after" << read.count
                                    << "bytes in" << read.elapsedMs << "ms";
    }
    return read;
}

} // namespace

BSL_IO_UART::BSL_IO_UART(QObject *parent) : QObject(parent) {}

BSL_IO_UART::~BSL_IO_UART()
{
    close();
}

bool BSL_IO_UART::open(const wchar_t *comPort, long rate, unsigned char parity)
{
    _portLost = false;
    const SerialLine::OpenResult result = _line.open(comPort, rate, parity);
    switch (result) {
    case SerialLine::OpenOk:
        return true;
    case SerialLine::CreateFileFailed:
        logFailure("BSL_IO_UART::open", "CreateFile failed!");
        return false;
    case SerialLine::SetupCommFailed:
        logFailure("BSL_IO_UART::open", "SetupComm failed!");
        return false;
    case SerialLine::GetCommTimeoutsFailed:
    case SerialLine::SetCommTimeoutsFailed:
        if (!setTimeouts(result))
            logFailure("BSL_IO_UART::open", "setTimeouts failed!");
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
    return stepPassed(result, "BSL_IO_UART::setTimeouts",
                      {SerialLine::GetCommTimeoutsFailed, "GetCommTimeouts failed!"},
                      {SerialLine::SetCommTimeoutsFailed, "SetCommTimeouts failed!"});
}

// The line-settings step of open, reported under its own label.
bool BSL_IO_UART::setState(SerialLine::OpenResult result)
{
    return stepPassed(result, "BSL_IO_UART::setState",
                      {SerialLine::GetCommStateFailed, "GetCommState failed!"},
                      {SerialLine::SetCommStateFailed, "SetCommState failed!"});
}

bool BSL_IO_UART::restoreTimeouts(SerialLine::CloseResult result)
{
    if (result == SerialLine::RestoreTimeoutsFailed) {
        logFailure("BSL_IO_UART::restoreTimeouts", "SetCommTimeouts failed!");
        return false;
    }
    return true;
}

bool BSL_IO_UART::close()
{
    const SerialLine::CloseResult result = _line.close();
    if (!restoreTimeouts(result)) {
        logFailure("BSL_IO_UART::close", "restoreTimeouts failed!");
        return false;
    }
    if (result == SerialLine::CloseHandleFailed) {
        logFailure("BSL_IO_UART::close", "CloseHandle failed!");
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
        logFailure("BSL_IO_UART::readByte", "ClearCommError failed!");
    if (result.readFailed)
        logFailure("BSL_IO_UART::readByte", "ReadFile failed!");
    _portLost = _portLost || result.waitFailed || result.readFailed;
    return result;
}

std::optional<unsigned char> BSL_IO_UART::readByte()
{
    const SerialLine::ReadResult result = readLineByte();
    if (!result.received)
        return std::nullopt;
    return result.byte;
}

void BSL_IO_UART::readBounded(QByteArray *keep, const char *label)
{
    readToQuiet(
        label, [this] { return readLineByte(); },
        [keep](unsigned char byte) {
            if (keep)
                keep->append(static_cast<char>(byte));
            return false;
        });
}

void BSL_IO_UART::readUntilTimeout(QByteArray &data)
{
    readBounded(&data, "BSL_IO_UART::readUntilTimeout");
}

bool BSL_IO_UART::readReply(QByteArray &data)
{
    const int start = data.size();
    const QuietRead read = readToQuiet(
        "BSL_IO_UART::readReply", [this] { return readLineByte(); },
        [&data, start](unsigned char byte) {
            data.append(static_cast<char>(byte));
            return BslFrame::isWholeReply(data, start);
        });
    return read.end == QuietRead::Taken;
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
        logFailure("BSL_IO_UART::write", "WriteFile failed!");
        _portLost = true;
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
            qCDebug(lcSerial).noquote() << "Wrong header!" << buffer.size() << BslFrame::hex(buffer);
        }
        break;
    }
    _lastProgrammingModeReply = buffer;
    if (buffer.size() < PROG_MODE_MIN_RESP)
        qCDebug(lcSerial).noquote() << "Not enought data!" << buffer.size() << BslFrame::hex(buffer);
    return status;
}
