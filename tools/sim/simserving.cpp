// The unit's serving thread: the loop that waits on the line, the application's handshake and the
// loader's framing, with what the faults make of each frame.

#include "simulatedunit.h"

#include <algorithm>

namespace {

const quint8 QS_FRAME = 0x7E;
const quint8 NO_ACK = 0xFF; // recorded for frames that got no acknowledgement at all
const int MAX_FRAMES_KEPT = 20000;
const int MAX_BYTES_KEPT = 8 * 1024 * 1024;
const qint64 BABBLE_TICK_NS = NS_PER_MS;
// The host writes a programming-mode request in one piece: a start of one that is not completed
// within this time is taken as loose bytes.
const qint64 REQUEST_GAP_NS = 10 * NS_PER_MS;

void appendCapped(QByteArray &log, const QByteArray &bytes)
{
    // Trimmed in large steps, so that an endless stream does not move megabytes per byte.
    log.append(bytes);
    if (log.size() > MAX_BYTES_KEPT + MAX_BYTES_KEPT / 4)
        log.remove(0, log.size() - MAX_BYTES_KEPT);
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// The serving loop

void SimulatedUnit::run()
{
    _nextChatterNs = monotonicNs();
    _babbleStartNs = _babbleSent = 0;
    _wasBabbling = false;
    while (!_line.ending()) {
        const qint64 now = monotonicNs();
        const LoopSettings settings = loopSettings();
        Deadline deadline;
        serveBabble(now, settings, deadline);
        serveNoise(now, settings.byteTimeNs, deadline);
        if (!serveChatter(now, settings, deadline))
            continue;
        saveChangedMemory();
        if (expireWaitingInput(now, settings.frameTimeoutMs, deadline))
            continue;
        if (!serveInput(deadline.ns, settings.byteTimeNs))
            break;
    }
    if (_line.hangUpRequested())
        doHangUp();
    _running = false;
}

SimulatedUnit::LoopSettings SimulatedUnit::loopSettings() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    LoopSettings settings;
    settings.babbling = _babbling;
    settings.babblePattern = _babblePattern;
    settings.chatter = _mode == Mode::Application && !_chatter.isEmpty() && !_silent && !_babbling;
    settings.chatterBytes = _chatter;
    settings.chatterPeriodMs = _chatterPeriodMs;
    settings.frameTimeoutMs = _timing.frameTimeoutMs;
    settings.byteTimeNs = std::max<qint64>(1000, _timing.byteTimeNs);
    return settings;
}

void SimulatedUnit::serveBabble(qint64 now, const LoopSettings &settings, Deadline &deadline)
{
    const bool wasBabbling = _wasBabbling;
    _wasBabbling = settings.babbling;
    if (!settings.babbling)
        return;
    // An endless stream at line speed: whatever is due by now goes out; what the line cannot take
    // is lost, as on a real line nobody reads.
    if (!wasBabbling) {
        _babbleStartNs = now;
        _babbleSent = 0;
    }
    const QByteArray &pattern = settings.babblePattern;
    const qint64 due = std::min<qint64>((now - _babbleStartNs) / settings.byteTimeNs - _babbleSent, 4096);
    QByteArray chunk;
    for (qint64 i = 0; i < due; ++i)
        chunk.append(pattern.at(int((_babbleSent + i) % pattern.size())));
    if (!chunk.isEmpty()) {
        const QByteArray taken = _line.writeWhatFits(chunk);
        std::lock_guard<std::mutex> lock(_mutex);
        appendCapped(_sent, taken);
        _babbleSent += due;
    }
    deadline.atMost(now + BABBLE_TICK_NS);
}

void SimulatedUnit::serveNoise(qint64 now, qint64 byteTimeNs, Deadline &deadline)
{
    if (!_noise.active())
        return;
    // Like a babble, lost where the line cannot take it; acknowledgements and replies go out in
    // between.
    const QByteArray chunk = _noise.take(_noise.dueBy(now, byteTimeNs));
    if (!chunk.isEmpty()) {
        const QByteArray taken = _line.writeWhatFits(chunk);
        std::lock_guard<std::mutex> lock(_mutex);
        appendCapped(_sent, taken);
    }
    if (now >= _noise.endNs())
        _noise.stop();
    else
        deadline.atMost(now + BABBLE_TICK_NS);
}

// False when the chatter could not go out.
bool SimulatedUnit::serveChatter(qint64 now, const LoopSettings &settings, Deadline &deadline)
{
    if (!settings.chatter) {
        _nextChatterNs = now;
        return true;
    }
    if (now >= _nextChatterNs) {
        if (!send(settings.chatterBytes, now))
            return false;
        _nextChatterNs = monotonicNs() + settings.chatterPeriodMs * NS_PER_MS;
    }
    deadline.atMost(_nextChatterNs);
    return true;
}

// Input that has waited too long is let go or refused; true when that happened.
bool SimulatedUnit::expireWaitingInput(qint64 now, int frameTimeoutMs, Deadline &deadline)
{
    // Bytes of the host held back for a line fault, when the host stops half way: to the loader as
    // they came, where they meet its frame time-out. A start of a request is let go sooner.
    if (!_hostBytes.isEmpty()) {
        const bool request = quint8(_hostBytes.at(0)) != FRAME_HEADER;
        const qint64 holdLimit =
            _lastHostByteNs +
            (request ? REQUEST_GAP_NS : qint64(frameTimeoutMs > 0 ? frameTimeoutMs : 250) * NS_PER_MS);
        if (now >= holdLimit) {
            flushHeldHostBytes();
            return true;
        }
        if (_holdingHostBytes || request)
            deadline.atMost(holdLimit);
    }
    // The loader answers a byte that cannot start a frame as it arrives; a start of a request, which
    // the loader looks for between frames, is not kept from it for long.
    if (!_requestScan.isEmpty() && _loaderFrame.isEmpty() && mode() == Mode::Loader &&
        PROGRAMMING_REQUEST.startsWith(_requestScan)) {
        const qint64 scanLimit = _lastHostByteNs + REQUEST_GAP_NS;
        if (now >= scanLimit) {
            const QByteArray pending = _requestScan;
            _requestScan.clear();
            for (char c : pending)
                handleLoaderByte(quint8(c), now);
            return true;
        }
        deadline.atMost(scanLimit);
    }
    if (!_loaderFrame.isEmpty() && frameTimeoutMs > 0) {
        const qint64 frameDeadline = _lastLoaderByteNs + frameTimeoutMs * NS_PER_MS;
        if (now >= frameDeadline) {
            rejectFrame(ACK_UNKNOWN_ERROR, now);
            return true;
        }
        deadline.atMost(frameDeadline);
    }
    return false;
}

// Waits for the host's bytes until the deadline and hands them on; false when the unit stops
// serving.
bool SimulatedUnit::serveInput(qint64 deadlineNs, qint64 byteTimeNs)
{
    bool hungUp = false, readable = false;
    if (!_line.waitForInput(deadlineNs, &hungUp, &readable))
        return false;
    if (hungUp)
        return powerCycle();
    if (!readable)
        return true;
    char buffer[4096];
    const ssize_t n = _line.read(buffer, sizeof buffer);
    if (n <= 0)
        return true;
    const qint64 readNs = monotonicNs();
    SimLine::Pace pace;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        appendCapped(_received, QByteArray(buffer, int(n)));
        pace = SimLine::Pace{_timing.paced, byteTimeNs};
    }
    for (ssize_t i = 0; i < n && !_line.ending(); ++i) {
        // On a paced line a byte has arrived only once its character time is over.
        receiveByte(quint8(buffer[i]), _line.arrival(readNs, pace));
        // Before the next frame is taken: a process killed later loses at most that frame.
        saveChangedMemory();
    }
    _lastHostByteNs = monotonicNs();
    return true;
}

