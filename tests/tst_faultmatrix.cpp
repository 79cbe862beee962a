// Line faults in every phase of a search and an installation, through the controller, its worker
// thread and a simulated unit on a pseudo-terminal: each case must end in time with the outcome the
// repeat counts give (the port's verdict, the phase the installation ended in), the port closed,
// the log lines that tell how the fault was taken, and never a success for an image that did not
// fully reach the unit. The matrix is printed at the end.
//
// A second matrix changes one byte on the line once, in every phase and in either direction: each
// such case must end in a successful installation, printed as a second table.
//
// The installations carry a small image (five blocks in three segments) so that each matrix runs in
// about a minute; the controller's own request with the catalogue's image is exercised by the
// wizard test against the simulated unit.
#include "logcapture.h"
#include "processsupport.h"
#include "unitsupport.h"
#include "updatedriver.h"
#include "updateworker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace {

enum Phase
{
    Handshake,
    Password,
    Erase,
    FirstBlock,
    MiddleBlock,
    LastBlock,
    PhaseCount
};

enum Fault
{
    Silence,
    Refused51,
    Refused52,
    Refused53,
    Refused54,
    Refused55,
    CorruptedReply,
    LateReply,
    EeInData,
    EndlessStream,
    HangUp,
    Noise,
    FaultCount
};

const char *const PHASE_NAMES[PhaseCount] = {"handshake",   "password",     "erase",
                                             "first block", "middle block", "last block"};
const char *const FAULT_NAMES[FaultCount] = {"silence",  "ack 0x51", "ack 0x52", "ack 0x53",
                                             "ack 0x54", "ack 0x55", "corrupt",  "late 60ms",
                                             "0xEE",     "endless",  "hang-up",  "noise"};

// Data blocks of the small image, in the order they go out: 240, 240, 120 at 0x8000, 100 at 0x10000,
// and the vectors last: 32 at 0xFFE0.
const int BLOCKS = 5;
const int MIDDLE_BLOCK = 3;

// How long a case may take from the request to the controller's result.
const int BOUND_MS = 8000;
const int ENDLESS_BOUND_MS = 15000; // ten attempts, each draining a stream up to the read bound
const int NOISE_MS = 300;           // of random bytes, every value among them, after the phase's reply

const QByteArray OK_REPLY("\x80\x02\x00\x3B\x00\x60\xC4", 7);
const QByteArray PASSWORD_ERROR_REPLY("\x80\x02\x00\x3B\x05\xC5\x94", 7);
const QByteArray BABBLE_PATTERN("\xA5\x5A", 2); // no acknowledgement code, no reply header

// The version text of the simulated unit, with a data byte 0xEE inside for the handshake case.
const QByteArray VERSION_TEXT = "49.05(1799),Talvo 400S";

int commandOf(Phase phase)
{
    switch (phase) {
    case Password:
        return SimulatedUnit::CMD_RX_PASSWORD;
    case Erase:
        return SimulatedUnit::CMD_MASS_ERASE;
    default:
        return SimulatedUnit::CMD_RX_DATA_BLOCK;
    }
}

int occurrenceOf(Phase phase)
{
    switch (phase) {
    case MiddleBlock:
        return MIDDLE_BLOCK;
    case LastBlock:
        return BLOCKS;
    default:
        return 1;
    }
}

quint8 refusalOf(Fault fault)
{
    return static_cast<quint8>(0x51 + (fault - Refused51));
}

bool isRefusal(Fault fault)
{
    return fault >= Refused51 && fault <= Refused55;
}

// The reply the loader sends for the phase's command, as the host expects it.
QByteArray properReply(Phase phase)
{
    return phase == Password ? PASSWORD_ERROR_REPLY : OK_REPLY;
}

