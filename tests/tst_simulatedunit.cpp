// The simulated unit, driven with raw bytes over its pseudo-terminal.

#include "crcreference.h"
#include "logcapture.h"
#include "processsupport.h"
#include "ptypeer.h"
#include "simulatedunit.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <unistd.h>

namespace {

const QByteArray REQUEST("\x7D\x7D\x01", 3);
const QByteArray ERASED_PASSWORD(32, '\xFF');
const QByteArray ACK(1, '\0');
const int QUIET_MS = 40;
const quint8 CORRUPTED_ACK = 0xA0; // the corrupted acknowledgement the fault tests use

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray passwordCore(const QByteArray &password = ERASED_PASSWORD)
{
    return QByteArray(1, '\x11') + password;
}

QByteArray blockCore(quint32 address, const QByteArray &data)
{
    QByteArray core(1, '\x10');
    core.append(char(address & 0xFF))
        .append(char((address >> 8) & 0xFF))
        .append(char((address >> 16) & 0xFF));
    return core + data;
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed) & 0xFF);
    return bytes;
}

// The host's end of the line: the slave side of the pty, opened as a serial port would be.
class HostLine : public PtyLine
{
public:
    using PtyLine::PtyLine;

    // One command: frame out, then the acknowledgement, the 7-byte reply that follows an
    // acknowledgement of 0x00, and whatever else arrives within a short quiet time. Lengths, not
    // quiet times, end the expected part, so a busy machine does not cut a reply short.
    QByteArray exchange(const QByteArray &core, int ackTimeoutMs = 2000)
    {
        send(SimulatedUnit::frame(core));
        QByteArray data = receive(1, ackTimeoutMs);
        if (data.size() == 1 && (data.at(0) == '\0' || quint8(data.at(0)) == CORRUPTED_ACK))
            data += receive(7);
        data += receiveUntilQuiet(QUIET_MS);
        return data;
    }

    // Exactly n bytes are expected; anything more within a short quiet time is appended.
    QByteArray expect(int n)
    {
        QByteArray data = receive(n);
        data += receiveUntilQuiet(QUIET_MS); // after the expected bytes, not before
        return data;
    }
};

} // namespace

class tst_SimulatedUnit : public QObject
{
    Q_OBJECT

private slots:
    void crcMatchesReferenceValues_data();
    void crcMatchesReferenceValues();
    void framesAreBuiltLikeTheHostBuildsThem();

    void handshakeAnswersWithVersionText_data();
    void handshakeAnswersWithVersionText();
    void handshakeReplyComesInBursts();
    void handshakeReplyWaitsForItsDelay();
    void requestIsFoundAfterOtherBytes();
    void silentUnitAnswersNothing();
    void chatterStopsAtTheRequest();
    void babblingUnitNeverPauses();

    void passwordIsRefusedErasesAndIsThenAccepted();
    void erasedUnitAcceptsThePasswordAtOnce();
    void passwordPolicies_data();
    void passwordPolicies();
    void massEraseClearsMemory();
    void dataBlocksLandInMemory();
    void dataBlockWhileLockedIsRefused();
    void flashCanOnlyClearBits_data();
    void flashCanOnlyClearBits();
    void malformedFramesGetTheirAcknowledgement_data();
    void malformedFramesGetTheirAcknowledgement();
    void loaderAnswersANewHandshake();

    void frameFaults_data();
    void frameFaults();
    void blockRefusedNTimesIsThenWritten();
    void faultForAnyCommandCountsEveryFrame();
    void lateReplyComesAfterTheHostsWait();
    void lineHangsUp_data();
    void lineHangsUp();
    void lineCarriesWhatTheFaultMakesOfIt_data();
    void lineCarriesWhatTheFaultMakesOfIt();
    void memoryFileCarriesTheMemoryToTheNextUnit();

    void programServesAUnitUntilTerminated();

    void pacedFrameTakesItsLineTime();
    void modelledEraseTimeDelaysTheReply();

    void logsWhatItDoesWhenAskedTo_data();
    void logsWhatItDoesWhenAskedTo();

private:
    void unlock(SimulatedUnit &unit, HostLine &line);
    void timeCommandOnUnlockedUnit(const SimulatedUnit::Timing &timing, const QByteArray &core, qint64 *ackNs,
                                   qint64 *replyNs);
};

// ---------------------------------------------------------------------------------------------------

void tst_SimulatedUnit::crcMatchesReferenceValues_data()
{
    addCrcReferenceRows();
}

void tst_SimulatedUnit::crcMatchesReferenceValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(SimulatedUnit::crc16(bytes)), crc);
}

void tst_SimulatedUnit::framesAreBuiltLikeTheHostBuildsThem()
{
    // The loader documentation's own example: the checksum covers the core only.
    QCOMPARE(SimulatedUnit::frame(hex("19")), hex("80010019e862"));
    QCOMPARE(SimulatedUnit::frame(hex("15")), hex("8001001564a3"));
    const QByteArray block = SimulatedUnit::frame(blockCore(0x8000, pattern(240, 1)));
    QCOMPARE(block.size(), 249);
    QCOMPARE(block.mid(1, 6), hex("f40010008000"));
    QCOMPARE(SimulatedUnit::messageReply(0x00), hex("8002003b0060c4"));
    QCOMPARE(SimulatedUnit::messageReply(0x05), hex("8002003b05c594"));
}

