// The flasher's command line: its options, every usage rule in one table, the files given.
#include "options.h"

#include "debuglog.h"
#include "exitcode.h"
#include "families.h"
#include "nativepath.h"
#include "plainfile.h"
#include "portenumerator.h"
#include "stationrecord.h"
#include "unitidentifiers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <iterator>

namespace {

const char *const DESCRIPTION =
    "Finds a Talvo flash unit on the serial ports (USB vendor %1, product %2), switches it into\n"
    "programming mode and shows its model, the installed firmware version, the version carried by\n"
    "this program for the unit's family and whether that is an update. With --install it installs\n"
    "the carried firmware; with --image FILE --family S|L a TI-TXT file of the station's own instead,\n"
    "checked whole before anything is sent to the unit and always verified.\n"
    "\n"
    "A unit whose firmware is missing or incomplete (an installation that was cut off) stays in its\n"
    "loader and cannot tell its model; --recover --family S|L restores it with the carried firmware\n"
    "of the family given, and verifies it. S or L is the letter after the unit's model number\n"
    "(Talvo 400 S, Talvo 800 L; a unit named without a letter is S). Without --family, --recover\n"
    "takes the family noted for that very unit (by its USB serial number) when an installation of\n"
    "this program was cut off on it, and writes nothing to a unit that is not noted.\n"
    "\n"
    "An interrupt (Ctrl-C, SIGTERM; Ctrl-Break on Windows) while the unit is being erased or written\n"
    "only warns; a second one within 5 seconds stops after the current frame and shows the --recover\n"
    "command for the unit. A closed terminal (SIGHUP) does not stop an installation. An installation\n"
    "that fails after the unit was erased shows the --recover command too.\n"
    "\n"
    "On Linux a unit shows up as /dev/ttyACM*; your user needs read and write access to it\n"
    "(membership of the group that owns it, such as dialout, or a udev rule).\n"
    "\n"
    "Results go to standard output; progress, warnings and errors to standard error.\n"
    "\n"
    "Exit status:\n"
    "  0    success\n"
    "  1    the installation or restore failed or was refused (a newer unit without --downgrade)\n"
    "  2    wrong usage\n"
    "  3    no unit found\n"
    "  4    a unit was found but cannot be used: no access, held by another program, not\n"
    "       understood, or in its loader (without --recover)\n"
    "  5    written whole, but the unit's loader cannot verify (it does not know the CRC\n"
    "       command, or gave the check no usable answer): --verify, --fast and --recover\n"
    "       could not check the memory\n"
    "  6    the run's row could not be put into the station record (--report): the row is\n"
    "       shown on standard error and in the result event instead\n"
    "  130  stopped by the user";

// The program's version and the firmware versions it carries.
QString versionText()
{
    QString text = QStringLiteral("talvo-flash %1\n").arg(QCoreApplication::applicationVersion());
    for (const Family &family : Families::all())
        text += QStringLiteral("Firmware %1: %2\n").arg(family.letter, family.version);
    return text;
}

} // namespace

int Options::usageError(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("talvo-flash: %1\nTry 'talvo-flash --help'.\n").arg(message)),
               stderr);
    return EXIT_USAGE;
}

