#ifndef SIMLOADER_H
#define SIMLOADER_H

// The simulated unit's bootstrap loader: the codes and frames on the line, the flash memory and what
// each command does to it. SimLoader keeps no lock of its own: the unit calls it with its mutex held.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <vector>

// What the loader's side of the line is made of: codes, sizes and frames, as the host sees them.
struct SimBsl
{
    // Loader codes as they travel on the line.
    enum : quint8
    {
        FRAME_HEADER = 0x80,
        CMD_RX_DATA_BLOCK = 0x10,
        CMD_RX_PASSWORD = 0x11,
        CMD_MASS_ERASE = 0x15,
        CMD_CRC_CHECK = 0x16,
        CMD_TX_BSL_VERSION = 0x19,
        ACK_OK = 0x00,
        ACK_HEADER_INCORRECT = 0x51,
        ACK_CHECKSUM_INCORRECT = 0x52,
        ACK_PACKET_SIZE_ZERO = 0x53,
        ACK_PACKET_SIZE_TOO_BIG = 0x54,
        ACK_UNKNOWN_ERROR = 0x55,
        MSG_SUCCESSFUL_OPERATION = 0x00,
        MSG_FLASH_WRITE_CHECK_FAILED = 0x01,
        MSG_BSL_LOCKED = 0x04,
        MSG_BSL_PASSWORD_ERROR = 0x05,
        MSG_UNKNOWN_COMMAND = 0x07,
    };

    static constexpr quint32 MEMORY_SIZE = 0x100000;   // the 20-bit address space
    static constexpr quint32 VECTORS_ADDRESS = 0xFFE0; // interrupt vectors: the loader's password
    static constexpr quint32 RESET_VECTOR_ADDRESS = 0xFFFE;
    static constexpr int PASSWORD_SIZE = 32;
    static constexpr int DEFAULT_MAX_CORE_SIZE = 260; // the loader's receive buffer, in core bytes

    enum class PasswordPolicy
    {
        Faithful,     // compare with the interrupt vectors; a mismatch erases the memory and is refused
        AcceptAlways, // accept every password, even while the memory holds firmware
        RefuseAlways, // refuse every password (and erase, as a mismatch does)
    };

    struct Range
    {
        quint32 address = 0;
        quint32 length = 0;
        bool operator==(const Range &other) const
        {
            return address == other.address && length == other.length;
        }
    };

    // A command by name: password, erase, block, any (-1), or its code such as 0x16; -2 when unknown.
    static int commandCode(const QString &name);
    // CRC-16-CCITT (polynomial 0x1021, MSB first, initial value 0xFFFF) over a frame's core.
    static quint16 crc16(const QByteArray &core, quint16 initial = 0xFFFF);
    // A frame as the host sends it: 80, length low, length high, core, CRC low, CRC high.
    static QByteArray frame(const QByteArray &core);
    // The loader's message reply with the given code: 80 02 00 3B code CKL CKH.
    static QByteArray messageReply(quint8 code);
    // A data reply: 80, length of 3A plus data (low, high), 3A, the data, CRC low, CRC high.
    static QByteArray dataReply(const QByteArray &data);
};

class SimLoader : public SimBsl
{
public:
    // The flash work a command did, which the unit turns into modelled time.
    struct Work
    {
        enum Kind
        {
            Command,    // any command's own work
            MassErase,  // the whole memory erased
            BlockWrite, // one data block programmed
            ReadFlash,  // `bytes` of flash read for a CRC check
        };
        Kind kind = Command;
        int bytes = 0;
    };

    struct Counters
    {
        int passwords = 0;
        int passwordsAccepted = 0;
        QByteArray lastPassword;
        int massErases = 0;
        int blocks = 0;
    };

    SimLoader();
    SimLoader(const SimLoader &) = delete;
    SimLoader &operator=(const SimLoader &) = delete;

    // One well-formed frame's core: the message or data reply, and the work it took. With
    // flipStoredBit a data block's first byte is stored with one bit flipped after its write check.
    QByteArray execute(const QByteArray &core, bool flipStoredBit, Work *work);

    // Memory model. Erased bytes read 0xFF; programming can only clear bits.
    QByteArray memory(quint32 address, int length) const; // bytes outside the space read 0xFF
    void erase();                                         // all bytes 0xFF, nothing written
    void load(quint32 address, const QByteArray &bytes);  // not counted as written ranges
    void loadDefaultFirmware();
    void setImage(const QByteArray &image); // a whole MEMORY_SIZE image, nothing written
    std::vector<quint8> image() const { return _memory; }
    bool holdsFirmware() const;  // the interrupt vectors are not all 0xFF
    bool hasApplication() const; // the reset vector is not blank
    QVector<Range> writtenRanges() const;
    // Bumped by every change of the memory; read without the unit's lock by its serving thread.
    int changes() const { return _changes; }

    bool locked = true;
    PasswordPolicy passwordPolicy = PasswordPolicy::Faithful;
    bool knowsCrcCheck = true;
    Counters counters;

private:
    QByteArray password(const QByteArray &core, Work *work);
    QByteArray dataBlock(const QByteArray &core, bool flipStoredBit, Work *work);
    QByteArray crcCheck(const QByteArray &core, Work *work);
    void massErase(Work *work);

    std::vector<quint8> _memory;
    std::vector<bool> _written;
    std::atomic<int> _changes{0};
};

// Writes a whole memory image to path under a temporary name first, then renames it into place, so
// the file always holds a whole image.
bool writeMemoryImage(const QString &path, const std::vector<quint8> &image);

#endif // SIMLOADER_H
