#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "logcapture.h"
#include "unitsupport.h"

#include <QtTest>

#include <optional>

// The firmware images the program carries, installed on the simulated unit.
class tst_BslInstallImages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { _quiet.emplace(); } // the installation logs five lines per block
    void cleanupTestCase() { _quiet.reset(); }
    void carriedImagesReachTheUnitByteForByte_data();
    void carriedImagesReachTheUnitByteForByte();

private:
    std::optional<QuietLog> _quiet;
};

void tst_BslInstallImages::carriedImagesReachTheUnitByteForByte_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<unsigned int>("size");
    QTest::addColumn<QByteArray>("versionText");
    QTest::newRow("S") << ":/fmw/s/image.txt" << 124670u << QByteArray("49.05(1799),Talvo 400S");
    QTest::newRow("L") << ":/fmw/l/image.txt" << 126452u << QByteArray("52.02(2316),Talvo 400 L");
}

void tst_BslInstallImages::carriedImagesReachTheUnitByteForByte()
{
    QFETCH(QString, path);
    QFETCH(unsigned int, size);
    QFETCH(QByteArray, versionText);

    bool read = false;
    const TestImage::Sections image = TestImage::read(path, &read);
    QVERIFY2(read, qPrintable(path));
    QCOMPARE(TestImage::dataSize(image), size);

    SimulatedUnit unit;
    unit.setVersionText(versionText);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QCOMPARE(enterProgrammingMode(bsl, unit), std::optional<QString>(QString::fromUtf8(versionText)));

    QSignalSpy progress(&bsl, &BSL_Interface::progressChanged);
    QSignalSpy done(&bsl, &BSL_Interface::firmwareInstallDone);
    QElapsedTimer timer;
    timer.start();
    bsl.installFirmware(path, size);
    const qint64 elapsedMs = timer.elapsed();
    bsl.closePort();

    QCOMPARE(done.count(), 1);
    QCOMPARE(bsl.getPercent(), 100u);
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toUInt(), 100u);
    // One signal per whole percent: 1 .. 100, each once, in order.
    QCOMPARE(progress.count(), 100);
    for (int i = 0; i < progress.count(); ++i)
        QCOMPARE(progress.at(i).at(0).toUInt(), unsigned(i + 1));
    QCOMPARE(memoryDifference(unit, image), QString());
    QVERIFY(unit.holdsFirmware());
    const int blocks = unit.framesReceived(RX_DATA_BLOCK);
    QVERIFY2(blocks >= int(size / BSL_BUFFER_SIZE), qPrintable(QString::number(blocks)));
    qInfo("%s: %d blocks in %lld ms (unpaced unit)", qPrintable(path), blocks, elapsedMs);
}

QTEST_GUILESS_MAIN(tst_BslInstallImages)
#include "tst_bslinstallimages.moc"
