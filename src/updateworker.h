#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

// Runs the slow work (port search, probe, installation) on the controller's worker thread.
class UpdateWorker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateWorker)

public:
    explicit UpdateWorker(QObject *parent = nullptr);
    ~UpdateWorker() override;

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
    QMutex _mutex;
    bool _stopSearching = false;
};
