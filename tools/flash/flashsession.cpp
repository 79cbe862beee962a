#include "flashsession.h"

#include "TextFileIO.h"
#include "families.h"
#include "interruptguard.h"
#include "logcategories.h"
#include "portenumerator.h"
#include "porttexts.h"
#include "updateworker.h"
#include "versionorder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <memory>

#ifdef Q_OS_WIN
#include "consolecontrol.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A second interrupt within this time after the warning stops a running installation.
const qint64 STOP_CONFIRM_MS = 5000;

// How long a row waits for the station record that another process holds.
const int RECORD_WAIT_MS = 10000;

const char *const VERIFY_FAILED = "Verify failed: the memory of the unit does not match %1";
const char *const IMAGE_DAMAGED = "the carried firmware is damaged (%1): nothing was written to the unit";

#ifndef Q_OS_WIN
// What the device is when it is certainly no serial device ("a FIFO (named pipe)", "a character
// device that is no terminal" such as /dev/null), else empty. A device that cannot be opened here
// (no access, held) is left to the probe, which tells why.
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
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QString();
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    return terminal ? QString() : QStringLiteral("a character device that is no terminal");
}
#endif

} // namespace

FlashSession::FlashSession(QObject *parent) : QObject(parent) {}

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

        if (_list)
            status = list();
        else if (_recover)
            status = recover();
        else
            status = probe();

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

int FlashSession::probe()
{
    _driver->search(true);
    const bool found = waitForResult();
    reportUnits();
    if (!found)
        return noUsableUnit();
    const QString carried = _driver->versionNew();
    const VersionOrder::Order order = VersionOrder::compare(_driver->versionCurrent(), carried);
    QString update = order == VersionOrder::Order::Older ? QStringLiteral("yes") : QStringLiteral("no");
    if (!carried.isEmpty() && order == VersionOrder::Order::Incomparable)
        update += QStringLiteral(" (the installed version cannot be compared with it)");
    _report.result(QStringLiteral("Model:             %1").arg(Report::printable(_driver->modelName())));
    _report.result(QStringLiteral("Installed version: %1").arg(Report::printable(_driver->versionCurrent())));
    if (!_imagePath.isEmpty()) {
        _report.result(QStringLiteral("Version check:     skipped (the image given is installed whatever "
                                      "the unit's version, and verified)"));
        return install();
    }
    _report.result(QStringLiteral("Carried version:   %1")
                       .arg(carried.isEmpty() ? QStringLiteral("none for this model") : carried));
    _report.result(
        QStringLiteral("Update available:  %1").arg(carried.isEmpty() ? QStringLiteral("no") : update));
    return _install ? install() : finish(EXIT_OK, QStringLiteral("found"), QString());
}

