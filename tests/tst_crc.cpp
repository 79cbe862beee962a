#include "CRC.h"
#include "crcreference.h"

#include <QtTest>

namespace {

// Bit-by-bit CRC-16-CCITT, the textbook form, to check the table-free update against.
uint16_t bitwiseCrc(uint16_t crc, const QByteArray &bytes)
{
    for (const char c : bytes) {
        crc ^= static_cast<uint16_t>(static_cast<uint8_t>(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc =
                (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

uint16_t crcOf(const QByteArray &bytes, uint16_t init = 0xFFFF)
{
    Flash_crcInit(init);
    for (const char c : bytes)
        Flash_crcInput(static_cast<uint8_t>(c));
    return static_cast<uint16_t>((Flash_getHighByte() << 8) | Flash_getLowByte());
}

} // namespace

// The checksum of every loader frame.
class tst_Crc : public QObject
{
    Q_OBJECT

private slots:
    void referenceValues_data();
    void referenceValues();
    void matchesTheBitwiseCrcForAnyInput();
    void readingTheResultLeavesTheRegisterAlone();
    void aNewStartDiscardsEarlierInput();
};

void tst_Crc::referenceValues_data()
{
    addCrcReferenceRows();
}

void tst_Crc::referenceValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);

    crcOf(bytes);
    QCOMPARE(int(Flash_getLowByte()), crc & 0xFF);
    QCOMPARE(int(Flash_getHighByte()), crc >> 8);
}

void tst_Crc::matchesTheBitwiseCrcForAnyInput()
{
    QRandomGenerator random(4711);
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes(random.bounded(0, 300), '\0');
        for (char &c : bytes)
            c = static_cast<char>(random.bounded(256));
        const uint16_t init = static_cast<uint16_t>(random.bounded(0x10000));
        QCOMPARE(crcOf(bytes, init), bitwiseCrc(init, bytes));
    }
}

void tst_Crc::readingTheResultLeavesTheRegisterAlone()
{
    crcOf(QByteArray("abc"));
    QCOMPARE(int(Flash_getHighByte()), 0x51);
    QCOMPARE(int(Flash_getHighByte()), 0x51);
    QCOMPARE(int(Flash_getLowByte()), 0x4A);
    QCOMPARE(int(Flash_getLowByte()), 0x4A);
    // Feeding goes on from the unchanged register.
    Flash_crcInput('d');
    QCOMPARE(int((Flash_getHighByte() << 8) | Flash_getLowByte()), int(bitwiseCrc(0xFFFF, "abcd")));
}

void tst_Crc::aNewStartDiscardsEarlierInput()
{
    crcOf(QByteArray("something else entirely"));
    QCOMPARE(crcOf(QByteArray::fromHex("3b05")), uint16_t(0x94C5));
}

QTEST_GUILESS_MAIN(tst_Crc)
#include "tst_crc.moc"
