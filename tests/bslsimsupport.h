#pragma once

#include "BSL_Interface.h"
#include "PortInfo.h"
#include "simulatedunit.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMap>
#include <QRandomGenerator>
#include <QString>

// What the installation tests share: the simulated unit presented as a port, TI-TXT images written
// from known bytes, and the comparison of the unit's memory with an image.

inline PortInfo portOf(const SimulatedUnit &unit)
{
    PortInfo info;
    info.portName = unit.portPath().mid(5);
    info.systemLocation = unit.portPath();
    return info;
}

// Segments of an image: start address -> bytes.
using Segments = QMap<quint32, QByteArray>;

inline QByteArray toTiTxt(const Segments &segments)
{
    QByteArray text;
    for (auto it = segments.cbegin(); it != segments.cend(); ++it) {
        text += "@" + QByteArray::number(it.key(), 16).toUpper() + "\r\n";
        const QByteArray &bytes = it.value();
        for (int i = 0; i < bytes.size(); i += 16) {
            for (int j = i; j < qMin(i + 16, bytes.size()); ++j)
                text += bytes.mid(j, 1).toHex().toUpper() + ' ';
            text += "\r\n";
        }
    }
    return text + "q\r\n";
}

inline QByteArray randomBytes(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(count, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random.bounded(256));
    return bytes;
}

// Code, interrupt vectors, and a segment past 64 KiB: five blocks of at most 240 bytes.
inline Segments smallImage()
{
    return Segments{
        {0x8000, randomBytes(600, 1)}, {0xFFE0, randomBytes(32, 2)}, {0x10000, randomBytes(100, 3)}};
}

// Segments that fill their last block exactly: the reader hands out an empty block after each.
inline Segments blockAlignedImage()
{
    return Segments{{0x8000, randomBytes(480, 4)}, {0xFFE0, randomBytes(32, 5)}};
}

inline unsigned int sizeOf(const Segments &segments)
{
    unsigned int size = 0;
    for (const QByteArray &bytes : segments)
        size += static_cast<unsigned int>(bytes.size());
    return size;
}

// The segments of a TI-TXT text as the format defines them (independent of the reader under test).
inline Segments parseTiTxt(const QByteArray &text)
{
    Segments segments;
    quint32 address = 0;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('@')) {
            address = line.mid(1).toUInt(nullptr, 16);
            segments[address];
        } else if (line.startsWith('q') || line.startsWith('Q')) {
            break;
        } else if (!line.isEmpty()) {
            for (const QByteArray &field : line.split(' ')) {
                if (!field.isEmpty())
                    segments[address].append(static_cast<char>(field.toUInt(nullptr, 16)));
            }
        }
    }
    return segments;
}

// Empty when the unit's memory holds every segment, else a description of the first difference.
inline QString memoryDifference(const SimulatedUnit &unit, const Segments &segments)
{
    for (auto it = segments.cbegin(); it != segments.cend(); ++it) {
        const QByteArray actual = unit.memory(it.key(), it.value().size());
        if (actual != it.value()) {
            int i = 0;
            while (i < actual.size() && actual.at(i) == it.value().at(i))
                ++i;
            return QString("segment %1: first difference at 0x%2")
                .arg(it.key(), 0, 16)
                .arg(it.key() + static_cast<quint32>(i), 0, 16);
        }
    }
    return QString();
}
