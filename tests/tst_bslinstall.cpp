#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "logcapture.h"
#include "unitsupport.h"

#include <QtTest>

using Faults = QList<SimulatedUnit::FrameFault>;
Q_DECLARE_METATYPE(Faults)
Q_DECLARE_METATYPE(SimulatedUnit::PasswordPolicy)

namespace {

SimulatedUnit::FrameFault fault(SimulatedUnit::FrameFault::Kind kind, int command, int first, int count,
                                const QByteArray &replyBytes = QByteArray())
{
    SimulatedUnit::FrameFault f = SimulatedUnit::FrameFault::of(kind, command, first, count);
    f.replyBytes = replyBytes;
    return f;
}

// True when `expected` appear in `lines` in this order (each matching the start of a line).
bool inOrder(const QStringList &lines, const QStringList &expected, QString *missing)
{
    int next = 0;
    for (const QString &line : lines) {
        if (next < expected.size() && line.startsWith(expected.at(next)))
            ++next;
    }
    if (next < expected.size())
        *missing = expected.at(next);
    return next == expected.size();
}

QStringList repeatLines(const QString &label, int from, int to)
{
    QStringList lines;
    for (int i = from; i <= to; ++i)
        lines << label + " repeat " + QString::number(i);
    return lines;
}

} // namespace

// Handshake and installation against the simulated unit and its loader.
class tst_BslInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void theUnitAnswersTheHandshake_data();
    void theUnitAnswersTheHandshake();
    void aBabblingUnitIsGivenUpInBoundedTime();
    void installationOutcomes_data();
    void installationOutcomes();

private:
    QTemporaryDir _dir;
};

void tst_BslInstall::initTestCase()
{
    QVERIFY(_dir.isValid());
}

void tst_BslInstall::theUnitAnswersTheHandshake_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QVector<int>>("bursts");
    QTest::addColumn<QByteArray>("chatter");

    QTest::newRow("one burst") << QByteArray("49.05(1799),Talvo 400S") << QVector<int>() << QByteArray();
    QTest::newRow("three bursts with pauses over 40 ms")
        << QByteArray("52.02(2316),Talvo 400 L") << QVector<int>{4, 9} << QByteArray();
    QTest::newRow("chatter before the request")
        << QByteArray("49.01(1623)") << QVector<int>() << QByteArray("boot\r\n");
}

void tst_BslInstall::theUnitAnswersTheHandshake()
{
    QFETCH(QByteArray, text);
    QFETCH(QVector<int>, bursts);
    QFETCH(QByteArray, chatter);

    SimulatedUnit unit;
    SimulatedUnit::Handshake handshake;
    handshake.versionText = text;
    handshake.bursts = bursts;
    handshake.burstPauseMs = 60;
    unit.setHandshake(handshake);
    if (!chatter.isEmpty())
        unit.setChatter(chatter, 100);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));

    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QCOMPARE(enterProgrammingMode(bsl, unit), std::optional<QString>(QString::fromUtf8(text)));
    QCOMPARE(unit.handshakesAnswered(), 1);
    QCOMPARE(unit.mode(), SimulatedUnit::Mode::Loader);
}

void tst_BslInstall::aBabblingUnitIsGivenUpInBoundedTime()
{
    SimulatedUnit unit;
    unit.setBabbling(true);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));

    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QVERIFY(bsl.openPort(portOf(unit)));
    QString version("unchanged");
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!bsl.rxProgrammingMode(version));
    // The drain and each of the ten attempts end at a bound of BSL_Common.
    QVERIFY2(timer.elapsed() < 11 * READ_UNTIL_TIMEOUT_MAX_MS + 2000,
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(version, QString("unchanged"));
}

