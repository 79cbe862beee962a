#pragma once

#include "installjournal.h"
#include "installoutcome.h"
#include "targetinfo.h"
#include "unitidentifiers.h"
#include "updateworker.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVariantList>

// The one object the scene talks to: state of the current operation, identity of the found
// unit, and the actions of the wizard. The work itself runs in an UpdateWorker on _thread.
class UpdateDriver : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateDriver)
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    Q_PROPERTY(int progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(int modelType READ modelType)
    Q_PROPERTY(QString modelName READ modelName)
    Q_PROPERTY(QString modelPicture READ modelPicture)
    Q_PROPERTY(QString versionCurrent READ versionCurrent)
    Q_PROPERTY(QString versionNew READ versionNew)
    Q_PROPERTY(SearchFailure searchFailure READ searchFailure)
    Q_PROPERTY(int restoreFamily READ restoreFamily)
    Q_PROPERTY(QString restoreModel READ restoreModel)
    Q_PROPERTY(bool erased READ erased)
    Q_PROPERTY(bool cannotVerify READ cannotVerify)
    Q_PROPERTY(QVariantList families READ families CONSTANT)

public:
    // Why the last search found no unit it could use, as far as the ports told; the scene turns
    // it into words.
    enum SearchFailure
    {
        SearchFailureUnknown, // nothing answered as a unit, or a unit was found
        SearchNoAccess,       // the user may not open the unit's port
        SearchPortBusy,       // another program holds the unit's port
        SearchUnitInLoader,   // a unit without firmware: its last update did not finish
        SearchNotUnderstood,  // the unit's port answered, but not as a unit this program knows
    };
    Q_ENUM(SearchFailure)

    explicit UpdateDriver(QObject *parent = nullptr);
    ~UpdateDriver() override;

    bool active() const { return _active; }
    int progress() const { return _progress; }
    int modelType() const { return static_cast<int>(_target.type()); }
    QString modelName() const { return _target.name(); }
    QString modelPicture() const;
    QString versionCurrent() const { return _target.version(); }
    QString versionNew() const { return _target.firmwareVersion(); }
    SearchFailure searchFailure() const;
    // The last installation or restore was written whole, every block confirmed, but its memory
    // could not be checked: the loader cannot verify, or left the check unanswered. Nothing is
    // known to differ.
    bool cannotVerify() const
    {
        return _outcome.failure == InstallOutcome::Failure::CannotVerify ||
               _outcome.failure == InstallOutcome::Failure::VerifyUnanswered;
    }
    // The family (TargetInfo::eTARGET_TYPE) and model that the journal holds for the unit that the
    // last search found in its loader; 0 and empty when the journal does not know it.
    int restoreFamily() const;
    QString restoreModel() const;
    // The last installation or restore failed with the unit's firmware gone: its loader had erased
    // it (a refused password, a mass erase) or found it blank, and the image did not reach it whole
    // (a whole image, reset vector included, is started, whatever its check found).
    bool erased() const { return !_outcome.succeeded() && _outcome.erased && !_outcome.writtenWhole; }
    // The family table as the scenes read it, one map per family in the table's order: family
    // (TargetInfo::eTARGET_TYPE), letter, picture, caption and restartNote (in English: the scenes
    // translate them in context "Families"), batteryTip.
    QVariantList families() const { return familyTable(); }
    static QVariantList familyTable();
    // Why the last installation or restore refused the carried image before it touched the unit
    // (BSL_Interface::imageProblem); empty when the image passed.
    QString imageProblem() const { return _outcome.imageProblem; }
    // How the last installation or restore ended, as its installer told; result(), erased(),
    // cannotVerify() and imageProblem() are read from it.
    InstallOutcome outcome() const { return _outcome; }

    // What the last search or list found on each port with the unit's identifiers, in probe
    // order; after a restore, the ports it could not open and the one on which it found the loader.
    QList<ProbeResult> probedPorts() const { return _probedPorts; }
    // The first port on which the last search, list or restore met a unit for this reason, as it
    // was listed then; an empty result (no port) when there was none.
    ProbeResult portOf(UpdateWorker::PortReason reason) const;
    // The unit's port for a front end: the first on which the last search, list or restore found
    // the unit or its loader; an empty result (no port) when there was none.
    ProbeResult unitPort() const;

    // Probe every port with the unit's identifiers and release each again, for probedPorts().
    // Ends like a search: activeChanged, with result() true when a unit was identified.
    void list();
    // Check the image with the loader's CRC command after the installation's last block.
    void setVerifyAfterWrite(bool verify);
    // Collect the loader's replies by their length instead of waiting for a quiet line, and always
    // verify; for the installations and restores requested after it.
    void setFastReplies(bool fast);
    // Whether controllers made from now on start with fast replies: the window program's do (its
    // scenes make their own controller), talvo-flash's do not unless --fast asks.
    static void setFastRepliesByDefault(bool fast) { _fastRepliesByDefault = fast; }
    // Install and restore this TI-TXT image (its path, its text as read and checked, its data bytes)
    // instead of the carried one of the unit's family, for the requests after it.
    void setImage(const QString &path, const QByteArray &content, unsigned int size);
    // Restore a unit left in its loader, or running a half-written application, with the family's
    // image, verified: on the given device, or on the first port with the unit's identifiers whose
    // loader answers. Ends like an installation: progress, then activeChanged with result().
    // TARGET_UNKNOWN: the family that the journal notes for the unit found, told by notedFamily();
    // a unit without its own entry is left as it is.
    bool restoreUnit(TargetInfo::eTARGET_TYPE family, const QString &port = QString());
    // Where the running installation or restore stands, as the worker last told; phaseChanged()
    // tells each change, in order with the progress.
    InstallOutcome::Phase phase() const { return _phase; }
    // Ends the running installation or restore before its next frame; it then fails. Safe to call
    // while the worker is busy: the flag is read on the worker's thread before every frame.
    void requestStop();

    // Hands a copied document (by its absolute path) to the desktop's default application for its
    // type, true when one was started. The window program installs one at start-up; without one
    // (talvo-flash, which opens no documents) a document is copied and not opened.
    using DocumentOpener = bool (*)(const QString &absolutePath);
    static void setDocumentOpener(DocumentOpener opener) { _documentOpener = opener; }

    static const int _vendor = UnitIdentifiers::VENDOR;
    static const int _product = UnitIdentifiers::PRODUCT;
    static const QString _changelogLocal;
    static const QString _documentationLocal;

signals:
    void activeChanged();
    void progressChanged();
    void searchDevice(int vendor, int product);
    void stopSearching();
    void installFirmware(const QString &firmware, unsigned int size);
    // A restore of the noted family found its unit: the family noted for it, 0 when none.
    void notedFamily(int family);
    // The unit is about to be erased, but the journal could not note it: a cut would leave a unit
    // whose family nobody can tell. Sent before the installation is requested.
    void journalNotWritten(const QString &warning);
    void phaseChanged();

public slots:
    bool isDriverAvailable();
    bool isDriverLoaded();
    void search(bool on);
    void versionHandle(const QString &modelName, const QString &version);
    // The carried version is newer than the installed one (VersionOrder::isUpdate).
    bool isUpdateAvailable();
    // Installing the carried version needs the downgrade password (VersionOrder::isDowngrade).
    bool isDowngrade();
    // True when the copy was made and handed to an application that started; false tells the
    // user that the document could not be opened.
    bool openFileNatively(const QString &resourceFile, const QString &outputFile);
    bool openChangelogNatively();
    bool openDocumentationNatively();
    void install();
    void progressHandle(const unsigned int &progress);
    void resultHandle(const bool &result);
    bool result();
    // Whether a port with the unit's identifiers is listed now; cheap enough to poll every second.
    bool isUnitPlugged();
    // Restores the unit that the last search found in its loader with the family's firmware,
    // verified, and notes it in the journal first. False when there is no firmware for the family.
    bool restore(int family);

private:
    template <typename... Arguments> void queueOnWorker(const char *slot, Arguments... arguments);
    // The state of a new installation (`restoring` false) or restore.
    void startOperation(bool restoring);
    void noteInJournal(const InstallJournal::Entry &entry);

    bool _active;
    int _progress;
    bool _result;
    bool _restoring = false;
    unsigned int _searchesAsked = 0; // searchDevice() requests since construction
    int _searchesUnanswered = 0;     // of them, those whose result has not come yet
    QString _journalSerial;          // the unit being installed or restored, for the journal
    TargetInfo _target;
    QThread _thread;
    UpdateWorker *_worker = nullptr; // lives on _thread
    QList<ProbeResult> _probedPorts;
    static DocumentOpener _documentOpener;
    static bool _fastRepliesByDefault;
    InstallOutcome::Phase _phase = InstallOutcome::Phase::Idle;
    InstallOutcome _outcome; // of the last installation or restore
    QString _givenImage;     // setImage(): the image's path, empty for the carried image
    unsigned int _givenImageSize = 0;
};