void applyHandshakeFault(SimulatedUnit &unit, Fault fault)
{
    SimulatedUnit::Handshake handshake = unit.handshake();
    const QByteArray reply = QByteArray("\x7D\x7D\x01", 3) + VERSION_TEXT + '\x7E';
    switch (fault) {
    case Silence:
        unit.setSilent(true);
        return;
    case CorruptedReply:
        handshake.rawReply = reply;
        handshake.rawReply[1] = '\x7C';
        break;
    case LateReply:
        handshake.delayMs = 60;
        break;
    case EeInData:
        handshake.versionText = VERSION_TEXT;
        handshake.versionText.insert(8, '\xEE');
        break;
    case EndlessStream:
        unit.setBabbling(true, BABBLE_PATTERN);
        return;
    case HangUp:
        handshake.hangUpAfterBytes = 6;
        break;
    default: // a refusal code where the reply belongs
        handshake.rawReply = QByteArray(1, static_cast<char>(refusalOf(fault)));
        break;
    }
    unit.setHandshake(handshake);
}

void applyLoaderFault(SimulatedUnit &unit, Phase phase, Fault fault)
{
    SimulatedUnit::FrameFault frameFault;
    frameFault.command = commandOf(phase);
    frameFault.first = occurrenceOf(phase);
    frameFault.count = 1;
    switch (fault) {
    case Silence:
        frameFault.kind = SimulatedUnit::FrameFault::Silence;
        frameFault.count = -1;
        break;
    case CorruptedReply:
        frameFault.kind = SimulatedUnit::FrameFault::ReplyBytes;
        frameFault.replyBytes = properReply(phase);
        frameFault.replyBytes[6] = static_cast<char>(frameFault.replyBytes.at(6) ^ 0x01);
        break;
    case LateReply:
        frameFault.kind = SimulatedUnit::FrameFault::LateReply;
        frameFault.delayMs = 60;
        break;
    case EeInData:
        frameFault.kind = SimulatedUnit::FrameFault::ReplyBytes;
        frameFault.replyBytes = properReply(phase);
        frameFault.replyBytes.insert(2, '\xEE');
        break;
    case EndlessStream:
        frameFault.kind = SimulatedUnit::FrameFault::Babble;
        frameFault.replyBytes = BABBLE_PATTERN;
        break;
    case HangUp:
        frameFault.kind = SimulatedUnit::FrameFault::HangUp;
        break;
    case Noise:
        frameFault = SimulatedUnit::FrameFault::noise(commandOf(phase), occurrenceOf(phase), NOISE_MS);
        break;
    default:
        frameFault.kind = SimulatedUnit::FrameFault::RefuseAck;
        frameFault.ackByte = refusalOf(fault);
        break;
    }
    unit.addFrameFault(frameFault);
}

// What a case must end with: the search's verdict on the port for the handshake, the phase the
// installation reached for the loader's steps, and the log lines that tell how the fault was taken.
struct Expected
{
    bool success = false;
    int reason = -1; // UpdateWorker::PortReason of the probed port; -1: any but PortFound
    InstallOutcome::Phase phase = InstallOutcome::Phase::Idle; // the last before the end
    QStringList prefixes; // log lines that begin so (they go on with sizes and bytes)
};

