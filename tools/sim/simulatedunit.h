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

#include "simfaults.h"
#include "simline.h"
#include "simloader.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// The unit: its application's handshake and its loader behind the line, served on a thread of its
// own. The loader's codes, frames and memory come from SimBsl and SimLoader, the faults from
// simfaults.h, the pty and its pacing from SimLine.
class SimulatedUnit : public SimBsl
{
public:
    using FrameFault = SimFrameFault;
    using LineFault = SimLineFault;

    // What the application waits for, and what its handshake reply begins with.
    inline static const QByteArray PROGRAMMING_REQUEST{"\x7D\x7D\x01", 3};

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

    // One frame as the loader received it.
    struct Frame
    {
        QByteArray bytes; // everything from the header byte to the last checksum byte (or the bad byte)
        quint8 ack = 0;   // what the loader answered first (0xFF: nothing)
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
    bool isLocked() const { return readGuarded(_loader.locked); }

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
    int passwordsSeen() const { return readGuarded(_loader.counters.passwords); }
    QByteArray lastPassword() const { return readGuarded(_loader.counters.lastPassword); }
    int passwordsAccepted() const { return readGuarded(_loader.counters.passwordsAccepted); }
    // Mass erases, by command and by refused password.
    int massErases() const { return readGuarded(_loader.counters.massErases); }
    int blocksWritten() const { return readGuarded(_loader.counters.blocks); }
    // Line faults that changed bytes on the line.
    int lineFaultsApplied() const { return readGuarded(_faults.lineFaultsApplied); }
    QVector<Frame> frames() const; // every frame in arrival order (at most the last 20000)
    // Everything the host sent, and everything the unit sent (each at most the last 8 MiB).
    QByteArray receivedBytes() const { return readGuarded(_received); }
    QByteArray sentBytes() const { return readGuarded(_sent); }
    void resetCounters();
    // Blocks until framesReceived(command) reaches count or the time runs out; true when reached.
    bool waitForFrames(int command, int count, int timeoutMs) const;
    // Blocks until handshakesAnswered() reaches count or the time runs out.
    bool waitForHandshakes(int count, int timeoutMs) const;

private:
    // What one round of the serving loop goes by, taken under the lock at its start.
    struct LoopSettings
    {
        bool babbling = false;
        QByteArray babblePattern;
        bool chatter = false;
        QByteArray chatterBytes;
        int chatterPeriodMs = 0;
        int frameTimeoutMs = 0;
        qint64 byteTimeNs = 0;
    };
    // The earliest time the serving loop has to look again (-1: none yet).
    struct Deadline
    {
        qint64 ns = -1;
        void atMost(qint64 t) { ns = ns < 0 ? t : std::min(ns, t); }
    };

    // Life cycle (simulatedunit.cpp)
    bool loadMemoryFile();
    void endServing(bool hangUp);
    void doHangUp();
    bool powerCycle(); // false when stopped while waiting for the device
    bool saveMemory();
    void saveChangedMemory(); // when a command changed it since the last save
    void forgetLineInput();
    SimLine::Pace pace() const; // takes the lock
    // A copy of a member guarded by _mutex, taken under the lock; byte arrays are copied deeply.
    template <typename T> T readGuarded(const T &member) const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return member;
    }
    QByteArray readGuarded(const QByteArray &member) const;

    // The serving loop (simserving.cpp)
    void run();
    LoopSettings loopSettings() const;
    void serveBabble(qint64 now, const LoopSettings &settings, Deadline &deadline);
    void serveNoise(qint64 now, qint64 byteTimeNs, Deadline &deadline);
    bool serveChatter(qint64 now, const LoopSettings &settings, Deadline &deadline);
    bool expireWaitingInput(qint64 now, int frameTimeoutMs, Deadline &deadline);
    bool serveInput(qint64 deadlineNs, qint64 byteTimeNs);
    bool send(const QByteArray &bytes, qint64 notBeforeNs);
    bool takeLineFault(LineFault::Where where, int command, SimOccurrence occurrence, QByteArray &bytes);

    // The host's byte stream, held back for line faults (simhoststream.cpp)
    void receiveByte(quint8 byte, qint64 arrivalNs);
    void takeWholeHostBytes();
    void feedHostBytes(const QByteArray &bytes, const QVector<qint64> &arrivalNs);
    void flushHeldHostBytes();

    // The application and the loader's framing (simserving.cpp)
    void handleByte(quint8 byte, qint64 arrivalNs);
    void handleLoaderByte(quint8 byte, qint64 arrivalNs);
    void handleFrame(qint64 arrivalNs);
    void answerFrame(const QByteArray &core, SimOccurrence occurrence, const SimFrameEffect &effect,
                     int frameIndex, const QByteArray &raw);
    void recordFrame(int frameIndex, const QByteArray &raw, int command, quint8 ack);
    void rejectFrame(quint8 ack, qint64 arrivalNs);
    void answerHandshake(qint64 arrivalNs);
    QByteArray execute(const QByteArray &core, bool execute, bool flipStoredBit, int *workUs);
    void trimFrames(); // with _mutex held

    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    std::thread _thread;
    SimLine _line;
    std::atomic<bool> _running{false};
    std::atomic<bool> _parserReset{false};
    QString _errorString;
    QString _devicePath;
    std::atomic<int> _powerCycles{0};

    // guarded by _mutex
    Handshake _handshake;
    Timing _timing;
    int _maxCoreSize = DEFAULT_MAX_CORE_SIZE;
    bool _answersHandshakeInLoader = true;
    SimFaults _faults;
    SimLoader _loader;
    QString _memoryFile;
    bool _silent = false;
    QByteArray _chatter;
    int _chatterPeriodMs = 100;
    bool _babbling = false;
    QByteArray _babblePattern;
    Mode _mode = Mode::Application;
    int _frameCount[256] = {};
    int _framesAll = 0;
    int _badFrames = 0;
    int _handshakes = 0;
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
    QByteArray _loaderFrame;      // the host's frame as far as the loader has taken it in
    QByteArray _requestScan;      // last bytes seen while scanning for the programming-mode request
    qint64 _lastLoaderByteNs = 0; // arrival time of the last byte the loader took in
    SimLineNoise _noise;
    qint64 _nextChatterNs = 0;
    qint64 _babbleStartNs = 0;
    qint64 _babbleSent = 0;
    bool _wasBabbling = false;
};

#endif // SIMULATEDUNIT_H
