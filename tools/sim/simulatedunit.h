#ifndef SIMULATEDUNIT_H
#define SIMULATEDUNIT_H

// A simulated Talvo unit behind a pseudo-terminal.
//
// The unit owns the master side of a pty pair and serves it on a thread of its own; the program under
// test opens the slave path (portPath()) as if it were the unit's serial port. The unit starts in its
// application firmware, which answers the programming-mode request 7D 7D 01 with 7D 7D 01, the version
// text and 7E, and then behaves as the MSP430 UART bootstrap loader: framed commands with header, length
// and CRC-16, a one-byte acknowledgement, message replies, password, mass erase and data blocks written
// into a model of the flash memory.
//
// Settings, state, memory and counters are thread-safe: they may be used from any thread, before
// start() or while the unit runs, and settings take effect at the next byte or frame the unit
// handles. start(), stop() and hangUp() belong to the thread that owns the object.
//
// The loader, as modelled:
// - A frame is 80, length (low, high), core, CRC-16 (low, high) over the core. A first byte other
//   than 80 is answered 51 at once, length 0 with 53, a length beyond the receive buffer with 54 (the
//   rest of such a frame then meets the header check byte by byte), a bad checksum with 52, and a
//   frame that stops for frameTimeoutMs with 55. A good frame is acknowledged with 00 as soon as its
//   last byte has arrived; the message reply 80 02 00 3B code CKL CKH follows after the modelled work.
// - Password (11): compared with the 32 bytes of interrupt vectors at 0xFFE0. A match unlocks (00);
//   a mismatch erases all memory, locks and answers 05, so the erased-device password (32 x FF)
//   matches afterwards. The unit starts locked in its loader, with firmware in memory.
// - Mass erase (15): all memory erased, also while locked (00).
// - Data block (10, address low/middle/high, data): refused with 04 while locked; otherwise every byte
//   is ANDed into flash and verified; the first byte that does not read back as written (bits can
//   only be cleared) or that lies beyond the 20-bit space ends the block with 01. An empty block
//   succeeds.
// - CRC check (16, address as 3 bytes, length as 2 bytes, least significant first): 04 while
//   locked; otherwise the data reply 80 03 00 3A CRC_L CRC_H with its checksum, the CRC-16 of the
//   memory bytes in address order.
// - Loader version (19): 04 while locked; otherwise a data reply 3A with four version bytes.
// - Any other command answers 07; so does the CRC check of a loader without it
//   (setKnowsCrcCheck(false)).
//
// A unit whose reset vector (the word at 0xFFFE) is blank has no application to start: it comes up
// in its loader, locked, and the programming-mode request is only bytes for the loader's framing.
// A unit whose reset vector is set starts its application, whole or half-written: the handshake
// settings tell how it answers the request (a half-written one wrongly, or not at all), and the
// request always ends in the loader.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class SimulatedUnit
{
public:
    // Loader codes as they travel on the line.
    enum : quint8
    {
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
    static constexpr int PASSWORD_SIZE = 32;
    static constexpr int DEFAULT_MAX_CORE_SIZE = 260;    // the loader's receive buffer, in core bytes
    static constexpr qint64 BYTE_TIME_NS_115200 = 86806; // one 8N1 character at 115200 baud

    enum class Mode
    {
        Application, // waiting for the programming-mode request
        Loader,      // bootstrap loader
    };

    // How the application firmware answers the programming-mode request.
    struct Handshake
    {
        QByteArray versionText = "49.05(1799),Talvo 400S";
        QByteArray rawReply;       // when not empty, sent instead of 7D 7D 01 + versionText + 7E
        int delayMs = 0;           // from the end of the request to the first byte of the reply
        QVector<int> bursts;       // lengths of the leading bursts; the rest of the reply is the last one
        int burstPauseMs = 60;     // silence between two bursts
        int hangUpAfterBytes = -1; // hang up after sending this many reply bytes (-1: never)
        bool mute = false;         // enter the loader without answering at all
    };

    // Modelled time. With pacing off bytes leave as fast as the pty takes them.
    struct Timing
    {
        bool paced = false;                      // both directions at one character per byteTimeNs
        qint64 byteTimeNs = BYTE_TIME_NS_115200; // used only when paced
        int massEraseUs = 25000;                 // a mass erase, also the one after a refused password
        int blockWriteUs = 3000;                 // flash programming time of one data block
        int commandUs = 100;                     // any other command's work before its reply
        int frameTimeoutMs = 250;                // a frame that stops this long is refused with 0x55
    };

    enum class PasswordPolicy
    {
        Faithful,     // compare with the interrupt vectors; a mismatch erases the memory and is refused
        AcceptAlways, // accept every password, even while the memory holds firmware
        RefuseAlways, // refuse every password (and erase, as a mismatch does)
    };

    // A fault applied to chosen frames: the occurrences first .. first+count-1 (1-based) of frames
    // with the given command code (-1: every well-formed frame, counted together).
    struct FrameFault
    {
        enum Kind
        {
            RefuseAck,     // send ackByte instead of 0x00; the command is not executed and not answered
            CorruptAck,    // send ackByte instead of 0x00 but execute the command and send its reply
            Silence,       // neither acknowledge nor execute nor answer
            LateReply,     // acknowledge, execute, and send the reply delayMs later than modelled
            ReplyMessage,  // acknowledge, do not execute, answer with the message code messageCode
            ReplyBytes,    // acknowledge, execute, and send replyBytes instead of the proper reply
            HangUp,        // hang the line up when the frame has arrived, before acknowledging it
            Babble,        // instead of acknowledging, start an endless stream of replyBytes (empty:
                           // 0x55), as setBabbling(true) does
            StoredBitFlip, // acknowledge, execute and answer as usual, but one bit of the block's first
                           // byte is stored flipped (a cell that does not hold its charge)
            Noise,         // acknowledge, execute and answer as usual, then delayMs of line noise at the
                           // line rate: random bytes, every value in each 256 of them, while the unit
                           // goes on taking frames
        };
        Kind kind = RefuseAck;
        int command = -1;
        int first = 1;
        int count = 1; // -1: every occurrence from first on
        quint8 ackByte = ACK_CHECKSUM_INCORRECT;
        quint8 messageCode = MSG_FLASH_WRITE_CHECK_FAILED;
        int delayMs = 60;
        QByteArray replyBytes;

        // Shortcuts for the usual cases.
        static FrameFault of(Kind kind, int command, int first = 1, int count = 1)
        {
            return make(kind, command, first, count, [](FrameFault &) {});
        }
        static FrameFault refused(int command, int first, int count = 1, quint8 ack = ACK_CHECKSUM_INCORRECT)
        {
            return make(RefuseAck, command, first, count, [ack](FrameFault &f) { f.ackByte = ack; });
        }
        static FrameFault silent(int command, int first, int count = 1)
        {
            return make(Silence, command, first, count, [](FrameFault &) {});
        }
        static FrameFault late(int command, int first, int delayMs = 60, int count = 1)
        {
            return make(LateReply, command, first, count, [delayMs](FrameFault &f) { f.delayMs = delayMs; });
        }
        static FrameFault hangUpAt(int command, int occurrence)
        {
            return make(HangUp, command, occurrence, 1, [](FrameFault &) {});
        }
        static FrameFault storedBitFlip(int command, int first)
        {
            return make(StoredBitFlip, command, first, 1, [](FrameFault &) {});
        }
        static FrameFault noise(int command, int first, int ms)
        {
            return make(Noise, command, first, 1, [ms](FrameFault &f) { f.delayMs = ms; });
        }

    private:
        template <typename Extra>
        static FrameFault make(Kind kind, int command, int first, int count, Extra extra)
        {
            FrameFault fault;
            fault.kind = kind;
            fault.command = command;
            fault.first = first;
            fault.count = count;
            extra(fault);
            return fault;
        }
    };

    // A one-off corruption of the bytes on the line, in either direction: used once, at the chosen
    // occurrence, then gone.
    // - HostFrame: a frame the host sent, as the loader receives it. Frames are told apart in the
    //   host's own byte stream (the host sends well-formed frames), so a corrupted frame still counts
    //   as one; occurrences count the host's frames with the command code, or all of them (-1).
    // - Ack, Reply: the acknowledgement or the reply of the occurrence-th well-formed frame with the
    //   command code (-1: of all well-formed frames). A dropped acknowledgement leaves the command
    //   executed and answered.
    // - HandshakeRequest, HandshakeReply: the occurrence-th programming-mode request as the unit
    //   receives it, or the occurrence-th reply as the unit sends it; command is not used.
    // Flip XORs the byte at offset with value, Drop removes it, Insert puts value before it (offset
    // equal to the length: after the last byte). A negative offset counts from the end (-1: the last
    // byte). A fault whose offset lies outside the bytes is used up without effect.
    struct LineFault
    {
        enum Where
        {
            HostFrame,
            Ack,
            Reply,
            HandshakeRequest,
            HandshakeReply,
        };
        enum Kind
        {
            Flip,
            Drop,
            Insert,
        };
        Where where = HostFrame;
        int command = -1;
        int occurrence = 1;
        Kind kind = Flip;
        int offset = 0;
        quint8 value = 0x80; // the XOR mask of a flip, the byte of an insertion

        // The bytes with the fault applied; false (bytes unchanged) when the offset lies outside.
        bool applyTo(QByteArray &bytes) const;
        // From the text WHERE[@CMD]:N/KIND[@OFFSET][=HEX]: WHERE is host, ack, reply, hsrequest or
        // hsreply; CMD a commandCode() name (default any; not for the handshake); N the occurrence;
        // KIND flip, drop or insert; OFFSET 0 by default; HEX the value, 80 by default (not for
        // drop). Examples: host@block:3/flip@0=80, ack@erase:1/drop, hsreply:1/flip@-1.
        static bool parse(const QString &text, LineFault *fault);
    };

    // One frame as the loader received it.
    struct Frame
    {
        QByteArray bytes; // everything from the header byte to the last checksum byte (or the bad byte)
        quint8 ack = 0;   // what the loader answered first (0xFF: nothing)
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

    SimulatedUnit();
    ~SimulatedUnit(); // stops the unit
    SimulatedUnit(const SimulatedUnit &) = delete;
    SimulatedUnit &operator=(const SimulatedUnit &) = delete;

    // Opens the pty pair and starts serving it. False (with errorString()) when the pty cannot be made.
    bool start();
    // Stops serving and closes the pty; the host's port then reads end of file / fails to write.
    void stop();
    // Closes the line at once, as a pulled cable does. The unit stays stopped afterwards.
    void hangUp();
    bool isRunning() const;
    // Slave device path the host opens, such as "/dev/pts/5"; empty before start(). The pty outlives
    // the host's close: a host that sets TIOCEXCL must clear it (TIOCNXCL) before closing, or a
    // non-root process cannot open the port again (EBUSY).
    QString portPath() const;
    QString errorString() const;
    // Before start(): serve this existing serial device in raw mode instead of a new pty, such as the
    // gadget side of a USB serial function (/dev/ttyGS0). When the device hangs up (the gadget is
    // unbound, as by a pulled cable) the unit loses power: it comes up again as after a reset, in its
    // application or, without one, in its loader, and serves the device once it opens again.
    void setDevicePath(const QString &path);
    // Times the device hung up and the unit came up again on it.
    int powerCycles() const { return _powerCycles; }

    // Settings
    void setHandshake(const Handshake &handshake);
    Handshake handshake() const;
    void setVersionText(const QByteArray &text); // shortcut for the handshake's version text
    void setTiming(const Timing &timing);
    Timing timing() const { return readGuarded(_timing); }
    void setPaced(bool paced); // shortcut for the timing's pacing switch
    void setPasswordPolicy(PasswordPolicy policy);
    void setMaxCoreSize(int bytes);
    // In loader mode, answer a new programming-mode request again (as after a reset of the unit).
    void setAnswersHandshakeInLoader(bool answers);
    // A loader without the CRC check answers it 07 (unknown command).
    void setKnowsCrcCheck(bool knows);
    void addFrameFault(const FrameFault &fault);
    void clearFrameFaults();
    void addLineFault(const LineFault &fault);
    void clearLineFaults(); // also those not used yet
    // Answer nothing at all: no handshake reply, no acknowledgement, no message reply.
    void setSilent(bool silent);
    // Send these bytes every periodMs while waiting for the programming-mode request (empty: none).
    void setChatter(const QByteArray &bytes, int periodMs);
    // Send this pattern over and over without a pause, at the byteTimeNs rate whether paced or not,
    // and answer nothing else.
    void setBabbling(bool babbling, const QByteArray &pattern = QByteArray(1, '\x55'));

    // State
    Mode mode() const { return readGuarded(_mode); }
    void setMode(Mode mode); // also clears a half-received frame
    bool isLocked() const { return readGuarded(_locked); }

    // Memory model. Erased bytes read 0xFF; programming can only clear bits.
    QByteArray memory(quint32 address, int length) const; // bytes outside the space read 0xFF
    void eraseMemory();                                   // all bytes 0xFF, nothing written
    // Puts firmware into memory directly, as if programmed earlier (not counted as written ranges).
    void loadMemory(quint32 address, const QByteArray &bytes);
    // Small stand-in firmware: some code at 0x5C00 and interrupt vectors that are not erased.
    void loadDefaultFirmware();
    // Keeps the memory in a file, so that another unit (or another process) can go on where this one
    // stopped: start() loads the file when it exists (an image of the whole space, MEMORY_SIZE bytes;
    // start() fails on any other size), and the memory is written back after every command that
    // changed it, at stop() and at a hang-up. Each write goes to a temporary file that then replaces
    // the file, so the file always holds a whole image. Empty path: no file (the default).
    void setMemoryFile(const QString &path);
    QString memoryFile() const;
    bool holdsFirmware() const; // the interrupt vectors are not all 0xFF
    // Ranges programmed by data blocks since the last erase, merged and in address order.
    QVector<Range> writtenRanges() const;

    // Introspection; counters survive stop() and are cleared by resetCounters().
    int framesReceived(int command = -1) const; // well-formed frames, by command code (-1: all)
    // Frames refused for header, length or checksum.
    int badFrames() const { return readGuarded(_badFrames); }
    // Programming-mode requests the unit began to answer.
    int handshakesAnswered() const { return readGuarded(_handshakes); }
    int passwordsSeen() const { return readGuarded(_passwords); }
    QByteArray lastPassword() const { return readGuarded(_lastPassword); }
    int passwordsAccepted() const { return readGuarded(_passwordsAccepted); }
    // Mass erases, by command and by refused password.
    int massErases() const { return readGuarded(_massErases); }
    int blocksWritten() const { return readGuarded(_blocks); }
    // Line faults that changed bytes on the line.
    int lineFaultsApplied() const { return readGuarded(_lineFaultsApplied); }
    QVector<Frame> frames() const; // every frame in arrival order (at most the last 20000)
    // Everything the host sent, and everything the unit sent (each at most the last 8 MiB).
    QByteArray receivedBytes() const { return readGuarded(_received); }
    QByteArray sentBytes() const { return readGuarded(_sent); }
    void resetCounters();
    // Blocks until framesReceived(command) reaches count or the time runs out; true when reached.
    bool waitForFrames(int command, int count, int timeoutMs) const;
    // Blocks until handshakesAnswered() reaches count or the time runs out.
    bool waitForHandshakes(int count, int timeoutMs) const;

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
    static constexpr quint32 RESET_VECTOR_ADDRESS = 0xFFFE;

private:
    void run();
    void receiveByte(quint8 byte, qint64 arrivalNs);
    void feedHostBytes(const QByteArray &bytes, const QVector<qint64> &arrivalNs);
    void flushHeldHostBytes();
    bool takeLineFault(LineFault::Where where, int command, int occurrence, int allOccurrence,
                       QByteArray &bytes);
    bool saveMemory();
    void handleByte(quint8 byte, qint64 arrivalNs);
    void handleLoaderByte(quint8 byte, qint64 arrivalNs);
    void handleFrame(qint64 arrivalNs);
    void rejectFrame(quint8 ack, qint64 arrivalNs);
    void answerHandshake(qint64 arrivalNs);
    QByteArray execute(const QByteArray &core, int *workUs, bool flipStoredBit);
    bool hasApplicationLocked() const; // with _mutex held: the reset vector is not blank
    void forgetLineInput();
    bool send(const QByteArray &bytes, qint64 notBeforeNs);
    bool sleepUntil(qint64 deadlineNs);
    QByteArray takeNoise(qint64 count); // the next bytes of the line noise
    bool writeAll(const char *data, int size);
    void doHangUp();
    void endServing(std::atomic<bool> &request);
    void closeFds();
    void notify();
    bool openDevice();
    bool powerCycle(); // false when stopped while waiting for the device
    const FrameFault *matchFault(int command, int occurrence, int allOccurrence) const;
    void eraseLocked();
    void trimFrames(); // with _mutex held
    // A copy of a member guarded by _mutex, taken under the lock; byte arrays are copied deeply.
    template <typename T> T readGuarded(const T &member) const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return member;
    }
    QByteArray readGuarded(const QByteArray &member) const;

    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    std::thread _thread;
    std::atomic<bool> _running{false};
    std::atomic<bool> _stopRequested{false};
    std::atomic<bool> _hangUpRequested{false};
    std::atomic<bool> _parserReset{false};
    int _master = -1;
    int _slave = -1; // held open so the master side survives the host closing and reopening the port
    int _wake[2] = {-1, -1};
    QString _portPath;
    QString _errorString;
    QString _devicePath;
    std::atomic<int> _powerCycles{0};

    // guarded by _mutex
    Handshake _handshake;
    Timing _timing;
    PasswordPolicy _passwordPolicy = PasswordPolicy::Faithful;
    int _maxCoreSize = DEFAULT_MAX_CORE_SIZE;
    bool _answersHandshakeInLoader = true;
    bool _knowsCrcCheck = true;
    QVector<FrameFault> _faults;
    QVector<LineFault> _lineFaults; // not used yet
    int _lineFaultsApplied = 0;
    int _hostOccurrences[256] = {}; // frames the host sent per command, for matching line faults
    int _hostOccurrencesAll = 0;
    int _hostRequests = 0; // programming-mode requests the host sent
    QString _memoryFile;
    std::atomic<int> _memoryChanges{0}; // bumped by every command that changes the memory
    bool _silent = false;
    QByteArray _chatter;
    int _chatterPeriodMs = 100;
    bool _babbling = false;
    QByteArray _babblePattern;
    Mode _mode = Mode::Application;
    bool _locked = true;
    std::vector<quint8> _memory;
    std::vector<bool> _written;
    int _frameCount[256] = {};
    int _framesAll = 0;
    int _occurrences[256] = {}; // frames seen per command, for matching faults
    int _occurrencesAll = 0;
    int _badFrames = 0;
    int _handshakes = 0;
    int _passwords = 0;
    int _passwordsAccepted = 0;
    QByteArray _lastPassword;
    int _massErases = 0;
    int _blocks = 0;
    QVector<Frame> _frames;
    QByteArray _received;
    QByteArray _sent;

    // serving thread only
    QByteArray _hostBytes;          // the host's frame or request being received, see receiveByte()
    QVector<qint64> _hostArrivalNs; // the arrival times of _hostBytes
    bool _holdingHostBytes = false; // _hostBytes are held back from the loader until complete
    int _hostFrameSize = 0;         // whole size of the host's frame being received (0: not known yet)
    qint64 _lastHostByteNs = 0;     // wall-clock time of the last byte read from the host
    int _memoryChangesSaved = 0;
    QByteArray _rx;          // bytes of the frame being received
    QByteArray _requestScan; // last bytes seen while scanning for the programming-mode request
    qint64 _lineInFreeNs = 0;
    qint64 _lineOutFreeNs = 0;
    qint64 _lastRxNs = 0;
    qint64 _noiseStartNs = 0; // line noise under way until _noiseEndNs (0: none)
    qint64 _noiseEndNs = 0;
    qint64 _noiseSent = 0;
    QByteArray _noiseRound; // the current 256 noise bytes, a shuffle of every value
    quint32 _noiseSeed = 1;
};

#endif // SIMULATEDUNIT_H
