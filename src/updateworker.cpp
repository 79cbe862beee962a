#include "updateworker.h"

#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "families.h"
#include "installjournal.h"
#include "logcategories.h"
#include "portenumerator.h"

#include <QDebug>
#include <QFileInfo>
#include <QMetaEnum>
#include <QRegularExpression>

#include <algorithm>

namespace {

const char *const LABEL_GET_FIRMWARE_VERSION = "UpdateWorker::getFirmwareVersion";
const char *const LABEL_INSTALL_FIRMWARE = "UpdateWorker::doInstallFirmware";
const char *const LABEL_RESTORE_FIRMWARE = "UpdateWorker::doRestoreFirmware";
const char *const LABEL_DEVICE_AVAILABLE = "UpdateWorker::isDeviceAvailable";
const char *const LABEL_SEARCH_DEVICE = "UpdateWorker::doSearchDevice";

const QString SEPARATOR(48, QLatin1Char('-'));

// A one-off fault on the line (a byte lost, changed or added) spoils a programming-mode reply; the
// request is sent again before the port is given up.
const int PROBE_ATTEMPTS = 3;

// What a loader sends back for bytes that cannot start a frame, such as the programming-mode
// request: refusal codes, one per byte.
bool onlyLoaderRefusals(const QByteArray &received)
{
    return std::all_of(received.cbegin(), received.cend(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= HEADER_INCORRECT && byte <= UNKNOWN_BAUD_RATE;
    });
}

// The other ports that show the port's USB serial number now; empty when it identifies its unit.
QStringList sharingPorts(const PortInfo &port)
{
    QStringList others;
    if (port.serialNumber.isEmpty() || PortEnumerator::identifiesOneUnit(port.serialNumber, &others))
        return QStringList();
    const auto device = [](const QString &path) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return canonical.isEmpty() ? path : canonical;
    };
    const QString self = device(PortEnumerator::userPath(port.portName, port.systemLocation));
    others.erase(std::remove_if(others.begin(), others.end(),
                                [&](const QString &other) { return device(other) == self; }),
                 others.end());
    return others;
}

ProbeResult probeOf(const PortInfo &port, UpdateWorker::PortReason reason)
{
    ProbeResult probe;
    probe.port = port.portName;
    probe.location = port.systemLocation;
    probe.serialNumber = port.serialNumber;
    probe.serialNumberSharedWith = sharingPorts(port);
    probe.usbLocation = port.usbLocation;
    probe.reason = reason;
    return probe;
}

} // namespace

UpdateWorker::UpdateWorker(QObject *parent) : QObject(parent)
{
    // The result travels to the controller's thread in queued calls.
    qRegisterMetaType<ProbeResult>();
    qRegisterMetaType<InstallOutcome>();
    qRegisterMetaType<InstallOutcome::Phase>();
}

UpdateWorker::~UpdateWorker()
{
    // Deleting the loader interface closes its port.
    delete _bslInterface;
}

QStringList UpdateWorker::versionTokens(const QString &text)
{
    return text.split(QRegularExpression(QStringLiteral("\\b")), Qt::KeepEmptyParts);
}

bool UpdateWorker::parseVersionText(const QString &text, QString &model, QString &version)
{
    const QStringList tokens = versionTokens(text);
    qCDebug(lcWorker) << "Tokens       :" << tokens;
    qCDebug(lcWorker) << "Version      :" << text;

    if (tokens.size() < 4) {
        qCDebug(lcWorker) << LABEL_GET_FIRMWARE_VERSION << "No version number found!";
        return false;
    }
    const QString major = tokens.at(1);
    QString minor = tokens.at(3);

    QString name;
    if (major == QLatin1String("49") && minor == QLatin1String("01")) {
        // The first units sent the bare version and no model.
        if (tokens.size() != 7) {
            qCDebug(lcWorker) << LABEL_GET_FIRMWARE_VERSION
                              << "49.01 found but incompatible number of tokens!";
            return false;
        }
        name = QStringLiteral("Talvo");
    } else if (major == QLatin1String("52") && minor.toInt(nullptr, 10) >= 2) {
        // From 52.02 on the unit sends its model number as two words, such as "400 L".
        if (tokens.size() != 13) {
            qCDebug(lcWorker) << LABEL_GET_FIRMWARE_VERSION << "Incompatible number of tokens!";
            return false;
        }
        name = tokens.at(7) + QLatin1Char(' ') + tokens.at(9) + QLatin1Char(' ') + tokens.at(11);
    } else {
        if (tokens.size() != 11) {
            qCDebug(lcWorker) << LABEL_GET_FIRMWARE_VERSION << "Incompatible number of tokens!";
            return false;
        }
        name = tokens.at(7) + QLatin1Char(' ') + Families::modelNumber(tokens.at(9));
    }

    if (minor == QLatin1String("40"))
        minor = QStringLiteral("04");

    model = name;
    version = major + QLatin1Char('.') + minor;
    return true;
}