// ---------------------------------------------------------------------------------------------------
// Application firmware

void tst_SimulatedUnit::handshakeAnswersWithVersionText_data()
{
    QTest::addColumn<QByteArray>("versionText");
    QTest::addColumn<QByteArray>("rawReply");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("S unit") << QByteArray("49.05(1799),Talvo 400S") << QByteArray()
                            << QByteArray("\x7D\x7D\x01"
                                          "49.05(1799),Talvo 400S\x7E");
    QTest::newRow("L unit") << QByteArray("52.02(2316),Talvo 400 L") << QByteArray()
                            << QByteArray("\x7D\x7D\x01"
                                          "52.02(2316),Talvo 400 L\x7E");
    QTest::newRow("empty text") << QByteArray() << QByteArray() << hex("7d7d017e");
    QTest::newRow("wrong header") << QByteArray("x") << hex("7d7c0134397e") << hex("7d7c0134397e");
    QTest::newRow("0xEE inside the text") << hex("3439ee3035") << QByteArray() << hex("7d7d013439ee30357e");
}

void tst_SimulatedUnit::handshakeAnswersWithVersionText()
{
    QFETCH(QByteArray, versionText);
    QFETCH(QByteArray, rawReply);
    QFETCH(QByteArray, expected);
    SimulatedUnit unit;
    SimulatedUnit::Handshake hs;
    hs.versionText = versionText;
    hs.rawReply = rawReply;
    unit.setHandshake(hs);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    QVERIFY(unit.portPath().startsWith(QLatin1String("/dev/pts/")));
    HostLine line(unit.portPath());
    QVERIFY(line.isOpen());
    QCOMPARE(unit.mode(), SimulatedUnit::Mode::Application);
    QVERIFY(line.send(REQUEST));
    QCOMPARE(line.expect(expected.size()), expected);
    QVERIFY(unit.waitForHandshakes(1, 1000));
    QCOMPARE(unit.mode(), SimulatedUnit::Mode::Loader);
}

void tst_SimulatedUnit::handshakeReplyComesInBursts()
{
    SimulatedUnit unit;
    SimulatedUnit::Handshake hs;
    hs.versionText = "49.05(1799),Talvo 400S";
    hs.bursts = {5, 10};
    hs.burstPauseMs = 150;
    unit.setHandshake(hs);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    line.send(REQUEST);
    // A quiet time ends each burst, as the host's reads do (longer here than the host's 40 ms, so
    // that a busy machine does not merge bursts). The next read starts when the quiet time has
    // passed and waits as long again, so the pause lies halfway: 50 ms of margin on either side.
    QCOMPARE(line.receiveUntilQuiet(100), hex("7d7d013439"));
    QCOMPARE(line.receiveUntilQuiet(100), QByteArray(".05(1799),"));
    QCOMPARE(line.receiveUntilQuiet(100), QByteArray("Talvo 400S\x7E"));
    QCOMPARE(line.receiveUntilQuiet(100), QByteArray());
}

void tst_SimulatedUnit::handshakeReplyWaitsForItsDelay()
{
    SimulatedUnit unit;
    SimulatedUnit::Handshake hs;
    hs.delayMs = 120;
    unit.setHandshake(hs);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    QElapsedTimer timer;
    timer.start();
    line.send(REQUEST);
    QCOMPARE(line.receiveUntilQuiet(100), QByteArray()); // nothing within the first 100 ms
    QVERIFY(!line.receive(26).isEmpty());
    QVERIFY(timer.elapsed() >= 115);
}

void tst_SimulatedUnit::requestIsFoundAfterOtherBytes()
{
    SimulatedUnit unit;
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    line.send(hex("007d0155") + REQUEST);
    QCOMPARE(line.expect(26), REQUEST + "49.05(1799),Talvo 400S\x7E");
    QCOMPARE(unit.handshakesAnswered(), 1);
}

void tst_SimulatedUnit::silentUnitAnswersNothing()
{
    SimulatedUnit unit;
    unit.setSilent(true);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    line.send(REQUEST);
    QCOMPARE(line.receiveUntilQuiet(150), QByteArray());
    unit.setMode(SimulatedUnit::Mode::Loader);
    line.send(SimulatedUnit::frame(passwordCore()));
    QCOMPARE(line.receiveUntilQuiet(150), QByteArray());
    QCOMPARE(unit.handshakesAnswered(), 0);
    QCOMPARE(unit.passwordsSeen(), 0);
    QCOMPARE(unit.receivedBytes().size(), 3 + 38);
}

