#include "flashsession.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool verboseLog = false;

// The library logs through qDebug; those lines are shown only with --verbose.
void logMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verboseLog)
        return;
    std::fputs(qPrintable(message + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

const char *const DESCRIPTION =
    "Finds a Talvo flash unit on the serial ports (USB vendor 1240, product 223), switches it into\n"
    "programming mode and shows its model, the installed firmware version, the version carried by\n"
    "this program for the unit's family and whether that is an update. With --install it installs\n"
    "the carried firmware.\n"
    "\n"
    "On Linux a unit shows up as /dev/ttyACM*; your user needs read and write access to it\n"
    "(membership of the group that owns it, such as dialout, or a udev rule).\n"
    "\n"
    "Exit status: 0 on success, 1 when no unit is found or the update fails or is refused,\n"
    "2 on wrong usage.";

int usageError(const QString &message)
{
    std::fputs(qPrintable(QStringLiteral("talvo-flash: %1\nTry 'talvo-flash --help'.\n").arg(message)),
               stderr);
    return FlashSession::EXIT_USAGE;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(logMessage);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("talvo-flash"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(DESCRIPTION));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption portOption(
        {"p", "port"},
        "Probe only the serial device <path> (such as /dev/ttyACM0, or a simulated unit's /dev/pts/N), "
        "whatever its USB identifiers.",
        "path");
    const QCommandLineOption installOption({"i", "install"},
                                           "Install the carried firmware on the unit found.");
    const QCommandLineOption downgradeOption(
        "downgrade", "With --install: install even when the unit's version is newer than the carried one.");
    const QCommandLineOption verboseOption({"v", "verbose"}, "Show the debug log lines on standard error.");
    parser.addOption(portOption);
    parser.addOption(installOption);
    parser.addOption(downgradeOption);
    parser.addOption(verboseOption);

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return FlashSession::EXIT_OK;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(downgradeOption) && !parser.isSet(installOption))
        return usageError(QStringLiteral("--downgrade goes with --install"));
    if (parser.isSet(portOption) && parser.value(portOption).isEmpty())
        return usageError(QStringLiteral("--port needs a device path"));

    verboseLog = parser.isSet(verboseOption);

    FlashSession session;
    session.setPort(parser.value(portOption));
    session.setInstall(parser.isSet(installOption));
    session.setDowngrade(parser.isSet(downgradeOption));
#ifdef Q_OS_WIN
    session.setProgressBar(_isatty(_fileno(stdout)) != 0);
#else
    session.setProgressBar(isatty(fileno(stdout)) == 1);
#endif
    return session.run();
}
