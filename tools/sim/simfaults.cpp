#include "simfaults.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <random>

// What the unit receives, answers and spoils on purpose. Off unless asked for
// (QT_LOGGING_RULES="talvo.sim.debug=true", or talvo-sim --verbose), so that the tests' own log
// stays the host's alone.
Q_LOGGING_CATEGORY(lcSim, "talvo.sim", QtInfoMsg)

namespace {

// The places of line faults, by SimLineFault::Where, as --line-fault names them.
const char *const WHERE_NAMES[] = {"host", "ack", "reply", "hsrequest", "hsreply"};
static_assert(std::size(WHERE_NAMES) == SimLineFault::HandshakeReply + 1, "a name for every place");

const qint64 NS_PER_MS = 1000000;

// The occurrence a fault for `faultCommand` counts: of all frames, of the command, or none (-1).
int occurrenceFor(int faultCommand, int command, SimOccurrence occurrence)
{
    return faultCommand < 0 ? occurrence.ofAll : (faultCommand == command ? occurrence.ofCommand : -1);
}

// "N" or "N:COUNT"
bool parseFrameSelector(const QString &text, int *first, int *count)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok = true;
    *first = parts.value(0).toInt(&ok);
    if (!ok || *first < 1)
        return false;
    *count = 1;
    if (parts.size() > 1) {
        *count = parts.at(1).toInt(&ok);
        if (!ok)
            return false;
    }
    return parts.size() <= 2;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Frame faults

SimFrameFault SimFrameFault::of(Kind kind, int command, int first, int count)
{
    SimFrameFault fault;
    fault.kind = kind;
    fault.command = command;
    fault.first = first;
    fault.count = count;
    return fault;
}

SimFrameFault SimFrameFault::refused(int command, int first, int count, quint8 ack)
{
    SimFrameFault fault = of(RefuseAck, command, first, count);
    fault.ackByte = ack;
    return fault;
}

SimFrameFault SimFrameFault::silent(int command, int first, int count)
{
    return of(Silence, command, first, count);
}

SimFrameFault SimFrameFault::late(int command, int first, int delayMs, int count)
{
    SimFrameFault fault = of(LateReply, command, first, count);
    fault.delayMs = delayMs;
    return fault;
}

SimFrameFault SimFrameFault::hangUpAt(int command, int occurrence)
{
    return of(HangUp, command, occurrence);
}

SimFrameFault SimFrameFault::storedBitFlip(int command, int first)
{
    return of(StoredBitFlip, command, first);
}

SimFrameFault SimFrameFault::noise(int command, int first, int ms)
{
    SimFrameFault fault = of(Noise, command, first);
    fault.delayMs = ms;
    return fault;
}

bool SimFrameFault::parse(Kind kind, const QString &text, SimFrameFault *fault)
{
    *fault = SimFrameFault();
    fault->kind = kind;
    if (kind == Noise) {
        const QStringList parts = text.split(QRegularExpression(QStringLiteral("[@=]")));
        bool firstOk = false, msOk = false;
        fault->command = SimBsl::commandCode(parts.value(0));
        fault->first = parts.value(1).toInt(&firstOk);
        fault->delayMs = parts.value(2).toInt(&msOk);
        return parts.size() == 3 && firstOk && msOk && fault->command >= -1 && fault->first >= 1 &&
               fault->delayMs >= 1;
    }
    const QStringList parts = text.split(QLatin1Char('@'));
    fault->command = SimBsl::commandCode(parts.value(0));
    const QStringList selector = parts.value(1).split(QLatin1Char('='));
    bool ackOk = true;
    if (selector.size() == 2 && kind == RefuseAck)
        fault->ackByte = quint8(selector.at(1).toUInt(&ackOk, 16));
    return parts.size() == 2 && fault->command >= -1 && selector.size() <= 2 && ackOk &&
           (selector.size() < 2 || kind == RefuseAck) &&
           parseFrameSelector(selector.at(0), &fault->first, &fault->count);
}

const char *SimFrameFault::name(Kind kind)
{
    static const char *const names[] = {"refused",         "corrupt acknowledgement",
                                        "silence",         "late reply",
                                        "message reply",   "reply bytes",
                                        "hang-up",         "babble",
                                        "stored bit flip", "noise"};
    static_assert(std::size(names) == Noise + 1, "a name for every kind");
    return names[kind];
}

SimFrameEffect SimFrameEffect::of(const SimFrameFault *fault)
{
    SimFrameEffect effect;
    if (!fault)
        return effect;
    switch (fault->kind) {
    case SimFrameFault::RefuseAck:
        effect.ack = fault->ackByte;
        effect.executes = effect.answers = false;
        break;
    case SimFrameFault::CorruptAck:
        effect.ack = fault->ackByte;
        break;
    case SimFrameFault::Silence:
        effect.unanswered = Silence;
        break;
    case SimFrameFault::LateReply:
        effect.lateMs = fault->delayMs;
        break;
    case SimFrameFault::ReplyMessage:
        effect.executes = false;
        effect.replacesReply = true;
        effect.reply = SimBsl::messageReply(fault->messageCode);
        break;
    case SimFrameFault::ReplyBytes:
        effect.replacesReply = true;
        effect.reply = fault->replyBytes;
        break;
    case SimFrameFault::HangUp:
        effect.unanswered = HangUp;
        break;
    case SimFrameFault::Babble:
        effect.unanswered = Babble;
        effect.reply = fault->replyBytes.isEmpty() ? QByteArray(1, '\x55') : fault->replyBytes;
        break;
    case SimFrameFault::StoredBitFlip:
        effect.flipsStoredBit = true;
        break;
    case SimFrameFault::Noise:
        effect.noiseMs = fault->delayMs;
        break;
    }
    return effect;
}

// ---------------------------------------------------------------------------------------------------
// Line faults

bool SimLineFault::applyTo(QByteArray &bytes) const
{
    const int at = offset < 0 ? bytes.size() + offset : offset;
    if (at < 0 || at > bytes.size() || (at == bytes.size() && kind != Insert))
        return false;
    switch (kind) {
    case Flip:
        bytes[at] = char(quint8(bytes.at(at)) ^ value);
        break;
    case Drop:
        bytes.remove(at, 1);
        break;
    case Insert:
        bytes.insert(at, char(value));
        break;
    }
    return true;
}

bool SimLineFault::parse(const QString &text, SimLineFault *fault)
{
    const QStringList halves = text.split(QLatin1Char('/'));
    if (halves.size() != 2)
        return false;

    const QStringList place = halves.at(0).split(QLatin1Char(':'));
    if (place.size() != 2)
        return false;
    const QStringList target = place.at(0).split(QLatin1Char('@'));
    const auto where = std::find_if(std::cbegin(WHERE_NAMES), std::cend(WHERE_NAMES),
                                    [&](const char *name) { return target.at(0) == QLatin1String(name); });
    if (where == std::cend(WHERE_NAMES) || target.size() > 2)
        return false;
    fault->where = SimLineFault::Where(where - std::cbegin(WHERE_NAMES));
    const bool handshake =
        fault->where == SimLineFault::HandshakeRequest || fault->where == SimLineFault::HandshakeReply;
    if (target.size() == 2 && handshake)
        return false;
    fault->command = target.size() == 2 ? SimBsl::commandCode(target.at(1)) : -1;
    bool ok = false;
    fault->occurrence = place.at(1).toInt(&ok);
    if (fault->command < -1 || !ok || fault->occurrence < 1)
        return false;

    const QStringList change = halves.at(1).split(QLatin1Char('='));
    if (change.size() > 2)
        return false;
    const QStringList kindAt = change.at(0).split(QLatin1Char('@'));
    const QString kind = kindAt.at(0);
    if (kind == QLatin1String("flip"))
        fault->kind = SimLineFault::Flip;
    else if (kind == QLatin1String("drop"))
        fault->kind = SimLineFault::Drop;
    else if (kind == QLatin1String("insert"))
        fault->kind = SimLineFault::Insert;
    else
        return false;
    fault->offset = 0;
    if (kindAt.size() > 2 || (kindAt.size() == 2 && (fault->offset = kindAt.at(1).toInt(&ok), !ok)))
        return false;
    fault->value = 0x80;
    if (change.size() == 2) {
        const uint value = change.at(1).toUInt(&ok, 16);
        if (!ok || value > 0xFF || fault->kind == SimLineFault::Drop)
            return false;
        fault->value = quint8(value);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------
// The waiting faults

SimOccurrence SimFaults::count(Counts &counts, int command)
{
    SimOccurrence occurrence;
    occurrence.ofCommand = ++counts.perCommand[command & 0xFF];
    occurrence.ofAll = ++counts.all;
    return occurrence;
}

void SimFaults::resetCounters()
{
    _frames = Counts();
    _hostFrames = Counts();
    _hostRequests = lineFaultsApplied = 0;
}

const SimFrameFault *SimFaults::frameFault(SimOccurrence occurrence, int command) const
{
    for (const SimFrameFault &fault : frameFaults) {
        const int n = occurrenceFor(fault.command, command, occurrence);
        if (n < fault.first)
            continue;
        if (fault.count < 0 || n < fault.first + fault.count)
            return &fault;
    }
    return nullptr;
}

bool SimFaults::lineFaultWaits(SimLineFault::Where where) const
{
    return std::any_of(lineFaults.cbegin(), lineFaults.cend(),
                       [where](const SimLineFault &fault) { return fault.where == where; });
}

bool SimFaults::takeLineFault(SimLineFault::Where where, int command, SimOccurrence occurrence,
                              QByteArray &bytes)
{
    bool changed = false;
    for (int i = 0; i < lineFaults.size();) {
        const SimLineFault &fault = lineFaults.at(i);
        const int n = occurrenceFor(fault.command, command, occurrence);
        if (fault.where != where || n != fault.occurrence) {
            ++i;
            continue;
        }
        if (fault.applyTo(bytes)) {
            changed = true;
            ++lineFaultsApplied;
            qCDebug(lcSim, "line fault applied: %s, occurrence %d", WHERE_NAMES[where], n);
        }
        lineFaults.remove(i);
    }
    return changed;
}

// ---------------------------------------------------------------------------------------------------
// Line noise

void SimLineNoise::start(qint64 nowNs, int ms)
{
    _startNs = nowNs;
    _endNs = _startNs + qint64(ms) * NS_PER_MS;
    _sent = 0;
}

qint64 SimLineNoise::dueBy(qint64 nowNs, qint64 byteTimeNs) const
{
    return std::min<qint64>((std::min(nowNs, _endNs) - _startNs) / byteTimeNs - _sent, 4096);
}

QByteArray SimLineNoise::take(qint64 count)
{
    QByteArray bytes;
    for (qint64 i = 0; i < count; ++i, ++_sent) {
        if (_sent % 256 == 0) {
            _round.resize(256);
            std::iota(_round.begin(), _round.end(), char(0));
            std::shuffle(_round.begin(), _round.end(), std::mt19937(_seed++));
        }
        bytes.append(_round.at(int(_sent % 256)));
    }
    return bytes;
}
