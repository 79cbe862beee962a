#include "BSL_Common.h"
#include "BSL_Interface.h"
#include "logcapture.h"
#include "unitsupport.h"

#include <QtTest>

using Faults = QList<SimulatedUnit::FrameFault>;
using Kind = SimulatedUnit::FrameFault::Kind;
using Policy = SimulatedUnit::PasswordPolicy;
using Failure = InstallOutcome::Failure;
using Phase = InstallOutcome::Phase;
using Verification = InstallOutcome::Verification;

namespace {

// The image an installation writes, as a file.
enum class Image
{
    ThreeSections, // 732 bytes in three sections
    BlockAligned,  // a segment that fills its last block
    CrcWithEE,     // one section whose CRC holds the time-out marker 0xEE
    Long,          // one section of 32 KiB, which a loader needs about 33 ms to read whole
    BadByte,       // a byte "ZZ" in its second line
    NoQ,           // without the closing "q"
    Missing,       // no file at all
};

// How the installer collects the loader's replies.
enum class Replies
{
    AtQuiet,         // each reply up to the line's quiet
    AtQuietVerified, // the same, and the image verified after the last block
    Fast,            // each reply by its length (always verified)
};

// The file each Image is written to.
const char *const IMAGE_FILES[] = {"small.txt", "aligned.txt", "crc-ee.txt", "32k.txt",
                                   "zz.txt",    "no q.txt",    "missing.txt"};

QString fileName(Image image)
{
    return IMAGE_FILES[int(image)];
}

SimulatedUnit::FrameFault fault(Kind kind, int command, int first, int count,
                                const QByteArray &replyBytes = QByteArray())
{
    SimulatedUnit::FrameFault f = SimulatedUnit::FrameFault::of(kind, command, first, count);
    f.replyBytes = replyBytes;
    return f;
}

// What an installation runs against, made as Scenario().withFault(...).fast() and the like.
struct Scenario
{
    Policy policy = Policy::Faithful;
    bool silent = false;
    Faults faults;
    Image image = Image::ThreeSections;
    Replies replies = Replies::AtQuiet;
    int sizeShortfall = 0; // bytes the caller's size falls short of the image's
    bool knowsCrcCheck = true;
    int stopAtPercent = -1; // a stop request as the progress first reaches this

    Scenario withFault(const SimulatedUnit::FrameFault &f) const
    {
        return with(&Scenario::faults, faults + Faults{f});
    }
    Scenario withImage(Image i) const { return with(&Scenario::image, i); }
    Scenario withReplies(Replies r) const { return with(&Scenario::replies, r); }
    Scenario fast() const { return with(&Scenario::replies, Replies::Fast); }
    Scenario withPolicy(Policy p) const { return with(&Scenario::policy, p); }
    Scenario silenced() const { return with(&Scenario::silent, true); }
    Scenario sizedShortBy(int bytes) const { return with(&Scenario::sizeShortfall, bytes); }
    Scenario withoutCrcCheck() const { return with(&Scenario::knowsCrcCheck, false); }
    Scenario stoppedAt(int percent) const { return with(&Scenario::stopAtPercent, percent); }

private:
    template <typename T> Scenario with(T Scenario::*field, const T &value) const
    {
        Scenario s = *this;
        s.*field = value;
        return s;
    }
};

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

InstallOutcome ended(Failure failure, Phase phase, bool erased, unsigned int bytesWritten,
                     uint32_t address = 0, Verification verification = Verification::NotRun)
{
    return InstallOutcome{failure, address, phase, erased, bytesWritten, verification, QString()};
}

} // namespace

Q_DECLARE_METATYPE(Scenario)
Q_DECLARE_METATYPE(Image)

