#include "TextFileIO.h"
#include "logcapture.h"

#include <QtTest>

namespace {

// Reads the open image to its end; each block as "address:hex bytes".
QStringList readAll(int blockSize, int maxBlocks = 100000)
{
    QStringList blocks;
    while (moreDataToRead() && blocks.size() < maxBlocks) {
        QByteArray data;
        const uint32_t address = readTI_TextFile(blockSize, data);
        blocks << QString::number(address, 16) + ":" + QString::fromLatin1(data.toHex());
    }
    return blocks;
}

// A data line as the carried images write them: "XX " per byte, CR LF.
QByteArray dataLine(int first, int count)
{
    QByteArray line;
    for (int i = 0; i < count; ++i)
        line += QByteArray::number((first + i) & 0xFF, 16).rightJustified(2, '0').toUpper() + ' ';
    return line + "\r\n";
}

QByteArray hexRun(int first, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(static_cast<char>((first + i) & 0xFF));
    return bytes.toHex();
}

} // namespace

// The TI-TXT reader: blocks, addresses, segment ends, and files it does not support.
class tst_TextFileIO : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { closeTI_Text(); }
    void imagesAreReadInBlocks_data();
    void imagesAreReadInBlocks();
    void unsupportedLinesEndTheImageSafely_data();
    void unsupportedLinesEndTheImageSafely();
    void arbitraryBytesNeverCrashTheReader();
    void aMissingImageReadsAsEmpty();
    void aSecondOpenIsRefused();
    void theCheckNamesTheFirstFault_data();
    void theCheckNamesTheFirstFault();
    void carriedImagesReadToTheirSize_data();
    void carriedImagesReadToTheirSize();

private:
    QString write(const QByteArray &content)
    {
        const QString path = _dir.filePath(QString("image%1.txt").arg(++_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return QString();
        return path;
    }

    QTemporaryDir _dir;
    int _files = 0;
};

void tst_TextFileIO::imagesAreReadInBlocks_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("blockSize");
    QTest::addColumn<QStringList>("blocks");

    QTest::newRow("two fields") << QByteArray("@8000\r\nAB CD \r\nq\r\n") << 240 << QStringList{"8000:abcd"};
    QTest::newRow("CR LF right after the last field")
        << QByteArray("@8000\r\nAB CD\r\nq\r\n") << 240 << QStringList{"8000:abcd"};
    QTest::newRow("LF line ends") << QByteArray("@8000\nAB CD \nq\n") << 240 << QStringList{"8000:abcd"};
    QTest::newRow("LF right after the last field")
        << QByteArray("@8000\r\nAB CD \r\n11 22\n33\nq\r\n") << 240 << QStringList{"8000:abcd112233"};
    QTest::newRow("a full 50-character line yields 16 bytes")
        << QByteArray("@8000\r\n" + dataLine(0, 16) + dataLine(16, 16) + "q\r\n") << 240
        << QStringList{"8000:" + hexRun(0, 32)};
    QTest::newRow("blocks are whole lines of at least the block size")
        << QByteArray("@8000\r\n" + dataLine(0, 16) + dataLine(16, 16) + dataLine(32, 5) + "q\r\n") << 20
        << QStringList{"8000:" + hexRun(0, 32), "8020:" + hexRun(32, 5)};
    QTest::newRow("a block never spans two segments")
        << QByteArray("@8000\r\n" + dataLine(0, 3) + "@FFC6\r\n" + dataLine(3, 2) + "@10000\r\n" +
                      dataLine(5, 4) + "q\r\n")
        << 240 << QStringList{"8000:" + hexRun(0, 3), "ffc6:" + hexRun(3, 2), "10000:" + hexRun(5, 4)};
    QTest::newRow("a segment that fills its last block leaves an empty block")
        << QByteArray("@8000\r\n" + dataLine(0, 16) + "@9000\r\n" + dataLine(16, 16) + "q\r\n") << 16
        << QStringList{"8000:" + hexRun(0, 16), "8010:", "9000:" + hexRun(16, 16), "9010:"};
    QTest::newRow("Q ends the image like q")
        << QByteArray("@8000\r\nAB \r\nQ\r\nCD \r\nmore\r\n") << 240 << QStringList{"8000:ab"};
    QTest::newRow("the last line is never interpreted")
        << QByteArray("@8000\r\nAB \r\nCD EF \r\n") << 240 << QStringList{"8000:ab"};
    QTest::newRow("text that is not hexadecimal inside a field reads 0")
        << QByteArray("@8000\r\nAB ZZ 1Z \r\nq\r\n") << 240 << QStringList{"8000:ab0001"};
    QTest::newRow("lower-case digits and blank lines")
        << QByteArray("@8000\r\n\r\nab cd \r\n   \r\nq\r\n") << 240 << QStringList{"8000:abcd"};
    QTest::newRow("long blank tail of a full line")
        << QByteArray("@8000\r\n" + dataLine(0, 16).chopped(2) + QByteArray(30, ' ') + "\r\nq\r\n") << 240
        << QStringList{"8000:" + hexRun(0, 16)};
}

