#include "updatedriver.h"

#include "driverplatform.h"
#include "families.h"
#include "filecopy.h"
#include "firmwareinfo.h"
#include "installjournal.h"
#include "logcategories.h"
#include "portenumerator.h"
#include "updateworker.h"
#include "versionorder.h"

#include <QDebug>
#include <QFileInfo>
#include <QStringList>

UpdateDriver::DocumentOpener UpdateDriver::_documentOpener = nullptr;
bool UpdateDriver::_fastRepliesByDefault = false;

const QString UpdateDriver::_changelogLocal = QStringLiteral("changelog.txt");
const QString UpdateDriver::_documentationLocal =
    QStringLiteral("Instructions Windows - Follow those steps.pdf");

UpdateDriver::UpdateDriver(QObject *parent) : QObject(parent), _active(false), _progress(0), _result(false)
{
    auto *worker = new UpdateWorker();
    _worker = worker;
    worker->moveToThread(&_thread);

    connect(&_thread, SIGNAL(finished()), worker, SLOT(deleteLater()));
    connect(this, SIGNAL(searchDevice(int, int)), worker, SLOT(doSearchDevice(int, int)));
    connect(this, SIGNAL(stopSearching()), worker, SLOT(doStopSearching()));
    connect(this, SIGNAL(installFirmware(const QString &, unsigned int)), worker,
            SLOT(doInstallFirmware(const QString &, unsigned int)));
    connect(worker, SIGNAL(versionChanged(const QString &, const QString &)), this,
            SLOT(versionHandle(const QString &, const QString &)));
    connect(worker, SIGNAL(progressChanged(const unsigned int &)), this,
            SLOT(progressHandle(const unsigned int &)));
    connect(worker, SIGNAL(result(const bool &)), this, SLOT(resultHandle(const bool &)));
    connect(worker, &UpdateWorker::portProbed, this,
            [this](const ProbeResult &probe) { _probedPorts.append(probe); });
    connect(worker, &UpdateWorker::notedFamily, this, &UpdateDriver::notedFamily);
    connect(worker, &UpdateWorker::installFinished, this, [this](const InstallOutcome &outcome) {
        _outcome = outcome;
        resultHandle(outcome.succeeded());
    });
    connect(worker, &UpdateWorker::phaseChanged, this, [this](InstallOutcome::Phase phase) {
        _phase = phase;
        emit phaseChanged();
    });

    _thread.start();
    _thread.setPriority(QThread::TimeCriticalPriority);
    if (_fastRepliesByDefault)
        setFastReplies(true);
}

UpdateDriver::~UpdateDriver()
{
    // Waits for a running search or installation to return; the worker is deleted as the
    // thread finishes.
    _thread.quit();
    _thread.wait();
}

QString UpdateDriver::modelPicture() const
{
    const QString logo = _target.firmwareLogo();
    if (logo.isEmpty())
        qCDebug(lcController) << "Firmware is missing for model" << _target.name();
    return logo;
}

QVariantList UpdateDriver::familyTable()
{
    QVariantList table;
    for (const Family &family : Families::all()) {
        table << QVariantMap{
            {QStringLiteral("family"), static_cast<int>(family.family)},
            {QStringLiteral("letter"), family.letter},
            {QStringLiteral("picture"), family.picture},
            // In English: the scenes translate them in bindings, which follow a change of language.
            {QStringLiteral("caption"), QString::fromUtf8(family.caption)},
            {QStringLiteral("restartNote"), QString::fromUtf8(family.restartNote)},
            {QStringLiteral("batteryTip"), family.batteryTip},
        };
    }
    return table;
}

UpdateDriver::SearchFailure UpdateDriver::searchFailure() const
{
    // The first port that tells something wins; a unit found anywhere leaves nothing to explain.
    SearchFailure failure = SearchFailureUnknown;
    for (const ProbeResult &port : _probedPorts) {
        if (port.reason == UpdateWorker::PortFound)
            return SearchFailureUnknown;
        if (failure != SearchFailureUnknown)
            continue;
        if (port.reason == UpdateWorker::PortNoAccess)
            failure = SearchNoAccess;
        else if (port.reason == UpdateWorker::PortBusy)
            failure = SearchPortBusy;
        else if (port.reason == UpdateWorker::PortInLoader)
            failure = SearchUnitInLoader;
        else if (port.reason == UpdateWorker::PortNotUnderstood)
            failure = SearchNotUnderstood;
    }
    return failure;
}

int UpdateDriver::restoreFamily() const
{
    return InstallJournal::read(portOf(UpdateWorker::PortInLoader).serialNumber).family;
}

