#include "BSL_Interface.h"

#include "BSL_Common.h"
#include "BSL_IO_UART.h"
#include "CRC.h"
#include "TextFileIO.h"
#include "logcategories.h"
#include "portenumerator.h"

#include <QDebug>

#include <iterator>
#include <string>

namespace {

// The password of a loader whose memory is erased. The unit refuses it first (and erases itself
// on the refusal), then accepts it.
const QByteArray &erasedDevicePassword()
{
    static const QByteArray password(BSL_PASSWORD_SIZE, '\xFF');
    return password;
}

unsigned char byteAt(const QByteArray &data, int index)
{
    return static_cast<unsigned char>(data.at(index));
}

// The loader's message reply "successful operation".
const QByteArray SUCCESS_REPLY("\x80\x02\x00\x3B\x00\x60\xC4", 7);

// Longest memory range one CRC command may cover (its length field has 16 bits).
const int CRC_CHECK_MAX_LENGTH = 0x8000;

// The interrupt vectors, the reset vector last: the unit starts its application only when the
// reset vector is not blank.
const uint32_t VECTORS_FIRST = 0xFFE0;
const uint32_t VECTORS_END = 0x10000;

bool holdsVectors(uint32_t address, const QByteArray &block)
{
    return !block.isEmpty() && address < VECTORS_END &&
           address + static_cast<uint32_t>(block.size()) > VECTORS_FIRST;
}

// The acknowledgement as the log shows it: a silence as 0xee, as the line's time-out marker.
unsigned int ackValue(const std::optional<unsigned char> &ack)
{
    return ack ? *ack : static_cast<unsigned int>(TIMEOUT_ERROR);
}

// A whole reply that passed its checksum is a message with this code.
bool isMessage(const QByteArray &rsp, unsigned char code)
{
    return rsp.size() == 7 && byteAt(rsp, 3) == BSL_MESSAGE_REPLY && byteAt(rsp, 4) == code;
}

} // namespace

std::atomic<BSL_Interface::Phase> BSL_Interface::_phase{BSL_Interface::Phase::Idle};
std::atomic<BSL_Interface::PhaseObserver> BSL_Interface::_phaseObserver{nullptr};
std::atomic<bool> BSL_Interface::_stopRequested{false};

BSL_Interface::BSL_Interface(unsigned int bufferSize, QObject *parent)
    : QObject(parent), _bufferSize(bufferSize), _serial(new BSL_IO_UART)
{
}

BSL_Interface::~BSL_Interface()
{
    delete _serial;
}

bool BSL_Interface::openPort(const PortInfo &info)
{
    const std::wstring devicePath = PortEnumerator::openPath(info).toStdWString();
    if (!_serial->open(devicePath.c_str(), UART_BAUDRATE, UART_PARITY)) {
        qCDebug(lcLoader) << "BSL_Interface::openPort"
                          << "open failed!";
        return false;
    }
    return true;
}

SerialLine::OpenFailure BSL_Interface::openFailure() const
{
    return _serial->openFailure();
}

int BSL_Interface::openErrorCode() const
{
    return _serial->openErrorCode();
}

void BSL_Interface::setPhase(Phase phase)
{
    _phase.store(phase);
    if (const PhaseObserver observer = _phaseObserver.load())
        observer(phase);
}

void BSL_Interface::closePort()
{
    if (!_serial->close())
        qCDebug(lcLoader) << "BSL_Interface::closePort"
                          << "close failed!";
}

bool BSL_Interface::rxProgrammingMode(QString &version)
{
    _serial->readGarbageUntilTimeout();
    if (!_serial->txProgrammingMode())
        return false;
    return _serial->rxProgrammingMode(version);
}

void BSL_Interface::installFirmware(const QString &firmware, unsigned int size)
{
    // The summary line measures this installation's write phase only.
    _rxTxtTime.invalidate();
    _rxTxtMs = -1;
    _verification = Verification::NotRun;
    _written.clear();
    _deferred.clear();
    _stopRequested.store(false);
    _unitErased = false;
    _imageProblem.clear();
    // A refused password erases the unit: the whole image is read and checked before the first
    // frame, and the write phase reads these very bytes, not the file a second time.
    QByteArray image;
    const ImageCheck check = loadTI_Text(firmware, image);
    if (!check.ok) {
        _imageProblem = check.describe(firmware);
        qCDebug(lcImage).noquote() << "BSL_Interface::installFirmware"
                                   << "image refused, nothing sent:" << _imageProblem;
    } else if (authenticate() && erase()) {
        rxTxtFileBegin(firmware, image);
        setPhase(Phase::Writing);
        while (rxTxtFileContinue(size)) {
        }
        _rxTxtMs = _rxTxtTime.elapsed();
        if (verifyAfterWrite() && _percent == 100) {
            setPhase(Phase::Verifying);
            _verification = verifySections();
        }
    }
    setPhase(Phase::Idle);
    rxTxtFileEnd();
}

