#include "BSL_Interface.h"

#include "BSL_Common.h"
#include "TextFileIO.h"
#include "logcategories.h"

#include <QDebug>

namespace {

// The password of a loader whose memory is erased. The unit refuses it first (and erases itself
// on the refusal), then accepts it.
const QByteArray &erasedDevicePassword()
{
    static const QByteArray password(BSL_PASSWORD_SIZE, '\xFF');
    return password;
}

// The loader's message reply "successful operation".
const QByteArray SUCCESS_REPLY("\x80\x02\x00\x3B\x00\x60\xC4", 7);

// Longest memory range one CRC command covers. Its length field has 16 bits, but the loader reads
// the whole range before it replies (about a microsecond a byte): 4 KiB keep that well inside the
// 40 ms in which its reply must begin, also when a busy machine delays the reply further.
const int CRC_CHECK_MAX_LENGTH = 0x1000;

// The acknowledgement as the log shows it: a silence as 0xee, as the line's time-out marker.
unsigned int ackValue(const std::optional<unsigned char> &ack)
{
    return ack ? *ack : static_cast<unsigned int>(TIMEOUT_ERROR);
}

unsigned char byteAt(const QByteArray &data, int index)
{
    return static_cast<unsigned char>(data.at(index));
}

} // namespace

using Attempt = LoaderSession::Attempt;
using Attempts = LoaderSession::Attempts;

BSL_Interface::BSL_Interface(unsigned int bufferSize, QObject *parent)
    : QObject(parent), _bufferSize(bufferSize), _plan(bufferSize)
{
    qRegisterMetaType<InstallOutcome>();
    qRegisterMetaType<InstallOutcome::Phase>();
}

BSL_Interface::~BSL_Interface() = default;

bool BSL_Interface::openPort(const PortInfo &info)
{
    return _session.open(info);
}

SerialLine::OpenFailure BSL_Interface::openFailure() const
{
    return _session.openFailure();
}

int BSL_Interface::openErrorCode() const
{
    return _session.openErrorCode();
}

void BSL_Interface::setPhase(Phase phase)
{
    if (phase != Phase::Idle)
        _outcome.phase = phase;
    emit phaseChanged(phase);
}

void BSL_Interface::closePort()
{
    _session.close();
}

bool BSL_Interface::rxProgrammingMode(QString &version)
{
    return _session.rxProgrammingMode(version);
}

InstallOutcome BSL_Interface::installFirmware(const QString &firmware, unsigned int size)
{
    // The summary line measures this installation's write phase only.
    _rxTxtTime.invalidate();
    _rxTxtMs = -1;
    _plan.clear();
    _session.clearStop();
    _outcome = InstallOutcome();
    // A refused password erases the unit: the whole image is read and checked before the first
    // frame, and the write phase reads these very bytes, not the file a second time.
    QByteArray image = _imageContent;
    const ImageCheck check = image.isEmpty() ? loadTI_Text(firmware, image) : checkTI_Text(image);
    if (!check.ok) {
        _outcome.failure = Failure::Image;
        _outcome.imageProblem = check.describe(firmware);
        qCDebug(lcImage).noquote() << "BSL_Interface::installFirmware"
                                   << "image refused, nothing sent:" << _outcome.imageProblem;
    } else if (authenticate() && erase()) {
        rxTxtFileBegin(firmware, image);
        setPhase(Phase::Writing);
        while (rxTxtFileContinue(size)) {
        }
        _rxTxtMs = _rxTxtTime.elapsed();
        judgeWritten();
    }
    _outcome.bytesWritten = _plan.bytesWritten();
    setPhase(Phase::Idle);
    rxTxtFileEnd();
    return _outcome;
}

void BSL_Interface::judgeWritten()
{
    if (_outcome.failure != Failure::None)
        return;
    _outcome.writtenWhole = true;
    // Every block went out, but the size given counts another image: progress did not end at 100.
    if (_percent != 100) {
        _outcome.failure = Failure::SizeMismatch;
        return;
    }
    if (!verifyAfterWrite())
        return;
    setPhase(Phase::Verifying);
    _outcome.verification = verifySections();
    if (_outcome.verification == Verification::Unsupported)
        _outcome.failure = Failure::CannotVerify;
}

void BSL_Interface::endWith(Attempts end, Failure failure, uint32_t address)
{
    if (end == Attempts::Stopped)
        failure = Failure::Stopped;
    else if (_session.portLost())
        failure = Failure::PortLost;
    _outcome.failure = failure;
    _outcome.address = address;
}