Expected expectedFor(Phase phase, Fault fault)
{
    Expected e;
    if (phase == Handshake) {
        switch (fault) {
        case LateReply: // the reply comes in a later attempt of the collection
            e.success = true;
            e.reason = UpdateWorker::PortFound;
            e.phase = InstallOutcome::Phase::Writing;
            break;
        case Silence:
            e.reason = UpdateWorker::PortSilent;
            break;
        case EeInData: // a byte of the text like any other: no version text of a unit
            e.reason = UpdateWorker::PortNotUnderstood;
            break;
        case CorruptedReply:
            e.reason = UpdateWorker::PortNotUnderstood;
            e.prefixes << "Wrong header!";
            break;
        case EndlessStream:
            e.reason = UpdateWorker::PortNotUnderstood;
            e.prefixes << "BSL_IO_UART::readUntilTimeout the line does not fall silent";
            break;
        default:
            if (isRefusal(fault))
                e.prefixes << "Not enought data! 1 " + QString::number(refusalOf(fault), 16);
            break;
        }
        return e;
    }

    const bool persistent = fault == Silence || fault == EndlessStream || fault == HangUp;
    // Noise is taken with the reply it follows, or drained before the next attempt. When the loader
    // took the first password (and erased itself) but its refusal was lost, the next attempt is
    // accepted at once: the unit is blank, and the installation goes on.
    e.success = !persistent;
    e.reason = UpdateWorker::PortFound;
    if (fault == CorruptedReply)
        e.prefixes << "Wrong Core RSP!";
    if (fault == LateReply)
        e.prefixes << "Too short RSP!";
    if (fault == EeInData) // the 0xEE is data: the reply's length field is wrong
        e.prefixes << "Wrong RSP!";
    if (fault == EndlessStream)
        e.prefixes << "BSL_IO_UART::readGarbageUntilTimeout the line does not fall silent";
    e.phase = !e.success && phase == Password ? InstallOutcome::Phase::Authenticating
              : !e.success && phase == Erase  ? InstallOutcome::Phase::Erasing
                                              : InstallOutcome::Phase::Writing;
    return e;
}

struct CaseResult
{
    bool ran = false;
    bool success = false;
    bool passed = false;
    qint64 ms = 0;
    int reason = -1; // of the probed port
    // Every phase the installation went through, as the controller relayed them.
    QList<InstallOutcome::Phase> phases;
};

// One-off line noise, each change once: a byte flipped (XOR 0x80), dropped or added (0x80) in the
// header, length, core and checksum of frames and replies, in the acknowledgement, and in the
// header, text and end of the handshake. Reply offset 16 is the 'a' of "Talvo" and 8 the '(' of
// "49.05(1799),Talvo 400S": a changed letter or digit that keeps the text's shape would read as
// another unit, and the reply has no checksum that could tell.
// Each place with its line-fault texts.
QList<QPair<QString, QStringList>> noiseRows()
{
    QList<QPair<QString, QStringList>> rows = {
        {"hsrequest:1", {"flip@0", "flip@2", "drop@1", "insert@1"}},
        {"hsreply:1", {"flip@0", "flip@16", "flip@-1", "drop@8", "insert@16"}}};
    const QStringList frame = {"flip@0", "flip@1", "flip@3", "flip@-1", "drop@3", "insert@3"};
    for (const QString &phase : {QString("password:1"), QString("erase:1"), QString("block:1"),
                                 QString("block:%1").arg(MIDDLE_BLOCK), QString("block:%1").arg(BLOCKS)}) {
        rows << qMakePair("host@" + phase, frame)
             << qMakePair("ack@" + phase, QStringList{"flip@0", "drop@0", "insert@0"})
             << qMakePair("reply@" + phase, frame);
    }
    for (auto &row : rows)
        row.second.replaceInStrings(QRegularExpression("^"), row.first + "/");
    return rows;
}

} // namespace

class FaultMatrixTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void faultMatrix_data();
    void faultMatrix();
    void lineNoiseMatrix_data();
    void lineNoiseMatrix();

private:
    void runCase(SimulatedUnit &unit, int boundMs, CaseResult &outcome);

    QTemporaryDir _dir;
    QString _imagePath;
    TestImage::Sections _image;
    std::optional<QuietLog> _quiet;
    CaseResult _results[PhaseCount][FaultCount];
    QHash<QString, CaseResult> _noise; // by line-fault text
};

void FaultMatrixTest::initTestCase()
{
    QVERIFY(_dir.isValid());
    _image = TestImage::threeSections();
    _imagePath = _dir.filePath("image.txt");
    QVERIFY(TestImage::writeFile(_imagePath, _image));
    PortEnumerator::setSystemPortsIncluded(false);
    _quiet.emplace();
}

void FaultMatrixTest::cleanup()
{
    PortEnumerator::clearExtraPorts();
}

