#include "portenumerator.h"

#include "unitidentifiers.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

// Written by the thread that sets a tool or test up, read by the worker thread.
QMutex registryMutex;
QList<PortInfo> extraPorts;
bool includeSystemPorts = true;

// The ports EXTRA_PORTS_VARIABLE names.
QList<PortInfo> portsOfEnvironment()
{
    QList<PortInfo> ports;
    const QString listed = qEnvironmentVariable(PortEnumerator::EXTRA_PORTS_VARIABLE);
    for (const QString &item : listed.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int separator = item.indexOf(QLatin1Char('='));
        PortInfo port = PortEnumerator::portForDevice(item.left(separator), UnitIdentifiers::VENDOR,
                                                      UnitIdentifiers::PRODUCT);
        if (separator >= 0) {
            // "SERIAL@LOCATION": the unit's place on the USB as well.
            const QString identity = item.mid(separator + 1);
            const int at = identity.indexOf(QLatin1Char('@'));
            port.serialNumber = identity.left(at);
            if (at >= 0)
                port.usbLocation = identity.mid(at + 1);
        }
        port.description = QString::fromLatin1(PortEnumerator::EXTRA_PORTS_VARIABLE);
        ports.append(port);
    }
    return ports;
}

// Where a system port's USB device is plugged in, as Linux names the USB port path ("1-1.2", bus 1,
// port 1 of the root hub, then port 2 of the hub there): the device folder in sysfs above the
// port's interface ("1-1.2:1.0"). Empty for a port that is no USB device and on other systems.
QString usbLocationOf(const QSerialPortInfo &info)
{
#ifdef Q_OS_LINUX
    const QString interface =
        QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(info.portName())).canonicalFilePath();
    const QString name = QFileInfo(interface).fileName();
    const int colon = name.indexOf(QLatin1Char(':'));
    if (colon > 0 && QFileInfo(interface).path().endsWith(QLatin1Char('/') + name.left(colon)))
        return name.left(colon);
#else
    Q_UNUSED(info)
#endif
    return QString();
}

} // namespace

namespace PortEnumerator {

namespace {

// The system's ports, each with its place on the USB.
QList<PortInfo> systemPorts()
{
    QList<PortInfo> ports;
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : system) {
        ports.append(PortInfo(info));
        ports.last().usbLocation = usbLocationOf(info);
    }
    return ports;
}

} // namespace

QList<PortInfo> availablePorts()
{
    QList<PortInfo> extras;
    bool includeSystem;
    {
        QMutexLocker locker(&registryMutex);
        extras = extraPorts;
        includeSystem = includeSystemPorts;
    }

    QList<PortInfo> ports;
    if (includeSystem)
        ports = systemPorts() + portsOfEnvironment();
    ports.append(extras);
    return ports;
}

PortInfo listedPort(const QString &path)
{
    const QString device = QFileInfo(path).canonicalFilePath();
    for (const PortInfo &port : availablePorts()) {
        if (port.systemLocation == path ||
            (!device.isEmpty() && QFileInfo(port.systemLocation).canonicalFilePath() == device))
            return port;
    }
    return PortInfo();
}

QList<PortInfo> portsWithSerialNumber(const QString &serialNumber)
{
    QList<PortInfo> extras;
    {
        QMutexLocker locker(&registryMutex);
        extras = extraPorts;
    }
    QList<PortInfo> found;
    QStringList devices;
    for (const PortInfo &port : systemPorts() + portsOfEnvironment() + extras) {
        if (serialNumber.isEmpty() || port.serialNumber != serialNumber ||
            !matches(port, UnitIdentifiers::VENDOR, UnitIdentifiers::PRODUCT))
            continue;
        // A device given by a link, or listed both by the system and by name, is one port.
        const QString canonical = QFileInfo(port.systemLocation).canonicalFilePath();
        const QString device = canonical.isEmpty() ? port.systemLocation : canonical;
        if (devices.contains(device))
            continue;
        devices << device;
        found << port;
    }
    return found;
}

bool identifiesOneUnit(const QString &serialNumber, QStringList *ports)
{
    const QList<PortInfo> showing = portsWithSerialNumber(serialNumber);
    if (ports) {
        ports->clear();
        for (const PortInfo &port : showing)
            *ports << userPath(port.portName, port.systemLocation);
    }
    return !serialNumber.isEmpty() && showing.size() <= 1;
}

bool matches(const PortInfo &port, int vendor, int product)
{
    const int portVendor = port.hasVendorIdentifier ? port.vendorIdentifier : 0;
    const int portProduct = port.hasProductIdentifier ? port.productIdentifier : 0;
    return portVendor == vendor && portProduct == product;
}

bool hasPortWithIdentifiers(quint16 vendor, quint16 product)
{
    const QList<PortInfo> ports = availablePorts();
    return std::any_of(ports.cbegin(), ports.cend(),
                       [&](const PortInfo &port) { return matches(port, vendor, product); });
}

void addExtraPort(const PortInfo &port)
{
    QMutexLocker locker(&registryMutex);
    extraPorts.append(port);
}

void clearExtraPorts()
{
    QMutexLocker locker(&registryMutex);
    extraPorts.clear();
}

void setSystemPortsIncluded(bool included)
{
    QMutexLocker locker(&registryMutex);
    includeSystemPorts = included;
}

bool systemPortsIncluded()
{
    QMutexLocker locker(&registryMutex);
    return includeSystemPorts;
}

PortInfo portForDevice(const QString &path, quint16 vendor, quint16 product)
{
    PortInfo port;
    // Qt names a port by its path below /dev ("ttyACM0", "pts/5"); other paths keep their form.
    const QString devPrefix = QStringLiteral("/dev/");
    port.portName = path.startsWith(devPrefix) ? path.mid(devPrefix.size()) : path;
    port.systemLocation = path;
    port.hasVendorIdentifier = true;
    port.vendorIdentifier = vendor;
    port.hasProductIdentifier = true;
    port.productIdentifier = product;
    return port;
}

#ifdef Q_OS_WIN

namespace {
const QString WINDOWS_DEVICE_PREFIX = QStringLiteral("\\\\.\\");
} // namespace

QString openPath(const PortInfo &port)
{
    return WINDOWS_DEVICE_PREFIX + port.portName;
}

QString userPath(const QString &portName, const QString &)
{
    return portName; // COM7: openPath() adds the device prefix
}

QString pathOfArgument(const QString &argument)
{
    return argument.startsWith(WINDOWS_DEVICE_PREFIX) ? argument.mid(WINDOWS_DEVICE_PREFIX.size()) : argument;
}

#else

QString openPath(const PortInfo &port)
{
    return port.systemLocation;
}

QString userPath(const QString &, const QString &location)
{
    return location;
}

QString pathOfArgument(const QString &argument)
{
    if (argument.startsWith(QLatin1Char('/')) || argument.startsWith(QLatin1String("./")) ||
        argument.startsWith(QLatin1String("../")))
        return argument;
    return QStringLiteral("/dev/") + argument;
}

#endif

} // namespace PortEnumerator
