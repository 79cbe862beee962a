#pragma once

#include "PortInfo.h"

#include <QList>

// The serial ports the worker walks. By default these are the ports that Qt's serial-port
// enumeration lists; tools and tests can add ports that Qt cannot see (a simulated unit's
// pseudo-terminal, a port given on a command line) and leave the system's ports out.
namespace PortEnumerator {

// One snapshot: the system's ports (unless left out), then the extra ports in the order added.
QList<PortInfo> availablePorts();

// Whether the port carries these USB identifiers; one without an identifier counts as 0 there.
bool matches(const PortInfo &port, int vendor, int product);

// Whether availablePorts() lists a port with both USB identifiers right now.
bool hasPortWithIdentifiers(quint16 vendor, quint16 product);

void addExtraPort(const PortInfo &port);
void clearExtraPorts();

// Whether availablePorts() starts with the system's ports; true unless changed.
void setSystemPortsIncluded(bool included);
bool systemPortsIncluded();

// A port for a device path such as "/dev/pts/5", with the given USB identifiers.
PortInfo portForDevice(const QString &path, quint16 vendor, quint16 product);

} // namespace PortEnumerator