bool BSL_Interface::authenticate()
{
    setPhase(Phase::Authenticating);
    qCDebug(lcLoader) << "Authenticating...";
    // A loader that holds firmware refuses the erased-device password and erases itself; the same
    // password then matches. A loader that accepts it at once is already blank, so the refusal
    // is expected but not required.
    bool passwordErrorExpected = true;
    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        if (stopHere())
            break;
        const Ack ack = rxPassword();
        // Whatever the loader answered, it took in a frame: a password it refused has erased the unit.
        if (ack)
            _unitErased = true;
        bool failed = true;
        if (ack == BSL_ACK) {
            QByteArray rsp;
            receiveReply(rsp);
            if (rsp.startsWith(SUCCESS_REPLY)) {
                if (passwordErrorExpected)
                    qCDebug(lcLoader) << "Password accepted at once: the unit was already erased";
                return true;
            }
            if (passwordErrorExpected && processRspData(rsp, BSL_PASSWORD_ERROR)) {
                passwordErrorExpected = false;
                failed = false;
            } else if (!passwordErrorExpected) {
                processRspData(rsp, SUCCESSFUL_OPERATION);
            }
        }
        if (failed)
            settleAfterFailure(ack);
        qCDebug(lcLoader) << (passwordErrorExpected ? "Resending wrong password..." : "Sending password...");
    }
    qCDebug(lcLoader) << "Authentication failed!";
    return false;
}

bool BSL_Interface::erase()
{
    setPhase(Phase::Erasing);
    qCDebug(lcLoader) << "Erasing...";
    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        if (stopHere())
            break;
        const Ack ack = rxMassErase();
        if (ack == BSL_ACK && collectReply(SUCCESSFUL_OPERATION))
            return true;
        settleAfterFailure(ack);
        qCDebug(lcLoader).nospace() << "BSL_Interface::erase"
                                    << " repeat " << attempt;
    }
    qCDebug(lcLoader) << "Erase failed!";
    return false;
}

QByteArray BSL_Interface::lastProgrammingModeReply() const
{
    return _serial->lastProgrammingModeReply();
}

bool BSL_Interface::txBslVersion(QByteArray *reply)
{
    _serial->readGarbageUntilTimeout();
    const Ack ack = txPacket(QByteArray(1, static_cast<char>(TX_BSL_VERSION)));
    QByteArray rsp;
    // Only a whole reply whose checksum checks comes from a loader: anything else may be any device.
    const bool checked = ack == BSL_ACK && _serial->readReply(rsp);
    if (reply)
        *reply = rsp;
    // A locked loader answers with the message "locked", an unlocked one with its version as data.
    const bool locked = checked && isMessage(rsp, BSL_LOCKED);
    const bool version = checked && byteAt(rsp, BSL_RSP_DATA_LSB_OFFSET) == BSL_DATA_REPLY;
    qCDebug(lcLoader).noquote() << "BSL_Interface::txBslVersion"
                                << (locked || version ? "loader answered" : "no loader")
                                << QString::asprintf("0x%02x", ackValue(ack)) << rsp.size()
                                << dataToHexString(rsp);
    if (ack != BSL_ACK)
        _serial->readGarbageUntilTimeout();
    return locked || version;
}

BSL_Interface::Ack BSL_Interface::rxPassword()
{
    QByteArray core;
    core.append(static_cast<char>(RX_PASSWORD));
    core.append(erasedDevicePassword());
    return txPacket(core);
}

BSL_Interface::Ack BSL_Interface::rxMassErase()
{
    return txPacket(QByteArray(1, static_cast<char>(MASS_ERASE)));
}