void tst_TextFileIO::imagesAreReadInBlocks()
{
    QFETCH(QByteArray, content);
    QFETCH(int, blockSize);
    QFETCH(QStringList, blocks);

    const QString path = write(content);
    QVERIFY(!path.isEmpty());
    QCOMPARE(openTI_TextForRead(path.toLocal8Bit().constData()), OPERATION_SUCCESSFUL);
    QCOMPARE(moreDataToRead(), 1);
    QCOMPARE(readAll(blockSize), blocks);
    QCOMPARE(moreDataToRead(), 0);
    // After the end, reads give nothing until the next open.
    QByteArray data;
    QCOMPARE(readTI_TextFile(blockSize, data), TXT_EOF);
    QVERIFY(data.isEmpty());
    closeTI_Text();
    QCOMPARE(moreDataToRead(), 0);
}

void tst_TextFileIO::unsupportedLinesEndTheImageSafely_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("blocks");

    // Lines the reader would otherwise convert with bytes missing or wrong: the image ends before
    // them, so an installation can never count such an image as complete.
    QTest::newRow("seventeen fields on one line")
        << QByteArray("@8000\r\nAB \r\n" + dataLine(0, 17) + "q\r\n") << QStringList{"8000:ab"};
    QTest::newRow("a very long line")
        << QByteArray("@8000\r\n" + QByteArray(500, 'A') + "\r\nq\r\n") << QStringList{"8000:"};
    QTest::newRow("fields without blanks") << QByteArray("@8000\r\nABCDEF\r\nq\r\n") << QStringList{"8000:"};
    QTest::newRow("a truncated field") << QByteArray("@8000\r\nAB C\r\nq\r\n") << QStringList{"8000:"};
    QTest::newRow("a lone digit") << QByteArray("@8000\r\nA\r\nq\r\n") << QStringList{"8000:"};
    QTest::newRow("a field of one digit") << QByteArray("@8000\r\nAB 1 \r\nq\r\n") << QStringList{"8000:"};
    QTest::newRow("fields two blanks apart")
        << QByteArray("@8000\r\nAB  CD \r\nq\r\n") << QStringList{"8000:"};
    QTest::newRow("first line is not an address")
        << QByteArray("AB CD \r\n@8000\r\nq\r\n") << QStringList{"ffffffff:"};
    QTest::newRow("address with junk")
        << QByteArray("@8000\r\nAB \r\n@80G0\r\nCD \r\nq\r\n") << QStringList{"8000:ab"};
    QTest::newRow("address of nine digits")
        << QByteArray("@123456789\r\nAB \r\nq\r\n") << QStringList{"ffffffff:"};
    QTest::newRow("empty file") << QByteArray() << QStringList{"ffffffff:"};
    QTest::newRow("address line only") << QByteArray("@8000\r\n") << QStringList{"8000:"};
}