void tst_SimulatedUnit::chatterStopsAtTheRequest()
{
    SimulatedUnit unit;
    unit.setChatter("tick", 20);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    const QByteArray chatter = line.receiveUntilQuiet(100, 150);
    QVERIFY2(chatter.size() >= 8 && chatter.startsWith("ticktick"), chatter.constData());
    line.send(REQUEST);
    QByteArray reply = line.receiveUntilQuiet(150);
    reply.replace("tick", ""); // chatter already on its way when the request came
    QCOMPARE(reply, REQUEST + "49.05(1799),Talvo 400S\x7E");
    QCOMPARE(line.receiveUntilQuiet(150), QByteArray());
}

void tst_SimulatedUnit::babblingUnitNeverPauses()
{
    SimulatedUnit unit;
    unit.setBabbling(true, "AB");
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    line.send(REQUEST);
    // The stream never pauses long enough to end a read: the read runs into its total bound.
    QElapsedTimer timer;
    timer.start();
    const QByteArray stream = line.receiveUntilQuiet(100, 300);
    QVERIFY(timer.elapsed() >= 290);
    QVERIFY2(stream.size() > 1000, QByteArray::number(stream.size()).constData());
    QVERIFY(stream.size() < 8000); // 300 ms of a 115200-baud line hold about 3456 characters
    QVERIFY(!stream.contains(REQUEST));
    QCOMPARE(unit.handshakesAnswered(), 0);
    unit.setBabbling(false);
    line.receiveUntilQuiet(100);
    QCOMPARE(line.receiveUntilQuiet(100), QByteArray());
}

// ---------------------------------------------------------------------------------------------------
// Loader

void tst_SimulatedUnit::unlock(SimulatedUnit &unit, HostLine &line)
{
    unit.setMode(SimulatedUnit::Mode::Loader);
    QByteArray reply = line.exchange(passwordCore());
    if (reply == ACK + SimulatedUnit::messageReply(0x05))
        reply = line.exchange(passwordCore());
    QCOMPARE(reply, ACK + SimulatedUnit::messageReply(0x00));
    QVERIFY(!unit.isLocked());
}

// A unit that accepts any password, unlocked, then one command that must succeed, timed in ns from its write.
void tst_SimulatedUnit::timeCommandOnUnlockedUnit(const SimulatedUnit::Timing &timing, const QByteArray &core,
                                                  qint64 *ackNs, qint64 *replyNs)
{
    SimulatedUnit unit;
    unit.setTiming(timing);
    unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy::AcceptAlways);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    unlock(unit, line);
    if (QTest::currentTestFailed())
        return;
    QElapsedTimer timer;
    timer.start();
    line.send(SimulatedUnit::frame(core));
    QCOMPARE(line.receive(1), ACK);
    *ackNs = timer.nsecsElapsed();
    QCOMPARE(line.receive(7), SimulatedUnit::messageReply(0x00));
    *replyNs = timer.nsecsElapsed();
}

void tst_SimulatedUnit::passwordIsRefusedErasesAndIsThenAccepted()
{
    SimulatedUnit unit;
    QVERIFY(unit.holdsFirmware());
    QVERIFY(unit.memory(0x5C00, 16) != QByteArray(16, '\xFF'));
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    line.send(REQUEST);
    line.expect(26);

    QCOMPARE(line.exchange(passwordCore()), ACK + hex("8002003b05c594"));
    QVERIFY(unit.isLocked());
    QVERIFY(!unit.holdsFirmware());
    QCOMPARE(unit.memory(0x5C00, 512), QByteArray(512, '\xFF'));
    QCOMPARE(unit.memory(0xFFE0, 32), ERASED_PASSWORD);

    QCOMPARE(line.exchange(passwordCore()), ACK + hex("8002003b0060c4"));
    QVERIFY(!unit.isLocked());
    QCOMPARE(unit.passwordsSeen(), 2);
    QCOMPARE(unit.passwordsAccepted(), 1);
    QCOMPARE(unit.massErases(), 1);
    QCOMPARE(unit.lastPassword(), ERASED_PASSWORD);
    QCOMPARE(unit.framesReceived(SimulatedUnit::CMD_RX_PASSWORD), 2);
}

void tst_SimulatedUnit::erasedUnitAcceptsThePasswordAtOnce()
{
    SimulatedUnit unit;
    unit.eraseMemory();
    QVERIFY(!unit.holdsFirmware());
    unit.setMode(SimulatedUnit::Mode::Loader);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    QCOMPARE(line.exchange(passwordCore()), ACK + SimulatedUnit::messageReply(0x00));
    // Any other password is wrong for an erased unit.
    QCOMPARE(line.exchange(passwordCore(QByteArray(32, '\0'))), ACK + SimulatedUnit::messageReply(0x05));
    QCOMPARE(line.exchange(passwordCore(ERASED_PASSWORD.left(31))), ACK + SimulatedUnit::messageReply(0x05));
    QVERIFY(unit.isLocked());
}

void tst_SimulatedUnit::passwordPolicies_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<QByteArray>("firstCode");
    QTest::addColumn<QByteArray>("secondCode");
    QTest::addColumn<bool>("firmwareKept");
    QTest::newRow("faithful") << int(SimulatedUnit::PasswordPolicy::Faithful) << hex("05") << hex("00")
                              << false;
    QTest::newRow("accept always") << int(SimulatedUnit::PasswordPolicy::AcceptAlways) << hex("00")
                                   << hex("00") << true;
    QTest::newRow("refuse always") << int(SimulatedUnit::PasswordPolicy::RefuseAlways) << hex("05")
                                   << hex("05") << false;
}

