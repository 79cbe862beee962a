#include "bslframe.h"

#include "BSL_Common.h"
#include "CRC.h"
#include "logcategories.h"

#include <QDebug>

namespace {

unsigned char byteAt(const QByteArray &data, int index)
{
    return static_cast<unsigned char>(data.at(index));
}

QByteArray addressed(unsigned char command, uint32_t address)
{
    QByteArray core;
    core.append(static_cast<char>(command));
    core.append(static_cast<char>(address & 0xFF));
    core.append(static_cast<char>((address >> 8) & 0xFF));
    core.append(static_cast<char>((address >> 16) & 0xFF));
    return core;
}

} // namespace

namespace BslFrame {

uint16_t crcOf(const QByteArray &data, int from, int count)
{
    const int end = count < 0 ? data.size() : from + count;
    Flash_crcInit(0xFFFF);
    for (int i = from; i < end; ++i)
        Flash_crcInput(byteAt(data, i));
    return static_cast<uint16_t>(Flash_getHighByte() << 8 | Flash_getLowByte());
}

QByteArray frame(const QByteArray &core)
{
    const uint16_t crc = crcOf(core);
    QByteArray frame;
    frame.reserve(core.size() + 5);
    frame.append(static_cast<char>(BSL_HEADER));
    frame.append(static_cast<char>(core.size() & 0xFF));
    frame.append(static_cast<char>((core.size() >> 8) & 0xFF));
    frame.append(core);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

QByteArray passwordCore(const QByteArray &password)
{
    return QByteArray(1, static_cast<char>(RX_PASSWORD)) + password;
}

QByteArray massEraseCore()
{
    return QByteArray(1, static_cast<char>(MASS_ERASE));
}

QByteArray dataBlockCore(uint32_t address, const QByteArray &block)
{
    return addressed(RX_DATA_BLOCK, address) + block;
}

QByteArray crcCheckCore(uint32_t address, uint16_t length)
{
    QByteArray core = addressed(CRC_CHECK, address);
    core.append(static_cast<char>(length & 0xFF));
    core.append(static_cast<char>((length >> 8) & 0xFF));
    return core;
}

QByteArray versionCore()
{
    return QByteArray(1, static_cast<char>(TX_BSL_VERSION));
}

bool judgeMessage(const QByteArray &rsp, int expectedCoreRsp)
{
    if (rsp.size() < MESSAGE_REPLY_SIZE) {
        qCDebug(lcLoader).noquote() << "Too short RSP!" << rsp.size() << hex(rsp);
        return false;
    }
    if (byteAt(rsp, HEADER_OFFSET) != BSL_HEADER || byteAt(rsp, SIZE_LSB_OFFSET) != 0x02 ||
        byteAt(rsp, SIZE_MSB_OFFSET) != 0x00 || byteAt(rsp, DATA_LSB_OFFSET) != BSL_MESSAGE_REPLY) {
        qCDebug(lcLoader).noquote() << "Wrong RSP!" << rsp.size() << hex(rsp);
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
    if (byteAt(rsp, DATA_MSB_OFFSET) == expectedCoreRsp && byteAt(rsp, CKL_OFFSET) == ckl &&
        byteAt(rsp, CKH_OFFSET) == ckh)
        return true;
    qCDebug(lcLoader).noquote() << "Wrong Core RSP!" << expectedCoreRsp << rsp.size() << hex(rsp);
    return false;
}

bool isMessage(const QByteArray &rsp, unsigned char code)
{
    return rsp.size() == MESSAGE_REPLY_SIZE && byteAt(rsp, DATA_LSB_OFFSET) == BSL_MESSAGE_REPLY &&
           byteAt(rsp, DATA_MSB_OFFSET) == code;
}

bool crcCheckReply(const QByteArray &rsp, uint16_t *crc)
{
    if (rsp.size() < 8 || byteAt(rsp, 0) != BSL_HEADER || byteAt(rsp, 1) != 0x03 || byteAt(rsp, 2) != 0x00 ||
        byteAt(rsp, 3) != BSL_DATA_REPLY)
        return false;
    const uint16_t own = crcOf(rsp, 3, 3);
    if (byteAt(rsp, 6) != (own & 0xFF) || byteAt(rsp, 7) != (own >> 8))
        return false;
    *crc = static_cast<uint16_t>(byteAt(rsp, 5) << 8 | byteAt(rsp, 4));
    return true;
}

bool isWholeReply(const QByteArray &data, int start)
{
    const int size = data.size() - start;
    if (size < 5)
        return false;
    const int length = byteAt(data, start + 1) | byteAt(data, start + 2) << 8;
    if (byteAt(data, start) != BSL_HEADER || size != 3 + length + 2)
        return false;
    const uint16_t crc = crcOf(data, start + 3, length);
    return byteAt(data, start + 3 + length) == (crc & 0xFF) && byteAt(data, start + 4 + length) == (crc >> 8);
}

QString hex(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex());
}

} // namespace BslFrame
