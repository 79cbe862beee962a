#pragma once

#include "PortInfo.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPortInfo>
#include <QString>

#include <cstdint>

class BSL_IO_UART;

// The PC's side of one connection to a unit's bootstrap loader: opens the unit's port, asks for
// programming mode and the firmware version, and installs a TI-TXT image (password, mass erase,
// data blocks), reporting progress in whole percent. Lives on the device-worker thread.
class BSL_Interface : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(BSL_Interface)

public:
    // Byte positions of a message reply.
    enum eBSL_RSP
    {
        BSL_RSP_HEADER_OFFSET = 0,
        BSL_RSP_SIZE_LSB_OFFSET,
        BSL_RSP_SIZE_MSB_OFFSET,
        BSL_RSP_DATA_LSB_OFFSET,
        BSL_RSP_DATA_MSB_OFFSET,
        BSL_RSP_CKL_OFFSET,
        BSL_RSP_CKH_OFFSET,
        BSL_RSP_PACKET_SIZE
    };
    Q_ENUM(eBSL_RSP)

    explicit BSL_Interface(unsigned int bufferSize, QObject *parent = nullptr);
    ~BSL_Interface() override;

    // Opens the port at 115200 baud, no parity: "\\.\" and the port name on Windows, the port's
    // system location elsewhere.
    bool openPort(const PortInfo &info);
    bool openPort(const QSerialPortInfo &info);
    void closePort();

    // Drains the line, sends the programming-mode request and reads the version text.
    bool rxProgrammingMode(QString &version);

    // The whole installation, synchronously; emits firmwareInstallDone() once at its end whatever
    // happened. Succeeded exactly when getPercent() is 100 afterwards.
    void installFirmware(const QString &firmware, unsigned int size);
    bool authenticate();
    bool erase();

    unsigned int getPercent() const { return _percent; }

signals:
    void progressChanged(const unsigned int &progress);
    void firmwareInstallDone();

private:
    friend class BslPacketTest;

    unsigned char rxPassword();
    unsigned char rxMassErase();
    unsigned char rxDataBlock(uint32_t address, const QByteArray &block);
    void rxTxtFileBegin(const QString &firmware);
    bool rxTxtFileContinue(unsigned int size);
    void rxTxtFileEnd();
    void updateProgress(unsigned int size);
    bool collectReply(int expectedCoreRsp);
    void settleAfterFailure(unsigned char ack);

    unsigned char txPacket(const QByteArray &core);
    bool processRspData(const QByteArray &rsp, int expectedCoreRsp = 0);
    static QString dataToHexString(const QByteArray &data);

    unsigned int _bufferSize;
    BSL_IO_UART *_serial;
    unsigned int _percent = 0;
    QElapsedTimer _rxTxtTime;
    unsigned int _rxTxtBytes = 0;
};
