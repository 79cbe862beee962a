#pragma once

// TI-TXT images for the tests and the fuzz targets: a reader independent of the program's own, a
// check of the form the program's carried images have, a writer for small made-up images, and
// such images.

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
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

// Empty when the text has the form of the images the program carries, else what is wrong with it:
// "@xxxx" address lines in ascending order, data lines of one to sixteen "XX " fields, a short data
// line only at the end of its section, every line ended by CR LF, "q" last.
inline QString carriedFormError(const QByteArray &text)
{
    static const QRegularExpression addressLine("^@[0-9a-f]{4}$");
    static const QRegularExpression dataLine("^([0-9A-F]{2} ){1,16}$");
    if (!text.endsWith("q\r\n"))
        return "the image does not end with the line q";
    const QList<QByteArray> lines = text.left(text.size() - 2).split('\n');
    bool haveAddress = false;
    quint32 address = 0;
    bool lastLineShort = false;
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (i + 1 < lines.size()) {
            if (!line.endsWith('\r'))
                return QString("line %1 does not end in CR LF").arg(i + 1);
            line.chop(1);
        }
        if (line.contains('\r'))
            return QString("line %1 holds a stray CR").arg(i + 1);
        const QString lineText = QString::fromLatin1(line);
        if (i + 1 == lines.size()) {
            if (line != "q")
                return QString("the last line is '%1', not q").arg(lineText);
        } else if (addressLine.match(lineText).hasMatch()) {
            const quint32 next = line.mid(1).toUInt(nullptr, 16);
            if (haveAddress && next <= address)
                return QString("line %1 goes back to an earlier address").arg(i + 1);
            haveAddress = true;
            address = next;
            lastLineShort = false;
        } else if (dataLine.match(lineText).hasMatch()) {
            if (!haveAddress)
                return "data before the first address line";
            if (lastLineShort)
                return QString("line %1 follows a short data line in the same section").arg(i + 1);
            lastLineShort = line.size() < 16 * 3;
        } else {
            return QString("line %1 has an unknown form: '%2'").arg(i + 1).arg(lineText);
        }
    }
    return QString();
}

// "XX " fields, 16 to a line, lines ended by CR LF.
inline QByteArray write(const Sections &sections)
{
    QByteArray text;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        text += '@' + QByteArray::number(it.key(), 16).toUpper() + "\r\n";
        const QByteArray &bytes = it.value();
        for (int i = 0; i < bytes.size(); i += 16)
            text += bytes.mid(i, 16).toHex(' ').toUpper() + " \r\n";
    }
    text += "q\r\n";
    return text;
}

// Writes the image to `path`; false when the file cannot be written.
inline bool writeFile(const QString &path, const Sections &sections)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(write(sections)) >= 0;
}

inline unsigned int dataSize(const Sections &sections)
{
    unsigned int size = 0;
    for (const QByteArray &bytes : sections)
        size += static_cast<unsigned int>(bytes.size());
    return size;
}

inline QByteArray randomBytes(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(count, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random.bounded(256));
    return bytes;
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

// Code, interrupt vectors, and a section past 64 KiB: five blocks of at most 240 bytes.
inline Sections threeSections()
{
    return Sections{
        {0x8000, randomBytes(600, 1)}, {0xFFE0, randomBytes(32, 2)}, {0x10000, randomBytes(100, 3)}};
}

// Sections that fill their last block exactly: the reader hands out an empty block after each.
inline Sections blockAligned()
{
    return Sections{{0x8000, randomBytes(480, 4)}, {0xFFE0, randomBytes(32, 5)}};
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