void FaultMatrixTest::faultMatrix_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("fault");
    for (int phase = 0; phase < PhaseCount; ++phase) {
        for (int fault = 0; fault < FaultCount; ++fault)
            if (phase != Handshake || fault != Noise) // the handshake has no frame to follow
                QTest::addRow("%s, %s", PHASE_NAMES[phase], FAULT_NAMES[fault]) << phase << fault;
    }
}

void FaultMatrixTest::faultMatrix()
{
    QFETCH(int, phase);
    QFETCH(int, fault);
    CaseResult &outcome = _results[phase][fault];
    outcome.ran = true;
    const Expected expected = expectedFor(Phase(phase), Fault(fault));
    const int bound = fault == EndlessStream ? ENDLESS_BOUND_MS : BOUND_MS;

    SimulatedUnit unit;
    if (phase == Handshake)
        applyHandshakeFault(unit, Fault(fault));
    else
        applyLoaderFault(unit, Phase(phase), Fault(fault));
    LogCapture log;
    runCase(unit, bound, outcome);
    if (QTest::currentTestFailed())
        return;
    const QStringList lines = log.lines();

    QCOMPARE(outcome.success, expected.success);
    if (expected.reason >= 0)
        QCOMPARE(outcome.reason, expected.reason);
    else
        QVERIFY(outcome.reason != UpdateWorker::PortFound);
    // The installation went through its phases in order up to the one it ended in, then Idle.
    using P = InstallOutcome::Phase;
    QList<P> through;
    if (expected.phase != P::Idle) {
        for (P step : {P::Authenticating, P::Erasing, P::Writing}) {
            through << step;
            if (step == expected.phase)
                break;
        }
        through << P::Idle;
    }
    QCOMPARE(outcome.phases, through);
    const QByteArray sent = unit.sentBytes();
    if (fault == Noise) // every byte value was on the line
        QCOMPARE(QSet<char>(sent.cbegin(), sent.cend()).size(), 256);
    for (const QString &prefix : expected.prefixes) {
        const bool found =
            std::any_of(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.startsWith(prefix); });
        QVERIFY2(found, qPrintable("missing log line beginning: " + prefix));
    }
    outcome.passed = true;
}

// Searches with the controller and, when it finds the unit, installs the test image through it.
// Fails the test when the case overruns its bound, leaves the port open, reports the wrong unit, or
// reports success without the whole image in the unit (or failure with it).
void FaultMatrixTest::runCase(SimulatedUnit &unit, int boundMs, CaseResult &outcome)
{
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    const QString path = unit.portPath();
    const QSet<int> unitOwn = descriptorsOf(path);
    addUnitPort(unit);

    bool success = false;
    QElapsedTimer timer;
    {
        UpdateDriver driver;
        QSignalSpy finished(&driver, &UpdateDriver::activeChanged);
        outcome.phases.clear();
        connect(&driver, &UpdateDriver::phaseChanged, this, [&] { outcome.phases << driver.phase(); });
        timer.start();
        driver.search(true);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, boundMs);
        success = driver.result();
        const QList<ProbeResult> probed = driver.probedPorts();
        QCOMPARE(probed.size(), 1);
        outcome.reason = probed.first().reason;
        if (success) {
            QCOMPARE(driver.modelName(), QString("Talvo 400 S"));
            QCOMPARE(driver.versionCurrent(), QString("49.05"));
            // The controller's request to the worker, with the test's image in place of the
            // catalogue's.
            emit driver.installFirmware(_imagePath, TestImage::dataSize(_image));
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, boundMs);
            success = driver.result();
            QCOMPARE(driver.progress() == 100, success);
        }
        outcome.ms = timer.elapsed();
        QVERIFY2(outcome.ms < boundMs, qPrintable(QString("took %1 ms").arg(outcome.ms)));
        outcome.success = success;

        // The worker closes the port right after its result.
        QTRY_VERIFY_WITH_TIMEOUT((descriptorsOf(path) - unitOwn).isEmpty(), 2000);
    }
    // Never a success for an image that did not fully reach the unit.
    const QString difference = memoryDifference(unit, _image);
    if (success)
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    else
        QVERIFY2(!difference.isEmpty(), "the unit holds the whole image, but the installation failed");
}

