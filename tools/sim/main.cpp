// talvo-sim: serves a simulated Talvo unit on a pseudo-terminal (or a serial device) until SIGINT or
// SIGTERM. Prints "PORT /dev/pts/N" on one line of standard output once the port is ready.

#include "simulatedunit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

// talvo-sim's options: name, the value's name (none for a flag) and description; the handshake's
// first, then timing, memory and the loader's faults.
struct OptionText
{
    const char *name;
    const char *valueName;
    const char *description;
};

const OptionText OPTIONS[] = {
    {"version-text", "text", "Version text of the handshake reply."},
    {"family", "S|L|old",
     "Version text of a typical unit: S (49.05, Talvo 400S), L (52.02, Talvo 400 L) or old (49.01)."},
    {"handshake-delay-ms", "ms", "Delay before the handshake reply."},
    {"bursts", "n,n,...", "Split the handshake reply: lengths of the leading bursts, comma-separated."},
    {"burst-pause-ms", "ms", "Silence between bursts (default 60)."},
    {"raw-reply", "hex", "Send these bytes (hex) as the whole handshake reply."},
    {"chatter", "hex", "Send these bytes (hex) every 100 ms before the request."},
    {"mute-handshake", "",
     "Enter the loader on the programming-mode request without answering it (a half-written application; "
     "see also --raw-reply)."},
    {"handshake-once", "",
     "Once in the loader, do not answer a new programming-mode request (as a unit that is not reset)."},
    {"silent", "", "Answer nothing at all."},
    {"babble", "", "Send an endless stream of bytes instead of answering."},
    {"paced", "", "Pace both directions like a 115200-baud line."},
    {"erase-ms", "ms", "Modelled mass-erase time."},
    {"block-us", "us", "Modelled flash time of one data block."},
    {"empty", "", "Start with erased flash."},
    {"stranded", "",
     "Start with the memory an interrupted update leaves: the firmware's code kept, 0xFF80 to 0xFFFF erased "
     "(no reset vector)."},
    {"memory-file", "path",
     "Keep the unit's memory in this file (a 1 MiB image): loaded at start when it exists, written after "
     "every erase and data block, so that another talvo-sim can go on with an interrupted installation. The "
     "file wins over --empty and --stranded."},
    {"password", "policy", "Password policy: faithful (default), accept or refuse."},
    {"refuse", "cmd@sel",
     "Refuse chosen frames with an error acknowledgement (default 52): cmd@selector[=hex], e.g. "
     "block@5:3=55."},
    {"late", "cmd@sel", "Send the reply of chosen frames 60 ms late: cmd@selector."},
    {"mute", "cmd@sel", "Leave chosen frames unanswered: cmd@selector."},
    {"noise", "cmd@n=ms",
     "After the reply to the Nth frame of the command, MS milliseconds of line noise (random bytes, every "
     "value), e.g. password@1=200."},
    {"no-crc-check", "", "A loader without the CRC check: it answers the command 07 (unknown command)."},
    {"hang-up-at-block", "n", "Hang the line up when data block N arrives."},
    {"flip-stored-bit", "n",
     "Store data block N with one bit of its first byte flipped, after its write check passed (a cell that "
     "does not hold its charge)."},
    {"device", "path",
     "Serve this serial device in raw mode instead of a new pseudo-terminal, such as the gadget side of a "
     "USB "
     "serial function (/dev/ttyGS0). When it hangs up (the gadget unbound, as by a pulled cable) the unit "
     "loses power and comes up again, in its application or without one in its loader, once the device opens "
     "again."},
    {"verbose", "", "Log what the unit receives, answers and spoils on purpose (category talvo.sim)."},
    {"line-fault", "fault",
     "Corrupt one byte on the line, once (repeatable): WHERE[@CMD]:N/KIND[@OFFSET][=HEX]. WHERE is host (the "
     "host's frame as the unit receives it), ack, reply, hsrequest or hsreply (the programming-mode request "
     "and its reply; no CMD there); N is the occurrence (1-based) among frames of the command CMD (default "
     "any) or among handshakes; KIND is flip (XOR with HEX, default 80), drop, or insert (HEX, default 80, "
     "before the byte at OFFSET); OFFSET counts from 0, negative from the end (-1: last byte). Examples: "
     "host@block:3/flip@0=80, ack@erase:1/drop, reply@password:1/insert@2=ee, hsreply:1/flip@5=80."},
};