bool BSL_Interface::authenticate()
{
    setPhase(Phase::Authenticating);
    qCDebug(lcLoader) << "Authenticating...";
    // A loader that holds firmware refuses the erased-device password and erases itself; the same
    // password then matches. A loader that accepts it at once is already blank, so the refusal
    // is expected but not required.
    bool passwordErrorExpected = true;
    const Attempts end = _session.repeat(
        [&] {
            const Ack ack = rxPassword();
            // Whatever the loader answered, it took in a frame: a password it refused has erased
            // the unit.
            if (ack)
                _outcome.erased = true;
            if (ack != BSL_ACK)
                return Attempt::failed(ack);
            QByteArray rsp;
            _session.receiveReply(rsp);
            if (rsp.startsWith(SUCCESS_REPLY)) {
                if (passwordErrorExpected)
                    qCDebug(lcLoader) << "Password accepted at once: the unit was already erased";
                return Attempt::done();
            }
            if (passwordErrorExpected && processRspData(rsp, BSL_PASSWORD_ERROR)) {
                passwordErrorExpected = false;
                return Attempt::next();
            }
            if (!passwordErrorExpected)
                processRspData(rsp, SUCCESSFUL_OPERATION);
            return Attempt::failed(ack);
        },
        [&](int) {
            qCDebug(lcLoader) << (passwordErrorExpected ? "Resending wrong password..."
                                                        : "Sending password...");
        });
    if (end == Attempts::Done)
        return true;
    qCDebug(lcLoader) << "Authentication failed!";
    endWith(end, Failure::Authentication);
    return false;
}

bool BSL_Interface::erase()
{
    setPhase(Phase::Erasing);
    qCDebug(lcLoader) << "Erasing...";
    const Attempts end = _session.repeat(
        [this] {
            const Ack ack = rxMassErase();
            return ack == BSL_ACK && _session.collectReply(SUCCESSFUL_OPERATION) ? Attempt::done()
                                                                                 : Attempt::failed(ack);
        },
        [](int attempt) {
            qCDebug(lcLoader).nospace() << "BSL_Interface::erase"
                                        << " repeat " << attempt;
        });
    if (end == Attempts::Done)
        return true;
    qCDebug(lcLoader) << "Erase failed!";
    endWith(end, Failure::Erase);
    return false;
}

QByteArray BSL_Interface::lastProgrammingModeReply() const
{
    return _session.lastProgrammingModeReply();
}

bool BSL_Interface::rxBslVersion(QByteArray *reply)
{
    _session.drain();
    const Ack ack = txPacket(BslFrame::versionCore());
    QByteArray rsp;
    // Only a whole reply whose checksum checks comes from a loader: anything else may be any device.
    const bool checked = ack == BSL_ACK && _session.receiveCheckedReply(rsp);
    if (reply)
        *reply = rsp;
    // A locked loader answers with the message "locked", an unlocked one with its version as data.
    const bool locked = checked && BslFrame::isMessage(rsp, BSL_LOCKED);
    const bool version = checked && byteAt(rsp, BSL_RSP_DATA_LSB_OFFSET) == BSL_DATA_REPLY;
    qCDebug(lcLoader).noquote() << "BSL_Interface::rxBslVersion"
                                << (locked || version ? "loader answered" : "no loader")
                                << QString::asprintf("0x%02x", ackValue(ack)) << rsp.size()
                                << dataToHexString(rsp);
    if (ack != BSL_ACK)
        _session.drain();
    return locked || version;
}

BSL_Interface::Ack BSL_Interface::rxPassword()
{
    return txPacket(BslFrame::passwordCore(erasedDevicePassword()));
}

BSL_Interface::Ack BSL_Interface::rxMassErase()
{
    return txPacket(BslFrame::massEraseCore());
}

BSL_Interface::Ack BSL_Interface::rxDataBlock(uint32_t address, const QByteArray &block)
{
    return txPacket(BslFrame::dataBlockCore(address, block));
}

void BSL_Interface::rxTxtFileBegin(const QString &firmware, const QByteArray &image)
{
    const QByteArray path = firmware.toLocal8Bit();
    qCDebug(lcLoader, "Writing %s...", path.constData());
    _rxTxtBytes = 0;
    _plan.begin(image);
    _rxTxtTime.start();
}

bool BSL_Interface::rxTxtFileContinue(unsigned int size)
{
    updateProgress(size);
    uint32_t address = 0;
    QByteArray block;
    if (!_plan.nextBlock(address, block))
        return false;
    _rxTxtBytes += static_cast<unsigned int>(block.size());

    const Attempts end = _session.repeat(
        [&] {
            const Ack ack = rxDataBlock(address, block);
            return ack == BSL_ACK && _session.collectReply(SUCCESSFUL_OPERATION) ? Attempt::done()
                                                                                 : Attempt::failed(ack);
        },
        [](int attempt) {
            qCDebug(lcLoader).nospace() << "BSL_Interface::rxTxtFileContinue"
                                        << " repeat " << attempt;
        });
    if (end == Attempts::Done) {
        _plan.recordWritten(address, block);
        return true;
    }
    endWith(end, Failure::Block, address);
    return false;
}

