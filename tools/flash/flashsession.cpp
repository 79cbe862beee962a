#include "flashsession.h"

#include "portenumerator.h"
#include "updatedriver.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

const int PROGRESS_BAR_WIDTH = 40;

void out(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

void err(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

// Whether another program holds the device exclusively (as the program itself does while it
// talks to a unit); the probe would only fail without saying why.
bool deviceInUse(const QString &path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool inUse = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return inUse;
#else
    Q_UNUSED(path)
    return false;
#endif
}

} // namespace

FlashSession::FlashSession(QObject *parent) : QObject(parent) {}

int FlashSession::run()
{
    if (!_port.isEmpty()) {
        // Only the given device is probed, whatever its real identifiers are.
        const QFileInfo device(_port);
        if (_port.startsWith(QLatin1Char('/')) && !device.exists()) {
            err(QStringLiteral("Error: %1 does not exist").arg(_port));
            return EXIT_FAILED;
        }
        if (_port.startsWith(QLatin1Char('/')) && (!device.isReadable() || !device.isWritable())) {
            err(QStringLiteral("Error: no permission to open %1 (join the group that owns it, such as "
                               "dialout, and log in again)")
                    .arg(_port));
            return EXIT_FAILED;
        }
        if (deviceInUse(_port)) {
            err(QStringLiteral("Error: %1 is in use by another program").arg(_port));
            return EXIT_FAILED;
        }
        PortEnumerator::setSystemPortsIncluded(false);
        PortEnumerator::clearExtraPorts();
        PortInfo port = PortEnumerator::portForDevice(_port, UpdateDriver::_vendor, UpdateDriver::_product);
        port.description = QStringLiteral("given on the command line");
        PortEnumerator::addExtraPort(port);
    }

    UpdateDriver driver;
    _driver = &driver;
    connect(&driver, &UpdateDriver::progressChanged, this, &FlashSession::showProgress);

    driver.search(true);
    if (!waitForResult()) {
        if (_port.isEmpty())
            err(QStringLiteral("Error: no Talvo unit found (is it connected and switched on?)"));
        else
            err(QStringLiteral("Error: no Talvo unit answers on %1").arg(_port));
        _driver = nullptr;
        return EXIT_FAILED;
    }

    const bool known = !driver.versionNew().isEmpty();
    out(QStringLiteral("Model:             %1").arg(driver.modelName()));
    out(QStringLiteral("Installed version: %1").arg(driver.versionCurrent()));
    out(QStringLiteral("Carried version:   %1")
            .arg(known ? driver.versionNew() : QStringLiteral("none for this model")));
    out(QStringLiteral("Update available:  %1").arg(driver.isUpdateAvailable() ? "yes" : "no"));

    const int status = _install ? install() : EXIT_OK;
    _driver = nullptr;
    return status;
}

int FlashSession::install()
{
    if (_driver->versionNew().isEmpty()) {
        err(QStringLiteral("Error: no firmware for the model \"%1\"").arg(_driver->modelName()));
        return EXIT_FAILED;
    }
    // As in the program's window: a version that is neither older nor the same needs consent.
    if (!_driver->isUpdateAvailable() && _driver->versionCurrent() != _driver->versionNew() && !_downgrade) {
        err(QStringLiteral("Error: the installed version %1 is newer than the carried version %2; "
                           "give --downgrade to install %2 anyway")
                .arg(_driver->versionCurrent(), _driver->versionNew()));
        return EXIT_FAILED;
    }

    _shownProgress = -1;
    _driver->install();
    const bool ok = waitForResult();
    if (_progressBar && _shownProgress >= 0)
        out(QString());
    if (!ok) {
        err(QStringLiteral("Error: Update failed"));
        return EXIT_FAILED;
    }
    out(QStringLiteral("Update successful!"));
    return EXIT_OK;
}

bool FlashSession::waitForResult()
{
    // activeChanged comes with every result of the worker, and only then.
    QEventLoop loop;
    connect(_driver, &UpdateDriver::activeChanged, &loop, &QEventLoop::quit);
    loop.exec();
    return _driver->result();
}

void FlashSession::showProgress()
{
    if (!_driver)
        return;
    const int percent = _driver->progress();
    if (percent == _shownProgress)
        return;
    _shownProgress = percent;
    if (!_progressBar) {
        out(QStringLiteral("%1 %").arg(percent));
        return;
    }
    const int filled = qBound(0, percent, 100) * PROGRESS_BAR_WIDTH / 100;
    const QString bar =
        QString(filled, QLatin1Char('#')) + QString(PROGRESS_BAR_WIDTH - filled, QLatin1Char('-'));
    std::fputs(qPrintable(QStringLiteral("\r[%1] %2 %").arg(bar).arg(percent, 3)), stdout);
    std::fflush(stdout);
}