// The address travels as three bytes, least significant first.
BSL_Interface::Ack BSL_Interface::rxDataBlock(uint32_t address, const QByteArray &block)
{
    QByteArray core;
    core.reserve(4 + block.size());
    core.append(static_cast<char>(RX_DATA_BLOCK));
    core.append(static_cast<char>(address & 0xFF));
    core.append(static_cast<char>((address >> 8) & 0xFF));
    core.append(static_cast<char>((address >> 16) & 0xFF));
    core.append(block);
    return txPacket(core);
}

void BSL_Interface::rxTxtFileBegin(const QString &firmware, const QByteArray &image)
{
    const QByteArray path = firmware.toLocal8Bit();
    qCDebug(lcLoader, "Writing %s...", path.constData());
    _rxTxtBytes = 0;
    openTI_TextInMemory(image);
    _rxTxtTime.start();
}

bool BSL_Interface::rxTxtFileContinue(unsigned int size)
{
    updateProgress(size);
    uint32_t address = 0;
    QByteArray block;
    if (!nextBlock(address, block))
        return false;
    _rxTxtBytes += static_cast<unsigned int>(block.size());

    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        if (stopHere())
            return false;
        const Ack ack = rxDataBlock(address, block);
        if (ack == BSL_ACK && collectReply(SUCCESSFUL_OPERATION)) {
            recordWritten(address, block);
            return true;
        }
        settleAfterFailure(ack);
        qCDebug(lcLoader).nospace() << "BSL_Interface::rxTxtFileContinue"
                                    << " repeat " << attempt;
    }
    return false;
}

// The next block in the image's order, except that the blocks holding the interrupt vectors come
// after all others. False when nothing is left.
bool BSL_Interface::nextBlock(uint32_t &address, QByteArray &block)
{
    while (moreDataToRead()) {
        block.clear();
        address = readTI_TextFile(static_cast<int>(_bufferSize), block);
        // Nothing to send when the image had no more data after all (missing or unusable image).
        if (block.isEmpty() && address == TXT_EOF)
            break;
        if (!holdsVectors(address, block))
            return true;
        // The loader writes a block in address order: bytes past the vectors go now, so that the
        // reset vector is the very last thing written.
        const int vectorsEnd = static_cast<int>(VECTORS_END - address);
        _deferred.append(qMakePair(address, block.left(vectorsEnd)));
        if (block.size() > vectorsEnd) {
            address = VECTORS_END;
            block = block.mid(vectorsEnd);
            return true;
        }
    }
    if (_deferred.isEmpty())
        return false;
    address = _deferred.first().first;
    block = _deferred.takeFirst().second;
    return true;
}

void BSL_Interface::rxTxtFileEnd()
{
    const qint64 ms = _rxTxtMs >= 0 ? _rxTxtMs : (_rxTxtTime.isValid() ? _rxTxtTime.elapsed() : 0);
    const float seconds = static_cast<float>(ms) / 1000.0f;
    const float rate = seconds > 0.0f ? (static_cast<float>(_rxTxtBytes) / 1024.0f) / seconds : 0.0f;
    qCDebug(lcLoader, "Wrote %i bytes in %.2f seconds [%.2f Kbytes/s]", static_cast<int>(_rxTxtBytes),
            static_cast<double>(seconds), static_cast<double>(rate));
    closeTI_Text();
    emit firmwareInstallDone();
}

void BSL_Interface::updateProgress(unsigned int size)
{
    unsigned int nPercent = size ? static_cast<unsigned int>((_rxTxtBytes * 100u) / size) : 0;
    // 100 means the whole image reached the unit: never before the reader has met the image's end,
    // whatever size the caller gave.
    if (nPercent >= 100 && (moreDataToRead() || !_deferred.isEmpty()))
        nPercent = 99;
    qCDebug(lcLoader, "_rxTxtBytes: %i", static_cast<int>(_rxTxtBytes));
    qCDebug(lcLoader, "imageSize: %i", static_cast<int>(size));
    qCDebug(lcLoader, "nPercent: %i", static_cast<int>(nPercent));
    qCDebug(lcLoader, "_Percent: %i", static_cast<int>(_percent));
    if (nPercent != _percent) {
        qCDebug(lcLoader, "_percent != nPercent **********");
        _percent = nPercent;
        emit progressChanged(_percent);
    }
}