int FlashSession::install()
{
    const bool given = !_imagePath.isEmpty();
    const QString carried = _driver->versionNew();
    if (given) {
        const auto unitFamily = static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType());
        if (unitFamily != _imageFamily)
            return fail(EXIT_FAILED, QStringLiteral("refused"),
                        QStringLiteral("the unit is a %1 (family %2), the image is for family %3: nothing "
                                       "was written to the unit")
                            .arg(Report::printable(_driver->modelName()),
                                 familyLetter(unitFamily).isEmpty() ? QStringLiteral("unknown")
                                                                    : familyLetter(unitFamily),
                                 familyLetter(_imageFamily)));
    } else if (carried.isEmpty()) {
        return fail(
            EXIT_FAILED, QStringLiteral("no-firmware"),
            QStringLiteral("no firmware for the model \"%1\"").arg(Report::printable(_driver->modelName())));
    } else if (!_downgrade && _driver->isDowngrade()) {
        // The window's rule: a newer version needs consent, and so does one that cannot be compared.
        return fail(
            EXIT_FAILED, QStringLiteral("refused"),
            QStringLiteral("the installed version %1 is %2 the carried version %3; give "
                           "--downgrade to install %3 anyway")
                .arg(Report::printable(_driver->versionCurrent()),
                     VersionOrder::compare(_driver->versionCurrent(), carried) == VersionOrder::Order::Newer
                         ? QStringLiteral("newer than")
                         : QStringLiteral("not comparable with"),
                     carried));
    }

    // Fast replies and an image given always verify.
    const bool verify = _verify || _fast || given;
    if (_verify || given)
        _driver->setVerifyAfterWrite(true);
    if (_fast)
        _driver->setFastReplies(true);
    _guard->setGuarding(true);
    _writing = true;
    _driver->install();
    const bool ok = awaitInstallation();
    const InstallOutcome outcome = _driver->outcome();
    if (_driver->cannotVerify())
        return unverified(QStringLiteral("Update"), outcome);
    const bool checked = outcome.phase == InstallOutcome::Phase::Verifying;
    if (checked)
        _report.event(QStringLiteral("verify"), {{QStringLiteral("ok"), Report::json(ok)}});
    if (!ok) {
        // Refused before the first frame: the unit keeps its firmware, nothing to restore.
        if (outcome.failure == InstallOutcome::Failure::Image) {
            _writing = false;
            return fail(EXIT_FAILED, QStringLiteral("image"),
                        QString::fromLatin1(IMAGE_DAMAGED).arg(outcome.imageProblem));
        }
        if (stopped(outcome))
            return finish(EXIT_STOPPED, QStringLiteral("stopped"), QStringLiteral("Stopped by the user"));
        const bool mismatch = outcome.failure == InstallOutcome::Failure::VerifyMismatch;
        const QString reason = mismatch ? QStringLiteral("verify-failed") : QStringLiteral("failed");
        if (mismatch)
            _report.error(QStringLiteral("Error: ") + QString::fromLatin1(VERIFY_FAILED).arg(imageName()));
        if (outcome.writtenWhole) {
            // Every block was confirmed, the reset vector among them: the unit starts what it holds.
            _report.error(
                QStringLiteral("Error: Update failed: the whole image was written, its reset vector "
                               "too, so the unit starts what its memory holds, %1. Install it "
                               "again; should the unit then be found in its loader, restore it with")
                    .arg(mismatch ? QStringLiteral("and that differs from the image")
                                  : QStringLiteral("which was not checked")));
            _report.error(
                QStringLiteral("  ") +
                recoverCommand(static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType()), portOfUnit()));
            return finish(EXIT_FAILED, reason,
                          mismatch
                              ? QStringLiteral("Update failed: the memory of the unit differs from the "
                                               "image written; install it again")
                              : QStringLiteral("Update failed after the whole image was written; install "
                                               "it again"));
        }
        if (!_driver->erased())
            return fail(EXIT_FAILED, reason, QStringLiteral("Update failed before the unit was erased"));
        // The loader erased the unit: only a restore brings its firmware back.
        const QString command = recoverCommand(static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType()),
                                               portOfUnit(), _serialNumber);
        _report.error(QStringLiteral("Error: Update failed after the unit was erased: it has no firmware now "
                                     "and stays in its loader. Restore it with"));
        _report.error(QStringLiteral("  ") + command);
        return finish(EXIT_FAILED, reason,
                      QStringLiteral("Update failed: the unit has no firmware now; restore it with ") +
                          command);
    }
    _verifiedOk = verify;
    if (verify)
        _report.result(QStringLiteral("Verified"));
    _report.result(QStringLiteral("Update successful!"));
    return finish(EXIT_OK, QStringLiteral("installed"), QStringLiteral("Update successful!"));
}

