#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "bslsimsupport.h"

#include <QtTest>

namespace {

void quietLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The installation logs five lines per block; keep only what is not the progress chatter.
    static const QStringList chatter{
        "_rxTxtBytes: ", "imageSize: ", "nPercent: ", "_Percent: ", "_percent != "};
    for (const QString &prefix : chatter) {
        if (message.startsWith(prefix))
            return;
    }
    qt_message_output(type, context, message);
}

} // namespace

// The firmware images the program carries, installed on the simulated unit.
class tst_BslInstallImages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(quietLog); }
    void carriedImagesReachTheUnitByteForByte_data();
    void carriedImagesReachTheUnitByteForByte();
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

    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const Segments image = parseTiTxt(file.readAll());
    QCOMPARE(sizeOf(image), size);

    SimulatedUnit unit;
    unit.setVersionText(versionText);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QVERIFY(bsl.openPort(portOf(unit)));
    QString version;
    QVERIFY(bsl.rxProgrammingMode(version));
    QCOMPARE(version, QString::fromUtf8(versionText));

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
