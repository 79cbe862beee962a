#pragma once

// TI-TXT images for the tests: a reader independent of the program's own, a writer for small
// made-up images, and the comparison of a simulated unit's memory with an image.

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QString>

namespace TestImage {

using Sections = QMap<quint32, QByteArray>; // start address -> bytes

// Sections of a TI-TXT text ("@ADDR" lines, lines of hex bytes, "q" at the end).
inline Sections parse(const QByteArray &text, bool *ok = nullptr)
{
    Sections sections;
    quint32 address = 0;
    bool haveAddress = false;
    bool good = true;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('q'))
            break;
        if (line.startsWith('@')) {
            address = line.mid(1).toUInt(&good, 16);
            if (!good)
                break;
            haveAddress = true;
            sections.insert(address, QByteArray());
            continue;
        }
        if (!haveAddress) {
            good = false;
            break;
        }
        for (const QByteArray &byte : line.simplified().split(' ')) {
            sections[address].append(char(byte.toUInt(&good, 16)));
            if (!good)
                break;
        }
        if (!good)
            break;
    }
    if (ok)
        *ok = good && !sections.isEmpty();
    return sections;
}

inline Sections read(const QString &path, bool *ok = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (ok)
            *ok = false;
        return {};
    }
    return parse(file.readAll(), ok);
}

// In the form of the images the program carries: "XX " fields, 16 to a line, lines ended by CR LF.
inline QByteArray write(const Sections &sections)
{
    QByteArray text;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        text += '@' + QByteArray::number(it.key(), 16).toUpper() + "\r\n";
        const QByteArray &bytes = it.value();
        for (int i = 0; i < bytes.size(); i += 16) {
            for (int j = i; j < qMin(i + 16, bytes.size()); ++j)
                text += QByteArray::number(quint8(bytes.at(j)) | 0x100, 16).mid(1).toUpper() + ' ';
            text += "\r\n";
        }
    }
    text += "q\r\n";
    return text;
}

inline unsigned int dataSize(const Sections &sections)
{
    unsigned int size = 0;
    for (const QByteArray &bytes : sections)
        size += static_cast<unsigned int>(bytes.size());
    return size;
}

// A small image: some code at 0x5C00 and a full set of interrupt vectors.
inline Sections small(int codeSize = 1000)
{
    Sections sections;
    QByteArray code;
    for (int i = 0; i < codeSize; ++i)
        code.append(char((i * 7 + 3) & 0xFF));
    sections.insert(0x5C00, code);
    QByteArray vectors;
    for (int i = 0; i < 16; ++i)
        vectors.append(char(0x00)).append(char(0x5C));
    sections.insert(0xFFE0, vectors);
    return sections;
}

// The memory after a mass erase and the image written: erased (0xFF) but for the sections.
inline QByteArray memoryImage(const Sections &sections, int memorySize)
{
    QByteArray memory(memorySize, char(0xFF));
    for (auto it = sections.cbegin(); it != sections.cend(); ++it)
        memory.replace(int(it.key()), it.value().size(), it.value());
    return memory;
}

} // namespace TestImage
