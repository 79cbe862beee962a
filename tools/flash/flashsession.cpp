#include "flashsession.h"

#include "TextFileIO.h"
#include "families.h"
#include "interruptguard.h"
#include "logcategories.h"
#include "portenumerator.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include "consolecontrol.h"
#else
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {

// A second interrupt within this time after the warning stops a running installation.
const qint64 STOP_CONFIRM_MS = 5000;

#ifdef Q_OS_LINUX
// Whether the character device is driven by one of the kernel's terminal drivers, as
// /proc/tty/drivers lists them (name, node, major, minors "N" or "N-M", type); true when the list
// cannot be read. Read from the list, not by opening the device: only the worker opens a port.
bool terminalDevice(dev_t device)
{
    QFile drivers(QStringLiteral("/proc/tty/drivers"));
    if (!drivers.open(QIODevice::ReadOnly))
        return true;
    const unsigned int major = major(device), minor = minor(device);
    for (const QByteArray &line : drivers.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5 || fields.at(2).toUInt() != major)
            continue;
        const QList<QByteArray> minors = fields.at(3).split('-');
        const unsigned int first = minors.first().toUInt();
        if (minor >= first && minor <= minors.last().toUInt())
            return true;
    }
    return false;
}
#endif

#ifndef Q_OS_WIN
// What the device is when it is certainly no serial device ("a FIFO (named pipe)", "a character
// device that is no terminal" such as /dev/null), else empty. A device that cannot be told here
// is left to the probe, which tells why it cannot be used.
QString notASerialDevice(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QString();
    if (S_ISFIFO(info.st_mode))
        return QStringLiteral("a FIFO (named pipe)");
    if (S_ISSOCK(info.st_mode))
        return QStringLiteral("a socket");
    if (!S_ISCHR(info.st_mode))
        return S_ISBLK(info.st_mode) ? QStringLiteral("a block device") : QString();
#ifdef Q_OS_LINUX
    if (!terminalDevice(info.st_rdev))
        return QStringLiteral("a character device that is no terminal");
#endif
    return QString();
}
#endif

} // namespace

FlashSession::FlashSession(const FlashOptions &options, const QString &runLog, bool progressBar,
                           QObject *parent)
    : QObject(parent), _options(options), _port(options.ports.value(0)),
      _restoreFamily(options.action == Action::Restore ? options.family : TargetInfo::TARGET_UNKNOWN),
      _imagePath(options.image),
      _imageFamily(options.image.isEmpty() ? TargetInfo::TARGET_UNKNOWN : options.family), _runLog(runLog),
      _serialNumber(options.serialNumbers.value(0))
{
    _report.setFormat(options.format);
    _report.setProgressBar(progressBar);
    _report.setResultFile(options.resultFile);
}

QString FlashSession::familyLetter(TargetInfo::eTARGET_TYPE family)
{
    const Family *row = Families::of(family);
    return row ? row->letter : QString();
}

int FlashSession::run()
{
    _clock.start();
    // A station's image that would not fit the unit is refused before any port is opened.
    if (!_imagePath.isEmpty()) {
        const int status = loadImage();
        if (status != EXIT_OK)
            return status;
    }
    if (!_serialNumber.isEmpty()) {
        const int status = findSerialNumber();
        if (status != EXIT_OK)
            return status;
    }
    if (!_port.isEmpty()) {
        const int status = preparePort();
        if (status != EXIT_OK)
            return status;
    }

    int status = EXIT_OK;
    {
        UpdateDriver driver;
        InterruptGuard guard;
        _driver = &driver;
        _guard = &guard;
        connect(&driver, &UpdateDriver::progressChanged, this, &FlashSession::showProgress);
        connect(&guard, &InterruptGuard::interrupted, this, &FlashSession::onInterrupted);
        connect(&driver, &UpdateDriver::journalNotWritten, this, [this](const QString &warning) {
            // Standard error has it from the log already.
            _report.event(QStringLiteral("warning"), {{QStringLiteral("message"), Report::json(warning)}});
        });
        connect(&driver, &UpdateDriver::notedFamily, this,
                [this](int family) { showFamily(static_cast<TargetInfo::eTARGET_TYPE>(family)); });
        // Relayed from the installing thread in order with the progress, which travels the same way.
        connect(&driver, &UpdateDriver::phaseChanged, this, [this, &driver] { showPhase(driver.phase()); });
        // A --json reader gets its result line also when a signal ends the search.
        if (_report.format() == Report::Format::Json)
            guard.setMode(InterruptGuard::Mode::Watching);
        if (!_imagePath.isEmpty())
            driver.setImage(_imagePath, _image, _imageDataBytes);

        switch (_options.action) {
        case Action::List:
            status = list();
            break;
        case Action::Restore:
            status = restore();
            break;
        case Action::Probe:
        case Action::Install:
            status = probe();
            break;
        }

        _guard = nullptr;
        _driver = nullptr;
    }
    return status;
}