// Handshake and installation against the simulated unit and its loader.
class tst_BslInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void theUnitAnswersTheHandshake_data();
    void theUnitAnswersTheHandshake();
    void aBabblingUnitIsGivenUpInBoundedTime();
    void theWholeImageIsWritten_data();
    void theWholeImageIsWritten();
    void aStepEndsTheInstallation_data();
    void aStepEndsTheInstallation();
    void theWrittenImageIsVerified_data();
    void theWrittenImageIsVerified();
    void aDamagedImageIsRefusedBeforeTheFirstFrame_data();
    void aDamagedImageIsRefusedBeforeTheFirstFrame();
    void theSpecifiedLinesAppear_data();
    void theSpecifiedLinesAppear();

private:
    // Runs the scenario; fails the test where it cannot be set up.
    void install(const Scenario &scenario);
    // Installs and checks the outcome, the frames (passwordFrames -1: not checked), the progress
    // and the unit's memory against what the outcome claims.
    void installAndCheck(const Scenario &scenario, const InstallOutcome &expected, int passwordFrames,
                         int dataFrames, int percent);

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

void tst_BslInstall::install(const Scenario &scenario)
{
    TestImage::Sections sections =
        scenario.image == Image::BlockAligned ? TestImage::blockAligned() : TestImage::threeSections();
    if (scenario.image == Image::CrcWithEE) {
        // One section whose CRC, as the loader sends it back, holds the byte 0xEE.
        quint32 seed = 100;
        QByteArray bytes;
        do {
            bytes = TestImage::randomBytes(480, seed++);
        } while (((SimulatedUnit::crc16(bytes) >> 8) != 0xEE) &&
                 ((SimulatedUnit::crc16(bytes) & 0xFF) != 0xEE));
        sections = TestImage::Sections{{0x8000, bytes}};
    }
    if (scenario.image == Image::Long)
        sections = TestImage::Sections{{0x8000, TestImage::randomBytes(0x8000, 7)}};
    QByteArray text = TestImage::write(sections);
    text = scenario.image == Image::BadByte ? text.replace(10, 2, "ZZ")
           : scenario.image == Image::NoQ   ? text.chopped(3)
                                            : text;
    QFile file(_dir.filePath(fileName(scenario.image)));
    QVERIFY(scenario.image == Image::Missing ||
            (file.open(QIODevice::WriteOnly) && file.write(text) == text.size()));
    file.close();

    SimulatedUnit unit;
    if (scenario.image == Image::BadByte || scenario.image == Image::NoQ || scenario.image == Image::Missing)
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
    bsl.setFastReplies(scenario.replies == Replies::Fast);
    bsl.setVerifyAfterWrite(scenario.replies == Replies::AtQuietVerified);
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

void tst_BslInstall::installAndCheck(const Scenario &scenario, const InstallOutcome &expected,
                                     int passwordFrames, int dataFrames, int percent)
{
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
    // The image's problem names the file.
    QCOMPARE(_outcome.imageProblem.contains(fileName(scenario.image)), expected.failure == Failure::Image);
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

// Installations that end with the image written and reported at 100 %, the replies collected to
// the line's quiet and nothing verified.
void tst_BslInstall::theWholeImageIsWritten_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<unsigned int>("bytes");
    QTest::addColumn<int>("passwordFrames");
    QTest::addColumn<int>("dataFrames");

    QTest::newRow("image written: password refused, then accepted") << Scenario() << 732u << 2 << 5;
    QTest::newRow("a segment that fills its last block is followed by an empty block")
        << Scenario().withImage(Image::BlockAligned) << 512u << 2 << 4;
    QTest::newRow("a block refused nine times recovers")
        << Scenario().withFault(fault(Kind::RefuseAck, RX_DATA_BLOCK, 2, 9)) << 732u << 2 << 14;
    QTest::newRow("flash errors on a block are retried")
        << Scenario().withFault(fault(Kind::ReplyMessage, RX_DATA_BLOCK, 3, 2)) << 732u << 2 << 7;
    QTest::newRow("a late erase reply is retried")
        << Scenario().withFault(fault(Kind::LateReply, MASS_ERASE, 1, 1)) << 732u << 2 << 5;
    // The erased-device password only matches a blank unit: accepted at once, it proves the unit
    // blank, and the installation goes on (an earlier one interrupted before the vectors).
    QTest::newRow("the first password accepted")
        << Scenario().withPolicy(Policy::AcceptAlways) << 732u << 1 << 5;
    // The refusal's reply lost on the line: the unit erased itself, and the next attempt matches.
    QTest::newRow("the refusal's reply lost")
        << Scenario().withFault(fault(Kind::LateReply, RX_PASSWORD, 1, 1)) << 732u << 3 << 5;
}

void tst_BslInstall::theWholeImageIsWritten()
{
    QFETCH(Scenario, scenario);
    QFETCH(unsigned int, bytes);
    QFETCH(int, passwordFrames);
    QFETCH(int, dataFrames);

    installAndCheck(scenario, ended(Failure::None, Phase::Writing, true, bytes), passwordFrames, dataFrames,
                    100);
}

// Installations that a step ends before the image is written whole, or that write every block of
// an image whose size the caller gave wrong.
void tst_BslInstall::aStepEndsTheInstallation_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<Phase>("phase");
    QTest::addColumn<bool>("erased");
    QTest::addColumn<unsigned int>("bytes");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("passwordFrames"); // -1: not checked
    QTest::addColumn<int>("dataFrames");
    QTest::addColumn<int>("percent");

    QTest::newRow("a block refused ten times ends the installation")
        << Scenario().withFault(fault(Kind::RefuseAck, RX_DATA_BLOCK, 2, 10)) << Failure::Block
        << Phase::Writing << true << 240u << quint32(0x80F0) << 2 << 11 << 32;
    // Without the image's end in sight, 100 would claim an image that did not fully reach the unit.
    QTest::newRow("a size too small never shows 100 before the image's end")
        << Scenario().sizedShortBy(132).withFault(fault(Kind::RefuseAck, RX_DATA_BLOCK, 4, 10))
        << Failure::Block << Phase::Writing << true << 600u << quint32(0x10000) << 2 << 13 << 99;
    QTest::newRow("a size too large never reaches 100")
        << Scenario().sizedShortBy(-8) << Failure::SizeMismatch << Phase::Writing << true << 732u
        << quint32(0) << 2 << 5 << 98;
    QTest::newRow("erase refused for ever")
        << Scenario().withFault(fault(Kind::RefuseAck, MASS_ERASE, 1, -1)) << Failure::Erase << Phase::Erasing
        << true << 0u << quint32(0) << 2 << 0 << 0;
    QTest::newRow("every block refused")
        << Scenario().withFault(fault(Kind::RefuseAck, RX_DATA_BLOCK, 1, -1)) << Failure::Block
        << Phase::Writing << true << 0u << quint32(0x8000) << 2 << 10 << 0;
    QTest::newRow("every password refused")
        << Scenario().withPolicy(Policy::RefuseAlways) << Failure::Authentication << Phase::Authenticating
        << true << 0u << quint32(0) << 10 << 0 << 0;
    QTest::newRow("a silent loader") << Scenario().silenced() << Failure::Authentication
                                     << Phase::Authenticating << false << 0u << quint32(0) << -1 << 0 << 0;
    QTest::newRow("a hang-up at the third block")
        << Scenario().withFault(fault(Kind::HangUp, RX_DATA_BLOCK, 3, 1)) << Failure::PortLost
        << Phase::Writing << true << 480u << quint32(0x81E0) << 2 << 3 << 65;
    QTest::newRow("a stop request ends the installation before its next frame")
        << Scenario().stoppedAt(30) << Failure::Stopped << Phase::Writing << true << 240u << quint32(0x80F0)
        << 2 << 1 << 32;
}

