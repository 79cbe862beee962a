#include "flashsession.h"

#include "BSL_Interface.h"
#include "firmwareinfo.h"
#include "interruptguard.h"
#include "portenumerator.h"
#include "updatedriver.h"
#include "updateworker.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

const int PROGRESS_BAR_WIDTH = 40;

// A second interrupt within this time after the warning stops a running installation.
const qint64 STOP_CONFIRM_MS = 5000;

const char *const VERIFY_FAILED =
    "Error: Verify failed: the memory of the unit does not match the carried firmware";

bool stdoutGone = false;
bool stderrGone = false;

// A reader that went away (a closed pipe, a closed terminal) is nobody listening: the flasher stops
// writing to that stream and carries on with its work.
void writeText(std::FILE *stream, bool &gone, const QString &text)
{
    if (gone)
        return;
    if (std::fputs(qPrintable(text), stream) == EOF || std::fflush(stream) == EOF)
        gone = true;
}

void out(const QString &text)
{
    writeText(stdout, stdoutGone, text + QLatin1Char('\n'));
}

void err(const QString &text)
{
    writeText(stderr, stderrGone, text + QLatin1Char('\n'));
}

// The path a user gives to --port for a port as the enumeration names it.
QString devicePath(const QString &portName)
{
#ifdef Q_OS_WIN
    return portName; // COM7: the loader interface adds the device prefix itself
#else
    for (const PortInfo &info : PortEnumerator::availablePorts()) {
        if (info.portName == portName)
            return info.systemLocation;
    }
    return portName;
#endif
}

// Whether another program holds the device exclusively (as the program itself does while it
// talks to a unit); the probe would only fail without saying why.
bool deviceInUse(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool inUse = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return inUse;
#else
    Q_UNUSED(path)
    return false;
#endif
}

} // namespace

FlashSession::FlashSession(QObject *parent) : QObject(parent) {}

QString FlashSession::familyLetter(TargetInfo::eTARGET_TYPE family)
{
    switch (family) {
    case TargetInfo::TARGET_TALVO_S:
        return QStringLiteral("S");
    case TargetInfo::TARGET_TALVO_L:
        return QStringLiteral("L");
    case TargetInfo::TARGET_UNKNOWN:
        break;
    }
    return QString();
}

int FlashSession::run()
{
    if (!_port.isEmpty() && !preparePort())
        return EXIT_FAILED;

    UpdateDriver driver;
    InterruptGuard guard;
    _driver = &driver;
    _guard = &guard;
    connect(&driver, &UpdateDriver::progressChanged, this, &FlashSession::showProgress);
    connect(&guard, &InterruptGuard::interrupted, this, &FlashSession::onInterrupted);

    const int status = _recoverFamily != TargetInfo::TARGET_UNKNOWN ? recover() : probe();
    _guard = nullptr;
    _driver = nullptr;
    return status;
}

int FlashSession::probe()
{
    _driver->search(true);
    if (!waitForResult()) {
        if (reportLoaderFound())
            return EXIT_FAILED;
        if (_port.isEmpty())
            err(QStringLiteral("Error: no Talvo unit found (is it connected and switched on?)"));
        else
            err(QStringLiteral("Error: no Talvo unit answers on %1").arg(_port));
        return EXIT_FAILED;
    }
    const bool known = !_driver->versionNew().isEmpty();
    out(QStringLiteral("Model:             %1").arg(_driver->modelName()));
    out(QStringLiteral("Installed version: %1").arg(_driver->versionCurrent()));
    out(QStringLiteral("Carried version:   %1")
            .arg(known ? _driver->versionNew() : QStringLiteral("none for this model")));
    out(QStringLiteral("Update available:  %1").arg(_driver->isUpdateAvailable() ? "yes" : "no"));
    return _install ? install() : EXIT_OK;
}