// The parsed command line, read by option name.
class Options
{
public:
    explicit Options(const QCommandLineParser &parser) : _parser(parser) {}
    bool isSet(const char *name) const { return _parser.isSet(QLatin1String(name)); }
    QString value(const char *name) const { return _parser.value(QLatin1String(name)); }
    QStringList values(const char *name) const { return _parser.values(QLatin1String(name)); }

private:
    const QCommandLineParser &_parser;
};

// Each of these sets the unit up from its options and returns what is wrong with them (empty:
// nothing).

QString setUpHandshake(const Options &options, SimulatedUnit &unit)
{
    SimulatedUnit::Handshake hs = unit.handshake();
    if (options.isSet("family")) {
        const QString f = options.value("family");
        if (f.compare(QLatin1String("S"), Qt::CaseInsensitive) == 0)
            hs.versionText = "49.05(1799),Talvo 400S";
        else if (f.compare(QLatin1String("L"), Qt::CaseInsensitive) == 0)
            hs.versionText = "52.02(2316),Talvo 400 L";
        else if (f.compare(QLatin1String("old"), Qt::CaseInsensitive) == 0)
            hs.versionText = "49.01(1623)";
        else
            return QStringLiteral("unknown family %1").arg(f);
    }
    if (options.isSet("version-text"))
        hs.versionText = options.value("version-text").toUtf8();
    if (options.isSet("handshake-delay-ms"))
        hs.delayMs = options.value("handshake-delay-ms").toInt();
    if (options.isSet("bursts")) {
        for (const QString &n : options.value("bursts").split(QLatin1Char(','), Qt::SkipEmptyParts))
            hs.bursts.append(n.toInt());
    }
    if (options.isSet("burst-pause-ms"))
        hs.burstPauseMs = options.value("burst-pause-ms").toInt();
    if (options.isSet("raw-reply"))
        hs.rawReply = QByteArray::fromHex(options.value("raw-reply").toLatin1());
    hs.mute = options.isSet("mute-handshake");
    unit.setHandshake(hs);
    return QString();
}

void setUpTimingAndMemory(const Options &options, SimulatedUnit &unit)
{
    SimulatedUnit::Timing timing = unit.timing();
    timing.paced = options.isSet("paced");
    if (options.isSet("erase-ms"))
        timing.massEraseUs = options.value("erase-ms").toInt() * 1000;
    if (options.isSet("block-us"))
        timing.blockWriteUs = options.value("block-us").toInt();
    unit.setTiming(timing);

    unit.setAnswersHandshakeInLoader(!options.isSet("handshake-once"));
    if (options.isSet("empty"))
        unit.eraseMemory();
    if (options.isSet("stranded")) {
        // The update was cut off after the erase had begun: the vectors and the reset vector with them
        // are gone, so the unit cannot start its firmware and waits in its loader.
        unit.loadDefaultFirmware();
        unit.loadMemory(0xFF80, QByteArray(0x80, '\xFF'));
    }
    if (options.isSet("memory-file"))
        unit.setMemoryFile(options.value("memory-file"));
}

