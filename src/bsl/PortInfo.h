#pragma once

#include <QSerialPortInfo>
#include <QString>

// What the program uses of one serial port, as a plain value. Qt's enumeration fills it; a port
// that Qt cannot enumerate (such as a simulated unit's pseudo-terminal) can be described too.
struct PortInfo
{
    QString portName;       // "COM7", "ttyACM0", "pts/5"
    QString systemLocation; // "\\.\COM7", "/dev/ttyACM0", "/dev/pts/5"
    QString description;
    QString manufacturer;
    QString serialNumber; // the USB serial number, empty when the device has none
    QString usbLocation;  // where the device is plugged in: the USB port path ("1-1.2"), empty when unknown
    bool hasVendorIdentifier = false;
    quint16 vendorIdentifier = 0;
    bool hasProductIdentifier = false;
    quint16 productIdentifier = 0;

    PortInfo() = default;
    explicit PortInfo(const QSerialPortInfo &info)
        : portName(info.portName()), systemLocation(info.systemLocation()), description(info.description()),
          manufacturer(info.manufacturer()), serialNumber(info.serialNumber()),
          hasVendorIdentifier(info.hasVendorIdentifier()), vendorIdentifier(info.vendorIdentifier()),
          hasProductIdentifier(info.hasProductIdentifier()), productIdentifier(info.productIdentifier())
    {
    }
};