void UpdateWorker::doSearchDevice(int vendor, int product)
{
    ++_searchesStarted;
    _searching = true;
    bool status = false;
    const QList<PortInfo> ports = PortEnumerator::availablePorts();
    for (const PortInfo &port : ports) {
        if (searchStopped())
            break;
        status = isDeviceAvailable(port, vendor, product);
        if (status)
            break;
    }
    _searching = false;
    if (!status && searchStopped())
        qCDebug(lcWorker) << LABEL_SEARCH_DEVICE << "search stopped";
    emit result(status);
}

void UpdateWorker::stopSearchesUpTo(unsigned int count)
{
    unsigned int stopped = _searchesStopped.load();
    while (stopped < count && !_searchesStopped.compare_exchange_weak(stopped, count)) {
    }
}

bool UpdateWorker::searchStopped() const
{
    return _searching && _searchesStarted <= _searchesStopped.load();
}

void UpdateWorker::doListDevices(int vendor, int product)
{
    bool found = false;
    for (const PortInfo &port : PortEnumerator::availablePorts()) {
        if (isDeviceAvailable(port, vendor, product)) {
            found = true;
            _bslInterface->closePort();
        }
    }
    emit result(found);
}

void UpdateWorker::doStopSearching()
{
    // Nothing to do: requests run one after another on this thread, so this arrives only after the
    // search it was meant for has ended. The controller stops a search with stopSearchesUpTo().
}

void UpdateWorker::doInstallFirmware(const QString &firmware, unsigned int size)
{
    qCDebug(lcWorker) << qPrintable(SEPARATOR);
    if (!_bslInterface) {
        // Only a search creates the loader interface; without one there is no unit to talk to.
        qCDebug(lcWorker) << LABEL_INSTALL_FIRMWARE << "No device found yet!";
        emit installFinished(InstallOutcome());
        return;
    }
    _bslInterface->setVerifyAfterWrite(_verifyAfterWrite);
    _bslInterface->setFastReplies(_fastReplies);
    _bslInterface->setImageContent(_imageContent);
    const InstallOutcome outcome = _bslInterface->installFirmware(firmware, size);
    // Released before the front ends hear of the end, so that they may open the port again.
    _bslInterface->closePort();
    emit installFinished(outcome);
}

void UpdateWorker::setVerifyAfterWrite(bool verify)
{
    _verifyAfterWrite = verify;
}

void UpdateWorker::setFastReplies(bool fast)
{
    _fastReplies = fast;
}

void UpdateWorker::setImageContent(const QByteArray &content)
{
    _imageContent = content;
}

void UpdateWorker::doRestoreFirmware(int vendor, int product, const QString &port, const QString &firmware,
                                     unsigned int size)
{
    qCDebug(lcWorker) << qPrintable(SEPARATOR);
    PortInfo info;
    if (openLoader(vendor, product, port, info))
        restoreWith(firmware, size);
}

void UpdateWorker::doRestoreNotedFirmware(int vendor, int product, const QString &port)
{
    qCDebug(lcWorker) << qPrintable(SEPARATOR);
    PortInfo info;
    if (!openLoader(vendor, product, port, info))
        return;
    // Only the unit's own entry counts: another unit's would write the wrong family's firmware.
    const InstallJournal::Entry entry = InstallJournal::read(info.serialNumber);
    const Family *family = Families::of(entry.family);
    emit notedFamily(family ? entry.family : TargetInfo::TARGET_UNKNOWN);
    if (!family) {
        qCDebug(lcWorker).noquote() << LABEL_RESTORE_FIRMWARE << "the journal notes no family for the unit on"
                                    << info.portName << "serial number"
                                    << (info.serialNumber.isEmpty() ? QStringLiteral("none")
                                                                    : info.serialNumber);
        _bslInterface->closePort();
        emit installFinished(InstallOutcome());
        return;
    }
    restoreWith(family->image, family->size);
}