void tst_SimulatedUnit::passwordPolicies()
{
    QFETCH(int, policy);
    QFETCH(QByteArray, firstCode);
    QFETCH(QByteArray, secondCode);
    QFETCH(bool, firmwareKept);
    SimulatedUnit unit;
    unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy(policy));
    unit.setMode(SimulatedUnit::Mode::Loader);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    QCOMPARE(line.exchange(passwordCore()), ACK + SimulatedUnit::messageReply(quint8(firstCode.at(0))));
    QCOMPARE(line.exchange(passwordCore()), ACK + SimulatedUnit::messageReply(quint8(secondCode.at(0))));
    QCOMPARE(unit.holdsFirmware(), firmwareKept);
    QCOMPARE(unit.isLocked(), secondCode != hex("00"));
}

void tst_SimulatedUnit::massEraseClearsMemory()
{
    SimulatedUnit unit;
    unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy::AcceptAlways);
    unit.loadMemory(0x20000, "data above 64K");
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    unlock(unit, line);
    QVERIFY(unit.holdsFirmware());
    QCOMPARE(line.exchange(hex("15")), ACK + SimulatedUnit::messageReply(0x00));
    QVERIFY(!unit.holdsFirmware());
    QCOMPARE(unit.memory(0x20000, 14), QByteArray(14, '\xFF'));
    QCOMPARE(unit.massErases(), 1);
    QCOMPARE(unit.framesReceived(SimulatedUnit::CMD_MASS_ERASE), 1);
    QVERIFY(unit.writtenRanges().isEmpty());
}

void tst_SimulatedUnit::dataBlocksLandInMemory()
{
    SimulatedUnit unit;
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    unlock(unit, line);
    const QByteArray first = pattern(240, 3);
    const QByteArray second = pattern(100, 7);
    QCOMPARE(line.exchange(blockCore(0x8000, first)), ACK + SimulatedUnit::messageReply(0x00));
    QCOMPARE(line.exchange(blockCore(0x80F0, second)), ACK + SimulatedUnit::messageReply(0x00));
    QCOMPARE(line.exchange(blockCore(0x10000, "high")), ACK + SimulatedUnit::messageReply(0x00));
    QCOMPARE(line.exchange(blockCore(0x12000, QByteArray())), ACK + SimulatedUnit::messageReply(0x00));

    QCOMPARE(unit.memory(0x8000, 340), first + second);
    QCOMPARE(unit.memory(0x10000, 4), QByteArray("high"));
    QCOMPARE(unit.memory(0x7FFF, 1), QByteArray(1, '\xFF'));
    QCOMPARE(unit.memory(0xFFFFE, 4), QByteArray(4, '\xFF')); // beyond the space reads erased
    const QVector<SimulatedUnit::Range> expected = {{0x8000, 340}, {0x10000, 4}};
    QCOMPARE(unit.writtenRanges(), expected);
    QCOMPARE(unit.blocksWritten(), 4);
    QCOMPARE(unit.framesReceived(SimulatedUnit::CMD_RX_DATA_BLOCK), 4);
    QCOMPARE(unit.frames().last().bytes, SimulatedUnit::frame(blockCore(0x12000, QByteArray())));
    QCOMPARE(int(unit.frames().last().ack), 0);
}

void tst_SimulatedUnit::dataBlockWhileLockedIsRefused()
{
    SimulatedUnit unit;
    unit.eraseMemory();
    unit.setMode(SimulatedUnit::Mode::Loader);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    QCOMPARE(line.exchange(blockCore(0x8000, "abc")), ACK + SimulatedUnit::messageReply(0x04));
    QCOMPARE(unit.memory(0x8000, 3), QByteArray(3, '\xFF'));
    QVERIFY(unit.writtenRanges().isEmpty());
    QCOMPARE(unit.blocksWritten(), 0);
}

void tst_SimulatedUnit::flashCanOnlyClearBits_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("memory");
    QTest::newRow("same bytes again") << hex("0f0f") << hex("0f0f") << 0x00 << hex("0f0f");
    QTest::newRow("clearing more bits") << hex("0f0f") << hex("0e0f") << 0x00 << hex("0e0f");
    QTest::newRow("setting bits fails") << hex("0f0f") << hex("f00f") << 0x01 << hex("000f");
    QTest::newRow("failure stops the block") << hex("0f0f") << hex("0ff0") << 0x01 << hex("0f00");
}

void tst_SimulatedUnit::flashCanOnlyClearBits()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, code);
    QFETCH(QByteArray, memory);
    SimulatedUnit unit;
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    unlock(unit, line);
    QCOMPARE(line.exchange(blockCore(0x9000, first)), ACK + SimulatedUnit::messageReply(0x00));
    QCOMPARE(line.exchange(blockCore(0x9000, second)), ACK + SimulatedUnit::messageReply(quint8(code)));
    QCOMPARE(unit.memory(0x9000, memory.size()), memory);
}