bool FlashSession::preparePort()
{
    // Only the given device is probed, whatever its real identifiers are.
    const QFileInfo device(_port);
    if (_port.startsWith(QLatin1Char('/')) && !device.exists()) {
        err(QStringLiteral("Error: %1 does not exist").arg(_port));
        return false;
    }
    if (_port.startsWith(QLatin1Char('/')) && (!device.isReadable() || !device.isWritable())) {
        err(QStringLiteral("Error: no permission to open %1 (join the group that owns it, such as "
                           "dialout, and log in again)")
                .arg(_port));
        return false;
    }
    if (deviceInUse(_port)) {
        err(QStringLiteral("Error: %1 is in use by another program").arg(_port));
        return false;
    }
    PortEnumerator::setSystemPortsIncluded(false);
    PortEnumerator::clearExtraPorts();
    PortInfo port = PortEnumerator::portForDevice(_port, UpdateDriver::_vendor, UpdateDriver::_product);
    port.description = QStringLiteral("given on the command line");
    PortEnumerator::addExtraPort(port);
    return true;
}

int FlashSession::install()
{
    if (_driver->versionNew().isEmpty()) {
        err(QStringLiteral("Error: no firmware for the model \"%1\"").arg(_driver->modelName()));
        return EXIT_FAILED;
    }
    // As in the program's window: a version that is neither older nor the same needs consent.
    if (!_driver->isUpdateAvailable() && _driver->versionCurrent() != _driver->versionNew() && !_downgrade) {
        err(QStringLiteral("Error: the installed version %1 is newer than the carried version %2; "
                           "give --downgrade to install %2 anyway")
                .arg(_driver->versionCurrent(), _driver->versionNew()));
        return EXIT_FAILED;
    }

    const bool verify = _verify || _fast; // fast replies always verify
    if (_verify)
        _driver->setVerifyAfterWrite(true);
    if (_fast)
        _driver->setFastReplies(true);
    _guard->setGuarding(true);
    _driver->install();
    const bool ok = awaitInstallation(static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType()));
    if (!ok) {
        if (_stopping)
            return EXIT_STOPPED;
        if (verify && _driver->progress() == 100)
            err(QString::fromLatin1(VERIFY_FAILED));
        err(QStringLiteral("Error: Update failed"));
        return EXIT_FAILED;
    }
    if (verify)
        out(QStringLiteral("Verified"));
    out(QStringLiteral("Update successful!"));
    return EXIT_OK;
}

int FlashSession::recover()
{
    const TargetInfo catalogue;
    const FirmwareInfo *firmware = catalogue.firmwareFor(_recoverFamily);
    if (!firmware) {
        err(QStringLiteral("Error: no firmware for the family %1").arg(familyLetter(_recoverFamily)));
        return EXIT_FAILED;
    }
    out(QStringLiteral("Family:            %1").arg(familyLetter(_recoverFamily)));
    out(QStringLiteral("Carried version:   %1").arg(firmware->version()));

    if (_fast)
        _driver->setFastReplies(true);
    _guard->setGuarding(true);
    _driver->recover(_recoverFamily, _port);
    if (awaitInstallation(_recoverFamily)) {
        out(QStringLiteral("Verified"));
        out(QStringLiteral("Restore successful!"));
        return EXIT_OK;
    }
    if (_stopping)
        return EXIT_STOPPED;
    const QString port = portOfUnit();
    if (port.isEmpty()) {
        if (_port.isEmpty())
            err(QStringLiteral("Error: no Talvo unit in its loader found (is it connected and switched on? "
                               "A unit that runs its firmware is updated with --install)"));
        else
            err(QStringLiteral("Error: no Talvo unit in its loader answers on %1 (a unit that runs its "
                               "firmware is updated with --install)")
                    .arg(_port));
        return EXIT_FAILED;
    }
    if (_driver->progress() == 100)
        err(QString::fromLatin1(VERIFY_FAILED));
    err(QStringLiteral("Error: Restore failed; the unit stays in its loader. Try again with"));
    err(QStringLiteral("  ") + recoverCommand(_recoverFamily, port));
    return EXIT_FAILED;
}