bool SimulatedUnit::send(const QByteArray &bytes, qint64 notBeforeNs)
{
    return _line.send(bytes, notBeforeNs, pace(), [this](const QByteArray &sent) {
        std::lock_guard<std::mutex> lock(_mutex);
        appendCapped(_sent, sent);
    });
}

bool SimulatedUnit::takeLineFault(LineFault::Where where, int command, SimOccurrence occurrence,
                                  QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _faults.takeLineFault(where, command, occurrence, bytes);
}

// ---------------------------------------------------------------------------------------------------
// The application and the loader's framing

void SimulatedUnit::handleByte(quint8 byte, qint64 arrivalNs)
{
    if (_parserReset.exchange(false)) {
        _loaderFrame.clear();
        _requestScan.clear();
    }
    Mode mode;
    bool ignore, answersInLoader;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        // A reset of a unit without its application (the request restarts the unit) ends in the
        // loader again, which takes the request for bytes of a frame.
        const bool application = _loader.hasApplication();
        if (_mode == Mode::Application && !application) {
            _mode = Mode::Loader;
            _loader.locked = true;
        }
        mode = _mode;
        ignore = _silent || _babbling;
        answersInLoader = _answersHandshakeInLoader && application;
    }
    if (ignore)
        return;

    if (mode == Mode::Application) {
        _requestScan.append(char(byte));
        if (_requestScan.size() > PROGRAMMING_REQUEST.size())
            _requestScan.remove(0, _requestScan.size() - PROGRAMMING_REQUEST.size());
        if (_requestScan == PROGRAMMING_REQUEST) {
            _requestScan.clear();
            answerHandshake(arrivalNs);
        }
        return;
    }

    // The loader: a programming-mode request between frames restarts the unit's handshake, as
    // after a reset; any other byte belongs to the loader's framing.
    if (_loaderFrame.isEmpty() && answersInLoader &&
        (byte == PROGRAMMING_REQUEST.at(0) || !_requestScan.isEmpty())) {
        _requestScan.append(char(byte));
        if (PROGRAMMING_REQUEST.startsWith(_requestScan)) {
            if (_requestScan.size() == PROGRAMMING_REQUEST.size()) {
                _requestScan.clear();
                answerHandshake(arrivalNs);
            }
            return;
        }
        const QByteArray pending = _requestScan;
        _requestScan.clear();
        for (char c : pending)
            handleLoaderByte(quint8(c), arrivalNs);
        return;
    }
    handleLoaderByte(byte, arrivalNs);
}

