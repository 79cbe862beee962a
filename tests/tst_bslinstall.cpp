#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "logcapture.h"
#include "unitsupport.h"

#include <QtTest>

using Faults = QList<SimulatedUnit::FrameFault>;
using Failure = InstallOutcome::Failure;
using Phase = InstallOutcome::Phase;
using Verification = InstallOutcome::Verification;

namespace {

// What an installation runs against. Names that begin with "fast:" take each reply by its length
// (and always verify), "verify:" verify.
struct Scenario
{
    SimulatedUnit::PasswordPolicy policy = SimulatedUnit::PasswordPolicy::Faithful;
    bool silent = false;
    Faults faults;
    QString image = "small"; // "small", "aligned", "crc-ee", "32k", "zz", "no q" or "missing"
    int sizeShortfall = 0;   // bytes the caller's size falls short of the image's
    bool knowsCrcCheck = true;
    int stopAtPercent = -1; // a stop request as the progress first reaches this
};

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
    void theSpecifiedLinesAppear_data();
    void theSpecifiedLinesAppear();

private:
    // Runs the scenario named by the current data tag; fails the test where it cannot be set up.
    void install(const Scenario &scenario);

    QTemporaryDir _dir;
    // What the last install() saw.
    InstallOutcome _outcome;
    unsigned int _percent = 0;
    QList<unsigned int> _progress;
    int _done = 0;
    QStringList _log;
    int _passwordFrames = 0;
    int _dataFrames = 0;
    bool _untouched = false; // no frame reached the unit and its memory is as it was
    QString _difference;     // between the unit's memory and the image
    quint32 _writtenToUnit = 0;
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

namespace {

Scenario withFaults(const Faults &faults)
{
    Scenario s;
    s.faults = faults;
    return s;
}

// Every scenario of the two tables, by name.
const QMap<QString, Scenario> &scenarios()
{
    using Kind = SimulatedUnit::FrameFault::Kind;
    using Policy = SimulatedUnit::PasswordPolicy;
    static QMap<QString, Scenario> all;
    if (!all.isEmpty())
        return all;
    all["image written: password refused, then accepted"] = Scenario();
    all["a segment that fills its last block is followed by an empty block"] = Scenario();
    all["a segment that fills its last block is followed by an empty block"].image = "aligned";
    all["a block refused nine times recovers"] = withFaults({fault(Kind::RefuseAck, RX_DATA_BLOCK, 2, 9)});
    all["a block refused ten times ends the installation"] =
        withFaults({fault(Kind::RefuseAck, RX_DATA_BLOCK, 2, 10)});
    // Without the image's end in sight, 100 would claim an image that did not fully reach the unit.
    all["a size too small never shows 100 before the image's end"] =
        withFaults({fault(Kind::RefuseAck, RX_DATA_BLOCK, 4, 10)});
    all["a size too small never shows 100 before the image's end"].sizeShortfall = 132;
    all["a size too large never reaches 100"] = Scenario();
    all["a size too large never reaches 100"].sizeShortfall = -8;
    all["flash errors on a block are retried"] = withFaults({fault(Kind::ReplyMessage, RX_DATA_BLOCK, 3, 2)});
    all["a late erase reply is retried"] = withFaults({fault(Kind::LateReply, MASS_ERASE, 1, 1)});
    all["erase refused for ever"] = withFaults({fault(Kind::RefuseAck, MASS_ERASE, 1, -1)});
    all["every block refused"] = withFaults({fault(Kind::RefuseAck, RX_DATA_BLOCK, 1, -1)});
    // The erased-device password only matches a blank unit: accepted at once, it proves the unit
    // blank, and the installation goes on (an earlier one interrupted before the vectors).
    all["the first password accepted"].policy = Policy::AcceptAlways;
    // The refusal's reply lost on the line: the unit erased itself, and the next attempt matches.
    all["the refusal's reply lost"] = withFaults({fault(Kind::LateReply, RX_PASSWORD, 1, 1)});
    all["verify: a section whose CRC holds the time-out marker 0xEE"].image = "crc-ee";
    all["every password refused"].policy = Policy::RefuseAlways;
    all["a silent loader"].silent = true;
    all["a hang-up at the third block"] = withFaults({fault(Kind::HangUp, RX_DATA_BLOCK, 3, 1)});
    all["a stop request ends the installation before its next frame"].stopAtPercent = 30;
    all["fast: image written and verified"] = Scenario();
    all["fast: a reply ends at its last byte, not at the quiet after the bytes behind it"] = withFaults(
        {fault(Kind::ReplyBytes, RX_DATA_BLOCK, 2, 1, QByteArray::fromHex("8002003b0141d4515151"))});
    all["fast: a late reply fails its attempt"] = withFaults({fault(Kind::LateReply, RX_DATA_BLOCK, 2, 1)});
    const QByteArray badSectionCrc = QByteArray::fromHex("8003003a00000000"); // its own CRC is f8ce
    all["fast: a CRC reply that fails its CRC is asked again"] =
        withFaults({fault(Kind::ReplyBytes, CRC_CHECK, 2, 1, badSectionCrc)});
    all["fast: a bit that did not stay written fails its section"] =
        withFaults({fault(Kind::StoredBitFlip, RX_DATA_BLOCK, 2, 1)});
    all["fast: a loader without the CRC command cannot verify"].knowsCrcCheck = false;
    all["fast: a CRC check left unanswered is no difference"] =
        withFaults({fault(Kind::Silence, CRC_CHECK, 1, -1)});
    // A busy machine delays each reply by 20 ms: a check must still begin within the read's 40 ms.
    all["fast: a long section checked in pieces, each reply late"] =
        withFaults({SimulatedUnit::FrameFault::late(CRC_CHECK, 1, 20, -1)});
    all["fast: a long section checked in pieces, each reply late"].image = "32k";
    all["fast: a CRC check refused is no difference"] =
        withFaults({fault(Kind::RefuseAck, CRC_CHECK, 1, -1)});
    // A damaged image is refused before the first frame, naming the line.
    all["a byte ZZ"].image = "zz";
    all["no q"].image = "no q";
    all["a missing image"].image = "missing";
    return all;
}

Scenario scenario(const char *name)
{
    if (!scenarios().contains(name))
        qFatal("no scenario \"%s\"", name);
    return scenarios().value(name);
}

InstallOutcome ended(Failure failure, Phase phase, bool erased, unsigned int bytesWritten,
                     uint32_t address = 0, Verification verification = Verification::NotRun)
{
    return InstallOutcome{failure, address, phase, erased, bytesWritten, verification, QString()};
}

} // namespace

Q_DECLARE_METATYPE(Scenario)

void tst_BslInstall::install(const Scenario &scenario)
{
    const QByteArray tag(QTest::currentDataTag());
    TestImage::Sections sections =
        scenario.image == "aligned" ? TestImage::blockAligned() : TestImage::threeSections();
    if (scenario.image == "crc-ee") {
        // One section whose CRC, as the loader sends it back, holds the byte 0xEE.
        quint32 seed = 100;
        QByteArray bytes;
        do {
            bytes = TestImage::randomBytes(480, seed++);
        } while (((SimulatedUnit::crc16(bytes) >> 8) != 0xEE) &&
                 ((SimulatedUnit::crc16(bytes) & 0xFF) != 0xEE));
        sections = TestImage::Sections{{0x8000, bytes}};
    }
    if (scenario.image == "32k") // one section that a loader needs about 33 ms to read whole
        sections = TestImage::Sections{{0x8000, TestImage::randomBytes(0x8000, 7)}};
    QByteArray text = TestImage::write(sections);
    text = scenario.image == "zz"     ? text.replace(10, 2, "ZZ")
           : scenario.image == "no q" ? text.chopped(3)
                                      : text;
    QFile file(_dir.filePath(scenario.image + ".txt"));
    QVERIFY(scenario.image == "missing" ||
            (file.open(QIODevice::WriteOnly) && file.write(text) == text.size()));
    file.close();

    SimulatedUnit unit;
    if (scenario.image == "zz" || scenario.image == "no q" || scenario.image == "missing")
        unit.loadDefaultFirmware(); // for a memory that a mass erase would change
    unit.setKnowsCrcCheck(scenario.knowsCrcCheck);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QVERIFY(enterProgrammingMode(bsl, unit));
    unit.setPasswordPolicy(scenario.policy);
    unit.setSilent(scenario.silent);
    for (const SimulatedUnit::FrameFault &f : scenario.faults)
        unit.addFrameFault(f);

    const QByteArray memory = unit.memory(0, int(SimulatedUnit::MEMORY_SIZE));
    std::atomic<bool> stop{false};
    bsl.setStopFlag(&stop);
    _progress.clear();
    connect(&bsl, &BSL_Interface::progressChanged, this, [&](const unsigned int &percent) {
        _progress << percent;
        if (scenario.stopAtPercent >= 0 && int(percent) >= scenario.stopAtPercent)
            stop.store(true);
    });
    _done = 0;
    InstallOutcome atTheEnd;
    connect(&bsl, &BSL_Interface::firmwareInstallDone, this, [&] {
        atTheEnd = bsl.outcome();
        ++_done;
    });
    bsl.setFastReplies(tag.startsWith("fast:"));
    bsl.setVerifyAfterWrite(tag.startsWith("verify:"));
    LogCapture log;
    const unsigned int size =
        TestImage::dataSize(sections) - static_cast<unsigned int>(scenario.sizeShortfall);
    _outcome = bsl.installFirmware(file.fileName(), size);
    // The slot that hears of the end reads the whole outcome already.
    QVERIFY(atTheEnd == _outcome && bsl.outcome() == _outcome);
    _log = log.lines();
    _percent = bsl.getPercent();
    _passwordFrames = unit.framesReceived(RX_PASSWORD);
    _dataFrames = unit.framesReceived(RX_DATA_BLOCK);
    _untouched = unit.framesReceived() + unit.passwordsSeen() == 0 && unit.memory(0, memory.size()) == memory;
    _difference = memoryDifference(unit, sections);
    _writtenToUnit = 0;
    for (const SimulatedUnit::Range &range : unit.writtenRanges())
        _writtenToUnit += range.length;
    bsl.closePort();
}

void tst_BslInstall::installationOutcomes_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<InstallOutcome>("expected");
    QTest::addColumn<int>("passwordFrames"); // -1: not checked
    QTest::addColumn<int>("dataFrames");
    QTest::addColumn<int>("percent");

