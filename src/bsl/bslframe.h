#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The loader's frames as bytes, without a line: the cores of the commands, a core wrapped into a
// frame with its CRC-16, and the judging of what comes back. Log lines name the reply as it came.
namespace BslFrame {

// Byte positions of a message reply (BSL_Interface::eBSL_RSP names them for the meta-object).
enum ReplyOffset
{
    HEADER_OFFSET = 0,
    SIZE_LSB_OFFSET,
    SIZE_MSB_OFFSET,
    DATA_LSB_OFFSET,
    DATA_MSB_OFFSET,
    CKL_OFFSET,
    CKH_OFFSET,
    MESSAGE_REPLY_SIZE
};

// The CRC-16 that the loader computes over a core: `count` bytes of `data` from `from` on (all of
// them to the end for -1), register started at 0xFFFF.
uint16_t crcOf(const QByteArray &data, int from = 0, int count = -1);

// 80, the core's length low and high, the core, its CRC low and high.
QByteArray frame(const QByteArray &core);

QByteArray passwordCore(const QByteArray &password);
QByteArray massEraseCore();
// The address travels as three bytes, least significant first; bits above 23 are not sent.
QByteArray dataBlockCore(uint32_t address, const QByteArray &block);
QByteArray crcCheckCore(uint32_t address, uint16_t length);
QByteArray versionCore();

// The message reply with the expected code (SUCCESSFUL_OPERATION or BSL_PASSWORD_ERROR); anything
// else is false, with a log line that tells what was wrong. Bytes after the seventh are ignored.
bool judgeMessage(const QByteArray &rsp, int expectedCoreRsp);
// A whole reply that passed its checksum is a message with this code.
bool isMessage(const QByteArray &rsp, unsigned char code);
// A data reply 80 03 00 3A CRC_L CRC_H whose own checksum checks: the memory's CRC it carries.
bool crcCheckReply(const QByteArray &rsp, uint16_t *crc);
// The bytes of `data` from `start` on are exactly one reply: header, length, core, a CRC that checks.
bool isWholeReply(const QByteArray &data, int start);

// Two lower-case hex digits a byte, no separators, for log lines.
QString hex(const QByteArray &data);

} // namespace BslFrame