void FaultMatrixTest::lineNoiseMatrix_data()
{
    QTest::addColumn<QString>("fault");
    for (const auto &row : noiseRows()) {
        for (const QString &fault : row.second)
            QTest::newRow(qPrintable(fault)) << fault;
    }
}

void FaultMatrixTest::lineNoiseMatrix()
{
    QFETCH(QString, fault);
    SimulatedUnit::LineFault lineFault;
    QVERIFY(SimulatedUnit::LineFault::parse(fault, &lineFault));
    SimulatedUnit unit;
    unit.addLineFault(lineFault);
    CaseResult &outcome = _noise[fault];
    outcome.ran = true;
    LogCapture log;
    runCase(unit, BOUND_MS, outcome);
    if (!outcome.success) // the end of the log tells where it went wrong
        qInfo().noquote() << log.lines().mid(std::max(0, log.lines().size() - 30)).join("\n");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(unit.lineFaultsApplied(), 1); // the byte did change on the line
    QVERIFY2(outcome.success, "a one-off fault on the line cost the installation");
    outcome.passed = true;
}

void FaultMatrixTest::cleanupTestCase()
{
    _quiet.reset();
    // One row per phase, one column per fault: OK or NOK as the controller reported it, the time
    // from the request to the result, and "!" where the case failed its checks.
    QString header = QString("%1").arg("phase \\ fault", -13);
    for (const char *name : FAULT_NAMES)
        header += QString(" | %1").arg(name, -10);
    qInfo().noquote() << "Fault matrix: result, time from the request to the result; bound" << BOUND_MS
                      << "ms (endless stream" << ENDLESS_BOUND_MS << "ms)";
    qInfo().noquote() << header;
    for (int phase = 0; phase < PhaseCount; ++phase) {
        QString row = QString("%1").arg(PHASE_NAMES[phase], -13);
        for (int fault = 0; fault < FaultCount; ++fault) {
            const CaseResult &r = _results[phase][fault];
            const QString cell = !r.ran ? QString("-")
                                        : QString("%1%2 %3s")
                                              .arg(r.passed ? "" : "!")
                                              .arg(r.success ? "OK" : "NOK")
                                              .arg(r.ms / 1000.0, 0, 'f', 1);
            row += QString(" | %1").arg(cell, -10);
        }
        qInfo().noquote() << row;
    }

    // One row per place: cases, successful installations, the slowest case.
    qInfo().noquote() << "Line-noise matrix: one byte changed once; every case must install successfully";
    qInfo().noquote() << QString("%1 | cases | successes | slowest").arg("place", -16);
    auto summary = [this](const QString &place, const QStringList &faults) {
        auto ms = [this](const QString &fault) { return _noise.value(fault).ms; };
        const QString slowest =
            *std::max_element(faults.cbegin(), faults.cend(),
                              [&](const QString &a, const QString &b) { return ms(a) < ms(b); });
        const auto successes = std::count_if(faults.cbegin(), faults.cend(), [this](const QString &fault) {
            return _noise.value(fault).success;
        });
        qInfo().noquote() << QString("%1 | %2 | %3 | %4 s %5")
                                 .arg(place, -16)
                                 .arg(faults.size(), 5)
                                 .arg(successes, 9)
                                 .arg(ms(slowest) / 1000.0, 0, 'f', 1)
                                 .arg(slowest);
    };
    QStringList all;
    for (const auto &row : noiseRows()) {
        summary(row.first, row.second);
        all << row.second;
    }
    summary("all", all);
}

QTEST_GUILESS_MAIN(FaultMatrixTest)
#include "tst_faultmatrix.moc"