bool UpdateWorker::openLoader(int vendor, int product, const QString &port, PortInfo &found)
{
    for (const PortInfo &info : PortEnumerator::availablePorts()) {
        if (port.isEmpty() ? !PortEnumerator::matches(info, vendor, product) : info.systemLocation != port)
            continue;
        qCDebug(lcWorker) << "Name         :" << info.portName;
        initSerialPort();
        if (!_bslInterface->openPort(info)) {
            reportOpenFailure(info);
            continue;
        }
        _bslInterface->setFastReplies(_fastReplies);
        if (!probeLoader() && !enterLoaderForRestore(info.portName)) {
            _bslInterface->closePort();
            continue;
        }
        qCDebug(lcWorker).noquote() << LABEL_RESTORE_FIRMWARE << "a Talvo unit in its loader on"
                                    << info.portName;
        _probedPort = info;
        reportProbe(PortInLoader);
        found = info;
        return true;
    }
    qCDebug(lcWorker) << LABEL_RESTORE_FIRMWARE << "No unit in its loader found!";
    emit installFinished(InstallOutcome());
    return false;
}

// The unit on the loader opened last, erased and written with the image, verified.
void UpdateWorker::restoreWith(const QString &firmware, unsigned int size)
{
    _bslInterface->setVerifyAfterWrite(true);
    _bslInterface->setImageContent(_imageContent);
    InstallOutcome outcome = _bslInterface->installFirmware(firmware, size);
    _bslInterface->closePort();
    // A unit in its loader has no firmware to lose: only a whole image brings it back.
    outcome.erased = true;
    emit installFinished(outcome);
}

// Only a loader answers this, with a reply whose checksum checks. A reply spoilt on the line, or late
// on a busy machine, is asked for again.
bool UpdateWorker::probeLoader()
{
    bool inLoader = false;
    for (int attempt = 0; attempt < PROBE_ATTEMPTS && !inLoader && !searchStopped(); ++attempt)
        inLoader = _bslInterface->rxBslVersion();
    return inLoader;
}

// A unit whose update was cut off with the old block order may run a half-written application,
// which answers the programming-mode request wrongly or not at all but still jumps to its loader.
// A unit that answers with its version text runs its firmware and is left alone: it is updated
// with an ordinary installation.
bool UpdateWorker::enterLoaderForRestore(const QString &portName)
{
    qCDebug(lcWorker).noquote()
        << LABEL_RESTORE_FIRMWARE
        << QStringLiteral("no loader answers on %1: sending the programming-mode request").arg(portName);
    QString text, model, version;
    if (setProgrammingMode(text) && parseVersionText(text, model, version)) {
        qCDebug(lcWorker).noquote() << LABEL_RESTORE_FIRMWARE << "the unit runs its firmware" << version;
        return false;
    }
    return probeLoader();
}

void UpdateWorker::doProgressUpdate(const unsigned int &progress)
{
    emit progressChanged(progress);
}

void UpdateWorker::requestStop()
{
    _stopRequested.store(true);
}

void UpdateWorker::initSerialPort()
{
    delete _bslInterface;
    _bslInterface = new BSL_Interface(BSL_BUFFER_SIZE, this);
    connect(_bslInterface, &BSL_Interface::progressChanged, this, &UpdateWorker::doProgressUpdate);
    connect(_bslInterface, &BSL_Interface::phaseChanged, this, &UpdateWorker::phaseChanged);
    _bslInterface->setStopFlag(&_stopRequested);
}

bool UpdateWorker::isDeviceAvailable(const PortInfo &info, int vendor, int product)
{
    qCDebug(lcWorker) << qPrintable(SEPARATOR);
    qCDebug(lcWorker) << "Name         :" << info.portName;
    qCDebug(lcWorker) << "Description  :" << info.description;
    qCDebug(lcWorker) << "Manufacturer :" << info.manufacturer;
    if (info.hasVendorIdentifier)
        qCDebug(lcWorker) << "Vendor ID    :" << info.vendorIdentifier;
    if (info.hasProductIdentifier)
        qCDebug(lcWorker) << "Product ID   :" << info.productIdentifier;

    if (!PortEnumerator::matches(info, vendor, product))
        return false;

    initSerialPort();
    // A half-opened port is released when this loader interface is deleted.
    if (!_bslInterface->openPort(info)) {
        reportOpenFailure(info);
        return false;
    }

    _probedPort = info;
    const bool status = getFirmwareVersion();
    if (!status)
        _bslInterface->closePort();
    return status;
}