void tst_BslInstall::aStepEndsTheInstallation()
{
    QFETCH(Scenario, scenario);
    QFETCH(Failure, failure);
    QFETCH(Phase, phase);
    QFETCH(bool, erased);
    QFETCH(unsigned int, bytes);
    QFETCH(quint32, address);
    QFETCH(int, passwordFrames);
    QFETCH(int, dataFrames);
    QFETCH(int, percent);

    installAndCheck(scenario, ended(failure, phase, erased, bytes, address), passwordFrames, dataFrames,
                    percent);
}

// Installations that write the whole image and then check it with the loader's CRC command: all
// but one with fast replies, which always verify.
void tst_BslInstall::theWrittenImageIsVerified_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<Verification>("verification");
    QTest::addColumn<unsigned int>("bytes");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("dataFrames");

    const auto matched = [](const char *name, const Scenario &scenario, unsigned int bytes,
                            int dataFrames) -> QTestData & {
        return QTest::newRow(name) << scenario << Failure::None << Verification::Matched << bytes
                                   << quint32(0) << dataFrames;
    };
    matched("verify: a section whose CRC holds the time-out marker 0xEE",
            Scenario().withImage(Image::CrcWithEE).withReplies(Replies::AtQuietVerified), 480, 3);
    matched("fast: image written and verified", Scenario().fast(), 732, 5);
    matched("fast: a reply ends at its last byte, not at the quiet after the bytes behind it",
            Scenario().fast().withFault(
                fault(Kind::ReplyBytes, RX_DATA_BLOCK, 2, 1, QByteArray::fromHex("8002003b0141d4515151"))),
            732, 6);
    matched("fast: a late reply fails its attempt",
            Scenario().fast().withFault(fault(Kind::LateReply, RX_DATA_BLOCK, 2, 1)), 732, 6);
    const QByteArray badSectionCrc = QByteArray::fromHex("8003003a00000000"); // its own CRC is f8ce
    matched("fast: a CRC reply that fails its CRC is asked again",
            Scenario().fast().withFault(fault(Kind::ReplyBytes, CRC_CHECK, 2, 1, badSectionCrc)), 732, 5);
    // A busy machine delays each reply by 20 ms: a check must still begin within the read's 40 ms.
    const Scenario longLate = Scenario()
                                  .fast()
                                  .withImage(Image::Long)
                                  .withFault(SimulatedUnit::FrameFault::late(CRC_CHECK, 1, 20, -1));
    matched("fast: a long section checked in pieces, each reply late", longLate, 0x8000, 137);
    QTest::newRow("fast: a bit that did not stay written fails its section")
        << Scenario().fast().withFault(fault(Kind::StoredBitFlip, RX_DATA_BLOCK, 2, 1))
        << Failure::VerifyMismatch << Verification::Differs << 732u << quint32(0x8000) << 5;
    QTest::newRow("fast: a loader without the CRC command cannot verify")
        << Scenario().fast().withoutCrcCheck() << Failure::CannotVerify << Verification::Unsupported << 732u
        << quint32(0) << 5;
    QTest::newRow("fast: a CRC check left unanswered is no difference")
        << Scenario().fast().withFault(fault(Kind::Silence, CRC_CHECK, 1, -1)) << Failure::VerifyUnanswered
        << Verification::NoAnswer << 732u << quint32(0x8000) << 5;
    QTest::newRow("fast: a CRC check refused is no difference")
        << Scenario().fast().withFault(fault(Kind::RefuseAck, CRC_CHECK, 1, -1)) << Failure::VerifyUnanswered
        << Verification::NoAnswer << 732u << quint32(0x8000) << 5;
}