void SimulatedUnit::answerHandshake(qint64 arrivalNs)
{
    Handshake hs;
    int occurrence;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        hs = _handshake;
        _mode = Mode::Loader;
        _loader.locked = true;
        occurrence = ++_handshakes;
        _changed.notify_all();
    }
    qCDebug(lcSim, "programming-mode request #%d: now in the loader", occurrence);
    QByteArray reply = hs.rawReply;
    if (reply.isEmpty())
        reply = PROGRAMMING_REQUEST + hs.versionText + char(QS_FRAME);
    if (hs.mute)
        return;
    takeLineFault(LineFault::HandshakeReply, -1, SimOccurrence{occurrence, occurrence}, reply);
    const bool hangUpAfter = hs.hangUpAfterBytes >= 0;
    if (hangUpAfter)
        reply.truncate(hs.hangUpAfterBytes);

    qint64 due = arrivalNs + qint64(hs.delayMs) * NS_PER_MS;
    int pos = 0;
    for (int burst = 0; pos < reply.size(); ++burst) {
        int length = burst < hs.bursts.size() ? hs.bursts.at(burst) : reply.size() - pos;
        length = std::max(1, std::min(length, reply.size() - pos));
        if (!send(reply.mid(pos, length), due))
            return;
        pos += length;
        due = std::max(_line.outFreeNs(), monotonicNs()) + qint64(hs.burstPauseMs) * NS_PER_MS;
    }
    if (hangUpAfter)
        doHangUp();
}

void SimulatedUnit::handleLoaderByte(quint8 byte, qint64 arrivalNs)
{
    _lastLoaderByteNs = arrivalNs;
    if (_loaderFrame.isEmpty() && byte != FRAME_HEADER) {
        _loaderFrame.append(char(byte));
        rejectFrame(ACK_HEADER_INCORRECT, arrivalNs);
        return;
    }
    _loaderFrame.append(char(byte));
    if (_loaderFrame.size() < 3)
        return;
    const int length = quint8(_loaderFrame.at(1)) | (quint8(_loaderFrame.at(2)) << 8);
    if (_loaderFrame.size() == 3) {
        int maxCore;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            maxCore = _maxCoreSize;
        }
        if (length == 0)
            rejectFrame(ACK_PACKET_SIZE_ZERO, arrivalNs);
        else if (length > maxCore)
            rejectFrame(ACK_PACKET_SIZE_TOO_BIG, arrivalNs);
        return;
    }
    if (_loaderFrame.size() == 3 + length + 2)
        handleFrame(arrivalNs);
}

void SimulatedUnit::trimFrames()
{
    if (_frames.size() >= MAX_FRAMES_KEPT + MAX_FRAMES_KEPT / 4)
        _frames.remove(0, _frames.size() - MAX_FRAMES_KEPT);
}

void SimulatedUnit::rejectFrame(quint8 ack, qint64 arrivalNs)
{
    const QByteArray raw = _loaderFrame;
    _loaderFrame.clear();
    qCDebug(lcSim, "malformed frame of %d bytes, acknowledged 0x%02X", int(raw.size()), ack);
    {
        // Counted before the answer goes out, so a host that has read it sees the count.
        std::lock_guard<std::mutex> lock(_mutex);
        ++_badFrames;
        trimFrames();
        _frames.append(Frame{raw, ack});
        _changed.notify_all();
    }
    send(QByteArray(1, char(ack)), arrivalNs);
}