    const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name) << scenario(name); };
    const bool erased = true;
    row("image written: password refused, then accepted")
        << ended(Failure::None, Phase::Writing, erased, 732) << 2 << 5 << 100;
    row("a segment that fills its last block is followed by an empty block")
        << ended(Failure::None, Phase::Writing, erased, 512) << 2 << 4 << 100;
    row("a block refused nine times recovers")
        << ended(Failure::None, Phase::Writing, erased, 732) << 2 << 14 << 100;
    row("a block refused ten times ends the installation")
        << ended(Failure::Block, Phase::Writing, erased, 240, 0x80F0) << 2 << 11 << 32;
    row("a size too small never shows 100 before the image's end")
        << ended(Failure::Block, Phase::Writing, erased, 600, 0x10000) << 2 << 13 << 99;
    row("a size too large never reaches 100")
        << ended(Failure::SizeMismatch, Phase::Writing, erased, 732) << 2 << 5 << 98;
    row("flash errors on a block are retried")
        << ended(Failure::None, Phase::Writing, erased, 732) << 2 << 7 << 100;
    row("a late erase reply is retried")
        << ended(Failure::None, Phase::Writing, erased, 732) << 2 << 5 << 100;
    row("erase refused for ever") << ended(Failure::Erase, Phase::Erasing, erased, 0) << 2 << 0 << 0;
    row("every block refused") << ended(Failure::Block, Phase::Writing, erased, 0, 0x8000) << 2 << 10 << 0;
    row("the first password accepted") << ended(Failure::None, Phase::Writing, erased, 732) << 1 << 5 << 100;
    row("the refusal's reply lost") << ended(Failure::None, Phase::Writing, erased, 732) << 3 << 5 << 100;
    row("verify: a section whose CRC holds the time-out marker 0xEE")
        << ended(Failure::None, Phase::Verifying, erased, 480, 0, Verification::Matched) << 2 << 3 << 100;
    row("every password refused") << ended(Failure::Authentication, Phase::Authenticating, erased, 0) << 10
                                  << 0 << 0;
    row("a silent loader") << ended(Failure::Authentication, Phase::Authenticating, !erased, 0) << -1 << 0
                           << 0;
    row("a hang-up at the third block")
        << ended(Failure::PortLost, Phase::Writing, erased, 480, 0x81E0) << 2 << 3 << 65;
    row("a stop request ends the installation before its next frame")
        << ended(Failure::Stopped, Phase::Writing, erased, 240, 0x80F0) << 2 << 1 << 32;
    const InstallOutcome verified =
        ended(Failure::None, Phase::Verifying, erased, 732, 0, Verification::Matched);
    row("fast: image written and verified") << verified << 2 << 5 << 100;
    row("fast: a reply ends at its last byte, not at the quiet after the bytes behind it")
        << verified << 2 << 6 << 100;
    row("fast: a late reply fails its attempt") << verified << 2 << 6 << 100;
    row("fast: a CRC reply that fails its CRC is asked again") << verified << 2 << 5 << 100;
    row("fast: a bit that did not stay written fails its section")
        << ended(Failure::VerifyMismatch, Phase::Verifying, erased, 732, 0x8000, Verification::Differs) << 2
        << 5 << 100;
    row("fast: a loader without the CRC command cannot verify")
        << ended(Failure::CannotVerify, Phase::Verifying, erased, 732, 0, Verification::Unsupported) << 2 << 5
        << 100;
    row("fast: a long section checked in pieces, each reply late")
        << ended(Failure::None, Phase::Verifying, erased, 0x8000, 0, Verification::Matched) << 2 << 137
        << 100;
    row("fast: a CRC check left unanswered is no difference")
        << ended(Failure::VerifyUnanswered, Phase::Verifying, erased, 732, 0x8000, Verification::NoAnswer)
        << 2 << 5 << 100;
    row("fast: a CRC check refused is no difference")
        << ended(Failure::VerifyUnanswered, Phase::Verifying, erased, 732, 0x8000, Verification::NoAnswer)
        << 2 << 5 << 100;
    row("a byte ZZ") << ended(Failure::Image, Phase::Idle, !erased, 0) << 0 << 0 << 0;
    row("no q") << ended(Failure::Image, Phase::Idle, !erased, 0) << 0 << 0 << 0;
    row("a missing image") << ended(Failure::Image, Phase::Idle, !erased, 0) << 0 << 0 << 0;
}

