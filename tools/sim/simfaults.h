#ifndef SIMFAULTS_H
#define SIMFAULTS_H

// The faults the simulated unit commits on purpose: what each one is, how a text names it, which
// frame or bytes it hits, and what it makes of them. SimFaults keeps no lock of its own: the unit
// calls it with its mutex held.

#include "simloader.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QVector>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

// A fault applied to chosen frames: the occurrences first .. first+count-1 (1-based) of frames
// with the given command code (-1: every well-formed frame, counted together).
struct SimFrameFault
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
    quint8 ackByte = SimBsl::ACK_CHECKSUM_INCORRECT;
    quint8 messageCode = SimBsl::MSG_FLASH_WRITE_CHECK_FAILED;
    int delayMs = 60;
    QByteArray replyBytes;

    // Shortcuts for the usual cases.
    static SimFrameFault of(Kind kind, int command, int first = 1, int count = 1);
    static SimFrameFault refused(int command, int first, int count = 1,
                                 quint8 ack = SimBsl::ACK_CHECKSUM_INCORRECT);
    static SimFrameFault silent(int command, int first, int count = 1);
    static SimFrameFault late(int command, int first, int delayMs = 60, int count = 1);
    static SimFrameFault hangUpAt(int command, int occurrence);
    static SimFrameFault storedBitFlip(int command, int first);
    static SimFrameFault noise(int command, int first, int ms);

    // From talvo-sim's frame options: CMD@N[:COUNT] for refuse, late and mute, where a refusal may
    // add =HEX, its acknowledgement; CMD@N=MS for noise. False when the text does not fit.
    static bool parse(Kind kind, const QString &text, SimFrameFault *fault);
    static const char *name(Kind kind); // as the log names it
};

// What a frame fault (or none) makes of one well-formed frame, decided in one place.
struct SimFrameEffect
{
    enum Unanswered
    {
        Answered, // acknowledged (with ack)
        HangUp,   // the line hangs up
        Silence,  // nothing at all
        Babble,   // an endless stream of babblePattern
    };
    Unanswered unanswered = Answered;
    quint8 ack = SimBsl::ACK_OK;
    bool executes = true;        // the command does its work (and gets its reply)
    bool answers = true;         // a reply follows the acknowledgement
    bool flipsStoredBit = false; // see SimFrameFault::StoredBitFlip
    bool replacesReply = false;  // reply is sent instead of the command's own
    QByteArray reply;            // with replacesReply; the babble's pattern with Babble
    int lateMs = 0;              // the reply goes out this much later than modelled
    int noiseMs = 0;             // line noise after the reply

    static SimFrameEffect of(const SimFrameFault *fault); // nullptr: the frame as the loader takes it
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
struct SimLineFault
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
    static bool parse(const QString &text, SimLineFault *fault);
};

// Which occurrence a frame or request is: of its command, and of all of them.
struct SimOccurrence
{
    int ofCommand = 0;
    int ofAll = 0;
};

// The faults waiting to be committed, and the counts that choose where they hit.
class SimFaults
{
public:
    QVector<SimFrameFault> frameFaults;
    QVector<SimLineFault> lineFaults; // not used yet
    int lineFaultsApplied = 0;

    // Counts one more well-formed frame with the command, as the loader took it.
    SimOccurrence countFrame(int command) { return count(_frames, command); }
    // Counts one more frame in the host's byte stream, well-formed or not.
    SimOccurrence countHostFrame(int command) { return count(_hostFrames, command); }
    int countHostRequest() { return ++_hostRequests; }
    void resetCounters();

    const SimFrameFault *frameFault(SimOccurrence occurrence, int command) const;
    bool lineFaultWaits(SimLineFault::Where where) const;
    // Applies and uses up every waiting line fault for this place and occurrence; true when one
    // changed the bytes.
    bool takeLineFault(SimLineFault::Where where, int command, SimOccurrence occurrence, QByteArray &bytes);

private:
    struct Counts
    {
        int perCommand[256] = {};
        int all = 0;
    };
    static SimOccurrence count(Counts &counts, int command);

    Counts _frames;     // well-formed frames, for matching frame faults and the reply's line faults
    Counts _hostFrames; // the host's frames, for matching its line faults
    int _hostRequests = 0;
};

// Line noise: random bytes at the line rate, every value once in each round of 256.
class SimLineNoise
{
public:
    void start(qint64 nowNs, int ms);
    bool active() const { return _endNs > 0; }
    bool activeAt(qint64 nowNs) const { return _endNs > 0 && nowNs < _endNs; }
    void stop() { _endNs = 0; }
    qint64 endNs() const { return _endNs; }
    // How many bytes are due by now at one per byteTimeNs (at most 4096 at a time).
    qint64 dueBy(qint64 nowNs, qint64 byteTimeNs) const;
    QByteArray take(qint64 count); // the next bytes of the noise

private:
    qint64 _startNs = 0; // noise under way until _endNs (0: none)
    qint64 _endNs = 0;
    qint64 _sent = 0;
    QByteArray _round; // the current 256 bytes, a shuffle of every value
    quint32 _seed = 1;
};

#endif // SIMFAULTS_H