int FlashSession::loadImage()
{
    const Family *family = Families::of(_imageFamily);
    if (!family)
        return fail(EXIT_USAGE, QStringLiteral("usage"), QStringLiteral("--image needs --family"));
    ImageCheck check = loadTI_Text(_imagePath, _image);
    if (check.ok)
        check = checkTI_TextLayout(_image, family->flashStart, family->flashEnd);
    if (!check.ok) {
        _image.clear();
        return fail(EXIT_USAGE, QStringLiteral("image"),
                    QStringLiteral("the image is refused for family %1 (%2): nothing was sent to the unit")
                        .arg(family->letter, check.describe(_imagePath)));
    }
    _imageDataBytes = check.dataBytes;
    _imageSha256 = QString::fromLatin1(QCryptographicHash::hash(_image, QCryptographicHash::Sha256).toHex());
    qCDebug(lcWorker).noquote() << "FlashSession: the image" << _imagePath << "for family" << family->letter
                                << _image.size() << "bytes," << check.dataBytes << "data bytes, SHA-256"
                                << _imageSha256;
    _report.result(QStringLiteral("Image:             %1 (%2 bytes, %3 data bytes for family %4)")
                       .arg(_imagePath)
                       .arg(_image.size())
                       .arg(check.dataBytes)
                       .arg(family->letter));
    _report.result(QStringLiteral("Image SHA-256:     %1").arg(_imageSha256));
    return EXIT_OK;
}

int FlashSession::preparePort()
{
#ifndef Q_OS_WIN
    const QFileInfo device(_port);
    if (!device.exists())
        return fail(EXIT_NO_UNIT, QStringLiteral("missing"),
                    QStringLiteral("%1 does not exist (is the unit connected?)").arg(_port));
    if (device.isDir())
        return fail(EXIT_USAGE, QStringLiteral("usage"),
                    QStringLiteral("%1 is a directory, not a serial device").arg(_port));
    if (device.isFile())
        return fail(EXIT_USAGE, QStringLiteral("usage"),
                    QStringLiteral("%1 is a regular file, not a serial device").arg(_port));
    const QString notSerial = notASerialDevice(_port);
    if (!notSerial.isEmpty())
        return fail(EXIT_USAGE, QStringLiteral("usage"),
                    QStringLiteral("%1 is %2, not a serial device").arg(_port, notSerial));
#endif
    // Only the given device is probed, whatever its real identifiers are; the port list still tells
    // its USB serial number, by which the journal knows the unit.
    const PortInfo listed = PortEnumerator::listedPort(_port);
    PortEnumerator::setSystemPortsIncluded(false);
    PortEnumerator::clearExtraPorts();
    PortInfo port = PortEnumerator::portForDevice(_port, UpdateDriver::_vendor, UpdateDriver::_product);
    port.description = QStringLiteral("given on the command line");
    port.serialNumber = listed.serialNumber;
    port.usbLocation = listed.usbLocation;
    port.manufacturer = listed.manufacturer;
    qCDebug(lcWorker).noquote() << "FlashSession: the port given," << _port << "serial number"
                                << (port.serialNumber.isEmpty() ? QStringLiteral("none") : port.serialNumber);
    PortEnumerator::addExtraPort(port);
    return EXIT_OK;
}

