// The station record's side of a flasher run: the run's result event and the rows it appends.
#include "flashsession.h"

#include "families.h"
#include "interruptguard.h"
#include "porttexts.h"

#include <QCoreApplication>
#include <QDateTime>

#include <memory>

namespace {

// How long a row waits for the station record that another process holds.
const int RECORD_WAIT_MS = 10000;

} // namespace

int FlashSession::finish(int exitCode, const QString &reason, const QString &message)
{
    // The model of the unit found; a unit in its loader cannot tell it.
    const QString model = _driver ? _driver->modelName() : QString();
    const StationRecord::Row row = recordRow(exitCode, reason);
    // A list has a row for each port it tells of; every other run one for its unit.
    QList<StationRecord::Row> rows;
    const QList<ProbeResult> probed =
        _options.action == Action::List && _driver ? _driver->probedPorts() : QList<ProbeResult>();
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
    const ProbeResult unit = _driver->unitPort();
    const QList<ProbeResult> probed = _driver->probedPorts();
    return !unit.port.isEmpty() || probed.isEmpty() ? unit : probed.first();
}

StationRecord::Row FlashSession::recordRow(int exitCode, const QString &reason) const
{
    StationRecord::Row row;
    row.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    row.program = QCoreApplication::applicationVersion();
    row.action = OutcomeWords::actionName(_options.action);
    const ProbeResult probed = unitProbe();
    row.port = probed.port.isEmpty() ? _port : portOf(probed);
    row.usbLocation = probed.usbLocation;
    row.serialNumber = probed.serialNumber.isEmpty() ? _serialNumber : probed.serialNumber;
    row.model = _driver ? _driver->modelName() : QString();
    const Family *family = _driver ? Families::of(_driver->modelType()) : nullptr;
    const bool restore = _options.action == Action::Restore;
    if (!family && restore)
        family = Families::of(_restoreFamily);
    row.family = family ? family->letter : QString();
    row.versionFound = restore || !_driver ? QString() : _driver->versionCurrent();
    if (family && _writing && (exitCode == EXIT_OK || exitCode == EXIT_UNVERIFIED))
        row.versionInstalled = family->version;
    // Empty when nothing was written: a unit of the other family, an image refused before the first frame.
    row.imageSha256 = _writing ? _imageSha256 : QString();
    if (row.imageSha256.isEmpty() && family && _writing)
        row.imageSha256 = StationRecord::sha256Of(family->image);
    row.reason = reason;
    row.exitStatus = exitCode;
    row.verified = OutcomeWords::verified(exitCode, _verifiedOk);
    row.seconds = _clock.elapsed() / 1000.0;
    row.logFile = _runLog;
    return row;
}

QString FlashSession::writeRecord(const QList<StationRecord::Row> &rows)
{
    if (_options.recordFile.isEmpty())
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
                .arg(_options.recordFile, QString::number(RECORD_WAIT_MS / 1000)));
    };
    waiting.stop = [guard] { return guard->takeInterrupt(); };
    QString why;
    const RecordFile::Outcome outcome = StationRecord::append(_options.recordFile, rows, waiting, &why);
    guard->setMode(mode);
    if (outcome == RecordFile::Outcome::Written)
        return QString();
    // Not a line of them is in the file: the station gets them here, to keep them by hand.
    const QString notIn = rows.size() == 1 ? QStringLiteral("this row is not in it:")
                                           : QStringLiteral("these rows are not in it:");
    if (outcome == RecordFile::Outcome::Held)
        _report.error(
            QStringLiteral("Error: the station record %1 is still held by another process after %2 s: %3")
                .arg(_options.recordFile, QString::number(RECORD_WAIT_MS / 1000), notIn));
    else if (outcome == RecordFile::Outcome::Stopped)
        _report.error(
            QStringLiteral("Error: stopped waiting for the station record %1, which another process "
                           "holds: %2")
                .arg(_options.recordFile, notIn));
    else
        _report.error(QStringLiteral("Error: the station record %1 cannot be written (%2): %3")
                          .arg(_options.recordFile, why, notIn));
    QString lines;
    for (const StationRecord::Row &row : rows) {
        lines += StationRecord::csvLine(row);
        _report.error(Report::printable(StationRecord::csvLine(row).chopped(2)));
    }
    return lines;
}