void BSL_Interface::rxTxtFileEnd()
{
    const qint64 ms = _rxTxtMs >= 0 ? _rxTxtMs : (_rxTxtTime.isValid() ? _rxTxtTime.elapsed() : 0);
    const float seconds = static_cast<float>(ms) / 1000.0f;
    const float rate = seconds > 0.0f ? (static_cast<float>(_rxTxtBytes) / 1024.0f) / seconds : 0.0f;
    qCDebug(lcLoader, "Wrote %i bytes in %.2f seconds [%.2f Kbytes/s]", static_cast<int>(_rxTxtBytes),
            static_cast<double>(seconds), static_cast<double>(rate));
    _plan.end();
    emit firmwareInstallDone();
}

void BSL_Interface::updateProgress(unsigned int size)
{
    unsigned int nPercent = size ? static_cast<unsigned int>((_rxTxtBytes * 100u) / size) : 0;
    // 100 means the whole image reached the unit: never before the reader has met the image's end,
    // whatever size the caller gave.
    if (nPercent >= 100 && _plan.moreToCome())
        nPercent = 99;
    qCDebug(lcLoader, "_rxTxtBytes: %i", static_cast<int>(_rxTxtBytes));
    qCDebug(lcLoader, "imageSize: %i", static_cast<int>(size));
    qCDebug(lcLoader, "nPercent: %i", static_cast<int>(nPercent));
    qCDebug(lcLoader, "_Percent: %i", static_cast<int>(_percent));
    if (nPercent != _percent) {
        qCDebug(lcLoader, "_percent != nPercent **********");
        _percent = nPercent;
        emit progressChanged(_percent);
    }
}

BSL_Interface::Ack BSL_Interface::txCrcCheck(uint32_t address, uint16_t length)
{
    return txPacket(BslFrame::crcCheckCore(address, length));
}

BSL_Interface::Verification BSL_Interface::verifySections()
{
    qCDebug(lcLoader) << "Verifying...";
    const QMap<uint32_t, QByteArray> &written = _plan.written();
    for (auto it = written.cbegin(); it != written.cend(); ++it) {
        // The command's length field has 16 bits: longer sections are checked in pieces.
        for (int offset = 0; offset < it.value().size(); offset += CRC_CHECK_MAX_LENGTH) {
            const Verification result = verifySection(it.key() + static_cast<uint32_t>(offset),
                                                      it.value().mid(offset, CRC_CHECK_MAX_LENGTH));
            if (result != Verification::Matched)
                return result;
        }
    }
    qCDebug(lcLoader) << "Verified" << written.size() << "sections";
    return Verification::Matched;
}

BSL_Interface::Verification BSL_Interface::verifySection(uint32_t address, const QByteArray &bytes)
{
    const uint16_t expected = BslFrame::crcOf(bytes);
    const QString where = QString::asprintf("0x%05x", address);
    Verification verdict = Verification::NoAnswer;
    const Attempts end = _session.repeat(
        [&] {
            const Ack ack = txCrcCheck(address, static_cast<uint16_t>(bytes.size()));
            QByteArray rsp;
            // Collected by its own length, which tells where the reply ends.
            const bool whole = ack == BSL_ACK && _session.receiveCheckedReply(rsp);
            // Asking again would get the same answer: this loader has no CRC command.
            if (whole && BslFrame::isMessage(rsp, UNKNOWN_COMMAND)) {
                qCDebug(lcLoader).noquote() << "This loader cannot verify: it does not know the CRC command";
                verdict = Verification::Unsupported;
                return Attempt::done();
            }
            uint16_t crc = 0;
            if (ack == BSL_ACK && BslFrame::crcCheckReply(rsp, &crc)) {
                verdict = crc == expected ? Verification::Matched : Verification::Differs;
                // A reply that passed its own checksum: the memory really differs from the image.
                if (verdict == Verification::Differs)
                    qCDebug(lcLoader).noquote()
                        << "Verify failed! section" << where << "length" << bytes.size()
                        << QString::asprintf("crc 0x%04x expected 0x%04x", crc, expected);
                return Attempt::done();
            }
            qCDebug(lcLoader).noquote() << "Wrong CRC RSP!" << rsp.size() << dataToHexString(rsp);
            return Attempt::failed(ack);
        },
        [](int attempt) {
            qCDebug(lcLoader).nospace() << "BSL_Interface::verifySection"
                                        << " repeat " << attempt;
        });
    if (end == Attempts::Exhausted)
        qCDebug(lcLoader).noquote() << "Verify failed! section" << where << "got no CRC";
    if (end == Attempts::Stopped)
        verdict = Verification::NotRun;
    if (verdict != Verification::Matched && verdict != Verification::Unsupported)
        endWith(end, verdict == Verification::Differs ? Failure::VerifyMismatch : Failure::VerifyUnanswered,
                address);
    return verdict;
}
