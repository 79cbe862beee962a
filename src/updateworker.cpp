#include "updateworker.h"

#include <QMutexLocker>

UpdateWorker::UpdateWorker(QObject *parent) : QObject(parent) {}

UpdateWorker::~UpdateWorker() = default;

// No serial layer yet: every request ends with a failed result.
void UpdateWorker::doSearchDevice(int vendor, int product)
{
    Q_UNUSED(vendor)
    Q_UNUSED(product)
    emit result(false);
}

void UpdateWorker::doStopSearching()
{
    QMutexLocker locker(&_mutex);
    _stopSearching = false;
}

void UpdateWorker::doInstallFirmware(const QString &firmware, unsigned int size)
{
    Q_UNUSED(firmware)
    Q_UNUSED(size)
    emit result(false);
}

void UpdateWorker::doProgressUpdate(const unsigned int &progress)
{
    emit progressChanged(progress);
}

void UpdateWorker::doInstallFirmwareResult()
{
    emit result(false);
}