QString UpdateDriver::restoreModel() const
{
    return InstallJournal::read(portOf(UpdateWorker::PortInLoader).serialNumber).model;
}

ProbeResult UpdateDriver::portOf(UpdateWorker::PortReason reason) const
{
    for (const ProbeResult &probed : _probedPorts) {
        if (probed.reason == reason)
            return probed;
    }
    return ProbeResult();
}

ProbeResult UpdateDriver::unitPort() const
{
    for (const ProbeResult &probed : _probedPorts) {
        if (probed.reason == UpdateWorker::PortFound || probed.reason == UpdateWorker::PortInLoader)
            return probed;
    }
    return ProbeResult();
}

void UpdateDriver::noteInJournal(const InstallJournal::Entry &entry)
{
    _journalSerial = entry.serialNumber;
    QString problem;
    if (entry.serialNumber.isEmpty() || InstallJournal::write(entry, &problem))
        return;
    const QString warning =
        QStringLiteral("Warning: the journal %1 cannot note the unit %2 (%3): if this is cut off, its family "
                       "must be told to restore it")
            .arg(InstallJournal::path(), entry.serialNumber,
                 problem.isEmpty() ? QStringLiteral("no per-user folder") : problem);
    qCWarning(lcController).noquote() << warning;
    emit journalNotWritten(warning);
}

bool UpdateDriver::isDriverAvailable()
{
    // A port that the system lists with the unit's identifiers has a driver, whichever it is.
    return DriverPlatform::isClassDriverInstalled() ||
           PortEnumerator::hasPortWithIdentifiers(_vendor, _product);
}

bool UpdateDriver::isDriverLoaded()
{
    switch (DriverPlatform::classDriverLoadState()) {
    case DriverPlatform::LoadState::Loaded:
        return true;
    case DriverPlatform::LoadState::NotLoaded:
        return false;
    case DriverPlatform::LoadState::EnumerationFailed:
        break;
    }
    qCDebug(lcController) << QStringLiteral("Can't enumerate drivers!");
    return false;
}

void UpdateDriver::search(bool on)
{
    _active = on;
    if (on) {
        _probedPorts.clear();
        ++_searchesAsked;
        ++_searchesUnanswered;
        emit searchDevice(_vendor, _product);
    } else {
        // The worker's thread is busy with the search: the stop reaches it through an atomic
        // counter, read before each probe attempt; stopSearching() only follows it in the queue.
        _worker->stopSearchesUpTo(_searchesAsked);
        emit stopSearching();
    }
}

void UpdateDriver::versionHandle(const QString &modelName, const QString &version)
{
    _target.setName(modelName);
    _target.setVersion(version);
}

bool UpdateDriver::isUpdateAvailable()
{
    return VersionOrder::isUpdate(_target.version(), _target.firmwareVersion());
}

bool UpdateDriver::isDowngrade()
{
    return VersionOrder::isDowngrade(_target.version(), _target.firmwareVersion());
}

bool UpdateDriver::openFileNatively(const QString &resourceFile, const QString &outputFile)
{
    if (!copyFileByLines(resourceFile, outputFile) || !_documentOpener)
        return false;
    // Desktop openers (xdg-open, gio) refuse a relative file URL such as "file:changelog.txt".
    const QString path = QFileInfo(outputFile).absoluteFilePath();
    if (_documentOpener(path))
        return true;
    qCDebug(lcController).noquote() << "UpdateDriver::openFileNatively no application opens" << path;
    return false;
}

bool UpdateDriver::openChangelogNatively()
{
    const QString changelog = _target.firmwareChangelog();
    if (changelog.isEmpty()) {
        qCDebug(lcController) << "Changelog is missing for model" << _target.name();
        return false;
    }
    return openFileNatively(changelog, _changelogLocal);
}

bool UpdateDriver::openDocumentationNatively()
{
    return openFileNatively(QStringLiteral(":/doc/") + _documentationLocal, _documentationLocal);
}

void UpdateDriver::install()
{
    const bool given = !_givenImage.isEmpty();
    const QString image = given ? _givenImage : _target.firmwareImage();
    const unsigned int size = given ? _givenImageSize : _target.firmwareSize();
    if (image.isEmpty() || size == 0) {
        qCDebug(lcController) << "Firmware is missing for model" << _target.name();
        return;
    }
    // The version of an image given is not known before the unit runs it.
    noteInJournal({portOf(UpdateWorker::PortFound).serialNumber, _target.name(), _target.type(),
                   _target.version(), given ? QString() : _target.firmwareVersion()});
    startOperation(false);
    emit installFirmware(image, size);
}