namespace {

// The options in the order of the help text.
struct Definitions
{
    QCommandLineOption port{
        {"p", "port"},
        "Probe only the serial device <path> (such as /dev/ttyACM0, or a simulated unit's /dev/pts/N; a "
        "bare name such as ttyACM0 is the device of that name in /dev), whatever its USB identifiers.",
        "path"};
    QCommandLineOption install{{"i", "install"}, "Install the carried firmware on the unit found."};
    QCommandLineOption downgrade{
        "downgrade", "With --install: install even when the unit's version is newer than the carried one."};
    QCommandLineOption verify{
        "verify", "With --install: read the firmware back from the unit (CRC check) after writing it."};
    QCommandLineOption fast{
        "fast", "With --install or --recover: take each of the loader's replies as soon as its last "
                "byte is in (replies carry their length) instead of after 40 ms of quiet: about 2.5 "
                "times as fast. The firmware is then always verified."};
    QCommandLineOption recover{
        "recover", "Restore a unit left in its loader with the carried firmware of --family, without "
                   "the programming-mode request, and verify it. With --port on that device, else on "
                   "the first unit whose loader answers."};
    QCommandLineOption family{"family",
                              "With --recover: the unit's family, S or L (the letter after its "
                              "model number); without it, the family "
                              "noted for the unit when an installation on it was cut off. "
                              "With --image: the family the image is for.",
                              "S|L"};
    QCommandLineOption image{
        "image",
        "With --install or --recover, and --family: install the TI-TXT image <file> instead of the carried "
        "firmware. The whole file is checked first (every line, every address inside the family's flash, "
        "no byte given twice, the reset vector present); a file that fails is named with its line and "
        "nothing is sent to the unit (exit status 2). Its size and SHA-256 are printed; the unit's "
        "version is not compared, and the image is always verified.",
        "file"};
    QCommandLineOption verbose{{"v", "verbose"}, "Show the debug log lines on standard error."};
    QCommandLineOption list{
        "list", "Tell what is on every port with the unit's identifiers, one line each (found with model "
                "and version, no access, busy, silent, not understood, in its loader), and do nothing else."};
    QCommandLineOption json{
        "json",
        "Write one JSON object per event to standard output instead of the result lines (see README)."};
    QCommandLineOption quiet{{"q", "quiet"}, "Print errors only."};
    QCommandLineOption version{{"V", "version"},
                               "Print the program's version and the firmware versions it carries."};
    QCommandLineOption logFile{"log-file",
                               "Append the debug log to <path>, one line per message with its time.", "path"};
    // --all: one run per unit, side by side.
    QCommandLineOption all{
        "all", "With --install: install on every unit found at once (with --port, given once per device, on "
               "those devices), one run of this program per unit; each line comes with the unit's port in "
               "front (on a terminal: one line per unit, redrawn in place), a table of the results follows. "
               "Exit status 0 when every unit succeeded, 130 when "
               "the user stopped any, else the status all units share, else 1; 3 when no unit is found."};
    QCommandLineOption report{
        "report",
        "Append one CSV row per unit and run to the station record <path> when the unit's run ends (time, "
        "versions, the image's SHA-256, result, verification; a header line starts a new file), each "
        "row whole, under a lock: runs side by side and stations sharing the file never mix their lines.",
        "path"};
    QCommandLineOption serial{
        "serial",
        "Use the unit on the port with this USB serial number (given once per unit with --all); a serial "
        "number that no port has ends the run with exit status 3, one that two ports show (it identifies no "
        "unit) with exit status 2.",
        "number"};
    // Each run of --all writes its result event to this file, for the table.
    QCommandLineOption resultFile{"result-file", "The file for the run's result event.", "path"};

