#pragma once

#include "PortInfo.h"
#include "serialline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

class BSL_IO_UART;

// The PC's side of one connection to a unit's bootstrap loader: opens the unit's port, asks for
// programming mode and the firmware version, and installs a TI-TXT image (password, mass erase,
// data blocks), reporting progress in whole percent. Lives on the device-worker thread.
class BSL_Interface : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BSL_Interface)

public:
    // Byte positions of a message reply.
    enum eBSL_RSP
    {
        BSL_RSP_HEADER_OFFSET = 0,
        BSL_RSP_SIZE_LSB_OFFSET,
        BSL_RSP_SIZE_MSB_OFFSET,
        BSL_RSP_DATA_LSB_OFFSET,
        BSL_RSP_DATA_MSB_OFFSET,
        BSL_RSP_CKL_OFFSET,
        BSL_RSP_CKH_OFFSET,
        BSL_RSP_PACKET_SIZE
    };
    Q_ENUM(eBSL_RSP)

    // Where an installation stands, for a front end that must know whether stopping now would leave
    // the unit without firmware. One installation runs per process at a time.
    enum class Phase
    {
        Idle,
        Authenticating, // a refused password erases the unit
        Erasing,
        Writing,
        Verifying
    };

    // How the check of the written image with the loader's CRC command ended.
    enum class Verification
    {
        NotRun,      // not asked for, or the image was not written whole
        Matched,     // every section's CRC equals the image's
        Differs,     // a checked reply gave another CRC: the memory differs from the image
        NoAnswer,    // no usable reply came in any attempt
        Unsupported, // the loader answered "unknown command": it cannot verify
    };
    Q_ENUM(Verification)

    explicit BSL_Interface(unsigned int bufferSize, QObject *parent = nullptr);
    ~BSL_Interface() override;

    // Opens the port at 115200 baud, no parity, by PortEnumerator::openPath().
    bool openPort(const PortInfo &info);
    void closePort();
    // Why the last openPort failed to get the port at all (SerialLine::OpenFailure::None when
    // it got the port and a later step failed), with the system's error code.
    SerialLine::OpenFailure openFailure() const;
    int openErrorCode() const;

    // Drains the line, sends the programming-mode request and reads the version text.
    bool rxProgrammingMode(QString &version);
    // What the last programming-mode request got back, whatever it was.
    QByteArray lastProgrammingModeReply() const;
    // Asks the bootstrap loader for its version (one attempt, after a quiet line). True when a
    // loader answered: with its version, or with "locked". The reply is kept in `reply`.
    bool txBslVersion(QByteArray *reply = nullptr);

    // After the last block, check every contiguous section of the image with the loader's CRC
    // command. Off by default: not every loader knows the command.
    void setVerifyAfterWrite(bool verify) { _verifyAfterWrite = verify; }
    bool verifyAfterWrite() const { return _verifyAfterWrite || _fastReplies; }
    // Collect each reply by the length it carries: the next frame goes out as soon as the reply's
    // last byte has arrived and its CRC checks, instead of after the line's 40 ms of quiet. A reply
    // that stops short or does not check still ends with the quiet and fails its attempt. Part of
    // the time saved goes into verifying the image: with fast replies it is always verified. Off by
    // default.
    void setFastReplies(bool fast) { _fastReplies = fast; }
    bool fastReplies() const { return _fastReplies; }

    // The whole installation, synchronously; emits firmwareInstallDone() once at its end whatever
    // happened. Succeeded exactly when getPercent() is 100 afterwards.
    void installFirmware(const QString &firmware, unsigned int size);
    bool authenticate();
    bool erase();

    unsigned int getPercent() const { return _percent; }
    // Why the last installation refused its image before sending anything (a file that cannot be
    // read, or the first line that is not TI-TXT, with its number and the image's path); empty
    // when the image passed.
    QString imageProblem() const { return _imageProblem; }
    // The image reached the unit whole (100 %) and, when verification is on, checked out.
    bool succeeded() const
    {
        return _percent == 100 && (!verifyAfterWrite() || _verification == Verification::Matched);
    }
    Verification verification() const { return _verification; }
    // The last installation reached the loader with a password: a loader that held firmware has
    // erased it, and only a whole image brings it back.
    bool unitErased() const { return _unitErased; }

    static Phase phase() { return _phase.load(); }
    // Told every phase change, on the installing thread; one observer per process, or none.
    using PhaseObserver = void (*)(Phase phase);
    static void setPhaseObserver(PhaseObserver observer) { _phaseObserver.store(observer); }
    // Ends a running installation before its next frame (thread-safe); the installation then
    // fails. Cleared when the next installation starts.
    static void requestStop() { _stopRequested.store(true); }
    static bool stopRequested() { return _stopRequested.load(); }

signals:
    void progressChanged(const unsigned int &progress);
    void firmwareInstallDone();

private:
    friend class BslPacketTest;

    // The loader's acknowledgement byte, or none when nothing came in time.
    using Ack = std::optional<unsigned char>;

    Ack rxPassword();
    Ack rxMassErase();
    Ack rxDataBlock(uint32_t address, const QByteArray &block);
    void rxTxtFileBegin(const QString &firmware, const QByteArray &image);
    bool rxTxtFileContinue(unsigned int size);
    bool nextBlock(uint32_t &address, QByteArray &block);
    void rxTxtFileEnd();
    void updateProgress(unsigned int size);
    Ack rxCrcCheck(uint32_t address, uint16_t length);
    Verification verifySections();
    Verification verifySection(uint32_t address, const QByteArray &bytes);
    static bool crcCheckReply(const QByteArray &rsp, uint16_t *crc);
    void recordWritten(uint32_t address, const QByteArray &block);
    bool collectReply(int expectedCoreRsp);
    void receiveReply(QByteArray &rsp);
    void settleAfterFailure(const Ack &ack);
    bool stopHere();
    static void setPhase(Phase phase);

    Ack txPacket(const QByteArray &core);
    bool processRspData(const QByteArray &rsp, int expectedCoreRsp = 0);
    static QString dataToHexString(const QByteArray &data);

    unsigned int _bufferSize;
    BSL_IO_UART *_serial;
    unsigned int _percent = 0;
    QElapsedTimer _rxTxtTime;
    unsigned int _rxTxtBytes = 0;
    qint64 _rxTxtMs = -1; // the write phase's duration once it ended, else -1
    bool _verifyAfterWrite = false;
    bool _fastReplies = false;
    Verification _verification = Verification::NotRun;
    bool _unitErased = false;
    QString _imageProblem;
    QMap<uint32_t, QByteArray> _written; // what the write phase sent: contiguous sections by address
    // Blocks holding the interrupt vectors, the reset vector among them: written after all others,
    // so that a unit cut off before the end has no reset vector and starts in its loader.
    QList<QPair<uint32_t, QByteArray>> _deferred;

    static std::atomic<Phase> _phase;
    static std::atomic<PhaseObserver> _phaseObserver;
    static std::atomic<bool> _stopRequested;
};