int FlashSession::recover()
{
    _familyFromJournal = _recoverFamily == TargetInfo::TARGET_UNKNOWN;
    if (!_familyFromJournal) {
        if (!Families::of(_recoverFamily))
            return fail(EXIT_FAILED, QStringLiteral("no-firmware"),
                        QStringLiteral("no firmware for the family %1").arg(familyLetter(_recoverFamily)));
        showFamily(_recoverFamily);
    }

    if (_fast)
        _driver->setFastReplies(true);
    _guard->setGuarding(true);
    _writing = true;
    _driver->restoreUnit(_recoverFamily, _port);
    const bool ok = awaitInstallation();
    reportUnits();
    const QString port = portOfUnit();
    if (_familyFromJournal && _recoverFamily == TargetInfo::TARGET_UNKNOWN && !port.isEmpty()) {
        const QStringList sharing = unitProbe().serialNumberSharedWith;
        const QString notNoted =
            sharing.isEmpty() ? QStringLiteral("is not noted in the journal (by its USB serial number)")
                              : QStringLiteral("is not known to the journal: its USB serial number %1 is "
                                               "shown by %2 too and identifies no unit")
                                    .arg(unitProbe().serialNumber, sharing.join(QStringLiteral(", ")));
        return fail(
            EXIT_USAGE, QStringLiteral("usage"),
            QStringLiteral("the unit in its loader on %1 %2: --recover needs --family S or L; a unit in its "
                           "loader cannot tell its model, and the firmware of the wrong family must not be "
                           "written on a guess. Nothing was written.")
                .arg(Report::printable(port), Report::printable(notNoted)));
    }
    const InstallOutcome outcome = _driver->outcome();
    if (_driver->cannotVerify())
        return unverified(QStringLiteral("Restore"), outcome);
    if (outcome.phase == InstallOutcome::Phase::Verifying)
        _report.event(QStringLiteral("verify"), {{QStringLiteral("ok"), Report::json(ok)}});
    if (ok) {
        _verifiedOk = true;
        _report.result(QStringLiteral("Verified"));
        _report.result(QStringLiteral("Restore successful!"));
        return finish(EXIT_OK, QStringLiteral("restored"), QStringLiteral("Restore successful!"));
    }
    // Refused before the first frame: a restore with the same image would fail the same way.
    if (outcome.failure == InstallOutcome::Failure::Image) {
        _writing = false;
        return fail(EXIT_FAILED, QStringLiteral("image"),
                    QString::fromLatin1(IMAGE_DAMAGED).arg(outcome.imageProblem));
    }
    if (stopped(outcome))
        return finish(EXIT_STOPPED, QStringLiteral("stopped"), QStringLiteral("Stopped by the user"));
    if (port.isEmpty()) {
        for (const ProbeResult &probed : _driver->probedPorts()) {
            if (PortTexts::unusable(probed.reason))
                return noUsableUnit();
        }
        if (_port.isEmpty())
            return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                        QStringLiteral("no Talvo unit in its loader found (is it connected and switched "
                                       "on? A unit that runs its firmware is updated with --install)"));
        return fail(EXIT_NO_UNIT, QStringLiteral("no-unit"),
                    QStringLiteral("no Talvo unit in its loader answers on %1 (a unit that runs its "
                                   "firmware is updated with --install)")
                        .arg(Report::printable(_port)));
    }
    const bool mismatch = outcome.failure == InstallOutcome::Failure::VerifyMismatch;
    if (mismatch)
        _report.error(QStringLiteral("Error: ") + QString::fromLatin1(VERIFY_FAILED).arg(imageName()));
    _report.error(
        outcome.writtenWhole
            ? QStringLiteral("Error: Restore failed: the whole image was written, but %1. Try again with")
                  .arg(mismatch ? QStringLiteral("the memory of the unit differs from it")
                                : QStringLiteral("it was not checked"))
            : QStringLiteral("Error: Restore failed; the unit stays in its loader. Try again with"));
    _report.error(QStringLiteral("  ") + recoverCommand(_recoverFamily, port, _serialNumber));
    return finish(EXIT_FAILED, mismatch ? QStringLiteral("verify-failed") : QStringLiteral("failed"),
                  QStringLiteral("Restore failed"));
}

// The user's interrupt ended it: the installer saw the stop, or the run was stopped before the
// installation began.
bool FlashSession::stopped(const InstallOutcome &outcome) const
{
    return outcome.failure == InstallOutcome::Failure::Stopped || _stopping;
}