// After a failed attempt the loader may still be busy with the command, sending a late reply, or
// answering the rest of a frame it could not parse with one refusal byte per byte. An attempt sent
// into that would read those bytes as its own answer, and so would every one after it: let the
// line fall silent first, whatever the failure was. When not even an acknowledgement came, the
// loader may be waiting for more bytes of a frame whose length was damaged on the way, and would
// take the next attempt as the rest of it: fill that frame up first.
void BSL_Interface::settleAfterFailure(const Ack &ack)
{
    if (!ack)
        _serial->write(QByteArray(BSL_MAX_FRAME_SIZE, static_cast<char>(BSL_FRAME_FILLER)));
    _serial->readGarbageUntilTimeout();
}

bool BSL_Interface::stopHere()
{
    if (!_stopRequested.load())
        return false;
    qCDebug(lcLoader) << "BSL_Interface: stopped on request";
    return true;
}

void BSL_Interface::recordWritten(uint32_t address, const QByteArray &block)
{
    if (block.isEmpty())
        return;
    // Blocks of one section follow each other: extend the section that ends where this one starts.
    // The vectors, written last, close the gap before the section that follows them.
    auto it = _written.upperBound(address);
    if (it != _written.begin() &&
        std::prev(it).key() + static_cast<uint32_t>(std::prev(it).value().size()) == address)
        std::prev(it).value().append(block);
    else
        it = std::next(_written.insert(address, block));
    const auto joined = std::prev(it);
    if (it != _written.end() && joined.key() + static_cast<uint32_t>(joined.value().size()) == it.key()) {
        joined.value().append(it.value());
        _written.erase(it);
    }
}

BSL_Interface::Ack BSL_Interface::rxCrcCheck(uint32_t address, uint16_t length)
{
    QByteArray core;
    core.append(static_cast<char>(CRC_CHECK));
    core.append(static_cast<char>(address & 0xFF));
    core.append(static_cast<char>((address >> 8) & 0xFF));
    core.append(static_cast<char>((address >> 16) & 0xFF));
    core.append(static_cast<char>(length & 0xFF));
    core.append(static_cast<char>((length >> 8) & 0xFF));
    return txPacket(core);
}

BSL_Interface::Verification BSL_Interface::verifySections()
{
    qCDebug(lcLoader) << "Verifying...";
    for (auto it = _written.cbegin(); it != _written.cend(); ++it) {
        // The command's length field has 16 bits: longer sections are checked in pieces.
        for (int offset = 0; offset < it.value().size(); offset += CRC_CHECK_MAX_LENGTH) {
            const Verification result = verifySection(it.key() + static_cast<uint32_t>(offset),
                                                      it.value().mid(offset, CRC_CHECK_MAX_LENGTH));
            if (result != Verification::Matched)
                return result;
        }
    }
    qCDebug(lcLoader) << "Verified" << _written.size() << "sections";
    return Verification::Matched;
}

BSL_Interface::Verification BSL_Interface::verifySection(uint32_t address, const QByteArray &bytes)
{
    Flash_crcInit(0xFFFF);
    for (const char byte : bytes)
        Flash_crcInput(static_cast<uint8_t>(byte));
    const uint16_t expected = static_cast<uint16_t>(Flash_getHighByte() << 8 | Flash_getLowByte());
    const QString where = QString::asprintf("0x%05x", address);
    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        const Ack ack = rxCrcCheck(address, static_cast<uint16_t>(bytes.size()));
        QByteArray rsp;
        // Collected by its own length, which tells where the reply ends.
        const bool whole = ack == BSL_ACK && _serial->readReply(rsp);
        // Asking again would get the same answer: this loader has no CRC command.
        if (whole && isMessage(rsp, UNKNOWN_COMMAND)) {
            qCDebug(lcLoader).noquote() << "This loader cannot verify: it does not know the CRC command";
            return Verification::Unsupported;
        }
        uint16_t crc = 0;
        if (ack == BSL_ACK && crcCheckReply(rsp, &crc)) {
            if (crc == expected)
                return Verification::Matched;
            // A reply that passed its own checksum: the memory really differs from the image.
            qCDebug(lcLoader).noquote() << "Verify failed! section" << where << "length" << bytes.size()
                                        << QString::asprintf("crc 0x%04x expected 0x%04x", crc, expected);
            return Verification::Differs;
        }
        qCDebug(lcLoader).noquote() << "Wrong CRC RSP!" << rsp.size() << dataToHexString(rsp);
        settleAfterFailure(ack);
        qCDebug(lcLoader).nospace() << "BSL_Interface::verifySection"
                                    << " repeat " << attempt;
    }
    qCDebug(lcLoader).noquote() << "Verify failed! section" << where << "got no CRC";
    return Verification::NoAnswer;
}