void tst_BslInstall::installationOutcomes_data()
{
    using Kind = SimulatedUnit::FrameFault::Kind;
    using Policy = SimulatedUnit::PasswordPolicy;
    QTest::addColumn<Policy>("policy");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<QString>("image");     // "small", "aligned", "crc-ee", "zz", "no q" or "missing"
    QTest::addColumn<int>("sizeShortfall"); // bytes the caller's size falls short of the image's
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("passwordFrames"); // -1: not checked
    QTest::addColumn<int>("dataFrames");
    QTest::addColumn<QStringList>("lines");

    const QString block = "BSL_Interface::rxTxtFileContinue";
    const QStringList silentAttempts = QVector<QString>(10, "Resending wrong password...").toList();

    QTest::newRow("image written: password refused, then accepted")
        << Policy::Faithful << false << Faults() << "small" << 0 << true << 2 << 5
        << QStringList{"Authenticating...", "Sending password...",  "Erasing...",
                       "Writing ",          "_percent != nPercent", "Wrote 732 bytes in "};
    QTest::newRow("a segment that fills its last block is followed by an empty block")
        << Policy::Faithful << false << Faults() << "aligned" << 0 << true << 2 << 4
        << QStringList{"Wrote 512 bytes in "};
    QTest::newRow("a block refused nine times recovers")
        << Policy::Faithful << false << Faults{fault(Kind::RefuseAck, RX_DATA_BLOCK, 2, 9)} << "small" << 0
        << true << 2 << 14 << repeatLines(block, 1, 9);
    QTest::newRow("a block refused ten times ends the installation")
        << Policy::Faithful << false << Faults{fault(Kind::RefuseAck, RX_DATA_BLOCK, 2, 10)} << "small" << 0
        << false << 2 << 11 << repeatLines(block, 1, 10) + QStringList{"Wrote 480 bytes in "};
    // Without the image's end in sight, 100 would claim an image that did not fully reach the unit.
    QTest::newRow("a size too small never shows 100 before the image's end")
        << Policy::Faithful << false << Faults{fault(Kind::RefuseAck, RX_DATA_BLOCK, 4, 10)} << "small" << 132
        << false << 2 << 13 << QStringList{"nPercent: 99", block + " repeat 10", "Wrote 700 bytes in "};
    QTest::newRow("flash errors on a block are retried")
        << Policy::Faithful << false << Faults{fault(Kind::ReplyMessage, RX_DATA_BLOCK, 3, 2)} << "small" << 0
        << true << 2 << 7
        << QStringList{"Wrong Core RSP! 0 7 8002003b01", block + " repeat 1",
                       "Wrong Core RSP! 0 7 8002003b01", block + " repeat 2"};
    QTest::newRow("a late erase reply is retried")
        << Policy::Faithful << false << Faults{fault(Kind::LateReply, MASS_ERASE, 1, 1)} << "small" << 0
        << true << 2 << 5
        << QStringList{"Erasing...", "Too short RSP! 0 ", "BSL_Interface::erase repeat 1",
                       "Wrote 732 bytes in "};
    QTest::newRow("erase refused for ever")
        << Policy::Faithful << false << Faults{fault(Kind::RefuseAck, MASS_ERASE, 1, -1)} << "small" << 0
        << false << 2 << 0
        << repeatLines("BSL_Interface::erase", 1, 10) + QStringList{"Erase failed!", "Wrote 0 bytes in "};
    QTest::newRow("every block refused")
        << Policy::Faithful << false << Faults{fault(Kind::RefuseAck, RX_DATA_BLOCK, 1, -1)} << "small" << 0
        << false << 2 << 10 << repeatLines(block, 1, 10);
    // The erased-device password only matches a blank unit: accepted at once, it proves the unit
    // blank, and the installation goes on (an earlier one interrupted before the vectors).
    QTest::newRow("the first password accepted")
        << Policy::AcceptAlways << false << Faults() << "small" << 0 << true << 1 << 5
        << QStringList{"Authenticating...", "Password accepted at once: the unit was already erased",
                       "Erasing...", "Wrote 732 bytes in "};
    // The refusal's reply lost on the line: the unit erased itself, and the next attempt matches.
    QTest::newRow("the refusal's reply lost")
        << Policy::Faithful << false << Faults{fault(Kind::LateReply, RX_PASSWORD, 1, 1)} << "small" << 0
        << true << 3 << 5
        << QStringList{"Too short RSP! 0 ", "Resending wrong password...",
                       "Password accepted at once: the unit was already erased", "Wrote 732 bytes in "};
    QTest::newRow("verify: a section whose CRC holds the time-out marker 0xEE")
        << Policy::Faithful << false << Faults() << "crc-ee" << 0 << true << 2 << 3
        << QStringList{"Verifying...", "Verified 1 sections"};
    QTest::newRow("every password refused")
        << Policy::RefuseAlways << false << Faults() << "small" << 0 << false << 10 << 0
        << QStringList{"Sending password...", "Wrong Core RSP! 0 7 8002003b05c594", "Sending password...",
                       "Authentication failed!"};
    QTest::newRow("a silent loader") << Policy::Faithful << true << Faults() << "small" << 0 << false << -1
                                     << 0
                                     << silentAttempts +
                                            QStringList{"Authentication failed!", "Wrote 0 bytes in "};
    QTest::newRow("a hang-up at the third block")
        << Policy::Faithful << false << Faults{fault(Kind::HangUp, RX_DATA_BLOCK, 3, 1)} << "small" << 0
        << false << 2 << 3 << repeatLines(block, 1, 10) + QStringList{"Wrote 600 bytes in "};
    // Rows named "fast:" take each reply by its length, and always verify.
    const QByteArray badSectionCrc = QByteArray::fromHex("8003003a00000000"); // its own CRC is f8ce
    const QStringList verified{"Verified 2 sections", "Wrote 732 bytes in "};
    QTest::newRow("fast: image written and verified")
        << Policy::Faithful << false << Faults() << "small" << 0 << true << 2 << 5
        << QStringList{"Erasing..."} + verified;
    QTest::newRow("fast: a reply ends at its last byte, not at the quiet after the bytes behind it")
        << Policy::Faithful << false
        << Faults{fault(Kind::ReplyBytes, RX_DATA_BLOCK, 2, 1, QByteArray::fromHex("8002003b0141d4515151"))}
        << "small" << 0 << true << 2 << 6 << QStringList{"Wrong Core RSP! 0 7 8002003b0141d4"} + verified;
    QTest::newRow("fast: a late reply fails its attempt")
        << Policy::Faithful << false << Faults{fault(Kind::LateReply, RX_DATA_BLOCK, 2, 1)} << "small" << 0
        << true << 2 << 6 << QStringList{"Too short RSP! 0 ", block + " repeat 1"} + verified;
    QTest::newRow("fast: a CRC reply that fails its CRC is asked again")
        << Policy::Faithful << false << Faults{fault(Kind::ReplyBytes, CRC_CHECK, 2, 1, badSectionCrc)}
        << "small" << 0 << true << 2 << 5
        << QStringList{"Wrong CRC RSP! 8 ", "BSL_Interface::verifySection repeat 1"} + verified;
    // A damaged image is refused before the first frame, naming the line.
    const QString refused = "BSL_Interface::installFirmware image refused, nothing sent: ";
    QTest::newRow("a byte ZZ") << Policy::Faithful << false << Faults() << "zz" << 0 << false << 0 << 0
                               << QStringList{refused + "line 2 of ", "Wrote 0 bytes in "};
    QTest::newRow("no q") << Policy::Faithful << false << Faults() << "no q" << 0 << false << 0 << 0
                          << QStringList{refused + "line 51 of ", "Wrote 0 bytes in "};
    QTest::newRow("a missing image") << Policy::Faithful << false << Faults() << "missing" << 0 << false << 0
                                     << 0 << QStringList{refused, "Wrote 0 bytes in "};
}

