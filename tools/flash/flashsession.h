#pragma once

#include "targetinfo.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class InterruptGuard;
class UpdateDriver;

// One run of the flasher: search the unit, report it, and install the carried image if asked; or
// restore a unit left in its loader.
class FlashSession : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FlashSession)

public:
    enum ExitCode
    {
        EXIT_OK = 0,
        EXIT_FAILED = 1,
        EXIT_USAGE = 2,
        EXIT_STOPPED = 130 // stopped by the user during an installation
    };

    explicit FlashSession(QObject *parent = nullptr);

    void setPort(const QString &path) { _port = path; }
    void setInstall(bool install) { _install = install; }
    void setDowngrade(bool downgrade) { _downgrade = downgrade; }
    void setVerify(bool verify) { _verify = verify; }
    // Replies taken by their length, and the image always verified.
    void setFast(bool fast) { _fast = fast; }
    // Restore a unit in its loader with the image of `family` instead of searching for a unit.
    void setRecover(TargetInfo::eTARGET_TYPE family) { _recoverFamily = family; }
    void setProgressBar(bool progressBar) { _progressBar = progressBar; }

    int run();

    // "S" or "L"; empty for no family.
    static QString familyLetter(TargetInfo::eTARGET_TYPE family);

private slots:
    void showProgress();
    void onInterrupted(int signalNumber);

private:
    bool preparePort();
    bool waitForResult();
    void endBarLine();
    int probe();
    int install();
    int recover();
    // Waits for the installation just requested; false when it failed. Reports a stop by the user.
    bool awaitInstallation(TargetInfo::eTARGET_TYPE family);
    bool reportLoaderFound();
    static QString recoverCommand(TargetInfo::eTARGET_TYPE family, const QString &port);
    QString portOfUnit() const;

    UpdateDriver *_driver = nullptr;
    InterruptGuard *_guard = nullptr;
    QString _port;
    bool _install = false;
    bool _downgrade = false;
    bool _verify = false;
    bool _fast = false;
    TargetInfo::eTARGET_TYPE _recoverFamily = TargetInfo::TARGET_UNKNOWN;
    bool _progressBar = false;
    int _shownProgress = -1;
    bool _barOnLine = false;       // the progress bar was drawn and no line break followed it
    QElapsedTimer _firstInterrupt; // the interrupt that was answered with a warning
    bool _stopping = false;
};
