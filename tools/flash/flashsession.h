#pragma once

#include "BSL_Interface.h"
#include "exitcode.h"
#include "report.h"
#include "stationrecord.h"
#include "targetinfo.h"
#include "updatedriver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class InterruptGuard;

// One run of the flasher: search the unit, report it, and install the carried image if asked; or
// restore a unit left in its loader; or list what is on every port with the unit's identifiers.
// What it says of the ports is in portreport.cpp, with the words of each reason in porttexts.
class FlashSession : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FlashSession)

public:
    explicit FlashSession(QObject *parent = nullptr);

    // A device path, as portPath() makes it of the --port argument.
    void setPort(const QString &path) { _port = path; }
    void setInstall(bool install) { _install = install; }
    void setDowngrade(bool downgrade) { _downgrade = downgrade; }
    void setVerify(bool verify) { _verify = verify; }
    // Replies taken by their length, and the image always verified.
    void setFast(bool fast) { _fast = fast; }
    // Restore a unit in its loader with the image of `family` instead of searching for a unit;
    // TARGET_UNKNOWN: of the family that the journal notes for that very unit.
    void setRecover(TargetInfo::eTARGET_TYPE family)
    {
        _recover = true;
        _recoverFamily = family;
    }
    void setList(bool list) { _list = list; }
    // Install or restore this TI-TXT file, for a unit of `family`, instead of the carried image:
    // read and checked whole before anything is sent, always verified, no version compared.
    void setImage(const QString &path, TargetInfo::eTARGET_TYPE family)
    {
        _imagePath = path;
        _imageFamily = family;
    }
    void setFormat(Report::Format format) { _report.setFormat(format); }
    void setProgressBar(bool progressBar) { _report.setProgressBar(progressBar); }
    void setResultFile(const QString &path) { _report.setResultFile(path); }
    // Appends a row for each unit of the run to this station record when the run ends.
    void setRecordFile(const QString &path) { _recordFile = path; }
    // The run's own debug log, named in the record.
    void setRunLog(const QString &path) { _runLog = path; }
    // The unit is the one on the port with this USB serial number (and the unit's identifiers).
    void setSerialNumber(const QString &serialNumber) { _serialNumber = serialNumber; }

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
    int recover();
    bool stopped(const InstallOutcome &outcome) const;
    // Written whole, every block confirmed, but the memory not checked (the loader knows no CRC
    // command, or left the check unanswered): said as it is.
    int unverified(const QString &what, const InstallOutcome &outcome);
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
    static QString recoverCommand(TargetInfo::eTARGET_TYPE family, const QString &port,
                                  const QString &serialNumber = QString());

private:
    // The family that the journal notes for the unit on a probed port, by its USB serial number.
    static TargetInfo::eTARGET_TYPE notedFamilyOf(const ProbeResult &probed);
    void showFamily(TargetInfo::eTARGET_TYPE family);
    QString portOfUnit() const;

    UpdateDriver *_driver = nullptr;
    InterruptGuard *_guard = nullptr;
    Report _report;
    QElapsedTimer _clock;
    QString _port;
    bool _install = false;
    bool _downgrade = false;
    bool _verify = false;
    bool _fast = false;
    bool _list = false;
    bool _recover = false;
    bool _familyFromJournal = false; // the restore takes the family that the journal notes
    TargetInfo::eTARGET_TYPE _recoverFamily = TargetInfo::TARGET_UNKNOWN;
    int _shownProgress = -1;
    BSL_Interface::Phase _shownPhase = BSL_Interface::Phase::Idle;
    QElapsedTimer _firstInterrupt; // the interrupt that was answered with a warning
    bool _stopping = false;
    QString _imagePath; // the image given, empty for the carried one
    TargetInfo::eTARGET_TYPE _imageFamily = TargetInfo::TARGET_UNKNOWN;
    QByteArray _image; // its text, as checked
    unsigned int _imageDataBytes = 0;
    QString _recordFile;
    QString _runLog;
    QString _serialNumber;
    bool _writing = false;    // the installation or restore was requested: an image was to be written
    bool _verifiedOk = false; // the image written was checked with the loader's CRC command
    // The SHA-256 of the image written: the station's image given, or (empty) the carried image of
    // the unit's family.
    QString _imageSha256;
};
