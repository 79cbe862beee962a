#include "BSL_Interface.h"

#include "BSL_Common.h"
#include "BSL_IO_UART.h"
#include "CRC.h"
#include "TextFileIO.h"

#include <QDebug>

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

} // namespace

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
#ifdef Q_OS_WIN
    const QString path = QStringLiteral("\\\\.\\") + info.portName;
#else
    const QString path = info.systemLocation;
#endif
    const std::wstring devicePath = path.toStdWString();
    if (!_serial->open(devicePath.c_str(), UART_BAUDRATE, UART_PARITY)) {
        qDebug() << "BSL_Interface::openPort"
                 << "open failed!";
        return false;
    }
    return true;
}

bool BSL_Interface::openPort(const QSerialPortInfo &info)
{
    return openPort(PortInfo(info));
}

void BSL_Interface::closePort()
{
    if (!_serial->close())
        qDebug() << "BSL_Interface::closePort"
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
    if (authenticate() && erase()) {
        rxTxtFileBegin(firmware);
        while (rxTxtFileContinue(size)) {
        }
    }
    rxTxtFileEnd();
}

bool BSL_Interface::authenticate()
{
    qDebug() << "Authenticating...";
    // The loader first refuses the password and erases itself; the same password then matches.
    bool passwordErrorExpected = true;
    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        const unsigned char ack = rxPassword();
        bool failed = true;
        if (ack == BSL_ACK) {
            if (passwordErrorExpected) {
                if (collectReply(BSL_PASSWORD_ERROR)) {
                    passwordErrorExpected = false;
                    failed = false;
                }
            } else if (collectReply(SUCCESSFUL_OPERATION)) {
                return true;
            }
        }
        if (failed)
            settleAfterFailure(ack);
        qDebug() << (passwordErrorExpected ? "Resending wrong password..." : "Sending password...");
    }
    qDebug() << "Authentication failed!";
    return false;
}

bool BSL_Interface::erase()
{
    qDebug() << "Erasing...";
    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        const unsigned char ack = rxMassErase();
        if (ack == BSL_ACK && collectReply(SUCCESSFUL_OPERATION))
            return true;
        settleAfterFailure(ack);
        qDebug().nospace() << "BSL_Interface::erase"
                           << " repeat " << attempt;
    }
    qDebug() << "Erase failed!";
    return false;
}

unsigned char BSL_Interface::rxPassword()
{
    QByteArray core;
    core.append(static_cast<char>(RX_PASSWORD));
    core.append(erasedDevicePassword());
    return txPacket(core);
}

unsigned char BSL_Interface::rxMassErase()
{
    return txPacket(QByteArray(1, static_cast<char>(MASS_ERASE)));
}

// The address travels as three bytes, least significant first.
unsigned char BSL_Interface::rxDataBlock(uint32_t address, const QByteArray &block)
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

void BSL_Interface::rxTxtFileBegin(const QString &firmware)
{
    const QByteArray path = firmware.toLocal8Bit();
    qDebug("Writing %s...", path.constData());
    _rxTxtBytes = 0;
    openTI_TextForRead(path.constData());
    _rxTxtTime.start();
}

bool BSL_Interface::rxTxtFileContinue(unsigned int size)
{
    updateProgress(size);
    if (!moreDataToRead())
        return false;

    QByteArray block;
    const uint32_t address = readTI_TextFile(static_cast<int>(_bufferSize), block);
    // Nothing to send when the image had no more data after all (missing or unusable image).
    if (block.isEmpty() && address == TXT_EOF)
        return false;
    _rxTxtBytes += static_cast<unsigned int>(block.size());

    for (int attempt = 1; attempt <= BSL_RX_PASS_REPEAT; ++attempt) {
        const unsigned char ack = rxDataBlock(address, block);
        if (ack == BSL_ACK && collectReply(SUCCESSFUL_OPERATION))
            return true;
        settleAfterFailure(ack);
        qDebug().nospace() << "BSL_Interface::rxTxtFileContinue"
                           << " repeat " << attempt;
    }
    return false;
}

