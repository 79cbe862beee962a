// talvo-sim: serves a simulated Talvo unit on a pseudo-terminal until SIGINT or SIGTERM.
// Prints "PORT /dev/pts/N" on one line of standard output once the port is ready.

#include "simulatedunit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

bool parseFrameSelector(const QString &text, int *first, int *count)
{
    // "N" or "N:COUNT"
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

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvo-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Talvo unit on a pseudo-terminal. Prints \"PORT /dev/pts/N\" and serves until "
        "SIGINT or SIGTERM.\nFrame selectors are N or N:COUNT (1-based occurrences of the command; "
        "COUNT -1 means from N on); commands are password, erase, block, any, or a code such as 0x16."));
    parser.addHelpOption();
    const QCommandLineOption versionText(QStringLiteral("version-text"),
                                         QStringLiteral("Version text of the handshake reply."),
                                         QStringLiteral("text"));
    const QCommandLineOption family(QStringLiteral("family"),
                                    QStringLiteral("Version text of a typical unit: S (49.05, Talvo 400S), "
                                                   "L (52.02, Talvo 400 L) or old (49.01)."),
                                    QStringLiteral("S|L|old"));
    const QCommandLineOption paced(QStringLiteral("paced"),
                                   QStringLiteral("Pace both directions like a 115200-baud line."));
    const QCommandLineOption eraseMs(QStringLiteral("erase-ms"), QStringLiteral("Modelled mass-erase time."),
                                     QStringLiteral("ms"));
    const QCommandLineOption blockUs(QStringLiteral("block-us"),
                                     QStringLiteral("Modelled flash time of one data block."),
                                     QStringLiteral("us"));
    const QCommandLineOption delayMs(QStringLiteral("handshake-delay-ms"),
                                     QStringLiteral("Delay before the handshake reply."),
                                     QStringLiteral("ms"));
    const QCommandLineOption bursts(
        QStringLiteral("bursts"),
        QStringLiteral("Split the handshake reply: lengths of the leading bursts, "
                       "comma-separated."),
        QStringLiteral("n,n,..."));
    const QCommandLineOption burstPause(QStringLiteral("burst-pause-ms"),
                                        QStringLiteral("Silence between bursts (default 60)."),
                                        QStringLiteral("ms"));
    const QCommandLineOption rawReply(QStringLiteral("raw-reply"),
                                      QStringLiteral("Send these bytes (hex) as the whole handshake reply."),
                                      QStringLiteral("hex"));
    const QCommandLineOption handshakeOnce(
        QStringLiteral("handshake-once"),
        QStringLiteral("Once in the loader, do not answer a new programming-mode "
                       "request (as a unit that is not reset)."));
    const QCommandLineOption empty(QStringLiteral("empty"), QStringLiteral("Start with erased flash."));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Answer nothing at all."));
    const QCommandLineOption password(
        QStringLiteral("password"), QStringLiteral("Password policy: faithful (default), accept or refuse."),
        QStringLiteral("policy"));
    const QCommandLineOption refuse(QStringLiteral("refuse"),
                                    QStringLiteral("Refuse chosen frames with an error acknowledgement "
                                                   "(default 52): cmd@selector[=hex], e.g. block@5:3=55."),
                                    QStringLiteral("cmd@sel"));
    const QCommandLineOption late(QStringLiteral("late"),
                                  QStringLiteral("Send the reply of chosen frames 60 ms late: cmd@selector."),
                                  QStringLiteral("cmd@sel"));
    const QCommandLineOption mute(QStringLiteral("mute"),
                                  QStringLiteral("Leave chosen frames unanswered: cmd@selector."),
                                  QStringLiteral("cmd@sel"));
    const QCommandLineOption hangUpAt(QStringLiteral("hang-up-at-block"),
                                      QStringLiteral("Hang the line up when data block N arrives."),
                                      QStringLiteral("n"));
    const QCommandLineOption flipStoredBit(
        QStringLiteral("flip-stored-bit"),
        QStringLiteral("Store data block N with one bit of its first byte flipped, after its write check "
                       "passed (a cell that does not hold its charge)."),
        QStringLiteral("n"));
    const QCommandLineOption babble(QStringLiteral("babble"),
                                    QStringLiteral("Send an endless stream of bytes instead of answering."));
    const QCommandLineOption chatter(
        QStringLiteral("chatter"), QStringLiteral("Send these bytes (hex) every 100 ms before the request."),
        QStringLiteral("hex"));
    const QCommandLineOption memoryFile(
        QStringLiteral("memory-file"),
        QStringLiteral("Keep the unit's memory in this file (a 1 MiB image): loaded at start when it exists, "
                       "written after every erase and data block, so that another talvo-sim can go on with "
                       "an interrupted installation. The file wins over --empty and --stranded."),
        QStringLiteral("path"));
    const QCommandLineOption stranded(
        QStringLiteral("stranded"),
        QStringLiteral("Start with the memory an interrupted update leaves: the firmware's code kept, "
                       "0xFF80 to 0xFFFF erased (no reset vector)."));
    const QCommandLineOption lineFault(
        QStringLiteral("line-fault"),
        QStringLiteral(
            "Corrupt one byte on the line, once (repeatable): WHERE[@CMD]:N/KIND[@OFFSET][=HEX]. "
            "WHERE is host (the host's frame as the unit receives it), ack, reply, hsrequest or "
            "hsreply (the programming-mode request and its reply; no CMD there); N is the "
            "occurrence (1-based) among frames of the command CMD (default any) or among "
            "handshakes; KIND is flip (XOR with HEX, default 80), drop, or insert (HEX, default "
            "80, before the byte at OFFSET); OFFSET counts from 0, negative from the end (-1: last "
            "byte). Examples: host@block:3/flip@0=80, ack@erase:1/drop, "
            "reply@password:1/insert@2=ee, hsreply:1/flip@5=80."),
        QStringLiteral("fault"));
    for (const QCommandLineOption &option :
         {versionText, family,        paced,  eraseMs, blockUs,    delayMs,  bursts,   burstPause,
          rawReply,    handshakeOnce, empty,  silent,  password,   refuse,   late,     mute,
          hangUpAt,    flipStoredBit, babble, chatter, memoryFile, stranded, lineFault})
        parser.addOption(option);
    parser.process(app);

    auto fail = [](const QString &text) {
        std::fprintf(stderr, "talvo-sim: %s\n", qPrintable(text));
        return 2;
    };

    SimulatedUnit unit;
    SimulatedUnit::Handshake hs = unit.handshake();
    if (parser.isSet(family)) {
        const QString f = parser.value(family);
        if (f.compare(QLatin1String("S"), Qt::CaseInsensitive) == 0)
            hs.versionText = "49.05(1799),Talvo 400S";
        else if (f.compare(QLatin1String("L"), Qt::CaseInsensitive) == 0)
            hs.versionText = "52.02(2316),Talvo 400 L";
        else if (f.compare(QLatin1String("old"), Qt::CaseInsensitive) == 0)
            hs.versionText = "49.01(1623)";
        else
            return fail(QStringLiteral("unknown family %1").arg(f));
    }
    if (parser.isSet(versionText))
        hs.versionText = parser.value(versionText).toUtf8();
    if (parser.isSet(delayMs))
        hs.delayMs = parser.value(delayMs).toInt();
    if (parser.isSet(bursts)) {
        for (const QString &n : parser.value(bursts).split(QLatin1Char(','), Qt::SkipEmptyParts))
            hs.bursts.append(n.toInt());
    }
    if (parser.isSet(burstPause))
        hs.burstPauseMs = parser.value(burstPause).toInt();
    if (parser.isSet(rawReply))
        hs.rawReply = QByteArray::fromHex(parser.value(rawReply).toLatin1());
    unit.setHandshake(hs);

    SimulatedUnit::Timing timing = unit.timing();
    timing.paced = parser.isSet(paced);
    if (parser.isSet(eraseMs))
        timing.massEraseUs = parser.value(eraseMs).toInt() * 1000;
    if (parser.isSet(blockUs))
        timing.blockWriteUs = parser.value(blockUs).toInt();
    unit.setTiming(timing);

    unit.setAnswersHandshakeInLoader(!parser.isSet(handshakeOnce));
    if (parser.isSet(empty))
        unit.eraseMemory();
    if (parser.isSet(stranded)) {
        // The update was cut off after the erase had begun: the vectors and the reset vector with them
        // are gone, so the unit cannot start its firmware and waits in its loader.
        unit.loadDefaultFirmware();
        unit.loadMemory(0xFF80, QByteArray(0x80, '\xFF'));
    }
    if (parser.isSet(memoryFile))
        unit.setMemoryFile(parser.value(memoryFile));
    for (const QString &value : parser.values(lineFault)) {
        SimulatedUnit::LineFault fault;
        if (!SimulatedUnit::LineFault::parse(value, &fault))
            return fail(QStringLiteral("bad line fault %1").arg(value));
        unit.addLineFault(fault);
    }
    unit.setSilent(parser.isSet(silent));
    if (parser.isSet(password)) {
        const QString p = parser.value(password);
        if (p == QLatin1String("accept"))
            unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy::AcceptAlways);
        else if (p == QLatin1String("refuse"))
            unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy::RefuseAlways);
        else if (p != QLatin1String("faithful"))
            return fail(QStringLiteral("unknown password policy %1").arg(p));
    }
    const QList<QPair<QCommandLineOption, SimulatedUnit::FrameFault::Kind>> faultOptions = {
        {refuse, SimulatedUnit::FrameFault::RefuseAck},
        {late, SimulatedUnit::FrameFault::LateReply},
        {mute, SimulatedUnit::FrameFault::Silence}};
    for (const auto &option : faultOptions) {
        for (const QString &value : parser.values(option.first)) {
            SimulatedUnit::FrameFault fault;
            fault.kind = option.second;
            const QStringList parts = value.split(QLatin1Char('@'));
            fault.command = SimulatedUnit::commandCode(parts.value(0));
            const QStringList selector = parts.value(1).split(QLatin1Char('='));
            bool ackOk = true;
            if (selector.size() == 2 && fault.kind == SimulatedUnit::FrameFault::RefuseAck)
                fault.ackByte = quint8(selector.at(1).toUInt(&ackOk, 16));
            if (parts.size() != 2 || fault.command < -1 || selector.size() > 2 || !ackOk ||
                (selector.size() == 2 && fault.kind != SimulatedUnit::FrameFault::RefuseAck) ||
                !parseFrameSelector(selector.at(0), &fault.first, &fault.count))
                return fail(QStringLiteral("bad frame selector %1").arg(value));
            unit.addFrameFault(fault);
        }
    }
    const QList<QPair<QCommandLineOption, SimulatedUnit::FrameFault (*)(int, int)>> blockOptions = {
        {hangUpAt, &SimulatedUnit::FrameFault::hangUpAt},
        {flipStoredBit, &SimulatedUnit::FrameFault::storedBitFlip}};
    for (const auto &option : blockOptions) {
        if (!parser.isSet(option.first))
            continue;
        bool ok = false;
        const int block = parser.value(option.first).toInt(&ok);
        if (!ok || block < 1)
            return fail(QStringLiteral("bad block number %1").arg(parser.value(option.first)));
        unit.addFrameFault(option.second(SimulatedUnit::CMD_RX_DATA_BLOCK, block));
    }
    if (parser.isSet(babble))
        unit.setBabbling(true);
    if (parser.isSet(chatter))
        unit.setChatter(QByteArray::fromHex(parser.value(chatter).toLatin1()), 100);

    // Signals are taken by sigwait below; the serving thread inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!unit.start())
        return fail(unit.errorString());
    std::printf("PORT %s\n", qPrintable(unit.portPath()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    unit.stop();
    std::fprintf(stderr,
                 "talvo-sim: %d handshakes, %d frames (%d malformed), %d passwords, %d erases, %d blocks "
                 "written, %d line faults applied\n",
                 unit.handshakesAnswered(), unit.framesReceived(), unit.badFrames(), unit.passwordsSeen(),
                 unit.massErases(), unit.blocksWritten(), unit.lineFaultsApplied());
    return 0;
}
