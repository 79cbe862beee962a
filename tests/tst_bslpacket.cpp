#include "BSL_Common.h"
#include "BSL_IO_UART.h"
#include "BSL_Interface.h"
#include "logcapture.h"
#include "ptypeer.h"

#include <QtTest>

// The loader's framing: frames as they go out on the line, the acknowledgement byte, and the
// judging of message replies.
class BslPacketTest : public QObject
{
    Q_OBJECT

private slots:
    void commandsGoOutAsFrames_data();
    void commandsGoOutAsFrames();
    void theAcknowledgementIsReturnedAndARefusalClearsTheLine_data();
    void theAcknowledgementIsReturnedAndARefusalClearsTheLine();
    void repliesAreJudged_data();
    void repliesAreJudged();
};

enum Command
{
    MassErase,
    Password,
    DataBlock
};
Q_DECLARE_METATYPE(Command)

void BslPacketTest::commandsGoOutAsFrames_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<uint>("address");
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("frame");

    QByteArray fullBlock(240, '\0');
    for (int i = 0; i < fullBlock.size(); ++i)
        fullBlock[i] = static_cast<char>(i);
    QByteArray fullFrame = QByteArray::fromHex("80f40010408200") + fullBlock;
    fullFrame.append(QByteArray::fromHex("f438"));

    QTest::newRow("mass erase") << MassErase << 0u << QByteArray() << QByteArray::fromHex("8001001564a3");
    QTest::newRow("erased-device password")
        << Password << 0u << QByteArray() << QByteArray::fromHex("80210011" + QByteArray(64, 'f') + "9ee6");
    QTest::newRow("block at 0x8000") << DataBlock << 0x8000u << QByteArray::fromHex("abcd")
                                     << QByteArray::fromHex("80060010008000abcdc900");
    QTest::newRow("block at 0x10000 needs the third address byte")
        << DataBlock << 0x10000u << QByteArray::fromHex("12") << QByteArray::fromHex("80050010000001121414");
    QTest::newRow("full block of 240 bytes is a frame of 249")
        << DataBlock << 0x8240u << fullBlock << fullFrame;
    QTest::newRow("empty block carries the address alone")
        << DataBlock << 0xFFC6u << QByteArray() << QByteArray::fromHex("80040010c6ff00cf08");
    QTest::newRow("bits above 23 are not sent") << DataBlock << 0x7F010000u << QByteArray::fromHex("12")
                                                << QByteArray::fromHex("80050010000001121414");
}

void BslPacketTest::commandsGoOutAsFrames()
{
    QFETCH(Command, command);
    QFETCH(uint, address);
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, frame);

    PtyPeer peer;
    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QVERIFY(openOn(bsl, peer));
    QByteArray seen;
    peer.run([&](PtyPeer &p) {
        seen = p.receive(frame.size(), 3000);
        p.send(QByteArray(1, '\0'));
    });

    std::optional<unsigned char> ack;
    switch (command) {
    case MassErase:
        ack = bsl.rxMassErase();
        break;
    case Password:
        ack = bsl.rxPassword();
        break;
    case DataBlock:
        ack = bsl.rxDataBlock(address, block);
        break;
    }
    peer.join();
    QCOMPARE(seen.toHex(), frame.toHex());
    QCOMPARE(ack, std::optional<unsigned char>(BSL_ACK));
    // Nothing but the frame went out.
    QCOMPARE(peer.receive(1, 60), QByteArray());
}

void BslPacketTest::theAcknowledgementIsReturnedAndARefusalClearsTheLine_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("ack");
    QTest::addColumn<QByteArray>("leftForTheCaller");

    const QByteArray reply = QByteArray::fromHex("8002003b0060c4");
    QTest::newRow("acknowledged: the reply stays") << QByteArray(1, '\0') + reply << BSL_ACK << reply;
    QTest::newRow("checksum refused: the line is cleared")
        << QByteArray::fromHex("52") + reply << CHECKSUM_INCORRECT << QByteArray();
    QTest::newRow("header refused") << QByteArray::fromHex("51") << HEADER_INCORRECT << QByteArray();
    QTest::newRow("silence") << QByteArray() << -1 << QByteArray();
}