void BSL_Interface::rxTxtFileEnd()
{
    const float seconds = _rxTxtTime.isValid() ? static_cast<float>(_rxTxtTime.elapsed()) / 1000.0f : 0.0f;
    const float rate = seconds > 0.0f ? (static_cast<float>(_rxTxtBytes) / 1024.0f) / seconds : 0.0f;
    qDebug("Wrote %i bytes in %.2f seconds [%.2f Kbytes/s]", static_cast<int>(_rxTxtBytes),
           static_cast<double>(seconds), static_cast<double>(rate));
    closeTI_Text();
    emit firmwareInstallDone();
}

void BSL_Interface::updateProgress(unsigned int size)
{
    unsigned int nPercent = size ? static_cast<unsigned int>((_rxTxtBytes * 100u) / size) : 0;
    // 100 means the whole image reached the unit: never before the reader has met the image's end,
    // whatever size the caller gave.
    if (nPercent >= 100 && moreDataToRead())
        nPercent = 99;
    qDebug("_rxTxtBytes: %i", static_cast<int>(_rxTxtBytes));
    qDebug("imageSize: %i", static_cast<int>(size));
    qDebug("nPercent: %i", static_cast<int>(nPercent));
    qDebug("_Percent: %i", static_cast<int>(_percent));
    if (nPercent != _percent) {
        qDebug("_percent != nPercent **********");
        _percent = nPercent;
        emit progressChanged(_percent);
    }
}

// After a failed attempt the loader may still be busy with the command or sending a late reply;
// an attempt sent into that would be refused in turn, and so would every one after it. Unless the
// loader refused the frame itself (and so waits for the next one), let the line fall silent first.
void BSL_Interface::settleAfterFailure(unsigned char ack)
{
    const bool refusedByLoader = ack >= HEADER_INCORRECT && ack <= UNKNOWN_BAUD_RATE;
    if (!refusedByLoader)
        _serial->readGarbageUntilTimeout();
}

bool BSL_Interface::collectReply(int expectedCoreRsp)
{
    QByteArray rsp;
    _serial->readUntilTimeout(rsp);
    return processRspData(rsp, expectedCoreRsp);
}

unsigned char BSL_Interface::txPacket(const QByteArray &core)
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
    const unsigned char ack = _serial->readByte();
    if (ack != BSL_ACK)
        _serial->clearBuffers();
    return ack;
}

bool BSL_Interface::processRspData(const QByteArray &rsp, int expectedCoreRsp)
{
    if (rsp.size() < BSL_RSP_PACKET_SIZE) {
        qDebug().noquote() << "Too short RSP!" << rsp.size() << dataToHexString(rsp);
        return false;
    }
    if (byteAt(rsp, BSL_RSP_HEADER_OFFSET) != BSL_HEADER || byteAt(rsp, BSL_RSP_SIZE_LSB_OFFSET) != 0x02 ||
        byteAt(rsp, BSL_RSP_SIZE_MSB_OFFSET) != 0x00 ||
        byteAt(rsp, BSL_RSP_DATA_LSB_OFFSET) != BSL_MESSAGE_REPLY) {
        qDebug().noquote() << "Wrong RSP!" << rsp.size() << dataToHexString(rsp);
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
        qDebug() << "Unknown Core RSP!" << expectedCoreRsp;
        return false;
    }
    if (byteAt(rsp, BSL_RSP_DATA_MSB_OFFSET) == expectedCoreRsp && byteAt(rsp, BSL_RSP_CKL_OFFSET) == ckl &&
        byteAt(rsp, BSL_RSP_CKH_OFFSET) == ckh)
        return true;
    qDebug().noquote() << "Wrong Core RSP!" << expectedCoreRsp << rsp.size() << dataToHexString(rsp);
    return false;
}

QString BSL_Interface::dataToHexString(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex());
}
