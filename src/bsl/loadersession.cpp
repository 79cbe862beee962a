#include "loadersession.h"

#include "BSL_Common.h"
#include "bslframe.h"
#include "logcategories.h"
#include "portenumerator.h"

#include <QDebug>

#include <string>

LoaderSession::LoaderSession() = default;

bool LoaderSession::open(const PortInfo &info)
{
    const std::wstring devicePath = PortEnumerator::openPath(info).toStdWString();
    if (!_serial.open(devicePath.c_str(), UART_BAUDRATE, UART_PARITY)) {
        qCDebug(lcLoader) << "BSL_Interface::openPort"
                          << "open failed!";
        return false;
    }
    return true;
}

void LoaderSession::close()
{
    if (!_serial.close())
        qCDebug(lcLoader) << "BSL_Interface::closePort"
                          << "close failed!";
}

bool LoaderSession::rxProgrammingMode(QString &version)
{
    drain();
    if (!_serial.txProgrammingMode())
        return false;
    return _serial.rxProgrammingMode(version);
}

LoaderSession::Ack LoaderSession::send(const QByteArray &core)
{
    _serial.write(BslFrame::frame(core));
    const Ack ack = _serial.readByte();
    if (ack != BSL_ACK)
        _serial.clearBuffers();
    return ack;
}

void LoaderSession::receiveReply(QByteArray &rsp)
{
    if (_fastReplies)
        _serial.readReply(rsp);
    else
        _serial.readUntilTimeout(rsp);
}

bool LoaderSession::collectReply(int expectedCoreRsp)
{
    QByteArray rsp;
    receiveReply(rsp);
    return BslFrame::judgeMessage(rsp, expectedCoreRsp);
}

LoaderSession::Attempts LoaderSession::repeat(const std::function<Attempt()> &attempt,
                                              const std::function<void(int)> &afterAttempt)
{
    for (int number = 1; number <= BSL_RX_PASS_REPEAT; ++number) {
        if (stopHere())
            return Attempts::Stopped;
        const Attempt tried = attempt();
        if (tried.result == Attempt::Done)
            return Attempts::Done;
        if (tried.result == Attempt::Failed)
            settleAfterFailure(tried.ack);
        afterAttempt(number);
    }
    return Attempts::Exhausted;
}

// After a failed attempt the loader may still be busy with the command, sending a late reply, or
// answering the rest of a frame it could not parse with one refusal byte per byte. An attempt sent
// into that would read those bytes as its own answer, and so would every one after it: let the
// line fall silent first, whatever the failure was. When not even an acknowledgement came, the
// loader may be waiting for more bytes of a frame whose length was damaged on the way, and would
// take the next attempt as the rest of it: fill that frame up first.
void LoaderSession::settleAfterFailure(const Ack &ack)
{
    if (!ack)
        _serial.write(QByteArray(BSL_MAX_FRAME_SIZE, static_cast<char>(BSL_FRAME_FILLER)));
    drain();
}

bool LoaderSession::stopHere()
{
    if (!_stop->load())
        return false;
    qCDebug(lcLoader) << "LoaderSession::stopHere"
                      << "stopped on request";
    return true;
}