void tst_BslInstall::installationOutcomes()
{
    QFETCH(Scenario, scenario);
    QFETCH(InstallOutcome, expected);
    QFETCH(int, passwordFrames);
    QFETCH(int, dataFrames);
    QFETCH(int, percent);

    install(scenario);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(_done, 1);
    QCOMPARE(_outcome.failure, expected.failure);
    QCOMPARE(_outcome.phase, expected.phase);
    QCOMPARE(_outcome.address, expected.address);
    QCOMPARE(_outcome.erased, expected.erased);
    QCOMPARE(_outcome.bytesWritten, expected.bytesWritten);
    QCOMPARE(_outcome.verification, expected.verification);
    QCOMPARE(_outcome.succeeded(), expected.failure == Failure::None);
    // The image's problem names the file, and the line where there is one.
    const QString name = scenario.image + ".txt";
    QCOMPARE(_outcome.imageProblem.contains(name), expected.failure == Failure::Image);
    if (scenario.image == "zz" || scenario.image == "no q")
        QVERIFY(_outcome.imageProblem.startsWith(scenario.image == "zz" ? "line 2 of " : "line 51 of "));
    if (expected.failure == Failure::Image)
        QVERIFY(_untouched);

    if (passwordFrames >= 0)
        QCOMPARE(_passwordFrames, passwordFrames);
    QCOMPARE(_dataFrames, dataFrames);
    unsigned int previous = 0;
    for (const unsigned int value : qAsConst(_progress)) {
        QVERIFY(value > previous);
        previous = value;
    }
    QCOMPARE(previous, _percent);
    QCOMPARE(int(_percent), percent);
    // What the unit holds bears the outcome out.
    const bool whole = expected.failure == Failure::None || expected.failure == Failure::SizeMismatch ||
                       expected.failure == Failure::CannotVerify ||
                       expected.failure == Failure::VerifyUnanswered;
    QCOMPARE(_difference.isEmpty(), whole);
    // Every block confirmed, the vectors last among them: the unit is no longer left in its loader.
    QCOMPARE(_outcome.writtenWhole, whole || expected.failure == Failure::VerifyMismatch);
    if (whole)
        QCOMPARE(_writtenToUnit, quint32(expected.bytesWritten));
}

