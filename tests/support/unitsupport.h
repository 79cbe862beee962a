#pragma once

// The simulated unit in the tests: started with a version text, presented as a port to the loader
// interface or to the port list, and its memory compared with an image.

#include "BSL_Interface.h"
#include "PortInfo.h"
#include "portenumerator.h"
#include "simulatedunit.h"
#include "testimage.h"
#include "unitidentifiers.h"

#include <QByteArray>
#include <QDebug>
#include <QString>

#include <memory>
#include <optional>

// The USB identity of the unit's serial port.
constexpr quint16 UNIT_VENDOR_ID = UnitIdentifiers::VENDOR;
constexpr quint16 UNIT_PRODUCT_ID = UnitIdentifiers::PRODUCT;

// A unit with the default firmware, started; a failed start is logged and shows in the tests that
// talk to it.
inline std::unique_ptr<SimulatedUnit> startUnit(const QByteArray &versionText = "49.05(1799),Talvo 400S")
{
    auto unit = std::make_unique<SimulatedUnit>();
    unit->setVersionText(versionText);
    unit->loadDefaultFirmware();
    if (!unit->start())
        qWarning() << "simulated unit:" << unit->errorString();
    return unit;
}

// The unit's pseudo-terminal as the port the loader interface opens.
inline PortInfo portOf(const SimulatedUnit &unit)
{
    PortInfo info;
    info.portName = unit.portPath().mid(5);
    info.systemLocation = unit.portPath();
    return info;
}

// The loader interface on the started unit's port, in programming mode: the version text the unit
// gave, or nothing where the port did not open or the unit was not brought into programming mode.
inline std::optional<QString> enterProgrammingMode(BSL_Interface &bsl, const SimulatedUnit &unit)
{
    QString version;
    if (!bsl.openPort(portOf(unit)) || !bsl.rxProgrammingMode(version))
        return std::nullopt;
    return version;
}

// Puts the unit's port in the port list, with the unit's USB identity unless told otherwise.
inline void addUnitPort(const SimulatedUnit &unit, quint16 vendor = UNIT_VENDOR_ID,
                        quint16 product = UNIT_PRODUCT_ID)
{
    PortInfo port = PortEnumerator::portForDevice(unit.portPath(), vendor, product);
    port.description = QStringLiteral("simulated unit");
    PortEnumerator::addExtraPort(port);
}

// Empty when the unit's memory holds every section, else a description of the first difference.
inline QString memoryDifference(const SimulatedUnit &unit, const TestImage::Sections &sections)
{
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        const QByteArray actual = unit.memory(it.key(), it.value().size());
        if (actual != it.value()) {
            int i = 0;
            while (i < actual.size() && actual.at(i) == it.value().at(i))
                ++i;
            return QString("section %1: first difference at 0x%2")
                .arg(it.key(), 0, 16)
                .arg(it.key() + static_cast<quint32>(i), 0, 16);
        }
    }
    return QString();
}
