#pragma once

#include "PortInfo.h"
#include "bslframe.h"
#include "imageplan.h"
#include "installoutcome.h"
#include "loadersession.h"
#include "serialline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

// The PC's side of one connection to a unit's bootstrap loader: opens the unit's port, asks for
// programming mode and the firmware version, and installs a TI-TXT image (password, mass erase,
// data blocks, optionally a check of what was written), reporting progress in whole percent and
// the end as an InstallOutcome. Lives on the device-worker thread. The frames are built and judged
// in BslFrame, sent and tried again in LoaderSession; ImagePlan orders the blocks.
class BSL_Interface : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BSL_Interface)

public:
    // Byte positions of a message reply.
    enum eBSL_RSP
    {
        BSL_RSP_HEADER_OFFSET = BslFrame::HEADER_OFFSET,
        BSL_RSP_SIZE_LSB_OFFSET = BslFrame::SIZE_LSB_OFFSET,
        BSL_RSP_SIZE_MSB_OFFSET = BslFrame::SIZE_MSB_OFFSET,
        BSL_RSP_DATA_LSB_OFFSET = BslFrame::DATA_LSB_OFFSET,
        BSL_RSP_DATA_MSB_OFFSET = BslFrame::DATA_MSB_OFFSET,
        BSL_RSP_CKL_OFFSET = BslFrame::CKL_OFFSET,
        BSL_RSP_CKH_OFFSET = BslFrame::CKH_OFFSET,
        BSL_RSP_PACKET_SIZE = BslFrame::MESSAGE_REPLY_SIZE
    };
    Q_ENUM(eBSL_RSP)

    using Phase = InstallOutcome::Phase;
    using Verification = InstallOutcome::Verification;

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
    bool rxBslVersion(QByteArray *reply = nullptr);

    // After the last block, check every contiguous section of the image with the loader's CRC
    // command. Off by default: not every loader knows the command.
    void setVerifyAfterWrite(bool verify) { _verifyAfterWrite = verify; }
    bool verifyAfterWrite() const { return _verifyAfterWrite || fastReplies(); }
    // Collect each reply by the length it carries: the next frame goes out as soon as the reply's
    // last byte has arrived and its CRC checks, instead of after the line's 40 ms of quiet. A reply
    // that stops short or does not check still ends with the quiet and fails its attempt. Part of
    // the time saved goes into verifying the image: with fast replies it is always verified. Off by
    // default.
    void setFastReplies(bool fast) { _session.setFastReplies(fast); }
    bool fastReplies() const { return _session.fastReplies(); }
    // The flag that ends a running installation before its next frame, set from any thread; the
    // installation then fails as Stopped. Cleared when an installation starts. Without one, the
    // object keeps its own, which nothing sets.
    void setStopFlag(std::atomic<bool> *stop) { _session.setStopFlag(stop); }
    // The TI-TXT text to install instead of the file's (named by installFirmware's path in the log
    // and the outcome); it is checked all the same. Empty: the file is read.
    void setImageContent(const QByteArray &content) { _imageContent = content; }

    // The whole installation, synchronously; emits firmwareInstallDone() once at its end whatever
    // happened, with outcome() already telling how it ended.
    InstallOutcome installFirmware(const QString &firmware, unsigned int size);
    bool authenticate();
    bool erase();

    // How the last installation ended (failure, phase, erased, bytes, verification, image problem);
    // before the first, an outcome that has not succeeded.
    const InstallOutcome &outcome() const { return _outcome; }
    // The last percentage reported by progressChanged; 0 at construction, never reset.
    unsigned int getPercent() const { return _percent; }

signals:
    void progressChanged(const unsigned int &progress);
    void firmwareInstallDone();
    // Every phase an installation enters, Idle at its end, on the installing thread.
    void phaseChanged(InstallOutcome::Phase phase);

private:
    friend class BslPacketTest;

    using Ack = LoaderSession::Ack;
    using Failure = InstallOutcome::Failure;

    // rxPassword, rxMassErase, rxDataBlock and txCrcCheck each send one command and return its
    // acknowledgement. The loader's protocol names what the loader receives rx (so do the write
    // phase's rxTxtFile*); our own names say tx for what the host sends, as txPacket does.
    Ack rxPassword();
    Ack rxMassErase();
    Ack rxDataBlock(uint32_t address, const QByteArray &block);
    void rxTxtFileBegin(const QString &firmware, const QByteArray &image);
    bool rxTxtFileContinue(unsigned int size);
    void rxTxtFileEnd();
    void updateProgress(unsigned int size);
    Ack txCrcCheck(uint32_t address, uint16_t length);
    Verification verifySections();
    Verification verifySection(uint32_t address, const QByteArray &bytes);
    void setPhase(Phase phase);
    // The step ended the installation: as `failure`, unless a stop request or the lost port ended
    // it; `address` is the block's or the section's.
    void endWith(LoaderSession::Attempts end, Failure failure, uint32_t address = 0);
    // The outcome of an installation that no step ended.
    void judgeWritten();

    Ack txPacket(const QByteArray &core) { return _session.send(core); }
    bool processRspData(const QByteArray &rsp, int expectedCoreRsp = 0)
    {
        return BslFrame::judgeMessage(rsp, expectedCoreRsp);
    }
    static QString dataToHexString(const QByteArray &data) { return BslFrame::hex(data); }

    unsigned int _bufferSize;
    LoaderSession _session;
    ImagePlan _plan;
    unsigned int _percent = 0;
    QElapsedTimer _rxTxtTime;
    unsigned int _rxTxtBytes = 0;
    qint64 _rxTxtMs = -1; // the write phase's duration once it ended, else -1
    bool _verifyAfterWrite = false;
    QByteArray _imageContent;
    InstallOutcome _outcome;
};