// The lines the log must show, in this order, for what happened; each matches the start of a line.
void tst_BslInstall::theSpecifiedLinesAppear_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<QStringList>("lines");

    const auto row = [](const char *name) -> QTestData & { return QTest::newRow(name) << scenario(name); };
    const QString block = "BSL_Interface::rxTxtFileContinue";
    row("image written: password refused, then accepted")
        << QStringList{"Authenticating...", "Sending password...",  "Erasing...",
                       "Writing ",          "_percent != nPercent", "Wrote 732 bytes in "};
    row("a block refused ten times ends the installation")
        << repeatLines(block, 1, 10) + QStringList{"Wrote 480 bytes in "};
    row("flash errors on a block are retried")
        << QStringList{"Wrong Core RSP! 0 7 8002003b01", block + " repeat 1",
                       "Wrong Core RSP! 0 7 8002003b01", block + " repeat 2"};
    row("a late erase reply is retried") << QStringList{
        "Erasing...", "Too short RSP! 0 ", "BSL_Interface::erase repeat 1", "Wrote 732 bytes in "};
    row("erase refused for ever") << repeatLines("BSL_Interface::erase", 1, 10) +
                                         QStringList{"Erase failed!", "Wrote 0 bytes in "};
    row("the first password accepted")
        << QStringList{"Authenticating...", "Password accepted at once: the unit was already erased",
                       "Erasing...", "Wrote 732 bytes in "};
    row("every password refused") << QStringList{"Sending password...", "Wrong Core RSP! 0 7 8002003b05c594",
                                                 "Sending password...", "Authentication failed!"};
    row("a silent loader") << QVector<QString>(10, "Resending wrong password...").toList() +
                                  QStringList{"Authentication failed!", "Wrote 0 bytes in "};
    row("a stop request ends the installation before its next frame")
        << QStringList{"LoaderSession::stopHere stopped on request", "Wrote 480 bytes in "};
    row("fast: a CRC reply that fails its CRC is asked again")
        << QStringList{"Wrong CRC RSP! 8 ", "BSL_Interface::verifySection repeat 1", "Verified 2 sections"};
    row("a byte ZZ") << QStringList{"BSL_Interface::installFirmware image refused, nothing sent: line 2 of ",
                                    "Wrote 0 bytes in "};
}

void tst_BslInstall::theSpecifiedLinesAppear()
{
    QFETCH(Scenario, scenario);
    QFETCH(QStringList, lines);

    install(scenario);
    if (QTest::currentTestFailed())
        return;
    QString missing;
    QVERIFY2(inOrder(_log, lines, &missing), qPrintable("missing in the log: " + missing));
}

QTEST_GUILESS_MAIN(tst_BslInstall)
#include "tst_bslinstall.moc"