void tst_BslInstall::theWrittenImageIsVerified()
{
    QFETCH(Scenario, scenario);
    QFETCH(Failure, failure);
    QFETCH(Verification, verification);
    QFETCH(unsigned int, bytes);
    QFETCH(quint32, address);
    QFETCH(int, dataFrames);

    installAndCheck(scenario, ended(failure, Phase::Verifying, true, bytes, address, verification), 2,
                    dataFrames, 100);
}

// A damaged image is refused before the first frame, naming the line where there is one.
void tst_BslInstall::aDamagedImageIsRefusedBeforeTheFirstFrame_data()
{
    QTest::addColumn<Image>("image");
    QTest::addColumn<QString>("problemStart"); // empty: not checked

    QTest::newRow("a byte ZZ") << Image::BadByte << "line 2 of ";
    QTest::newRow("no q") << Image::NoQ << "line 51 of ";
    QTest::newRow("a missing image") << Image::Missing << QString();
}

void tst_BslInstall::aDamagedImageIsRefusedBeforeTheFirstFrame()
{
    QFETCH(Image, image);
    QFETCH(QString, problemStart);

    installAndCheck(Scenario().withImage(image), ended(Failure::Image, Phase::Idle, false, 0), 0, 0, 0);
    if (!problemStart.isEmpty())
        QVERIFY(_outcome.imageProblem.startsWith(problemStart));
}

