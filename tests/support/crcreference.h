#pragma once

#include <QtTest>

// Reference values of the loader's CRC-16-CCITT (start value 0xFFFF) over frame cores, for the
// host's checksum and the simulated unit's alike: columns "bytes" and "crc".
inline void addCrcReferenceRows()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("nothing") << QByteArray() << 0xFFFF;
    QTest::newRow("mass-erase core") << QByteArray::fromHex("15") << 0xA364;
    QTest::newRow("success reply core") << QByteArray::fromHex("3b00") << 0xC460;
    QTest::newRow("password-error reply core") << QByteArray::fromHex("3b05") << 0x94C5;
    QTest::newRow("abc") << QByteArray("abc") << 0x514A;
    QTest::newRow("catalogue check value") << QByteArray("123456789") << 0x29B1;
    // The loader documentation's frame 80 01 00 19 E8 62: the checksum covers the core 19 only.
    QTest::newRow("loader documentation example") << QByteArray::fromHex("19") << 0x62E8;
}