    Definitions() { resultFile.setFlags(QCommandLineOption::HiddenFromHelp); }
    void addTo(QCommandLineParser *parser) const
    {
        parser->addOptions({port, install, downgrade, verify, fast, recover, family, image, verbose, list,
                            json, quiet, version, logFile, all, report, serial, resultFile});
    }
    // An option given twice is a slip or a conflict (--family S --family L): neither is chosen.
    QList<QCommandLineOption> givenOnce() const
    {
        return {install, downgrade, verify, fast,    recover, family, verbose,
                list,    json,      quiet,  logFile, all,     image,  report};
    }
};

// The command line as given, before it is one action: what the usage rules read.
struct Given
{
    bool install, downgrade, verify, fast, recover, family, image, verbose, list, json, quiet, logFile, all,
        report;
    QString imageFile, logFileName, recordFile;
    QStringList ports, serials;
};

struct Rule
{
    bool (*broken)(const Given &);
    const char *message;
};

// Every usage rule of the options' combinations, in the order they are told.
const Rule RULES[] = {
    {[](const Given &g) { return g.downgrade && !g.install; }, "--downgrade goes with --install"},
    {[](const Given &g) { return g.verify && !g.install && !g.recover; },
     "--verify goes with --install (--recover always verifies)"},
    {[](const Given &g) { return g.fast && !g.install && !g.recover; },
     "--fast goes with --install or --recover"},
    {[](const Given &g) { return g.ports.contains(QString()); }, "--port needs a device path"},
    {[](const Given &g) { return g.recover && g.install; }, "--recover and --install cannot be combined"},
    {[](const Given &g) { return g.image && !g.install && !g.recover; },
     "--image goes with --install or --recover"},
    {[](const Given &g) { return g.image && g.imageFile.isEmpty(); }, "--image needs a file"},
    {[](const Given &g) { return g.image && !g.family; },
     "--image needs --family S or L: the family the image is for"},
    {[](const Given &g) { return g.image && g.all; }, "--image cannot be combined with --all"},
    {[](const Given &g) { return g.family && !g.recover && !g.image; },
     "--family goes with --recover or --image"},
    {[](const Given &g) { return g.list && (g.install || g.recover || g.downgrade || g.verify); },
     "--list does nothing else: it cannot be combined with --install, --downgrade, --verify or --recover"},
    {[](const Given &g) { return g.quiet && g.verbose; }, "--quiet and --verbose cannot be combined"},
    {[](const Given &g) { return g.logFile && g.logFileName.isEmpty(); }, "--log-file needs a path"},
    {[](const Given &g) { return g.all && !g.install; }, "--all goes with --install"},
    {[](const Given &g) { return g.ports.size() > 1 && !g.all; },
     "--port is given once, or once per device with --all"},
    {[](const Given &g) { return g.serials.size() > 1 && !g.all; },
     "--serial is given once, or once per unit with --all"},
    {[](const Given &g) { return g.serials.contains(QString()); }, "--serial needs a serial number"},
    {[](const Given &g) { return !g.serials.isEmpty() && !g.ports.isEmpty(); },
     "--serial and --port cannot be combined"},
    {[](const Given &g) { return g.report && g.recordFile.isEmpty(); }, "--report needs a path"},
    // The runs of --all write lines with their port in front and a table: no events, no log of their own.
    {[](const Given &g) { return g.all && (g.json || g.quiet || g.logFile); },
     "--all cannot be combined with --json, --quiet or --log-file"},
};

Given givenOf(const QCommandLineParser &parser, const Definitions &d)
{
    Given g;
    g.install = parser.isSet(d.install);
    g.downgrade = parser.isSet(d.downgrade);
    g.verify = parser.isSet(d.verify);
    g.fast = parser.isSet(d.fast);
    g.recover = parser.isSet(d.recover);
    g.family = parser.isSet(d.family);
    g.image = parser.isSet(d.image);
    g.verbose = parser.isSet(d.verbose);
    g.list = parser.isSet(d.list);
    g.json = parser.isSet(d.json);
    g.quiet = parser.isSet(d.quiet);
    g.logFile = parser.isSet(d.logFile);
    g.all = parser.isSet(d.all);
    g.report = parser.isSet(d.report);
    g.imageFile = parser.value(d.image);
    g.logFileName = parser.value(d.logFile);
    g.recordFile = parser.value(d.report);
    g.ports = parser.values(d.port);
    g.serials = parser.values(d.serial);
    return g;
}

// The first rule the command line breaks, in words; empty when it keeps them all.
QString usageProblem(const QCommandLineParser &parser, const Definitions &d, const Given &given)
{
    for (const QCommandLineOption &option : d.givenOnce()) {
        int times = 0;
        for (const QString &name : parser.optionNames())
            times += option.names().contains(name) ? 1 : 0;
        if (times > 1)
            return QStringLiteral("--%1 is given more than once").arg(option.names().constLast());
    }
    if (QStringList(given.ports).removeDuplicates() > 0)
        return QStringLiteral("--port names the same device more than once");
    if (QStringList(given.serials).removeDuplicates() > 0)
        return QStringLiteral("--serial names the same serial number more than once");
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    for (const Rule &rule : RULES) {
        if (rule.broken(given))
            return QString::fromLatin1(rule.message);
    }
    // Without --family a restore takes the family that the journal notes for the very unit it finds in
    // its loader, by the unit's USB serial number; a unit without an entry of its own needs --family.
    if (given.family && !Families::ofLetter(parser.value(d.family)))
        return QStringLiteral("--family must be %1, not '%2'")
            .arg(Families::letters().join(QStringLiteral(" or ")), parser.value(d.family));
    return QString();
}

// The station record, the log and the image are three different files whatever their names (a
// hard link, "./" in front): a row after the image's end, debug lines among the rows. The words
// of the first file given that another one also is, with what it writes (empty: it is only read).
QString sameFileOf(const FlashOptions &options)
{
    struct File
    {
        QString path;
        const char *option;
        const char *words; // nullptr: the file is only read
    };
    const File files[] = {{options.recordFile, "report", "the station record"},
                          {options.logFile, "log-file", "the log file"},
                          {options.image, "image", nullptr}};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        for (std::size_t j = i + 1; j < std::size(files); ++j) {
            const File &first = files[i], &second = files[j];
            if (!first.path.isEmpty() && !second.path.isEmpty() &&
                PlainFile::sameFile(nativePath(first.path), nativePath(second.path)))
                return QStringLiteral(
                           "cannot write %1 %2: it is the file of --%3 (%4); the station record, the "
                           "log and the image must be three different files")
                    .arg(QString::fromLatin1(first.words), first.path, QString::fromLatin1(second.option),
                         second.path);
        }
    }
    return QString();
}

