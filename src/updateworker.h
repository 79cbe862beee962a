#pragma once

#include "PortInfo.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

class BSL_Interface;

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

signals:
    void versionChanged(const QString &model, const QString &version);
    void progressChanged(const unsigned int &progress);
    void result(const bool &status);

public slots:
    void doSearchDevice(int vendor, int product);
    void doStopSearching();
    void doInstallFirmware(const QString &firmware, unsigned int size);
    void doProgressUpdate(const unsigned int &progress);
    void doInstallFirmwareResult();

private:
    void initSerialPort();
    bool isDeviceAvailable(const PortInfo &info, int vendor, int product);
    bool setProgrammingMode(QString &version);
    bool getFirmwareVersion();

    QMutex _mutex;
    BSL_Interface *_bslInterface = nullptr; // the unit last probed; owns its serial port
    bool _stopSearching = false;
};
