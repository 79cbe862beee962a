#include "allunits.h"
#include "debuglog.h"
#include "families.h"
#include "flashsession.h"
#include "interruptguard.h"
#include "nativepath.h"
#include "portenumerator.h"
#include "stationrecord.h"
#include "unitidentifiers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

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

int usageError(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("talvo-flash: %1\nTry 'talvo-flash --help'.\n").arg(message)),
               stderr);
    return EXIT_USAGE;
}

// The station record, the log and the image are three different files whatever their names (a
// hard link, "./" in front): a row after the image's end, debug lines among the rows. The words
// of the first file given that another one also is, with what it writes (empty: it is only read).
QString sameFileOf(const QList<QPair<const QCommandLineOption *, QString>> &files,
                   const QCommandLineParser &parser)
{
    for (int i = 0; i < files.size(); ++i) {
        for (int j = i + 1; j < files.size(); ++j) {
            const QCommandLineOption &first = *files.at(i).first, &second = *files.at(j).first;
            if (parser.isSet(first) && parser.isSet(second) &&
                PlainFile::sameFile(nativePath(parser.value(first)), nativePath(parser.value(second))))
                return QStringLiteral(
                           "cannot write %1 %2: it is the file of --%3 (%4); the station record, the log "
                           "and the image must be three different files")
                    .arg(files.at(i).second, parser.value(first), second.names().constLast(),
                         parser.value(second));
        }
    }
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    // Output into a pipe whose reader went away must not end the program, least of all an installation.
    InterruptGuard::ignoreBrokenPipes();
    InterruptGuard::ignoreFileSizeLimit();
    DebugLog::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvo-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALVO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QString::fromLatin1(DESCRIPTION).arg(UnitIdentifiers::VENDOR).arg(UnitIdentifiers::PRODUCT));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption portOption(
        {"p", "port"},
        "Probe only the serial device <path> (such as /dev/ttyACM0, or a simulated unit's /dev/pts/N; a "
        "bare name such as ttyACM0 is the device of that name in /dev), whatever its USB identifiers.",
        "path");
    const QCommandLineOption installOption({"i", "install"},
                                           "Install the carried firmware on the unit found.");
    const QCommandLineOption downgradeOption(
        "downgrade", "With --install: install even when the unit's version is newer than the carried one.");
    const QCommandLineOption verifyOption(
        "verify", "With --install: read the firmware back from the unit (CRC check) after writing it.");
    const QCommandLineOption fastOption(
        "fast", "With --install or --recover: take each of the loader's replies as soon as its last "
                "byte is in (replies carry their length) instead of after 40 ms of quiet: about 2.5 "
                "times as fast. The firmware is then always verified.");
    const QCommandLineOption recoverOption(
        "recover", "Restore a unit left in its loader with the carried firmware of --family, without "
                   "the programming-mode request, and verify it. With --port on that device, else on "
                   "the first unit whose loader answers.");
    const QCommandLineOption familyOption("family",
                                          "With --recover: the unit's family, S or L (the letter after its "
                                          "model number); without it, the family "
                                          "noted for the unit when an installation on it was cut off. "
                                          "With --image: the family the image is for.",
                                          "S|L");
    const QCommandLineOption imageOption(
        "image",
        "With --install or --recover, and --family: install the TI-TXT image <file> instead of the carried "
        "firmware. The whole file is checked first (every line, every address inside the family's flash, "
        "no byte given twice, the reset vector present); a file that fails is named with its line and "
        "nothing is sent to the unit (exit status 2). Its size and SHA-256 are printed; the unit's "
        "version is not compared, and the image is always verified.",
        "file");
    const QCommandLineOption verboseOption({"v", "verbose"}, "Show the debug log lines on standard error.");
    for (const QCommandLineOption &option :
         {portOption, installOption, downgradeOption, verifyOption, fastOption, recoverOption, familyOption,
          imageOption, verboseOption})
        parser.addOption(option);
    const QCommandLineOption listOption(
        "list", "Tell what is on every port with the unit's identifiers, one line each (found with model "
                "and version, no access, busy, silent, not understood, in its loader), and do nothing else.");
    const QCommandLineOption jsonOption(
        "json",
        "Write one JSON object per event to standard output instead of the result lines (see README).");
    const QCommandLineOption quietOption({"q", "quiet"}, "Print errors only.");
    const QCommandLineOption versionOption(
        {"V", "version"}, "Print the program's version and the firmware versions it carries.");
    const QCommandLineOption logFileOption(
        "log-file", "Append the debug log to <path>, one line per message with its time.", "path");
    parser.addOptions({listOption, jsonOption, quietOption, versionOption, logFileOption});
    // --all: one run per unit, side by side.
    const QCommandLineOption allOption(
        "all", "With --install: install on every unit found at once (with --port, given once per device, on "
               "those devices), one run of this program per unit; each line comes with the unit's port in "
               "front (on a terminal: one line per unit, redrawn in place), a table of the results follows. "
               "Exit status 0 when every unit succeeded, 130 when "
               "the user stopped any, else the status all units share, else 1; 3 when no unit is found.");
    parser.addOption(allOption);
    const QCommandLineOption reportOption(
        "report",
        "Append one CSV row per unit and run to the station record <path> when the unit's run ends (time, "
        "versions, the image's SHA-256, result, verification; a header line starts a new file), each "
        "row whole, under a lock: runs side by side and stations sharing the file never mix their lines.",
        "path");
    const QCommandLineOption serialOption(
        "serial",
        "Use the unit on the port with this USB serial number (given once per unit with --all); a serial "
        "number that no port has ends the run with exit status 3, one that two ports show (it identifies no "
        "unit) with exit status 2.",
        "number");
    parser.addOptions({reportOption, serialOption});
    // Each run of --all writes its result event to this file, for the table.
    QCommandLineOption resultFileOption("result-file", "The file for the run's result event.", "path");
    resultFileOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(resultFileOption);
    const QList<QCommandLineOption> givenOnce = {installOption, downgradeOption, verifyOption,  fastOption,
                                                 recoverOption, familyOption,    verboseOption, listOption,
                                                 jsonOption,    quietOption,     logFileOption, allOption,
                                                 imageOption,   reportOption};

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return EXIT_OK;
    }
    if (parser.isSet(versionOption)) {
        std::fputs(qPrintable(versionText()), stdout);
        return EXIT_OK;
    }
    // An option given twice is a slip or a conflict (--family S --family L): neither is chosen.
    for (const QCommandLineOption &option : givenOnce) {
        int given = 0;
        for (const QString &name : parser.optionNames())
            given += option.names().contains(name) ? 1 : 0;
        if (given > 1)
            return usageError(QStringLiteral("--%1 is given more than once").arg(option.names().constLast()));
    }
    if (parser.values(portOption).removeDuplicates() > 0)
        return usageError(QStringLiteral("--port names the same device more than once"));
    if (parser.values(serialOption).removeDuplicates() > 0)
        return usageError(QStringLiteral("--serial names the same serial number more than once"));
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(downgradeOption) && !parser.isSet(installOption))
        return usageError(QStringLiteral("--downgrade goes with --install"));
    if (parser.isSet(verifyOption) && !parser.isSet(installOption) && !parser.isSet(recoverOption))
        return usageError(QStringLiteral("--verify goes with --install (--recover always verifies)"));
    if (parser.isSet(fastOption) && !parser.isSet(installOption) && !parser.isSet(recoverOption))
        return usageError(QStringLiteral("--fast goes with --install or --recover"));
    if (parser.isSet(portOption) && parser.value(portOption).isEmpty())
        return usageError(QStringLiteral("--port needs a device path"));
    if (parser.isSet(recoverOption) && parser.isSet(installOption))
        return usageError(QStringLiteral("--recover and --install cannot be combined"));
    if (parser.isSet(imageOption) && !parser.isSet(installOption) && !parser.isSet(recoverOption))
        return usageError(QStringLiteral("--image goes with --install or --recover"));
    if (parser.isSet(imageOption) && parser.value(imageOption).isEmpty())
        return usageError(QStringLiteral("--image needs a file"));
    if (parser.isSet(imageOption) && !parser.isSet(familyOption))
        return usageError(QStringLiteral("--image needs --family S or L: the family the image is for"));
    if (parser.isSet(imageOption) && parser.isSet(allOption))
        return usageError(QStringLiteral("--image cannot be combined with --all"));
    if (parser.isSet(familyOption) && !parser.isSet(recoverOption) && !parser.isSet(imageOption))
        return usageError(QStringLiteral("--family goes with --recover or --image"));
    if (parser.isSet(listOption) && (parser.isSet(installOption) || parser.isSet(recoverOption) ||
                                     parser.isSet(downgradeOption) || parser.isSet(verifyOption)))
        return usageError(QStringLiteral("--list does nothing else: it cannot be combined with --install, "
                                         "--downgrade, --verify or --recover"));
    if (parser.isSet(quietOption) && parser.isSet(verboseOption))
        return usageError(QStringLiteral("--quiet and --verbose cannot be combined"));
    if (parser.isSet(logFileOption) && parser.value(logFileOption).isEmpty())
        return usageError(QStringLiteral("--log-file needs a path"));
    if (parser.isSet(allOption) && !parser.isSet(installOption))
        return usageError(QStringLiteral("--all goes with --install"));
    if (parser.values(portOption).size() > 1 && !parser.isSet(allOption))
        return usageError(QStringLiteral("--port is given once, or once per device with --all"));
    if (parser.values(serialOption).size() > 1 && !parser.isSet(allOption))
        return usageError(QStringLiteral("--serial is given once, or once per unit with --all"));
    if (parser.values(serialOption).contains(QString()))
        return usageError(QStringLiteral("--serial needs a serial number"));
    if (parser.isSet(serialOption) && parser.isSet(portOption))
        return usageError(QStringLiteral("--serial and --port cannot be combined"));
    if (parser.isSet(reportOption) && parser.value(reportOption).isEmpty())
        return usageError(QStringLiteral("--report needs a path"));
    if (parser.values(portOption).contains(QString()))
        return usageError(QStringLiteral("--port needs a device path"));
    // The runs of --all write lines with their port in front and a table: no events, no log of their own.
    if (parser.isSet(allOption) &&
        (parser.isSet(jsonOption) || parser.isSet(quietOption) || parser.isSet(logFileOption)))
        return usageError(QStringLiteral("--all cannot be combined with --json, --quiet or --log-file"));
    // Without --family a restore takes the family that the journal notes for the very unit it finds in
    // its loader, by the unit's USB serial number; a unit without an entry of its own needs --family.
    TargetInfo::eTARGET_TYPE family = TargetInfo::TARGET_UNKNOWN;
    if (parser.isSet(familyOption)) {
        const Family *given = Families::ofLetter(parser.value(familyOption));
        if (!given)
            return usageError(
                QStringLiteral("--family must be %1, not '%2'")
                    .arg(Families::letters().join(QStringLiteral(" or ")), parser.value(familyOption)));
        family = given->family;
    }

    // The record is checked before any unit is touched: a station must not update units unrecorded.
    QString recordError;
    const bool recordExisted = QFileInfo::exists(parser.value(reportOption));
    if (parser.isSet(reportOption) && !StationRecord::canAppend(parser.value(reportOption), &recordError))
        return usageError(QStringLiteral("cannot write the station record %1: %2")
                              .arg(parser.value(reportOption), recordError));
    const QString sameFiles = sameFileOf({{&reportOption, QStringLiteral("the station record")},
                                          {&logFileOption, QStringLiteral("the log file")},
                                          {&imageOption, QString()}},
                                         parser);
    if (!sameFiles.isEmpty()) {
        if (!recordExisted && parser.isSet(reportOption))
            QFile::remove(parser.value(reportOption)); // made empty by the check above
        return usageError(sameFiles);
    }

    DebugLog::setVerbose(parser.isSet(verboseOption));
    const QString runLog = DebugLog::openRunLog(QCoreApplication::applicationName());
    QString logError;
    if (parser.isSet(logFileOption)) {
        // Standard output as the log file mixes the results into the log (the events of --json
        // into a log), and unless standard output appends, it writes them over the log's start.
        bool appends = false;
        if (DebugLog::isStandardOutput(parser.value(logFileOption), &appends) &&
            (parser.isSet(jsonOption) || !appends))
            logError = parser.isSet(jsonOption)
                           ? QStringLiteral("it is standard output, which carries the JSON events")
                           : QStringLiteral("it is standard output, which would write the results over the "
                                            "log (unless it is opened for appending, >>)");
        // A file that opens may still refuse every line (a full disk): the first line tells.
        else if (DebugLog::openFile(parser.value(logFileOption), &logError)) {
            qDebug().noquote() << "talvo-flash" << QCoreApplication::applicationVersion() << "logging to"
                               << parser.value(logFileOption);
            logError = DebugLog::fileError();
        }
        if (!logError.isEmpty())
            return usageError(QStringLiteral("cannot write the log file %1: %2")
                                  .arg(parser.value(logFileOption), logError));
    }

    if (parser.isSet(allOption)) {
        QStringList unitArguments;
        for (const QCommandLineOption &option :
             {installOption, downgradeOption, verifyOption, fastOption, verboseOption}) {
            if (parser.isSet(option))
                unitArguments << QStringLiteral("--") + option.names().constLast();
        }
        if (parser.isSet(reportOption))
            unitArguments << QStringLiteral("--report") << parser.value(reportOption);
        AllUnits units;
        QStringList ports;
        for (const QString &port : parser.values(portOption))
            ports << PortEnumerator::pathOfArgument(port);
        units.setPorts(ports);
        units.setSerialNumbers(parser.values(serialOption));
#ifndef Q_OS_WIN
        // Redrawn lines need a terminal on both streams; elsewhere (a file, a pipe) the lines stay.
        units.setLive(isatty(fileno(stdout)) == 1 && isatty(fileno(stderr)) == 1 &&
                      qEnvironmentVariable("TERM") != QLatin1String("dumb"));
#endif
        units.setUnitArguments(unitArguments);
        units.setRecordFile(parser.value(reportOption));
        return units.run();
    }

    FlashSession session;
    session.setPort(parser.isSet(portOption) ? PortEnumerator::pathOfArgument(parser.value(portOption))
                                             : QString());
    session.setInstall(parser.isSet(installOption));
    session.setDowngrade(parser.isSet(downgradeOption));
    session.setVerify(parser.isSet(verifyOption));
    session.setFast(parser.isSet(fastOption));
    if (parser.isSet(recoverOption))
        session.setRecover(family);
    if (parser.isSet(imageOption))
        session.setImage(parser.value(imageOption), family);
    session.setList(parser.isSet(listOption));
    session.setResultFile(parser.value(resultFileOption));
    session.setRecordFile(parser.value(reportOption));
    session.setRunLog(runLog);
    session.setSerialNumber(parser.value(serialOption));
    if (parser.isSet(jsonOption))
        session.setFormat(Report::Format::Json);
    else if (parser.isSet(quietOption))
        session.setFormat(Report::Format::Quiet);
#ifdef Q_OS_WIN
    session.setProgressBar(_isatty(_fileno(stderr)) != 0);
#else
    session.setProgressBar(isatty(fileno(stderr)) == 1);
#endif
    const int status = session.run();
    if (parser.isSet(logFileOption) && !DebugLog::fileError().isEmpty())
        std::fputs(qPrintable(QStringLiteral("Warning: lines of the log were lost: the log file %1 cannot be "
                                             "written (%2)\n")
                                  .arg(parser.value(logFileOption), DebugLog::fileError())),
                   stderr);
    return status;
}
