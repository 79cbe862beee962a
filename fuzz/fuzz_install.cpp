// Fuzz target: a whole installation (password, mass erase, data blocks) of a small image, with the
// input as everything the loader sends, over a scripted line (scriptedline.h).
// Checked: the end is announced exactly once; the percentage never passes 100; 100 only when every
// block of the image went out in a data-block command; no more commands than ten attempts of
// each step allow; the image is closed again afterwards.

#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "TextFileIO.h"
#include "logcapture.h"
#include "scriptedline.h"
#include "testimage.h"

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

QString imagePath;
unsigned int imageSize = 0;
QList<QByteArray> blockCores; // command, three address bytes, data: what each block must carry

void removeImage()
{
    QFile::remove(imagePath);
}

// Code at 0x8000 (three blocks), the interrupt vectors, and a segment past 64 KiB.
void writeImage()
{
    const TestImage::Sections sections = TestImage::threeSections();
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        const QByteArray &bytes = section.value();
        for (int i = 0; i < bytes.size(); i += BSL_BUFFER_SIZE) {
            const uint32_t address = section.key() + static_cast<uint32_t>(i);
            QByteArray core;
            core.append(static_cast<char>(RX_DATA_BLOCK));
            core.append(static_cast<char>(address & 0xFF));
            core.append(static_cast<char>((address >> 8) & 0xFF));
            core.append(static_cast<char>((address >> 16) & 0xFF));
            core.append(bytes.mid(i, BSL_BUFFER_SIZE));
            blockCores << core;
        }
    }
    imageSize = TestImage::dataSize(sections);
    if (!TestImage::writeFile(imagePath, sections))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QuietLog quiet(LogCapture::PassOn::Nothing);
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
