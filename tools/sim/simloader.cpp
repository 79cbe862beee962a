#include "simloader.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const quint8 MESSAGE_REPLY_CORE = 0x3B;
const quint8 DATA_REPLY_CORE = 0x3A;

// The 24-bit address of a data block or CRC check, low byte first after the command.
quint32 coreAddress(const QByteArray &core)
{
    return quint32(quint8(core.at(1))) | (quint32(quint8(core.at(2))) << 8) |
           (quint32(quint8(core.at(3))) << 16);
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Frames and checksum

int SimBsl::commandCode(const QString &name)
{
    if (name == QLatin1String("password"))
        return CMD_RX_PASSWORD;
    if (name == QLatin1String("erase"))
        return CMD_MASS_ERASE;
    if (name == QLatin1String("block"))
        return CMD_RX_DATA_BLOCK;
    if (name == QLatin1String("any"))
        return -1;
    bool ok = false;
    const int code = name.toInt(&ok, 0); // such as 0x16
    return ok && code >= 0 && code <= 0xFF ? code : -2;
}

quint16 SimBsl::crc16(const QByteArray &core, quint16 initial)
{
    quint16 crc = initial;
    for (char c : core) {
        crc ^= quint16(quint8(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray SimBsl::frame(const QByteArray &core)
{
    const quint16 crc = crc16(core);
    QByteArray bytes;
    bytes.append(char(FRAME_HEADER)).append(char(core.size() & 0xFF)).append(char((core.size() >> 8) & 0xFF));
    bytes.append(core);
    bytes.append(char(crc & 0xFF)).append(char(crc >> 8));
    return bytes;
}

QByteArray SimBsl::dataReply(const QByteArray &data)
{
    return frame(QByteArray(1, char(DATA_REPLY_CORE)) + data);
}

QByteArray SimBsl::messageReply(quint8 code)
{
    QByteArray reply = frame(QByteArray(1, char(MESSAGE_REPLY_CORE)) + char(code));
    reply[1] = 0x02; // the same layout as a frame: header, length 2, core 3B code, checksum
    return reply;
}

// ---------------------------------------------------------------------------------------------------
// Commands

SimLoader::SimLoader() : _memory(MEMORY_SIZE, 0xFF), _written(MEMORY_SIZE, false) {}

QByteArray SimLoader::execute(const QByteArray &core, bool flipStoredBit, Work *work)
{
    *work = Work();
    switch (quint8(core.at(0))) {
    case CMD_RX_PASSWORD:
        return password(core, work);
    case CMD_MASS_ERASE:
        massErase(work);
        return messageReply(MSG_SUCCESSFUL_OPERATION);
    case CMD_RX_DATA_BLOCK:
        // A locked loader refuses the commands that touch the flash; a core too short for the
        // command's fields is not understood.
        if (locked)
            return messageReply(MSG_BSL_LOCKED);
        if (core.size() < 4)
            return messageReply(MSG_UNKNOWN_COMMAND);
        return dataBlock(core, flipStoredBit, work);
    case CMD_CRC_CHECK:
        if (!knowsCrcCheck)
            return messageReply(MSG_UNKNOWN_COMMAND);
        if (locked)
            return messageReply(MSG_BSL_LOCKED);
        if (core.size() < 6)
            return messageReply(MSG_UNKNOWN_COMMAND);
        return crcCheck(core, work);
    case CMD_TX_BSL_VERSION:
        if (locked)
            return messageReply(MSG_BSL_LOCKED);
        return dataReply(QByteArray("\x00\x07\x01\x02", 4));
    default:
        return messageReply(MSG_UNKNOWN_COMMAND);
    }
}

void SimLoader::massErase(Work *work)
{
    erase();
    ++counters.massErases;
    work->kind = Work::MassErase;
}

QByteArray SimLoader::password(const QByteArray &core, Work *work)
{
    ++counters.passwords;
    counters.lastPassword = core.mid(1);
    bool match = false;
    switch (passwordPolicy) {
    case PasswordPolicy::Faithful:
        match =
            core.size() == 1 + PASSWORD_SIZE &&
            std::equal(_memory.begin() + VECTORS_ADDRESS, _memory.begin() + VECTORS_ADDRESS + PASSWORD_SIZE,
                       reinterpret_cast<const quint8 *>(core.constData()) + 1);
        break;
    case PasswordPolicy::AcceptAlways:
        match = true;
        break;
    case PasswordPolicy::RefuseAlways:
        match = false;
        break;
    }
    if (match) {
        locked = false;
        ++counters.passwordsAccepted;
        return messageReply(MSG_SUCCESSFUL_OPERATION);
    }
    // A wrong password protects the firmware: the loader erases the whole memory.
    locked = true;
    massErase(work);
    return messageReply(MSG_BSL_PASSWORD_ERROR);
}

QByteArray SimLoader::dataBlock(const QByteArray &core, bool flipStoredBit, Work *work)
{
    work->kind = Work::BlockWrite;
    ++_changes;
    const quint32 address = coreAddress(core);
    for (int i = 4; i < core.size(); ++i) {
        const quint64 at = quint64(address) + quint64(i - 4);
        if (at >= MEMORY_SIZE)
            return messageReply(MSG_FLASH_WRITE_CHECK_FAILED);
        // Flash programming can only clear bits; the loader verifies every byte it writes.
        const quint8 wanted = quint8(core.at(i));
        _memory[at] &= wanted;
        _written[at] = true;
        if (_memory[at] != wanted)
            return messageReply(MSG_FLASH_WRITE_CHECK_FAILED);
    }
    // The cell passed the write check, then lost its charge.
    if (flipStoredBit && core.size() > 4 && address < MEMORY_SIZE)
        _memory[address] ^= 0x01;
    ++counters.blocks;
    return messageReply(MSG_SUCCESSFUL_OPERATION);
}

QByteArray SimLoader::crcCheck(const QByteArray &core, Work *work)
{
    const quint32 address = coreAddress(core);
    const int length = quint8(core.at(4)) | (quint8(core.at(5)) << 8);
    const QByteArray bytes = memory(address, length);
    work->kind = Work::ReadFlash;
    work->bytes = length;
    const quint16 crc = crc16(bytes);
    return dataReply(QByteArray(1, char(crc & 0xFF)) + char(crc >> 8));
}

// ---------------------------------------------------------------------------------------------------
// Memory

QByteArray SimLoader::memory(quint32 address, int length) const
{
    QByteArray bytes(std::max(0, length), '\xFF');
    for (int i = 0; i < bytes.size(); ++i) {
        const quint64 at = quint64(address) + quint64(i);
        if (at < MEMORY_SIZE)
            bytes[i] = char(_memory[at]);
    }
    return bytes;
}

void SimLoader::erase()
{
    std::fill(_memory.begin(), _memory.end(), quint8(0xFF));
    std::fill(_written.begin(), _written.end(), false);
    ++_changes;
}

void SimLoader::load(quint32 address, const QByteArray &bytes)
{
    for (int i = 0; i < bytes.size(); ++i) {
        const quint64 at = quint64(address) + quint64(i);
        if (at < MEMORY_SIZE)
            _memory[at] = quint8(bytes[i]);
    }
    ++_changes;
}

// Small stand-in firmware: some code at 0x5C00 and interrupt vectors that are not erased.
void SimLoader::loadDefaultFirmware()
{
    QByteArray code(512, '\0');
    for (int i = 0; i < code.size(); ++i)
        code[i] = char((i * 7 + 3) & 0xFF);
    QByteArray vectors;
    for (int i = 0; i < PASSWORD_SIZE / 2; ++i)
        vectors.append('\x00').append('\x5C'); // every vector points at 0x5C00
    erase();
    load(0x5C00, code);
    load(VECTORS_ADDRESS, vectors);
}

void SimLoader::setImage(const QByteArray &image)
{
    std::copy(image.cbegin(), image.cend(), _memory.begin());
    std::fill(_written.begin(), _written.end(), false);
}

bool SimLoader::holdsFirmware() const
{
    return std::any_of(_memory.begin() + VECTORS_ADDRESS, _memory.begin() + VECTORS_ADDRESS + PASSWORD_SIZE,
                       [](quint8 b) { return b != 0xFF; });
}

bool SimLoader::hasApplication() const
{
    return _memory[RESET_VECTOR_ADDRESS] != 0xFF || _memory[RESET_VECTOR_ADDRESS + 1] != 0xFF;
}

QVector<SimBsl::Range> SimLoader::writtenRanges() const
{
    QVector<Range> ranges;
    quint32 at = 0;
    while (at < MEMORY_SIZE) {
        if (!_written[at]) {
            ++at;
            continue;
        }
        Range range;
        range.address = at;
        while (at < MEMORY_SIZE && _written[at])
            ++at;
        range.length = at - range.address;
        ranges.append(range);
    }
    return ranges;
}

bool writeMemoryImage(const QString &path, const std::vector<quint8> &image)
{
    // A whole image under a temporary name first: a process killed while writing leaves the file as
    // it was, and the rename replaces it in one step.
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".part";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < image.size()) {
        const ssize_t n = ::write(fd, image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    const bool written = ::close(fd) == 0 && done == image.size();
    if (!written || ::rename(temporary.constData(), target.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}
