#pragma once

#include "BSL_Interface.h"
#include "exitcode.h"
#include "options.h"
#include "outcomewords.h"
#include "report.h"
#include "stationrecord.h"
#include "targetinfo.h"
#include "updatedriver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class InterruptGuard;

// One run of the flasher: one Action over the controller (UpdateDriver). Search the unit, report
// it, and install the carried image if asked; or restore a unit left in its loader; or list what
// is on every port with the unit's identifiers. The run's frame (the port, the image, interrupts,
// the result event) is in flashsession.cpp, the actions in actions.cpp, the station record's rows
// in flashrecord.cpp, what it says of the ports in portreport.cpp with the words of each reason in
// porttexts, the words of how an installation or restore ended in outcomewords.
class FlashSession : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FlashSession)

public:
    // The run the options ask for; `runLog` is the run's own debug log, named in the record;
    // `progressBar`: progress drawn as a bar (standard error is a terminal).
    FlashSession(const FlashOptions &options, const QString &runLog, bool progressBar,
                 QObject *parent = nullptr);

    int run();

    // "S" or "L"; empty for no family.
    static QString familyLetter(TargetInfo::eTARGET_TYPE family);

private slots:
    void showProgress();
    void onInterrupted(int signalNumber);

private:
    int preparePort();
    // Reads and checks the image given; EXIT_USAGE, with the line at fault, for one that would not
    // fit the family's unit.
    int loadImage();
    // The port of the unit with _serialNumber; fails when no port has it.
    int findSerialNumber();
    // The probe of the unit the run was about: found, in its loader, or the first probed port.
    ProbeResult unitProbe() const;
    StationRecord::Row recordRow(int exitCode, const QString &reason) const;
    // Appends the rows to the station record; the rows' lines when they could not be (shown on
    // standard error then), else empty.
    QString writeRecord(const QList<StationRecord::Row> &rows);
    bool waitForResult();
    int probe();
    int list();
    int install();
    int restore();
    // Refuses an installation that the unit, the image or the versions do not allow; EXIT_OK else.
    int installRefusal();
    // The end of an installation or restore that both tell alike: success, not verified, an image
    // refused, stopped; -1 for a failure that the action tells in its own words.
    int sharedEnding(OutcomeWords::Ending ending, bool ok, bool verified);
    int installFailed(OutcomeWords::Ending ending);
    int restoreFailed(OutcomeWords::Ending ending, const QString &port);
    // A restore of the journal's family that found a unit the journal does not note; EXIT_OK else.
    int restoreWithoutFamily(const QString &port);
    // Written whole, every block confirmed, but the memory not checked (the loader knows no CRC
    // command, or left the check unanswered): said as it is.
    int unverified(OutcomeWords::Ending ending);
    // The image written, as the user knows it: the carried firmware, or the --image file.
    QString imageName() const;
    // Waits for the installation just requested; false when it failed. Reports a stop by the user.
    bool awaitInstallation();
    // Tells why no port gave a usable unit, with the fix where there is one: EXIT_UNUSABLE when a
    // unit is there but cannot be used, else EXIT_NO_UNIT.
    int noUsableUnit();
    void reportUnits();
    void showPhase(BSL_Interface::Phase phase);
    // The result event; returns exitCode, or EXIT_NOT_RECORDED when the run's row could not be
    // put into the station record.
    int finish(int exitCode, const QString &reason, const QString &message);
    // An error line, then the result event.
    int fail(int exitCode, const QString &reason, const QString &message);
    QString listLine(const ProbeResult &probed) const;
    QString portOf(const ProbeResult &probed) const;

public:
    // The command that restores the unit on `port`, or the unit with `serialNumber` when the run
    // was given one; without a family, one that cannot be run as it stands, with the choice of
    // family left in words.
    static QString restoreCommand(TargetInfo::eTARGET_TYPE family, const QString &port,
                                  const QString &serialNumber = QString());

private:
    // The family that the journal notes for the unit on a probed port, by its USB serial number.
    static TargetInfo::eTARGET_TYPE notedFamilyOf(const ProbeResult &probed);
    void showFamily(TargetInfo::eTARGET_TYPE family);
    QString portOfUnit() const;

    const FlashOptions _options;
    UpdateDriver *_driver = nullptr;
    InterruptGuard *_guard = nullptr;
    Report _report;
    QElapsedTimer _clock;
    QString _port;                   // the device given, or the one of the unit with _serialNumber
    bool _familyFromJournal = false; // the restore takes the family that the journal notes
    TargetInfo::eTARGET_TYPE _restoreFamily = TargetInfo::TARGET_UNKNOWN;
    int _shownProgress = -1;
    BSL_Interface::Phase _shownPhase = BSL_Interface::Phase::Idle;
    QElapsedTimer _firstInterrupt; // the interrupt that was answered with a warning
    bool _stopping = false;
    const QString _imagePath; // the image given, empty for the carried one
    const TargetInfo::eTARGET_TYPE _imageFamily;
    QByteArray _image; // its text, as checked
    unsigned int _imageDataBytes = 0;
    const QString _runLog;
    const QString _serialNumber;
    bool _writing = false;    // the installation or restore was requested: an image was to be written
    bool _verifiedOk = false; // the image written was checked with the loader's CRC command
    // The SHA-256 of the image written: the station's image given, or (empty) the carried image of
    // the unit's family.
    QString _imageSha256;
};