void tst_SimulatedUnit::malformedFramesGetTheirAcknowledgement_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("ack");
    QByteArray badCrc = SimulatedUnit::frame(hex("15"));
    badCrc[5] = char(badCrc[5] ^ 0x01);
    QTest::newRow("header") << hex("7f") << 0x51;
    QTest::newRow("checksum") << badCrc << 0x52;
    QTest::newRow("checksum over header and length") << hex("800100155c2c") << 0x52;
    QTest::newRow("length zero") << hex("800000") << 0x53;
    QTest::newRow("length too big") << hex("800501") << 0x54;
    QTest::newRow("frame stops half way") << hex("80050010") << 0x55;
}

void tst_SimulatedUnit::malformedFramesGetTheirAcknowledgement()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, ack);
    SimulatedUnit unit;
    SimulatedUnit::Timing timing;
    timing.frameTimeoutMs = 60;
    unit.setTiming(timing);
    unit.setMode(SimulatedUnit::Mode::Loader);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    line.send(bytes);
    QCOMPARE(line.expect(1), QByteArray(1, char(ack)));
    QCOMPARE(unit.badFrames(), 1);
    QCOMPARE(unit.framesReceived(), 0);
    QCOMPARE(int(unit.frames().value(0).ack), ack);
    QCOMPARE(unit.frames().value(0).bytes, bytes);
    // The loader is ready for the next frame at once.
    QCOMPARE(line.exchange(hex("15")), ACK + SimulatedUnit::messageReply(0x00));
}

void tst_SimulatedUnit::loaderAnswersANewHandshake()
{
    SimulatedUnit unit;
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    line.send(REQUEST);
    QVERIFY(line.expect(26).startsWith(REQUEST));
    line.send(REQUEST);
    QVERIFY(line.expect(26).startsWith(REQUEST));
    QCOMPARE(unit.handshakesAnswered(), 2);

    unit.setAnswersHandshakeInLoader(false);
    line.send(REQUEST);
    QCOMPARE(line.expect(3), hex("515151"));
    QCOMPARE(unit.handshakesAnswered(), 2);
}

// ---------------------------------------------------------------------------------------------------
// Faults

void tst_SimulatedUnit::frameFaults_data()
{
    using Fault = SimulatedUnit::FrameFault;
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("ackByte");
    QTest::addColumn<QByteArray>("replyBytes");
    QTest::addColumn<QByteArray>("expected"); // what the host reads for the faulty block
    QTest::addColumn<bool>("written");
    const QByteArray ok = SimulatedUnit::messageReply(0x00);
    QTest::newRow("refused with 0x52") << int(Fault::RefuseAck) << 0x52 << QByteArray() << hex("52") << false;
    QTest::newRow("refused with 0x55") << int(Fault::RefuseAck) << 0x55 << QByteArray() << hex("55") << false;
    QTest::newRow("corrupted ack") << int(Fault::CorruptAck) << int(CORRUPTED_ACK) << QByteArray()
                                   << hex("a0") + ok << true;
    QTest::newRow("silence") << int(Fault::Silence) << 0 << QByteArray() << QByteArray() << false;
    QTest::newRow("message code") << int(Fault::ReplyMessage) << 0 << QByteArray()
                                  << ACK + SimulatedUnit::messageReply(0x01) << false;
    QTest::newRow("0xEE inside the reply")
        << int(Fault::ReplyBytes) << 0 << hex("8002003bee60c4") << ACK + hex("8002003bee60c4") << true;
}

void tst_SimulatedUnit::frameFaults()
{
    QFETCH(int, kind);
    QFETCH(int, ackByte);
    QFETCH(QByteArray, replyBytes);
    QFETCH(QByteArray, expected);
    QFETCH(bool, written);
    SimulatedUnit unit;
    SimulatedUnit::FrameFault fault = SimulatedUnit::FrameFault::of(SimulatedUnit::FrameFault::Kind(kind),
                                                                    SimulatedUnit::CMD_RX_DATA_BLOCK, 2);
    fault.ackByte = quint8(ackByte);
    fault.replyBytes = replyBytes;
    unit.addFrameFault(fault);
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    unlock(unit, line);
    const QByteArray ok = ACK + SimulatedUnit::messageReply(0x00);
    QCOMPARE(line.exchange(blockCore(0x8000, "one")), ok);
    QCOMPARE(line.exchange(blockCore(0x9000, "two"), expected.isEmpty() ? 200 : 2000), expected);
    QCOMPARE(line.exchange(blockCore(0xA000, "three")), ok); // only the chosen frame is hit
    QCOMPARE(unit.memory(0x9000, 3) == "two", written);
    QCOMPARE(unit.memory(0x8000, 3), QByteArray("one"));
    QCOMPARE(unit.memory(0xA000, 5), QByteArray("three"));
    QCOMPARE(unit.framesReceived(SimulatedUnit::CMD_RX_DATA_BLOCK), 3);
}

