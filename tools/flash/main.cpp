// talvo-flash: the command line parsed and checked (options.cpp), then one action: a run of
// FlashSession over the controller, or one run of this program per unit (--all).
#include "allunits.h"
#include "debuglog.h"
#include "flashsession.h"
#include "interruptguard.h"
#include "options.h"

#include <QCoreApplication>
#include <QDebug>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// Opens --log-file; the usage error when it cannot take the log.
int openLogFile(const FlashOptions &options)
{
    if (options.logFile.isEmpty())
        return EXIT_OK;
    const bool json = options.format == Report::Format::Json;
    QString logError;
    // Standard output as the log file mixes the results into the log (the events of --json
    // into a log), and unless standard output appends, it writes them over the log's start.
    bool appends = false;
    if (DebugLog::isStandardOutput(options.logFile, &appends) && (json || !appends))
        logError = json ? QStringLiteral("it is standard output, which carries the JSON events")
                        : QStringLiteral("it is standard output, which would write the results over the "
                                         "log (unless it is opened for appending, >>)");
    // A file that opens may still refuse every line (a full disk): the first line tells.
    else if (DebugLog::openFile(options.logFile, &logError)) {
        qDebug().noquote() << "talvo-flash" << QCoreApplication::applicationVersion() << "logging to"
                           << options.logFile;
        logError = DebugLog::fileError();
    }
    if (!logError.isEmpty())
        return Options::usageError(
            QStringLiteral("cannot write the log file %1: %2").arg(options.logFile, logError));
    return EXIT_OK;
}

int installOnAllUnits(const FlashOptions &options)
{
    QStringList unitArguments = {QStringLiteral("--install")};
    if (options.downgrade)
        unitArguments << QStringLiteral("--downgrade");
    if (options.verify)
        unitArguments << QStringLiteral("--verify");
    if (options.fast)
        unitArguments << QStringLiteral("--fast");
    if (options.verbose)
        unitArguments << QStringLiteral("--verbose");
    if (!options.recordFile.isEmpty())
        unitArguments << QStringLiteral("--report") << options.recordFile;
    AllUnits units;
    units.setPorts(options.ports);
    units.setSerialNumbers(options.serialNumbers);
#ifndef Q_OS_WIN
    // Redrawn lines need a terminal on both streams; elsewhere (a file, a pipe) the lines stay.
    units.setLive(isatty(fileno(stdout)) == 1 && isatty(fileno(stderr)) == 1 &&
                  qEnvironmentVariable("TERM") != QLatin1String("dumb"));
#endif
    units.setUnitArguments(unitArguments);
    units.setRecordFile(options.recordFile);
    return units.run();
}

int runSession(const FlashOptions &options, const QString &runLog)
{
#ifdef Q_OS_WIN
    const bool progressBar = _isatty(_fileno(stderr)) != 0;
#else
    const bool progressBar = isatty(fileno(stderr)) == 1;
#endif
    FlashSession session(options, runLog, progressBar);
    const int status = session.run();
    if (!options.logFile.isEmpty() && !DebugLog::fileError().isEmpty())
        std::fputs(qPrintable(QStringLiteral("Warning: lines of the log were lost: the log file %1 cannot be "
                                             "written (%2)\n")
                                  .arg(options.logFile, DebugLog::fileError())),
                   stderr);
    return status;
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

    FlashOptions options;
    const int parsed = Options::parse(QCoreApplication::arguments(), &options);
    if (parsed >= 0)
        return parsed;

    DebugLog::setVerbose(options.verbose);
    const QString runLog = DebugLog::openRunLog(QCoreApplication::applicationName());
    const int logStatus = openLogFile(options);
    if (logStatus != EXIT_OK)
        return logStatus;
    return options.all ? installOnAllUnits(options) : runSession(options, runLog);
}