QString setUpFrameFaults(const Options &options, SimulatedUnit &unit)
{
    const QList<QPair<const char *, SimulatedUnit::FrameFault::Kind>> faultOptions = {
        {"refuse", SimulatedUnit::FrameFault::RefuseAck},
        {"late", SimulatedUnit::FrameFault::LateReply},
        {"mute", SimulatedUnit::FrameFault::Silence}};
    for (const auto &option : faultOptions) {
        for (const QString &value : options.values(option.first)) {
            SimulatedUnit::FrameFault fault;
            if (!SimulatedUnit::FrameFault::parse(option.second, value, &fault))
                return QStringLiteral("bad frame selector %1").arg(value);
            unit.addFrameFault(fault);
        }
    }
    const QList<QPair<const char *, SimulatedUnit::FrameFault (*)(int, int)>> blockOptions = {
        {"hang-up-at-block", &SimulatedUnit::FrameFault::hangUpAt},
        {"flip-stored-bit", &SimulatedUnit::FrameFault::storedBitFlip}};
    for (const auto &option : blockOptions) {
        if (!options.isSet(option.first))
            continue;
        bool ok = false;
        const int block = options.value(option.first).toInt(&ok);
        if (!ok || block < 1)
            return QStringLiteral("bad block number %1").arg(options.value(option.first));
        unit.addFrameFault(option.second(SimulatedUnit::CMD_RX_DATA_BLOCK, block));
    }
    for (const QString &value : options.values("noise")) {
        SimulatedUnit::FrameFault fault;
        if (!SimulatedUnit::FrameFault::parse(SimulatedUnit::FrameFault::Noise, value, &fault))
            return QStringLiteral("bad noise %1").arg(value);
        unit.addFrameFault(fault);
    }
    return QString();
}

QString setUpLoader(const Options &options, SimulatedUnit &unit)
{
    for (const QString &value : options.values("line-fault")) {
        SimulatedUnit::LineFault fault;
        if (!SimulatedUnit::LineFault::parse(value, &fault))
            return QStringLiteral("bad line fault %1").arg(value);
        unit.addLineFault(fault);
    }
    unit.setSilent(options.isSet("silent"));
    if (options.isSet("password")) {
        const QString p = options.value("password");
        if (p == QLatin1String("accept"))
            unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy::AcceptAlways);
        else if (p == QLatin1String("refuse"))
            unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy::RefuseAlways);
        else if (p != QLatin1String("faithful"))
            return QStringLiteral("unknown password policy %1").arg(p);
    }
    const QString frameFaultError = setUpFrameFaults(options, unit);
    if (!frameFaultError.isEmpty())
        return frameFaultError;
    unit.setKnowsCrcCheck(!options.isSet("no-crc-check"));
    if (options.isSet("device"))
        unit.setDevicePath(options.value("device"));
    if (options.isSet("babble"))
        unit.setBabbling(true);
    if (options.isSet("chatter"))
        unit.setChatter(QByteArray::fromHex(options.value("chatter").toLatin1()), 100);
    return QString();
}

// Serves until SIGINT or SIGTERM, then says what the unit saw.
int serve(SimulatedUnit &unit, bool device)
{
    // Signals are taken by sigwait below; the serving thread inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!unit.start()) {
        std::fprintf(stderr, "talvo-sim: %s\n", qPrintable(unit.errorString()));
        return 2;
    }
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
    if (device)
        std::fprintf(stderr, "talvo-sim: %d hang-ups of %s\n", unit.powerCycles(),
                     qPrintable(unit.portPath()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvo-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Talvo unit on a pseudo-terminal (or the device given). Prints \"PORT /dev/pts/N\" and "
        "serves until "
        "SIGINT or SIGTERM.\nFrame selectors are N or N:COUNT (1-based occurrences of the command; "
        "COUNT -1 means from N on); commands are password, erase, block, any, or a code such as 0x16."));
    parser.addHelpOption();
    for (const OptionText &option : OPTIONS)
        parser.addOption(QCommandLineOption(QLatin1String(option.name), QString::fromUtf8(option.description),
                                            QLatin1String(option.valueName)));
    parser.process(app);
    const Options options(parser);
    if (options.isSet("verbose"))
        QLoggingCategory::setFilterRules(QStringLiteral("talvo.sim.debug=true"));

    SimulatedUnit unit;
    QString error = setUpHandshake(options, unit);
    if (error.isEmpty()) {
        setUpTimingAndMemory(options, unit);
        error = setUpLoader(options, unit);
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "talvo-sim: %s\n", qPrintable(error));
        return 2;
    }
    return serve(unit, options.isSet("device"));
}
