#pragma once

#include "PortInfo.h"
#include "installoutcome.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>

class BSL_Interface;
struct ProbeResult;

// Runs the slow work (port search, probe, installation) on the controller's worker thread.
class UpdateWorker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateWorker)

public:
    explicit UpdateWorker(QObject *parent = nullptr);
    ~UpdateWorker() override;

    // The version text cut at every word boundary, empty pieces kept.
    static QStringList versionTokens(const QString &text);
    // Model name and version from a unit's version text; false (with a log line) when the text
    // has none of the known shapes.
    static bool parseVersionText(const QString &text, QString &model, QString &version);

    // Ends the running installation or restore before its next frame; it then fails as stopped.
    // Thread-safe, like stopSearchesUpTo(). Cleared as the next one starts.
    void requestStop();
    // Ends the first `count` searches requested since construction, the running one before its next
    // probe attempt and the queued ones before their first: each then ends with result(false).
    // Thread-safe: the search runs on this worker's thread, where a queued stop would come too late.
    void stopSearchesUpTo(unsigned int count);

    // What a probe found on a port with the unit's identifiers.
    enum PortReason
    {
        PortFound,         // a unit answered with a version text that was understood
        PortSilent,        // nothing answered the request
        PortNotUnderstood, // something answered, but not with a version text of a unit
        PortInLoader,      // a Talvo unit in its loader: no application, its loader answered
        PortNoAccess,      // the user may not open the port
        PortBusy,          // another program holds the port
        PortMissing,       // the port went away before it could be opened
        PortOpenFailed,    // the port could not be opened for another reason, told in `detail`
    };
    Q_ENUM(PortReason)

signals:
    void versionChanged(const QString &model, const QString &version);
    void progressChanged(const unsigned int &progress);
    // The end of a search or a list: true when a unit was identified.
    void result(const bool &status);
    // The end of an installation or restore, the one signal for it: how it ended. An outcome of no
    // installation (phase Idle, not succeeded) when there was no unit to install on, no loader to
    // restore or no family noted for it. For a restore, `erased` is set once its unit was found
    // in its loader: unless the restore succeeded, that unit has no firmware.
    void installFinished(const InstallOutcome &outcome);
    // Sent for every probed port with the unit's identifiers, and for the ports a restore tried.
    void portProbed(const ProbeResult &probe);
    // Sent by doRestoreNotedFirmware once it found a unit in its loader: the family the journal
    // notes for it (TargetInfo::eTARGET_TYPE), 0 when none, and then nothing is written.
    void notedFamily(int family);
    // Every phase an installation or restore enters, Idle at its end.
    void phaseChanged(InstallOutcome::Phase phase);

public slots:
    void doSearchDevice(int vendor, int product);
    // Kept for the controller's stop request, which has nothing to stop (see the definition).
    void doStopSearching();
    // Probes every port with the identifiers and releases each again; portProbed() tells what
    // was found on each. Ends with one result(), true when a unit was identified on any port.
    void doListDevices(int vendor, int product);
    // Installs on the unit that the last search found. Ends with one installFinished().
    void doInstallFirmware(const QString &firmware, unsigned int size);
    void doProgressUpdate(const unsigned int &progress);
    // Restores a unit left in its loader: checks for the loader (where none answers, once more
    // after a programming-mode request that a half-written application still obeys), then
    // authenticates, erases, writes and verifies. `port` is a device path, or empty for the first
    // loader on a port with the identifiers. Ends with one installFinished().
    void doRestoreFirmware(int vendor, int product, const QString &port, const QString &firmware,
                           unsigned int size);
    // The same with the carried image of the family that the journal notes for the very unit found
    // in its loader (by its USB serial number); notedFamily() tells which. A unit without an entry
    // of its own is left as it is.
    void doRestoreNotedFirmware(int vendor, int product, const QString &port);
    void setVerifyAfterWrite(bool verify);
    // Installations and restores collect each reply by its length (and always verify).
    void setFastReplies(bool fast);
    // The TI-TXT text that the installations and restores requested after it write instead of
    // reading their image file (a station's own image, read and checked by the front end); empty:
    // the file.
    void setImageContent(const QByteArray &content);

private:
    void initSerialPort();
    bool isDeviceAvailable(const PortInfo &info, int vendor, int product);
    bool setProgrammingMode(QString &version);
    bool getFirmwareVersion();
    bool getFirmwareVersionOnce(QByteArray &received, QString &model, QString &version);
    bool probeLoader();
    // The running search was stopped from another thread: no further probe attempt is made.
    bool searchStopped() const;
    bool enterLoaderForRestore(const QString &portName);
    // Opens the first port (the one at `port`, when given) on which a loader answers; false, with
    // the port closed, when there is none.
    bool openLoader(int vendor, int product, const QString &port, PortInfo &found);
    void restoreWith(const QString &firmware, unsigned int size);
    void reportOpenFailure(const PortInfo &port);
    // What a probe of the port being probed found.
    void reportProbe(PortReason reason, const QByteArray &received = QByteArray(),
                     const QString &model = QString(), const QString &version = QString());

    BSL_Interface *_bslInterface = nullptr; // the unit last probed; owns its serial port
    bool _verifyAfterWrite = false;
    bool _fastReplies = false;
    QByteArray _imageContent;
    PortInfo _probedPort;
    std::atomic<bool> _stopRequested{false}; // shared with each loader interface
    unsigned int _searchesStarted = 0;       // this thread's count of doSearchDevice calls
    bool _searching = false;                 // inside doSearchDevice: the stop of searches applies
    std::atomic<unsigned int> _searchesStopped{0};
};

// What a probe found on one port, as the worker tells it to every front end: the port as it was
// listed when probed (so nobody needs to list the ports again to know its path or its unit), why
// it can or cannot be used, and what came back.
struct ProbeResult
{
    QString port;         // the port's name, "ttyACM0", "COM7"
    QString location;     // its system path, "/dev/ttyACM0", "\\.\COM7"
    QString serialNumber; // the unit's USB serial number, empty when the port has none
    // The other ports that show the same serial number as this one when it was probed: then it
    // identifies no unit, and the journal is not used for it.
    QStringList serialNumberSharedWith;
    QString usbLocation; // where on the USB it is plugged in ("1-1.2"), empty when unknown
    UpdateWorker::PortReason reason = UpdateWorker::PortSilent;
    QByteArray received; // what the port sent back to the programming-mode request
    QString openError;   // why it could not be opened, for PortOpenFailed (the system's words)
    QString model;       // the unit's model and version, for PortFound
    QString version;
};
Q_DECLARE_METATYPE(ProbeResult)