// A data reply 80 03 00 3A CRC_L CRC_H with its own checksum over the core.
bool BSL_Interface::crcCheckReply(const QByteArray &rsp, uint16_t *crc)
{
    if (rsp.size() < 8 || byteAt(rsp, 0) != BSL_HEADER || byteAt(rsp, 1) != 0x03 || byteAt(rsp, 2) != 0x00 ||
        byteAt(rsp, 3) != BSL_DATA_REPLY)
        return false;
    Flash_crcInit(0xFFFF);
    for (int i = 3; i < 6; ++i)
        Flash_crcInput(byteAt(rsp, i));
    if (byteAt(rsp, 6) != Flash_getLowByte() || byteAt(rsp, 7) != Flash_getHighByte())
        return false;
    *crc = static_cast<uint16_t>(byteAt(rsp, 5) << 8 | byteAt(rsp, 4));
    return true;
}

bool BSL_Interface::collectReply(int expectedCoreRsp)
{
    QByteArray rsp;
    receiveReply(rsp);
    return processRspData(rsp, expectedCoreRsp);
}

// The reply to an acknowledged command, appended to `rsp`.
void BSL_Interface::receiveReply(QByteArray &rsp)
{
    if (_fastReplies)
        _serial->readReply(rsp);
    else
        _serial->readUntilTimeout(rsp);
}

BSL_Interface::Ack BSL_Interface::txPacket(const QByteArray &core)
{
    Flash_crcInit(0xFFFF);
    for (const char byte : core)
        Flash_crcInput(static_cast<uint8_t>(byte));

    QByteArray frame;
    frame.reserve(core.size() + 5);
    frame.append(static_cast<char>(BSL_HEADER));
    frame.append(static_cast<char>(core.size() & 0xFF));
    frame.append(static_cast<char>((core.size() >> 8) & 0xFF));
    frame.append(core);
    frame.append(static_cast<char>(Flash_getLowByte()));
    frame.append(static_cast<char>(Flash_getHighByte()));

    _serial->write(frame);
    const Ack ack = _serial->readByte();
    if (ack != BSL_ACK)
        _serial->clearBuffers();
    return ack;
}

bool BSL_Interface::processRspData(const QByteArray &rsp, int expectedCoreRsp)
{
    if (rsp.size() < BSL_RSP_PACKET_SIZE) {
        qCDebug(lcLoader).noquote() << "Too short RSP!" << rsp.size() << dataToHexString(rsp);
        return false;
    }
    if (byteAt(rsp, BSL_RSP_HEADER_OFFSET) != BSL_HEADER || byteAt(rsp, BSL_RSP_SIZE_LSB_OFFSET) != 0x02 ||
        byteAt(rsp, BSL_RSP_SIZE_MSB_OFFSET) != 0x00 ||
        byteAt(rsp, BSL_RSP_DATA_LSB_OFFSET) != BSL_MESSAGE_REPLY) {
        qCDebug(lcLoader).noquote() << "Wrong RSP!" << rsp.size() << dataToHexString(rsp);
        return false;
    }
    unsigned char ckl = 0;
    unsigned char ckh = 0;
    if (expectedCoreRsp == SUCCESSFUL_OPERATION) {
        ckl = BSL_RSP_OK_CKL;
        ckh = BSL_RSP_OK_CKH;
    } else if (expectedCoreRsp == BSL_PASSWORD_ERROR) {
        ckl = BSL_RSP_PASSWORD_ERROR_CKL;
        ckh = BSL_RSP_PASSWORD_ERROR_CKH;
    } else {
        qCDebug(lcLoader) << "Unknown Core RSP!" << expectedCoreRsp;
        return false;
    }
    if (byteAt(rsp, BSL_RSP_DATA_MSB_OFFSET) == expectedCoreRsp && byteAt(rsp, BSL_RSP_CKL_OFFSET) == ckl &&
        byteAt(rsp, BSL_RSP_CKH_OFFSET) == ckh)
        return true;
    qCDebug(lcLoader).noquote() << "Wrong Core RSP!" << expectedCoreRsp << rsp.size() << dataToHexString(rsp);
    return false;
}

QString BSL_Interface::dataToHexString(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex());
}