void SimulatedUnit::handleFrame(qint64 arrivalNs)
{
    const int length = quint8(_loaderFrame.at(1)) | (quint8(_loaderFrame.at(2)) << 8);
    const QByteArray core = _loaderFrame.mid(3, length);
    const quint16 received =
        quint16(quint8(_loaderFrame.at(3 + length)) | (quint8(_loaderFrame.at(4 + length)) << 8));
    if (crc16(core) != received) {
        rejectFrame(ACK_CHECKSUM_INCORRECT, arrivalNs);
        return;
    }
    const QByteArray raw = _loaderFrame;
    _loaderFrame.clear();
    const int command = quint8(core.at(0));

    SimFrameEffect effect;
    SimOccurrence occurrence;
    const char *faultName = nullptr;
    int frameIndex;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        occurrence = _faults.countFrame(command);
        const SimFrameFault *fault = _faults.frameFault(occurrence, command);
        if (fault)
            faultName = SimFrameFault::name(fault->kind);
        effect = SimFrameEffect::of(fault);
        trimFrames();
        _frames.append(Frame{raw, NO_ACK});
        frameIndex = _frames.size() - 1;
    }
    if (faultName)
        qCDebug(lcSim, "frame 0x%02X #%d: %s", command, occurrence.ofCommand, faultName);
    else
        qCDebug(lcSim, "frame 0x%02X #%d", command, occurrence.ofCommand);

    if (effect.unanswered != SimFrameEffect::Answered) {
        recordFrame(frameIndex, raw, command, NO_ACK);
        if (effect.unanswered == SimFrameEffect::HangUp)
            doHangUp();
        else if (effect.unanswered == SimFrameEffect::Babble)
            setBabbling(true, effect.reply);
        return;
    }
    QByteArray ackBytes(1, char(effect.ack));
    takeLineFault(LineFault::Ack, command, occurrence, ackBytes);
    // On a real line the noise went on while the frame came in, one byte per byte of the frame: the
    // host meets those before the acknowledgement.
    if (_noise.activeAt(monotonicNs()))
        ackBytes.prepend(_noise.take(raw.size()));
    if (!effect.answers) {
        recordFrame(frameIndex, raw, command, effect.ack);
        send(ackBytes, arrivalNs);
        return;
    }
    if (send(ackBytes, arrivalNs))
        answerFrame(core, occurrence, effect, frameIndex, raw);
}

// The acknowledged frame's work and reply, as its fault has them.
void SimulatedUnit::answerFrame(const QByteArray &core, SimOccurrence occurrence,
                                const SimFrameEffect &effect, int frameIndex, const QByteArray &raw)
{
    const int command = quint8(core.at(0));
    int workUs;
    QByteArray reply = execute(core, effect.executes, effect.flipsStoredBit, &workUs);
    if (effect.replacesReply)
        reply = effect.reply;
    const qint64 due = std::max(_line.outFreeNs(), monotonicNs()) + qint64(workUs) * 1000 +
                       qint64(effect.lateMs) * NS_PER_MS;
    takeLineFault(LineFault::Reply, command, occurrence, reply);
    // Counted before the reply goes out, so a host that has read it sees the count.
    recordFrame(frameIndex, raw, command, effect.ack);
    if (send(reply, due) && effect.noiseMs > 0)
        _noise.start(monotonicNs(), effect.noiseMs);
}

// Records the frame as handled: counters, the acknowledgement it got, waiters woken.
void SimulatedUnit::recordFrame(int frameIndex, const QByteArray &raw, int command, quint8 ack)
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (frameIndex < _frames.size() && _frames[frameIndex].bytes == raw)
        _frames[frameIndex].ack = ack;
    ++_frameCount[command];
    ++_framesAll;
    _changed.notify_all();
}

// The loader's work on the frame (none when it is not to execute), and the modelled time it took.
QByteArray SimulatedUnit::execute(const QByteArray &core, bool execute, bool flipStoredBit, int *workUs)
{
    std::lock_guard<std::mutex> lock(_mutex);
    SimLoader::Work work;
    const QByteArray reply = execute ? _loader.execute(core, flipStoredBit, &work) : QByteArray();
    switch (work.kind) {
    case SimLoader::Work::Command:
        *workUs = _timing.commandUs;
        break;
    case SimLoader::Work::MassErase:
        *workUs = _timing.massEraseUs;
        break;
    case SimLoader::Work::BlockWrite:
        *workUs = _timing.blockWriteUs;
        break;
    case SimLoader::Work::ReadFlash:
        // About one microsecond per byte, as a loader reading its flash.
        *workUs = std::max(_timing.commandUs, work.bytes);
        break;
    }
    return reply;
}