void BslPacketTest::theAcknowledgementIsReturnedAndARefusalClearsTheLine()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, ack);
    QFETCH(QByteArray, leftForTheCaller);

    PtyPeer peer;
    BSL_Interface bsl(BSL_BUFFER_SIZE);
    QVERIFY(openOn(bsl, peer));
    peer.run([&](PtyPeer &p) {
        if (p.receive(6, 3000).size() == 6 && !answer.isEmpty())
            p.send(answer);
    });

    QElapsedTimer timer;
    timer.start();
    const std::optional<unsigned char> received = bsl.rxMassErase();
    QCOMPARE(received ? int(*received) : -1, ack);
    if (ack < 0)
        QVERIFY(timer.elapsed() >= 39);
    peer.join();
    QByteArray rest;
    bsl._session.receiveReply(rest); // to the line's quiet
    QCOMPARE(rest.toHex(), leftForTheCaller.toHex());
}

void BslPacketTest::repliesAreJudged_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("log");

    const QByteArray ok = QByteArray::fromHex("8002003b0060c4");
    const QByteArray refused = QByteArray::fromHex("8002003b05c594");

    QTest::newRow("success") << ok << 0 << true << QStringList();
    QTest::newRow("password error where expected") << refused << 5 << true << QStringList();
    QTest::newRow("bytes after the seventh are ignored") << ok + "\x01\x02" << 0 << true << QStringList();
    QTest::newRow("nothing arrived") << QByteArray() << 0 << false << QStringList{"Too short RSP! 0 "};
    QTest::newRow("six bytes") << ok.left(6) << 0 << false << QStringList{"Too short RSP! 6 8002003b0060"};
    QTest::newRow("data reply kind") << QByteArray::fromHex("8002003a0060c4") << 0 << false
                                     << QStringList{"Wrong RSP! 7 8002003a0060c4"};
    QTest::newRow("wrong header") << QByteArray::fromHex("0002003b0060c4") << 0 << false
                                  << QStringList{"Wrong RSP! 7 0002003b0060c4"};
    QTest::newRow("wrong length") << QByteArray::fromHex("8003003b0060c4") << 0 << false
                                  << QStringList{"Wrong RSP! 7 8003003b0060c4"};
    QTest::newRow("success where a refusal is expected")
        << ok << 5 << false << QStringList{"Wrong Core RSP! 5 7 8002003b0060c4"};
    QTest::newRow("refusal where success is expected")
        << refused << 0 << false << QStringList{"Wrong Core RSP! 0 7 8002003b05c594"};
    QTest::newRow("right code, wrong checksum") << QByteArray::fromHex("8002003b0061c4") << 0 << false
                                                << QStringList{"Wrong Core RSP! 0 7 8002003b0061c4"};
    QTest::newRow("another message code") << QByteArray::fromHex("8002003b04c4a4") << 0 << false
                                          << QStringList{"Wrong Core RSP! 0 7 8002003b04c4a4"};
    QTest::newRow("unsupported expected code") << ok << 1 << false << QStringList{"Unknown Core RSP! 1"};
    QTest::newRow("short reply judged before the expected code")
        << ok.left(3) << 1 << false << QStringList{"Too short RSP! 3 800200"};
}

void BslPacketTest::repliesAreJudged()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, expected);
    QFETCH(bool, accepted);
    QFETCH(QStringList, log);

    BSL_Interface bsl(BSL_BUFFER_SIZE);
    LogCapture capture;
    QCOMPARE(bsl.processRspData(reply, expected), accepted);
    QCOMPARE(capture.lines(), log);
}

QTEST_GUILESS_MAIN(BslPacketTest)
#include "tst_bslpacket.moc"