void tst_SimulatedUnit::blockRefusedNTimesIsThenWritten()
{
    SimulatedUnit unit;
    unit.addFrameFault(SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_RX_DATA_BLOCK, 1, 3));
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    unlock(unit, line);
    for (int attempt = 0; attempt < 3; ++attempt)
        QCOMPARE(line.exchange(blockCore(0x8000, "data")), hex("52"));
    QCOMPARE(unit.memory(0x8000, 4), QByteArray(4, '\xFF'));
    QCOMPARE(line.exchange(blockCore(0x8000, "data")), ACK + SimulatedUnit::messageReply(0x00));
    QCOMPARE(unit.memory(0x8000, 4), QByteArray("data"));

    // A fault for ever (count -1) never lets the command through.
    unit.clearFrameFaults();
    unit.addFrameFault(SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_MASS_ERASE, 1, -1));
    const int erases = unit.massErases();
    for (int attempt = 0; attempt < 4; ++attempt)
        QCOMPARE(line.exchange(hex("15")), hex("52"));
    QCOMPARE(unit.massErases(), erases);
}

void tst_SimulatedUnit::faultForAnyCommandCountsEveryFrame()
{
    SimulatedUnit unit;
    unit.setPasswordPolicy(SimulatedUnit::PasswordPolicy::AcceptAlways);
    unit.setMode(SimulatedUnit::Mode::Loader);
    unit.addFrameFault(SimulatedUnit::FrameFault::silent(-1, 2, 2));
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    const QByteArray ok = ACK + SimulatedUnit::messageReply(0x00);
    QCOMPARE(line.exchange(passwordCore()), ok);
    QCOMPARE(line.exchange(blockCore(0x8000, "a"), 200), QByteArray());
    QCOMPARE(line.exchange(hex("15"), 200), QByteArray());
    QCOMPARE(line.exchange(blockCore(0x8000, "b")), ok);
    QCOMPARE(unit.memory(0x8000, 1), QByteArray("b"));
    QCOMPARE(unit.framesReceived(), 4);
    QCOMPARE(int(unit.frames().at(1).ack), 0xFF); // no acknowledgement at all
}

void tst_SimulatedUnit::lateReplyComesAfterTheHostsWait()
{
    SimulatedUnit unit;
    unit.addFrameFault(SimulatedUnit::FrameFault::late(SimulatedUnit::CMD_MASS_ERASE, 1, 60));
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    unlock(unit, line);
    line.send(SimulatedUnit::frame(hex("15")));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(line.receive(1), ACK);
    // The host's 40 ms of quiet pass before the reply comes.
    QCOMPARE(line.receiveUntilQuiet(40), QByteArray());
    QCOMPARE(line.receive(7), SimulatedUnit::messageReply(0x00));
    QVERIFY(timer.elapsed() >= 25 + 60 - 5);
}

// The three ways the line goes down; each ends with the host's reads at end of file and its writes
// refused.
enum class HangUp
{
    AtBlock,             // a fault hangs up when the third data block arrives
    InHandshakeDelay,    // hangUp() while the handshake reply waits for its delay
    AfterHandshakeBytes, // the handshake reply stops after 8 bytes
};

void tst_SimulatedUnit::lineHangsUp_data()
{
    QTest::addColumn<int>("cause");
    QTest::addColumn<QByteArray>("received"); // by the host after its last request, up to the hang-up
    QTest::addColumn<QByteArray>("memory");   // at 0x8000 afterwards
    QTest::newRow("at the third data block") << int(HangUp::AtBlock) << QByteArray() << QByteArray("12\xFF");
    QTest::newRow("by hangUp() in the handshake delay")
        << int(HangUp::InHandshakeDelay) << QByteArray() << QByteArray(3, '\xFF');
    QTest::newRow("after 8 bytes of the handshake reply")
        << int(HangUp::AfterHandshakeBytes) << hex("7d7d0134392e3035") << QByteArray(3, '\xFF');
}

void tst_SimulatedUnit::lineHangsUp()
{
    QFETCH(int, cause);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, memory);
    const HangUp how = HangUp(cause);
    SimulatedUnit unit;
    SimulatedUnit::Handshake hs;
    hs.delayMs = how == HangUp::InHandshakeDelay ? 2000 : 0;
    hs.hangUpAfterBytes = how == HangUp::AfterHandshakeBytes ? 8 : -1;
    unit.setHandshake(hs);
    if (how == HangUp::AtBlock)
        unit.addFrameFault(SimulatedUnit::FrameFault::hangUpAt(SimulatedUnit::CMD_RX_DATA_BLOCK, 3));
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    if (how == HangUp::AtBlock) {
        unlock(unit, line);
        QCOMPARE(line.exchange(blockCore(0x8000, "1")), ACK + SimulatedUnit::messageReply(0x00));
        QCOMPARE(line.exchange(blockCore(0x8001, "2")), ACK + SimulatedUnit::messageReply(0x00));
        line.send(SimulatedUnit::frame(blockCore(0x8002, "3")));
    } else {
        line.send(REQUEST);
    }
    if (how == HangUp::InHandshakeDelay) {
        QVERIFY(unit.waitForHandshakes(1, 1000));
        QElapsedTimer timer;
        timer.start();
        unit.hangUp();
        QVERIFY(timer.elapsed() < 1000);
    }
    QCOMPARE(line.receiveUntilQuiet(500, 1000), received); // ends at the hang-up
    QVERIFY(line.hungUp());
    QVERIFY(!unit.isRunning());
    QCOMPARE(unit.memory(0x8000, 3), memory);
    char byte;
    const ssize_t n = ::read(line.fd(), &byte, 1);
    QVERIFY(n == 0 || (n < 0 && errno == EIO)); // end of file or I/O error, never "try again"
    QVERIFY(!line.send(REQUEST));
}