// The record is checked before any unit is touched: a station must not update units unrecorded.
QString fileProblem(const FlashOptions &options)
{
    QString recordError;
    const bool recordExisted = QFileInfo::exists(options.recordFile);
    if (!options.recordFile.isEmpty() && !StationRecord::canAppend(options.recordFile, &recordError))
        return QStringLiteral("cannot write the station record %1: %2").arg(options.recordFile, recordError);
    const QString sameFiles = sameFileOf(options);
    if (!sameFiles.isEmpty() && !recordExisted && !options.recordFile.isEmpty())
        QFile::remove(options.recordFile); // made empty by the check above
    return sameFiles;
}

FlashOptions optionsOf(const QCommandLineParser &parser, const Definitions &d, const Given &given)
{
    FlashOptions options;
    options.action = given.list      ? Action::List
                     : given.recover ? Action::Restore
                     : given.install ? Action::Install
                                     : Action::Probe;
    options.all = given.all;
    options.downgrade = given.downgrade;
    options.verify = given.verify;
    options.fast = given.fast;
    options.verbose = given.verbose;
    options.format = given.json    ? Report::Format::Json
                     : given.quiet ? Report::Format::Quiet
                                   : Report::Format::Text;
    for (const QString &port : given.ports)
        options.ports << PortEnumerator::pathOfArgument(port);
    options.serialNumbers = given.serials;
    if (given.family)
        options.family = Families::ofLetter(parser.value(d.family))->family;
    options.image = given.imageFile;
    options.logFile = given.logFileName;
    options.recordFile = given.recordFile;
    options.resultFile = parser.value(d.resultFile);
    return options;
}

} // namespace

namespace Options {

int parse(const QStringList &arguments, FlashOptions *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QString::fromLatin1(DESCRIPTION).arg(UnitIdentifiers::VENDOR).arg(UnitIdentifiers::PRODUCT));
    const QCommandLineOption help = parser.addHelpOption();
    const Definitions definitions;
    definitions.addTo(&parser);
    if (!parser.parse(arguments))
        return Options::usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return EXIT_OK;
    }
    if (parser.isSet(definitions.version)) {
        std::fputs(qPrintable(versionText()), stdout);
        return EXIT_OK;
    }
    const Given given = givenOf(parser, definitions);
    const QString problem = usageProblem(parser, definitions, given);
    if (!problem.isEmpty())
        return Options::usageError(problem);
    *options = optionsOf(parser, definitions, given);
    const QString files = fileProblem(*options);
    if (!files.isEmpty())
        return Options::usageError(files);
    return -1;
}

} // namespace Options