void tst_BslInstall::installationOutcomes()
{
    QFETCH(SimulatedUnit::PasswordPolicy, policy);
    QFETCH(bool, silent);
    QFETCH(Faults, faults);
    QFETCH(QString, image);
    QFETCH(int, sizeShortfall);
    QFETCH(bool, succeeds);
    QFETCH(int, passwordFrames);
    QFETCH(int, dataFrames);
    QFETCH(QStringList, lines);

    TestImage::Sections sections =
        image == "aligned" ? TestImage::blockAligned() : TestImage::threeSections();
    if (image == "crc-ee") {
        // One section whose CRC, as the loader sends it back, holds the byte 0xEE.
        quint32 seed = 100;
        QByteArray bytes;
        do {
            bytes = TestImage::randomBytes(480, seed++);
        } while (((SimulatedUnit::crc16(bytes) >> 8) != 0xEE) &&
                 ((SimulatedUnit::crc16(bytes) & 0xFF) != 0xEE));
        sections = TestImage::Sections{{0x8000, bytes}};
    }
    QByteArray text = TestImage::write(sections);
    text = image == "zz" ? text.replace(10, 2, "ZZ") : image == "no q" ? text.chopped(3) : text;
    QFile file(_dir.filePath(image + ".txt"));
    QVERIFY(image == "missing" || (file.open(QIODevice::WriteOnly) && file.write(text) == text.size()));
    file.close();
    const QString path = file.fileName();

    SimulatedUnit unit;
    if (passwordFrames == 0)
        unit.loadDefaultFirmware(); // for a memory that a mass erase would change
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QVERIFY(enterProgrammingMode(bsl, unit));
    unit.setPasswordPolicy(policy);
    unit.setSilent(silent);
    for (const SimulatedUnit::FrameFault &f : faults)
        unit.addFrameFault(f);

    const QByteArray memory = unit.memory(0, int(SimulatedUnit::MEMORY_SIZE));
    QSignalSpy progress(&bsl, &BSL_Interface::progressChanged);
    QSignalSpy done(&bsl, &BSL_Interface::firmwareInstallDone);
    bsl.setFastReplies(QByteArray(QTest::currentDataTag()).startsWith("fast:"));
    bsl.setVerifyAfterWrite(QByteArray(QTest::currentDataTag()).startsWith("verify:"));
    LogCapture log;
    bsl.installFirmware(path, TestImage::dataSize(sections) - static_cast<unsigned int>(sizeShortfall));
    QCOMPARE(bsl.imageProblem().isEmpty(), passwordFrames != 0);
    if (passwordFrames == 0)
        QVERIFY(unit.framesReceived() + unit.passwordsSeen() == 0 &&
                unit.memory(0, memory.size()) == memory && !bsl.unitErased());

    QCOMPARE(done.count(), 1);
    QString missing;
    QVERIFY2(inOrder(log.lines(), lines, &missing), qPrintable("missing in the log: " + missing));
    if (passwordFrames >= 0)
        QCOMPARE(unit.framesReceived(RX_PASSWORD), passwordFrames);
    QCOMPARE(unit.framesReceived(RX_DATA_BLOCK), dataFrames);
    unsigned int previous = 0;
    for (const QList<QVariant> &signal : progress) {
        const unsigned int value = signal.at(0).toUInt();
        QVERIFY(value > previous);
        previous = value;
    }
    QCOMPARE(previous, bsl.getPercent());
    QCOMPARE(bsl.succeeded(), succeeds);
    if (succeeds) {
        QCOMPARE(bsl.getPercent(), 100u);
        QCOMPARE(memoryDifference(unit, sections), QString());
        quint32 written = 0;
        for (const SimulatedUnit::Range &range : unit.writtenRanges())
            written += range.length;
        QCOMPARE(written, quint32(TestImage::dataSize(sections)));
    } else {
        QVERIFY(bsl.getPercent() < 100);
    }
    if (dataFrames == 0 && !succeeds)
        QCOMPARE(bsl.getPercent(), 0u);
    bsl.closePort();
}

QTEST_GUILESS_MAIN(tst_BslInstall)
#include "tst_bslinstall.moc"