// The lines the log must show, in this order, for what happened; each matches the start of a line.
void tst_BslInstall::theSpecifiedLinesAppear_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<QStringList>("lines");

    const QString block = "BSL_Interface::rxTxtFileContinue";
    QTest::newRow("image written: password refused, then accepted")
        << Scenario() << QStringList{"Authenticating...", "Sending password...",  "Erasing...",
                                     "Writing ",          "_percent != nPercent", "Wrote 732 bytes in "};
    QTest::newRow("a block refused ten times ends the installation")
        << Scenario().withFault(fault(Kind::RefuseAck, RX_DATA_BLOCK, 2, 10))
        << repeatLines(block, 1, 10) + QStringList{"Wrote 480 bytes in "};
    QTest::newRow("flash errors on a block are retried")
        << Scenario().withFault(fault(Kind::ReplyMessage, RX_DATA_BLOCK, 3, 2))
        << QStringList{"Wrong Core RSP! 0 7 8002003b01", block + " repeat 1",
                       "Wrong Core RSP! 0 7 8002003b01", block + " repeat 2"};
    QTest::newRow("a late erase reply is retried")
        << Scenario().withFault(fault(Kind::LateReply, MASS_ERASE, 1, 1))
        << QStringList{"Erasing...", "Too short RSP! 0 ", "BSL_Interface::erase repeat 1",
                       "Wrote 732 bytes in "};
    QTest::newRow("erase refused for ever")
        << Scenario().withFault(fault(Kind::RefuseAck, MASS_ERASE, 1, -1))
        << repeatLines("BSL_Interface::erase", 1, 10) + QStringList{"Erase failed!", "Wrote 0 bytes in "};
    QTest::newRow("the first password accepted")
        << Scenario().withPolicy(Policy::AcceptAlways)
        << QStringList{"Authenticating...", "Password accepted at once: the unit was already erased",
                       "Erasing...", "Wrote 732 bytes in "};
    QTest::newRow("every password refused")
        << Scenario().withPolicy(Policy::RefuseAlways)
        << QStringList{"Sending password...", "Wrong Core RSP! 0 7 8002003b05c594", "Sending password...",
                       "Authentication failed!"};
    QTest::newRow("a silent loader") << Scenario().silenced()
                                     << QVector<QString>(10, "Resending wrong password...").toList() +
                                            QStringList{"Authentication failed!", "Wrote 0 bytes in "};
    QTest::newRow("a stop request ends the installation before its next frame")
        << Scenario().stoppedAt(30)
        << QStringList{"LoaderSession::stopHere stopped on request", "Wrote 480 bytes in "};
    QTest::newRow("fast: a CRC reply that fails its CRC is asked again")
        << Scenario().fast().withFault(
               fault(Kind::ReplyBytes, CRC_CHECK, 2, 1, QByteArray::fromHex("8003003a00000000")))
        << QStringList{"Wrong CRC RSP! 8 ", "BSL_Interface::verifySection repeat 1", "Verified 2 sections"};
    QTest::newRow("a byte ZZ")
        << Scenario().withImage(Image::BadByte)
        << QStringList{"BSL_Interface::installFirmware image refused, nothing sent: line 2 of ",
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