void tst_TextFileIO::unsupportedLinesEndTheImageSafely()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, blocks);

    const QString path = write(content);
    QVERIFY(!path.isEmpty());
    QCOMPARE(openTI_TextForRead(path.toLocal8Bit().constData()), OPERATION_SUCCESSFUL);
    QCOMPARE(readAll(240, 100), blocks);
    QCOMPARE(moreDataToRead(), 0);
}

void tst_TextFileIO::arbitraryBytesNeverCrashTheReader()
{
    // Run under the sanitizer build this also shows that nothing is read or written out of bounds.
    QRandomGenerator random(99);
    const QByteArray alphabet("@qQ0123456789abcdefABCDEFxyz \t\r\n\n\n\0\xff", 37);
    for (int round = 0; round < 300; ++round) {
        QByteArray content = round % 2 ? QByteArray("@8000\r\n") : QByteArray();
        const int length = random.bounded(0, 2000);
        for (int i = 0; i < length; ++i)
            content.append(alphabet.at(random.bounded(alphabet.size())));
        const QString path = write(content);
        QVERIFY(!path.isEmpty());
        QCOMPARE(openTI_TextForRead(path.toLocal8Bit().constData()), OPERATION_SUCCESSFUL);
        int total = 0;
        int blocks = 0;
        while (moreDataToRead() && blocks < 10000) {
            QByteArray data;
            readTI_TextFile(240, data);
            QVERIFY(data.size() < 240 + 16 + 1);
            total += data.size();
            ++blocks;
        }
        QVERIFY2(blocks < 10000, "the reader comes to an end");
        // At most one byte per three characters of text.
        QVERIFY(total <= content.size() / 3 + 1);
        closeTI_Text();
        QFile::remove(path);
    }
}

void tst_TextFileIO::aMissingImageReadsAsEmpty()
{
    LogCapture log;
    QCOMPARE(openTI_TextForRead(_dir.filePath("missing.txt").toLocal8Bit().constData()), ERROR_OPENING_FILE);
    QCOMPARE(log.lines().size(), 1);
    QVERIFY(log.lines().at(0).startsWith("pFile->open failed: "));
    QVERIFY(log.lines().at(0).size() > QString("pFile->open failed: ").size());
    QCOMPARE(moreDataToRead(), 0);

    // Reading without an open image comes back at once with nothing.
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(readTI_TextFile(240, data), TXT_EOF);
    QVERIFY(data.isEmpty());
    QVERIFY(timer.elapsed() < 100);
    closeTI_Text();
    closeTI_Text();

    QCOMPARE(openTI_TextForRead(":/no/such/image.txt"), ERROR_OPENING_FILE);
    QCOMPARE(moreDataToRead(), 0);
}

void tst_TextFileIO::aSecondOpenIsRefused()
{
    const QString first = write("@8000\r\nAB \r\nCD \r\nq\r\n");
    const QString second = write("@9000\r\nEE \r\nq\r\n");
    QCOMPARE(openTI_TextForRead(first.toLocal8Bit().constData()), OPERATION_SUCCESSFUL);
    QByteArray data;
    QCOMPARE(readTI_TextFile(1, data), uint32_t(0x8000));
    QCOMPARE(data.toHex(), QByteArray("ab"));
    QCOMPARE(openTI_TextForRead(second.toLocal8Bit().constData()), ERROR_OPENING_FILE);
    // The first image goes on where it was.
    QCOMPARE(readAll(240), QStringList{"8001:cd"});
    closeTI_Text();
    QCOMPARE(openTI_TextForRead(second.toLocal8Bit().constData()), OPERATION_SUCCESSFUL);
    QCOMPARE(readAll(240), QStringList{"9000:ee"});
}

