// Fuzz target: a whole installation (password, mass erase, data blocks) of a small image, with the
// input as everything the loader sends, over a scripted line (scriptedline.h).
// Checked: the end is announced exactly once; the percentage never passes 100; 100 only when every
// block of the image went out in a data-block command; no more commands than ten attempts of
// each step allow; the image is closed again afterwards.

#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "TextFileIO.h"
#include "scriptedline.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

QString imagePath;
unsigned int imageSize = 0;
QList<QByteArray> blockCores; // command, three address bytes, data: what each block must carry

void removeImage()
{
    QFile::remove(imagePath);
}

QByteArray segmentBytes(int count, int seed)
{
    QByteArray bytes(count, '\0');
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((i * 37 + seed * 101) & 0xFF);
    return bytes;
}

// Code at 0x8000 (three blocks), the interrupt vectors, and a segment past 64 KiB.
void writeImage()
{
    const QList<QPair<uint32_t, QByteArray>> segments{
        {0x8000, segmentBytes(600, 1)}, {0xFFE0, segmentBytes(32, 2)}, {0x10000, segmentBytes(100, 3)}};
    QByteArray text;
    for (const auto &segment : segments) {
        text += "@" + QByteArray::number(segment.first, 16).toUpper() + "\r\n";
        const QByteArray &bytes = segment.second;
        for (int i = 0; i < bytes.size(); i += 16)
            text += bytes.mid(i, 16).toHex(' ').toUpper() + " \r\n";
        for (int i = 0; i < bytes.size(); i += BSL_BUFFER_SIZE) {
            const uint32_t address = segment.first + static_cast<uint32_t>(i);
            QByteArray core;
            core.append(static_cast<char>(RX_DATA_BLOCK));
            core.append(static_cast<char>(address & 0xFF));
            core.append(static_cast<char>((address >> 8) & 0xFF));
            core.append(static_cast<char>((address >> 16) & 0xFF));
            core.append(bytes.mid(i, BSL_BUFFER_SIZE));
            blockCores << core;
        }
        imageSize += static_cast<unsigned int>(bytes.size());
    }
    text += "q\r\n";
    QFile file(imagePath);
    if (!file.open(QIODevice::WriteOnly))
        abort();
    file.write(text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    imagePath = QDir::tempPath() + QStringLiteral("/fuzz_install.%1.txt").arg(getpid());
    writeImage();
    std::atexit(removeImage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ScriptedLine::setScript(data, size);
    BSL_Interface bsl(BSL_BUFFER_SIZE);
    int done = 0;
    unsigned int highest = 0;
    QObject::connect(&bsl, &BSL_Interface::firmwareInstallDone, [&done] { ++done; });
    QObject::connect(&bsl, &BSL_Interface::progressChanged,
                     [&highest](const unsigned int &percent) { highest = qMax(highest, percent); });
    bsl.installFirmware(imagePath, imageSize);

    if (done != 1 || highest > 100 || bsl.getPercent() > 100)
        abort();
    const QByteArray written(reinterpret_cast<const char *>(ScriptedLine::written().data()),
                             static_cast<int>(ScriptedLine::written().size()));
    if (bsl.getPercent() == 100) {
        for (const QByteArray &core : blockCores) {
            if (!written.contains(core))
                abort();
        }
    }
    // Every command is a frame that starts with 0x80 and its length, followed after an attempt
    // without acknowledgement by a whole run of filler; count the frames by walking them.
    const QByteArray filler(BSL_MAX_FRAME_SIZE, static_cast<char>(BSL_FRAME_FILLER));
    int frames = 0;
    for (int at = 0; at + 3 <= written.size(); ++frames) {
        if (written.mid(at, filler.size()) == filler) {
            at += filler.size();
            --frames;
            continue;
        }
        if (static_cast<uint8_t>(written[at]) != BSL_HEADER)
            abort();
        const int length =
            static_cast<uint8_t>(written[at + 1]) | (static_cast<uint8_t>(written[at + 2]) << 8);
        at += 3 + length + 2;
    }
    if (frames > BSL_RX_PASS_REPEAT * (2 + blockCores.size()))
        abort();
    // The installation closed its image: the next one can open it.
    if (openTI_TextForRead(imagePath.toLocal8Bit().constData()) != OPERATION_SUCCESSFUL)
        abort();
    closeTI_Text();
    return 0;
}