int FlashSession::unverified(const QString &what, const InstallOutcome &outcome)
{
    _report.event(QStringLiteral("verify"), {{QStringLiteral("ok"), QStringLiteral("null")}});
    const bool unanswered = outcome.failure == InstallOutcome::Failure::VerifyUnanswered;
    _report.error(unanswered
                      ? QStringLiteral("Warning: the CRC check got no usable answer from the loader: "
                                       "it confirmed every block of the image as written, but the "
                                       "memory could not be checked against the image")
                      : QStringLiteral("Warning: this loader cannot verify (it does not know the CRC "
                                       "command): the loader confirmed every block as written, but the "
                                       "memory was not checked against the image"));
    const QString message = what + QStringLiteral(" written, not verified");
    _report.result(message);
    return finish(EXIT_UNVERIFIED,
                  unanswered ? QStringLiteral("verify-unanswered") : QStringLiteral("cannot-verify"),
                  message);
}

QString FlashSession::imageName() const
{
    return _imagePath.isEmpty() ? QStringLiteral("the carried firmware")
                                : QStringLiteral("the image %1").arg(_imagePath);
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
        const auto family =
            _recover ? _recoverFamily : static_cast<TargetInfo::eTARGET_TYPE>(_driver->modelType());
        _report.error(QStringLiteral("  ") + recoverCommand(family, portOfUnit(), _serialNumber));
    }
    return ok;
}

void FlashSession::showFamily(TargetInfo::eTARGET_TYPE family)
{
    const Family *row = Families::of(family);
    if (!row)
        return;
    _recoverFamily = family;
    _report.result(QStringLiteral("Family:            %1").arg(row->letter));
    if (_imagePath.isEmpty())
        _report.result(QStringLiteral("Carried version:   %1").arg(row->version));
}

int FlashSession::finish(int exitCode, const QString &reason, const QString &message)
{
    // The model of the unit found; a unit in its loader cannot tell it.
    const QString model = _driver ? _driver->modelName() : QString();
    const StationRecord::Row row = recordRow(exitCode, reason);
    // A list has a row for each port it tells of; every other run one for its unit.
    QList<StationRecord::Row> rows;
    const QList<ProbeResult> probed = _list && _driver ? _driver->probedPorts() : QList<ProbeResult>();
    for (const ProbeResult &port : probed) {
        StationRecord::Row listed = row;
        listed.port = portOf(port);
        listed.usbLocation = port.usbLocation;
        listed.serialNumber = port.serialNumber;
        listed.model = port.model;
        const Family *family = Families::ofModel(port.model);
        listed.family = family ? family->letter : QString();
        listed.versionFound = port.version;
        listed.reason = PortTexts::name(port.reason);
        rows << listed;
    }
    // Rows that the record could not take are the run's outcome as well: its status says so.
    const QString unrecorded = writeRecord(rows.isEmpty() ? QList<StationRecord::Row>{row} : rows);
    const int status = unrecorded.isEmpty() ? exitCode : int(EXIT_NOT_RECORDED);
    _report.event(
        QStringLiteral("result"),
        QList<Report::Field>{
            {QStringLiteral("ok"), Report::json(status == EXIT_OK)},
            {QStringLiteral("exit"), Report::json(status)},
            {QStringLiteral("reason"), Report::json(reason)},
            {QStringLiteral("message"), Report::json(message.isEmpty() ? QString() : message)},
            {QStringLiteral("seconds"), Report::json(_clock.elapsed() / 1000.0, 1)},
            {QStringLiteral("model"), Report::json(model.isEmpty() ? QString() : model)},
            {QStringLiteral("imageFile"), Report::json(_imagePath.isEmpty() ? QString() : _imagePath)},
            {QStringLiteral("imageBytes"),
             _imagePath.isEmpty() ? QStringLiteral("null") : Report::json(static_cast<int>(_image.size()))}} +
            StationRecord::jsonFields(row) +
            QList<Report::Field>{
                {QStringLiteral("unrecorded"), Report::json(unrecorded.isEmpty() ? QString() : unrecorded)}});
    return status;
}

ProbeResult FlashSession::unitProbe() const
{
    if (!_driver)
        return ProbeResult();
    const QList<ProbeResult> probed = _driver->probedPorts();
    for (const ProbeResult &port : probed) {
        if (port.reason == UpdateWorker::PortFound || port.reason == UpdateWorker::PortInLoader)
            return port;
    }
    return probed.isEmpty() ? ProbeResult() : probed.first();
}