void UpdateWorker::reportOpenFailure(const PortInfo &port)
{
    const int code = _bslInterface->openErrorCode();
    PortReason reason = PortOpenFailed;
    QString detail = code != 0 ? qt_error_string(code) : QString();
    switch (_bslInterface->openFailure()) {
    case SerialLine::OpenFailure::NoAccess:
        reason = PortNoAccess;
        break;
    case SerialLine::OpenFailure::Busy:
        reason = PortBusy;
        break;
    case SerialLine::OpenFailure::Missing:
        reason = PortMissing;
        break;
    case SerialLine::OpenFailure::NotSerial:
        detail = QStringLiteral("not a serial device");
        break;
    case SerialLine::OpenFailure::None: // the port was had, a later step of the open failed
        detail = QStringLiteral("the port refused its line settings");
        break;
    case SerialLine::OpenFailure::Other:
        break;
    }
    qCDebug(lcWorker).noquote() << LABEL_DEVICE_AVAILABLE << "cannot open" << port.portName
                                << QMetaEnum::fromType<PortReason>().valueToKey(reason) << detail;
    ProbeResult probe = probeOf(port, reason);
    probe.openError = detail;
    emit portProbed(probe);
}

void UpdateWorker::reportProbe(PortReason reason, const QByteArray &received, const QString &model,
                               const QString &version)
{
    ProbeResult probe = probeOf(_probedPort, reason);
    probe.received = received;
    probe.model = model;
    probe.version = version;
    emit portProbed(probe);
}

bool UpdateWorker::setProgrammingMode(QString &version)
{
    return _bslInterface->rxProgrammingMode(version);
}

bool UpdateWorker::getFirmwareVersion()
{
    bool answered = false; // something other than a loader's refusals came back
    QByteArray received;
    // What the port said: the first reply that was not only refusals (a version text that was not
    // understood, rather than the loader's refusal of the request repeated after it), else the
    // first bytes that came. A port that sent anything at all is not silent.
    QByteArray told;
    for (int attempt = 1; attempt <= PROBE_ATTEMPTS; ++attempt) {
        if (searchStopped())
            return false;
        QString model;
        QString version;
        if (getFirmwareVersionOnce(received, model, version)) {
            reportProbe(PortFound, QByteArray(), model, version);
            return true;
        }
        if (!received.isEmpty()) {
            const bool refusals = onlyLoaderRefusals(received);
            if (told.isEmpty() || (!refusals && !answered))
                told = received;
            answered = answered || !refusals;
        }
        // A line that does not fall silent will not answer a second request either.
        if (received.size() >= READ_UNTIL_TIMEOUT_MAX_BYTES)
            break;
        if (attempt < PROBE_ATTEMPTS)
            qCDebug(lcWorker) << LABEL_GET_FIRMWARE_VERSION << "sending the programming-mode request again";
    }
    if (answered) {
        reportProbe(PortNotUnderstood, told);
        return false;
    }
    if (searchStopped())
        return false;
    // Nothing but a loader could have been talking: a unit without its application stays in its
    // loader, which answers its own version command; asked again, as a restore asks it, when a busy
    // machine spoils or delays the one answer.
    if (probeLoader()) {
        qCDebug(lcWorker).noquote() << LABEL_DEVICE_AVAILABLE << "a Talvo unit in its loader on"
                                    << _probedPort.portName;
        reportProbe(PortInLoader, told);
    } else {
        reportProbe(told.isEmpty() ? PortSilent : PortNotUnderstood, told);
    }
    return false;
}

bool UpdateWorker::getFirmwareVersionOnce(QByteArray &received, QString &model, QString &version)
{
    QString text;
    const bool status = setProgrammingMode(text);
    received = _bslInterface->lastProgrammingModeReply();
    if (!status) {
        qCDebug(lcWorker) << LABEL_GET_FIRMWARE_VERSION << "setProgrammingMode failed!";
        return false;
    }
    if (!parseVersionText(text, model, version))
        return false;
    emit versionChanged(model, version);
    return true;
}