bool FlashSession::awaitInstallation(TargetInfo::eTARGET_TYPE family)
{
    _shownProgress = -1;
    const bool ok = waitForResult();
    _guard->setGuarding(false);
    endBarLine();
    if (!ok && _stopping) {
        err(QStringLiteral(
            "Stopped: the unit stays in its loader without complete firmware. Restore it with"));
        err(QStringLiteral("  ") + recoverCommand(family, portOfUnit()));
    }
    return ok;
}

bool FlashSession::reportLoaderFound()
{
    bool found = false;
    for (const UpdateDriver::ProbedPort &probed : _driver->probedPorts()) {
        if (probed.reason != UpdateWorker::PortInLoader)
            continue;
        const QString port = _port.isEmpty() ? devicePath(probed.port) : _port;
        err(QStringLiteral("Error: a Talvo unit in its loader answers on %1: its firmware is missing or "
                           "incomplete. Restore it with")
                .arg(port));
        err(QStringLiteral("  ") + recoverCommand(TargetInfo::TARGET_TALVO_S, port));
        found = true;
    }
    if (found)
        err(QStringLiteral("S or L: the family of the unit, the letter after its model number (Talvo 400 S, "
                           "Talvo 800 L; a unit named without a letter is S). The wrong family writes the "
                           "wrong firmware."));
    return found;
}

QString FlashSession::recoverCommand(TargetInfo::eTARGET_TYPE family, const QString &port)
{
    QString command = QStringLiteral("talvo-flash --recover --family ") + familyLetter(family);
    if (!port.isEmpty())
        command += QStringLiteral(" --port ") + port;
    return command;
}

QString FlashSession::portOfUnit() const
{
    // The port of the unit found by the search, or the one on which a restore found the loader.
    for (const UpdateDriver::ProbedPort &probed : _driver->probedPorts()) {
        if (probed.reason == UpdateWorker::PortFound || probed.reason == UpdateWorker::PortInLoader)
            return _port.isEmpty() ? devicePath(probed.port) : _port;
    }
    return QString();
}

bool FlashSession::waitForResult()
{
    // activeChanged comes with every result of the worker, and only then.
    QEventLoop loop;
    connect(_driver, &UpdateDriver::activeChanged, &loop, &QEventLoop::quit);
    loop.exec();
    return _driver->result();
}

void FlashSession::onInterrupted(int signalNumber)
{
    // The installation ends after its current frame and tells the user how to restore the unit.
    if (_stopping)
        return;
    const BSL_Interface::Phase phase = BSL_Interface::phase();
    const bool destructive = phase == BSL_Interface::Phase::Authenticating ||
                             phase == BSL_Interface::Phase::Erasing || phase == BSL_Interface::Phase::Writing;
    if (!destructive)
        InterruptGuard::terminateBy(signalNumber);
    endBarLine(); // the message gets a line of its own below the bar
    if (_firstInterrupt.isValid() && !_firstInterrupt.hasExpired(STOP_CONFIRM_MS)) {
        _stopping = true;
        BSL_Interface::requestStop();
        err(QStringLiteral("Stopping after the current frame..."));
        return;
    }
    _firstInterrupt.start();
    err(QStringLiteral(
        "Warning: stopping now would leave the unit without firmware; the installation goes on. "
        "Interrupt again within 5 seconds to stop it anyway."));
}

void FlashSession::showProgress()
{
    if (!_driver)
        return;
    const int percent = _driver->progress();
    if (percent == _shownProgress)
        return;
    _shownProgress = percent;
    if (!_progressBar) {
        out(QStringLiteral("%1 %").arg(percent));
        return;
    }
    const int filled = qBound(0, percent, 100) * PROGRESS_BAR_WIDTH / 100;
    const QString bar =
        QString(filled, QLatin1Char('#')) + QString(PROGRESS_BAR_WIDTH - filled, QLatin1Char('-'));
    writeText(stdout, stdoutGone, QStringLiteral("\r[%1] %2 %").arg(bar).arg(percent, 3));
    _barOnLine = true;
}

void FlashSession::endBarLine()
{
    if (_barOnLine)
        out(QString());
    _barOnLine = false;
}