int FlashSession::findSerialNumber()
{
    QStringList ports;
    if (!PortEnumerator::identifiesOneUnit(_serialNumber, &ports))
        return fail(
            EXIT_USAGE, QStringLiteral("usage"),
            QStringLiteral("the USB serial number %1 is shown by more than one port (%2): it identifies "
                           "no unit; name its port with --port")
                .arg(_serialNumber, ports.join(QStringLiteral(", "))));
    for (const PortInfo &port : PortEnumerator::availablePorts()) {
        if (port.serialNumber == _serialNumber &&
            PortEnumerator::matches(port, UpdateDriver::_vendor, UpdateDriver::_product)) {
            _port = PortEnumerator::userPath(port.portName, port.systemLocation);
            return EXIT_OK;
        }
    }
    return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                QStringLiteral("no port has a unit with the USB serial number %1 (is it connected?)")
                    .arg(_serialNumber));
}

bool FlashSession::awaitInstallation()
{
    _shownProgress = -1;
    _shownPhase = BSL_Interface::Phase::Idle;
    const bool ok = waitForResult();
    _guard->setGuarding(false);
    _report.endBarLine();
    if (!ok && _stopping) {
        _report.error(QStringLiteral(
            "Stopped: the unit stays in its loader without complete firmware. Restore it with"));
        // A restore's family, once known; an installation's is the unit's own.
        const auto family = _options.action == Action::Restore
                                ? _restoreFamily
                                : static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType());
        _report.error(QStringLiteral("  ") + restoreCommand(family, portOfUnit(), _serialNumber));
    }
    return ok;
}

void FlashSession::showFamily(TargetInfo::eTARGET_TYPE family)
{
    const Family *row = Families::of(family);
    if (!row)
        return;
    _restoreFamily = family;
    _report.result(QStringLiteral("Family:            %1").arg(row->letter));
    if (_imagePath.isEmpty())
        _report.result(QStringLiteral("Carried version:   %1").arg(row->version));
}

int FlashSession::fail(int exitCode, const QString &reason, const QString &message)
{
    _report.error(QStringLiteral("Error: ") + message);
    return finish(exitCode, reason, message);
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
    const BSL_Interface::Phase phase = _driver ? _driver->phase() : BSL_Interface::Phase::Idle;
    const bool destructive = phase == BSL_Interface::Phase::Authenticating ||
                             phase == BSL_Interface::Phase::Erasing || phase == BSL_Interface::Phase::Writing;
    if (!destructive) {
        // Nothing to protect: the signal ends the run, after the result event.
        finish(128 + signalNumber, QStringLiteral("stopped"), QStringLiteral("Stopped by the user"));
        InterruptGuard::terminateBy(signalNumber);
    }
#ifdef Q_OS_WIN
    // A closed console ends the process within seconds, whatever it does: stop after this frame.
    const bool noSecondChance = signalNumber == ConsoleControl::HangUp;
#else
    const bool noSecondChance = false; // SIGHUP is ignored while the unit is written
#endif
    if (noSecondChance || (_firstInterrupt.isValid() && !_firstInterrupt.hasExpired(STOP_CONFIRM_MS))) {
        _stopping = true;
        _driver->requestStop();
        _report.error(QStringLiteral("Stopping after the current frame..."));
        return;
    }
    _firstInterrupt.start();
    _report.error(QStringLiteral(
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
    _report.progress(percent);
}

void FlashSession::showPhase(BSL_Interface::Phase phase)
{
    if (phase == BSL_Interface::Phase::Idle || phase == _shownPhase)
        return;
    _shownPhase = phase;
    _report.event(QStringLiteral("phase"),
                  {{QStringLiteral("phase"), Report::json(Report::phaseName(phase))}});
}