StationRecord::Row FlashSession::recordRow(int exitCode, const QString &reason) const
{
    StationRecord::Row row;
    row.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    row.program = QCoreApplication::applicationVersion();
    row.action = _list      ? QStringLiteral("list")
                 : _recover ? QStringLiteral("recover")
                 : _install ? QStringLiteral("install")
                            : QStringLiteral("probe");
    const ProbeResult probed = unitProbe();
    row.port = probed.port.isEmpty() ? _port : portOf(probed);
    row.usbLocation = probed.usbLocation;
    row.serialNumber = probed.serialNumber.isEmpty() ? _serialNumber : probed.serialNumber;
    row.model = _driver ? _driver->modelName() : QString();
    const Family *family = _driver ? Families::of(_driver->modelType()) : nullptr;
    if (!family && _recover)
        family = Families::of(_recoverFamily);
    row.family = family ? family->letter : QString();
    row.versionFound = _recover || !_driver ? QString() : _driver->versionCurrent();
    if (family && _writing && (exitCode == EXIT_OK || exitCode == EXIT_UNVERIFIED))
        row.versionInstalled = family->version;
    // Empty when nothing was written: a unit of the other family, an image refused before the first frame.
    row.imageSha256 = _writing ? _imageSha256 : QString();
    if (row.imageSha256.isEmpty() && family && _writing)
        row.imageSha256 = StationRecord::sha256Of(family->image);
    row.reason = reason;
    row.exitStatus = exitCode;
    row.verified = exitCode == EXIT_UNVERIFIED ? QStringLiteral("cannot")
                   : _verifiedOk               ? QStringLiteral("yes")
                                               : QStringLiteral("no");
    row.seconds = _clock.elapsed() / 1000.0;
    row.logFile = _runLog;
    return row;
}

QString FlashSession::writeRecord(const QList<StationRecord::Row> &rows)
{
    if (_recordFile.isEmpty())
        return QString();
    // Another process may hold the record: the wait is told of, bounded, and ends at an interrupt,
    // which is watched for here also when the run has not watched for any (before the search).
    std::unique_ptr<InterruptGuard> ownGuard;
    InterruptGuard *guard = _guard;
    if (!guard) {
        ownGuard = std::make_unique<InterruptGuard>();
        guard = ownGuard.get();
    }
    const InterruptGuard::Mode mode = guard->mode();
    if (mode == InterruptGuard::Mode::Off)
        guard->setMode(InterruptGuard::Mode::Watching);
    RecordFile::Waiting waiting;
    waiting.limitMs = RECORD_WAIT_MS;
    waiting.onHeld = [this] {
        _report.error(
            QStringLiteral("Waiting: the station record %1 is held by another process (it has a lock "
                           "on the file); waiting up to %2 s for it")
                .arg(_recordFile, QString::number(RECORD_WAIT_MS / 1000)));
    };
    waiting.stop = [guard] { return guard->takeInterrupt(); };
    QString why;
    const RecordFile::Outcome outcome = StationRecord::append(_recordFile, rows, waiting, &why);
    guard->setMode(mode);
    if (outcome == RecordFile::Outcome::Written)
        return QString();
    // Not a line of them is in the file: the station gets them here, to keep them by hand.
    const QString notIn = rows.size() == 1 ? QStringLiteral("this row is not in it:")
                                           : QStringLiteral("these rows are not in it:");
    if (outcome == RecordFile::Outcome::Held)
        _report.error(
            QStringLiteral("Error: the station record %1 is still held by another process after %2 s: %3")
                .arg(_recordFile, QString::number(RECORD_WAIT_MS / 1000), notIn));
    else if (outcome == RecordFile::Outcome::Stopped)
        _report.error(
            QStringLiteral("Error: stopped waiting for the station record %1, which another process "
                           "holds: %2")
                .arg(_recordFile, notIn));
    else
        _report.error(QStringLiteral("Error: the station record %1 cannot be written (%2): %3")
                          .arg(_recordFile, why, notIn));
    QString lines;
    for (const StationRecord::Row &row : rows) {
        lines += StationRecord::csvLine(row);
        _report.error(Report::printable(StationRecord::csvLine(row).chopped(2)));
    }
    return lines;
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