void tst_TextFileIO::theCheckNamesTheFirstFault_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");        // the line named, 0 for the whole file; -1: the image passes
    QTest::addColumn<QString>("problem"); // how the problem begins

    const QByteArray lf = "@8000\n" + dataLine(0, 16).replace(" \r\n", "\n") + "AB\n@10000\n";
    QTest::newRow("CR LF") << "@8000\r\n" + dataLine(0, 16) + "@FFC6\r\nAB CD\r\nq\r\n" << -1 << "";
    QTest::newRow("LF, blank lines after q") << lf + "CD\nq\n\n \n" << -1 << "";
    QTest::newRow("ZZ") << QByteArray("@8000\r\nAB\r\nAB ZZ \r\nq\r\n") << 3
                        << "field 2 \"ZZ\" is not two hex";
    QTest::newRow("three digits") << QByteArray("@8000\r\nABC\r\nq\r\n") << 2 << "field 1 \"ABC\" is not";
    QTest::newRow("17 fields") << "@8000\r\n" + dataLine(0, 17) + "q\r\n" << 2 << "more than 16 fields";
    QTest::newRow("no q") << lf << 5 << "the closing q line is missing";
    QTest::newRow("text after q") << QByteArray("@8000\r\nAB\r\nq\r\n\r\nCD\r\n") << 5 << "text after the";
    QTest::newRow("data first") << QByteArray("AB\r\n@8000\r\nq\r\n") << 1 << "data before the first";
    QTest::newRow("bad address") << QByteArray("@8000\r\nAB\r\n@80G0\r\nq\r\n") << 3 << "not an address";
    QTest::newRow("past 24 bits") << QByteArray("@FFFFFE\r\nAB CD EF\r\nq\r\n") << 2 << "data past the";
    QTest::newRow("empty file") << QByteArray() << 0 << "the file is empty";
    QTest::newRow("no data") << QByteArray("@8000\r\nq\r\n") << 0 << "the image holds no data bytes";
    QTest::newRow("over 4 MiB") << "@8000\r\n" + QByteArray(TI_TEXT_MAX_SIZE, '\n') << 0 << "larger than";
}

void tst_TextFileIO::theCheckNamesTheFirstFault()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QFETCH(QString, problem);

    const QString path = write(content);
    QByteArray loaded;
    const ImageCheck check = loadTI_Text(path, loaded);
    QCOMPARE(checkTI_Text(content).problem, check.problem);
    QVERIFY2(check.ok == (line < 0) && check.line == qMax(line, 0) &&
                 check.problem.left(problem.size()) == problem,
             qPrintable(check.describe(path)));
    if (!check.ok)
        return;
    // What passes, the reader hands out whole.
    QCOMPARE(openTI_TextInMemory(loaded), OPERATION_SUCCESSFUL);
    unsigned int total = 0;
    for (const QString &block : readAll(240))
        total += static_cast<unsigned int>(block.section(':', 1).size() / 2);
    QCOMPARE(total, check.dataBytes);
}

void tst_TextFileIO::carriedImagesReadToTheirSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::newRow("S") << ":/fmw/s/image.txt" << 124670;
    QTest::newRow("L") << ":/fmw/l/image.txt" << 126452;
}

void tst_TextFileIO::carriedImagesReadToTheirSize()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    if (!QFile::exists(path))
        QSKIP("the image is not in the bundle yet");

    QCOMPARE(openTI_TextForRead(path.toLocal8Bit().constData()), OPERATION_SUCCESSFUL);
    int total = 0;
    QList<uint32_t> segmentStarts;
    uint32_t expected = 0;
    bool segmentEnded = true;
    while (moreDataToRead()) {
        QByteArray data;
        const uint32_t address = readTI_TextFile(240, data);
        if (segmentEnded)
            segmentStarts << address;
        else
            QCOMPARE(address, expected);
        // Every block is full except the last of its segment.
        segmentEnded = data.size() < 240;
        QVERIFY(data.size() <= 240);
        expected = address + static_cast<uint32_t>(data.size());
        total += data.size();
    }
    QCOMPARE(total, size);
    QCOMPARE(segmentStarts, (QList<uint32_t>{0x8000, 0xFFC6, 0xFFD8}));
    QByteArray content;
    QCOMPARE(loadTI_Text(path, content).dataBytes, static_cast<unsigned int>(size));
}

QTEST_GUILESS_MAIN(tst_TextFileIO)
#include "tst_textfileio.moc"