// The host's script: two requests, the password twice (refused, then accepted), an erase and two
// blocks, written at once. The blocks' frames, 80 0c 00 10 00 90 00 41..48 da d3 and 80 08 00 10 00
// a0 00 61..64 94 45, hold no 80 or 7d after their header: each byte meeting the header check is
// refused on its own.
void tst_SimulatedUnit::lineCarriesWhatTheFaultMakesOfIt_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray script = REQUEST + REQUEST + SimulatedUnit::frame(passwordCore()) +
                              SimulatedUnit::frame(passwordCore()) + SimulatedUnit::frame(hex("15")) +
                              SimulatedUnit::frame(blockCore(0x9000, "ABCDEFGH")) +
                              SimulatedUnit::frame(blockCore(0xA000, "abcd"));
    const QByteArray hs = REQUEST + "49.05(1799),Talvo 400S\x7E", ok = ACK + SimulatedUnit::messageReply(0);
    const QByteArray hs2 = hs + hs + ACK + SimulatedUnit::messageReply(5) + ok, r51 = hex("51");
    auto row = [&](const char *fault, const QByteArray &expected) {
        QTest::newRow(fault) << QString(fault) << script << expected;
    };
    row("hsrequest:1/flip@2", hs2.mid(hs.size()) + ok + ok + ok);
    row("hsrequest:2/drop@0", hs + hex("5151") + hs2.mid(2 * hs.size()) + ok + ok + ok); // in the loader
    row("hsreply:1/flip@5", hs.left(5) + '\xAE' + hs2.mid(6) + ok + ok + ok);
    row("host@block:1/flip@0", hs2 + ok + r51.repeated(17) + ok);
    row("host@block:1/flip@2", hs2 + ok + hex("54") + r51.repeated(14) + ok);
    row("host@block:1/flip@1", hs2 + ok + hex("55")); // waits for 140 bytes, the next frame's among them
    row("host@block:1/drop@4", hs2 + ok + hex("52") + r51.repeated(12)); // the next frame's 80 ends it
    row("host@block:1/insert@3=55", hs2 + ok + hex("5251") + ok);
    row("host:5/flip@-2=01", hs2 + ok + ok + hex("52"));
    row("ack@erase:1/flip=a0", hs2 + hex("a0") + ok.mid(1) + ok + ok);
    row("ack@block:1/drop", hs2 + ok + ok.mid(1) + ok);
    row("ack@password:1/insert=ee", hs + hs + hex("ee") + hs2.mid(2 * hs.size()) + ok + ok + ok);
    row("reply@block:2/flip@4=01", hs2 + ok + ok + ACK + hex("8002003b0160c4"));
    row("reply@0x10:1/insert@2=ee", hs2 + ok + ACK + hex("8002ee003b0060c4") + ok);
    QTest::newRow("loose bytes") << QString() << REQUEST + hex("001122") << hs + r51.repeated(3);
    QTest::newRow("a lone 7d") << QString() << REQUEST + hex("7d") << hs + r51;
}

void tst_SimulatedUnit::lineCarriesWhatTheFaultMakesOfIt()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, expected);
    SimulatedUnit unit;
    SimulatedUnit::Timing timing;
    timing.frameTimeoutMs = 60;
    unit.setTiming(timing);
    SimulatedUnit::LineFault lineFault;
    if (!fault.isEmpty()) {
        QVERIFY(SimulatedUnit::LineFault::parse(fault, &lineFault));
        unit.addLineFault(lineFault);
    }
    QVERIFY(unit.start());
    HostLine line(unit.portPath());
    QVERIFY(line.send(script));
    QCOMPARE(line.expect(expected.size()), expected);
    QCOMPARE(unit.lineFaultsApplied(), fault.isEmpty() ? 0 : 1);
    QCOMPARE(unit.receivedBytes(), script); // as the host sent it
}

void tst_SimulatedUnit::memoryFileCarriesTheMemoryToTheNextUnit()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("unit.mem");
    auto fileHoldsBlock = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && file.readAll().mid(0x10000, 5) == "block";
    };
    SimulatedUnit unit, next;
    unit.setMemoryFile(path);
    QVERIFY2(unit.start(), qPrintable(unit.errorString()));
    HostLine line(unit.portPath());
    unlock(unit, line); // refused once: the firmware is erased
    QCOMPARE(line.exchange(blockCore(0x10000, "block")), ACK + SimulatedUnit::messageReply(0x00));
    QTRY_VERIFY_WITH_TIMEOUT(fileHoldsBlock(), 5000); // while the unit runs, as for a killed process
    unit.stop();
    QCOMPARE(QFileInfo(path).size(), qint64(SimulatedUnit::MEMORY_SIZE));
    next.setMemoryFile(path);
    QVERIFY2(next.start(), qPrintable(next.errorString()));
    QCOMPARE(next.memory(0x10000, 5), QByteArray("block"));
    QCOMPARE(next.memory(0x5C00, 16), QByteArray(16, '\xFF')); // the default firmware is gone
}

