#pragma once

#include "PortInfo.h"

#include <QList>
#include <QStringList>

// The serial ports the worker walks. By default these are the ports that Qt's serial-port
// enumeration lists; tools and tests can add ports that Qt cannot see (a simulated unit's
// pseudo-terminal, a port given on a command line) and leave the system's ports out.
namespace PortEnumerator {

// Devices listed as units' ports after the system's, for a simulated unit that another program
// should see as plugged in: "PATH[=SERIAL[@LOCATION]];PATH[=SERIAL[@LOCATION]]...", each with
// the unit's USB identifiers, the serial number and the place on the USB given.
const char *const EXTRA_PORTS_VARIABLE = "TALVO_EXTRA_PORTS";

// One snapshot: the system's ports and those of EXTRA_PORTS_VARIABLE (unless left out), then the
// extra ports in the order added.
QList<PortInfo> availablePorts();

// The listed port of a device path, also when the path is a link to it (/dev/serial/by-id/...);
// a null port (empty name) when none is listed.
PortInfo listedPort(const QString &path);

// Whether the port carries these USB identifiers; one without an identifier counts as 0 there.
bool matches(const PortInfo &port, int vendor, int product);

// The ports with the unit's USB identifiers that show this USB serial number right now, each device
// once: the system's ports and the extra ones, also while the system's are left out of
// availablePorts() (a run on one device given by name still sees the others). A serial number that
// more than one port shows identifies no unit: cheap bridges, and units of one batch, share them.
QList<PortInfo> portsWithSerialNumber(const QString &serialNumber);
// Whether the serial number is that of one unit only: not empty, and shown by no two ports.
bool identifiesOneUnit(const QString &serialNumber, QStringList *ports = nullptr);

// Whether availablePorts() lists a port with both USB identifiers right now.
bool hasPortWithIdentifiers(quint16 vendor, quint16 product);

void addExtraPort(const PortInfo &port);
void clearExtraPorts();

// Whether availablePorts() starts with the system's ports; true unless changed.
void setSystemPortsIncluded(bool included);
bool systemPortsIncluded();

// A port for a device path such as "/dev/pts/5", with the given USB identifiers.
PortInfo portForDevice(const QString &path, quint16 vendor, quint16 product);

// How ports are named, the one place that knows Windows' device names.
// The path the serial line opens for a port: "\\.\" and the port's name on Windows ("\\.\COM7",
// which also reaches COM10 and above), its system location elsewhere ("/dev/ttyACM0").
QString openPath(const PortInfo &port);
// A port as the user names it to talvo-flash and reads it in its words: the port's name on
// Windows ("COM7"), its system location elsewhere ("/dev/ttyACM0").
QString userPath(const QString &portName, const QString &location);
// The device a user names on the command line: on Windows the port's name, with a "\\.\" in
// front dropped; elsewhere a path as given, and a bare name ("ttyACM0") as the device of that name
// below /dev.
QString pathOfArgument(const QString &argument);

} // namespace PortEnumerator
