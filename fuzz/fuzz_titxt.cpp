// Fuzz target: the TI-TXT image reader. The input is the image file; its first byte also picks the
// block size (1 to 256). The image is read to its end the way the installation reads it.
// Checked: every read comes back; the whole image takes a bounded number of reads; no block
// exceeds the block size by a line or more; no more bytes come out than the text can hold; a
// second open while the image is open is refused; after close a new open succeeds; an image that
// passes the check reads to the check's count of data bytes.

#include "TextFileIO.h"
#include "logcapture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QByteArray imagePath;

void removeImage()
{
    QFile::remove(QString::fromLocal8Bit(imagePath));
}

// One read of the reader's line buffer holds at most 49 characters, so at most 16 fields.
constexpr int MAX_FIELDS_PER_READ = 16;
constexpr int LINE_READ = 49;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QuietLog quiet(LogCapture::PassOn::Nothing);
    imagePath = QFile::encodeName(QDir::tempPath() + QStringLiteral("/fuzz_titxt.%1.txt").arg(getpid()));
    std::atexit(removeImage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int blockSize = data[0] + 1;
    {
        QFile file(QString::fromLocal8Bit(imagePath));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            abort();
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }

    if (openTI_TextForRead(imagePath.constData()) != OPERATION_SUCCESSFUL)
        abort();
    if (openTI_TextForRead(imagePath.constData()) != ERROR_OPENING_FILE)
        abort();

    // Every call takes at least one line read; a file of `size` bytes has at most this many.
    std::size_t lineReads = 0;
    for (std::size_t i = 0; i < size; ++i)
        lineReads += data[i] == '\n';
    const std::size_t maxCalls = lineReads + size / LINE_READ + 3;

    std::size_t calls = 0;
    qint64 total = 0;
    while (moreDataToRead()) {
        if (++calls > maxCalls)
            abort();
        QByteArray block;
        readTI_TextFile(blockSize, block);
        if (block.size() >= blockSize + MAX_FIELDS_PER_READ)
            abort();
        total += block.size();
    }
    // A field takes at least one character.
    if (total > static_cast<qint64>(size))
        abort();
    closeTI_Text();
    closeTI_Text();
    const ImageCheck check =
        checkTI_Text(QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)));
    if (check.ok && total != check.dataBytes)
        abort();
    if (openTI_TextForRead(imagePath.constData()) != OPERATION_SUCCESSFUL)
        abort();
    closeTI_Text();
    return 0;
}