void tst_SimulatedUnit::programServesAUnitUntilTerminated()
{
#ifndef TALVO_SIM_PATH
    QSKIP("talvo-sim is not built");
#else
    TestProcess program;
    program.start(QStringLiteral(TALVO_SIM_PATH), {QStringLiteral("--family"), QStringLiteral("L"),
                                                   QStringLiteral("--refuse"), QStringLiteral("erase@1=53")});
    QVERIFY(program.waitForStarted(5000));
    const QByteArray portLine = program.waitForLine("PORT ", 5000);
    QVERIFY2(portLine.startsWith("PORT /dev/pts/"), portLine.constData());
    HostLine line(QString::fromLocal8Bit(portLine.mid(5)));
    QVERIFY(line.isOpen());
    line.send(REQUEST);
    QCOMPARE(line.expect(27), REQUEST + "52.02(2316),Talvo 400 L\x7E");
    QCOMPARE(line.exchange(hex("15")), hex("53"));
    QCOMPARE(line.exchange(hex("15")), ACK + SimulatedUnit::messageReply(0x00));
    program.terminate();
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.readAllStandardError().contains("2 frames (0 malformed)"));
#endif
}

// ---------------------------------------------------------------------------------------------------
// Timing

void tst_SimulatedUnit::pacedFrameTakesItsLineTime()
{
    SimulatedUnit::Timing timing;
    timing.paced = true;
    timing.blockWriteUs = 0;
    timing.commandUs = 0;
    qint64 ackNs = 0, totalNs = 0;
    timeCommandOnUnlockedUnit(timing, blockCore(0x8000, pattern(240, 9)), &ackNs, &totalNs);
    if (QTest::currentTestFailed())
        return;

    // 249 characters in, one out: at least 250 character times before the host sees the ack.
    const qint64 replyNs = totalNs - ackNs;
    QVERIFY2(ackNs >= 250 * 86806 - 500000, QByteArray::number(ackNs).constData());
    // Measured from the write: a late read of the acknowledgement cannot shorten it.
    QVERIFY2(totalNs >= 257 * 86806 - 500000, QByteArray::number(totalNs).constData());
    QVERIFY2(ackNs < 200 * 1000000, QByteArray::number(ackNs).constData());
    qInfo("249-byte frame to acknowledgement: %.2f ms, reply: %.2f ms", ackNs / 1e6, replyNs / 1e6);
}

void tst_SimulatedUnit::modelledEraseTimeDelaysTheReply()
{
    SimulatedUnit::Timing timing;
    timing.massEraseUs = 300000;
    qint64 ackNs = 0, replyNs = 0;
    timeCommandOnUnlockedUnit(timing, hex("15"), &ackNs, &replyNs);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(replyNs >= 295 * 1000000LL);
    QVERIFY(ackNs < 250 * 1000000LL); // the acknowledgement does not wait for the work
}

void tst_SimulatedUnit::logsWhatItDoesWhenAskedTo_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("logged");
    QTest::newRow("off by default") << QString() << false;
    QTest::newRow("asked for") << "talvo.sim.debug=true" << true;
    QTest::newRow("asked for, then filtered") << "talvo.sim.debug=true\ntalvo.*.debug=false" << false;
}

void tst_SimulatedUnit::logsWhatItDoesWhenAskedTo()
{
    QFETCH(QString, rules);
    QFETCH(bool, logged);
    QLoggingCategory::setFilterRules(rules);
    LogCapture log(LogCapture::PassOn::Nothing);
    {
        SimulatedUnit unit;
        unit.addFrameFault(SimulatedUnit::FrameFault::refused(SimulatedUnit::CMD_MASS_ERASE, 1));
        QVERIFY(unit.start());
        HostLine line(unit.portPath());
        line.send(REQUEST);
        QCOMPARE(line.expect(26).size(), 26);
        QCOMPARE(line.exchange(hex("15")), hex("52"));
        QCOMPARE(line.exchange(hex("15")).left(1), ACK);
        line.send(hex("7f"));
        QCOMPARE(line.expect(1), hex("51"));
        const QStringList expected{"serving on " + unit.portPath(),
                                   "programming-mode request #1: now in the loader", "frame 0x15 #1: refused",
                                   "frame 0x15 #2", "malformed frame of 1 bytes, acknowledged 0x51"};
        QCOMPARE(log.lines(), logged ? expected : QStringList());
    }
    QLoggingCategory::setFilterRules(QString());
}

QTEST_GUILESS_MAIN(tst_SimulatedUnit)
#include "tst_simulatedunit.moc"