void UpdateDriver::startOperation(bool restoring)
{
    _active = true;
    _progress = 0;
    _outcome = InstallOutcome();
    _restoring = restoring;
}

void UpdateDriver::requestStop()
{
    _worker->requestStop();
}

// A request for the worker, queued behind the ones before it. By the slot's name: the arguments are
// copied into the event by Qt, so nothing of this thread's is read on the worker's.
template <typename... Arguments> void UpdateDriver::queueOnWorker(const char *slot, Arguments... arguments)
{
    if (!QMetaObject::invokeMethod(_worker, slot, Qt::QueuedConnection, arguments...))
        qCWarning(lcController) << "UpdateDriver: the worker has no request" << slot;
}

void UpdateDriver::list()
{
    _active = true;
    _probedPorts.clear();
    const int vendor = _vendor, product = _product;
    queueOnWorker("doListDevices", Q_ARG(int, vendor), Q_ARG(int, product));
}

void UpdateDriver::setVerifyAfterWrite(bool verify)
{
    // Queued like the requests, so it applies to the installations requested after it.
    queueOnWorker("setVerifyAfterWrite", Q_ARG(bool, verify));
}

void UpdateDriver::setFastReplies(bool fast)
{
    queueOnWorker("setFastReplies", Q_ARG(bool, fast));
}

void UpdateDriver::setImage(const QString &path, const QByteArray &content, unsigned int size)
{
    _givenImage = path;
    _givenImageSize = size;
    queueOnWorker("setImageContent", Q_ARG(QByteArray, content));
}

bool UpdateDriver::restoreUnit(TargetInfo::eTARGET_TYPE family, const QString &port)
{
    const FirmwareInfo *firmware = _target.firmwareFor(family);
    if (!firmware && family != TargetInfo::TARGET_UNKNOWN)
        return false;
    startOperation(true);
    _probedPorts.clear();
    const int vendor = _vendor, product = _product;
    if (family == TargetInfo::TARGET_UNKNOWN) {
        queueOnWorker("doRestoreNotedFirmware", Q_ARG(int, vendor), Q_ARG(int, product),
                      Q_ARG(QString, port));
        return true;
    }
    const bool given = !_givenImage.isEmpty();
    queueOnWorker("doRestoreFirmware", Q_ARG(int, vendor), Q_ARG(int, product), Q_ARG(QString, port),
                  Q_ARG(QString, given ? _givenImage : firmware->image()),
                  Q_ARG(unsigned int, given ? _givenImageSize : firmware->size()));
    return true;
}

void UpdateDriver::progressHandle(const unsigned int &progress)
{
    _progress = static_cast<int>(progress);
    emit progressChanged();
}

void UpdateDriver::resultHandle(const bool &result)
{
    // The end of a search that a newer one has replaced is not the end the scene waits for.
    if (_searchesUnanswered > 1) {
        --_searchesUnanswered;
        qCDebug(lcController) << "UpdateDriver::resultHandle the result of a replaced search is dropped";
        return;
    }
    _searchesUnanswered = 0;
    _active = false;
    _result = result;
    // Only an installation or a restore names a unit for the journal; a restore asked for without
    // one (talvo-flash) clears the entry of the unit it found.
    const QString done = _restoring && _journalSerial.isEmpty()
                             ? portOf(UpdateWorker::PortInLoader).serialNumber
                             : _journalSerial;
    if (result && !done.isEmpty())
        InstallJournal::clear(done);
    _journalSerial.clear();
    _restoring = false;
    qCDebug(lcController, "Status       : %s", result ? "OK" : "NOK");
    emit activeChanged();
}

bool UpdateDriver::result()
{
    return _result;
}

bool UpdateDriver::isUnitPlugged()
{
    return PortEnumerator::hasPortWithIdentifiers(_vendor, _product);
}

bool UpdateDriver::restore(int family)
{
    const auto chosen = static_cast<TargetInfo::eTARGET_TYPE>(family);
    const FirmwareInfo *firmware = _target.firmwareFor(chosen);
    if (!firmware)
        return false;
    // A restore cut off again is noted like an installation; a family picked by the user replaces a
    // journal entry that named the other family.
    const ProbeResult unit = portOf(UpdateWorker::PortInLoader);
    InstallJournal::Entry entry = InstallJournal::read(unit.serialNumber);
    if (entry.family != family)
        entry = {entry.serialNumber, QString(), family, QString(), firmware->version()};
    noteInJournal(entry);
    return restoreUnit(chosen, unit.location);
}
