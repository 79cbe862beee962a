#pragma once

#include "BSL_IO_UART.h"
#include "PortInfo.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <optional>

// One connection to a unit's loader over its serial port: a command goes out as a frame and its
// acknowledgement comes back, then its reply; and every command is tried again the same way. Used
// from the installing thread only, but for the stop flag, which any thread may set.
class LoaderSession
{
public:
    // The loader's acknowledgement byte, or none when nothing came in time.
    using Ack = std::optional<unsigned char>;

    // How one attempt of a command went.
    struct Attempt
    {
        enum Result
        {
            Done,   // the step is decided: it succeeded, or asking again would get the same answer
            Failed, // the line is let fall silent, then the next attempt follows
            Next,   // no failure, but the step needs another attempt: it follows at once
        };
        Result result;
        Ack ack; // what acknowledged the attempt's frame

        static Attempt done() { return {Done, Ack()}; }
        static Attempt failed(const Ack &ack) { return {Failed, ack}; }
        static Attempt next() { return {Next, Ack()}; }
    };
    enum class Attempts
    {
        Done,      // an attempt decided the step
        Exhausted, // every attempt failed
        Stopped,   // a stop request came before an attempt
    };

    LoaderSession();

    // "\\.\" and the port name on Windows, the port's system location elsewhere; 115200 baud, no
    // parity.
    bool open(const PortInfo &info);
    void close();
    // Why the last open failed to get the port at all, with the system's error code.
    SerialLine::OpenFailure openFailure() const { return _serial.openFailure(); }
    int openErrorCode() const { return _serial.openErrorCode(); }
    // The serial line reported the port gone since it was opened.
    bool portLost() const { return _serial.portLost(); }

    // Drops whatever the unit sends until the line has been quiet for the read time-out.
    void drain() { _serial.readGarbageUntilTimeout(); }
    // The programming-mode exchange: drains the line, sends the request and, when it went out,
    // reads the version text.
    bool rxProgrammingMode(QString &version);
    // Everything the last programming-mode exchange collected.
    QByteArray lastProgrammingModeReply() const { return _serial.lastProgrammingModeReply(); }

    void setFastReplies(bool fast) { _fastReplies = fast; }
    bool fastReplies() const { return _fastReplies; }
    // The flag that ends the running step before its next frame; the session's own when none.
    void setStopFlag(std::atomic<bool> *stop) { _stop = stop ? stop : &_ownStop; }
    void clearStop() { _stop->store(false); }

    // Sends the core as a frame and returns the acknowledgement; a refusal or a silence clears
    // the line both ways.
    Ack send(const QByteArray &core);
    // The reply to an acknowledged command, appended to `rsp`: by the length it carries with fast
    // replies, else up to the line's quiet.
    void receiveReply(QByteArray &rsp);
    // The reply by the length it carries whatever the setting, appended to `rsp`: true when it
    // came whole and its CRC checks, false after the line's quiet otherwise.
    bool receiveCheckedReply(QByteArray &rsp) { return _serial.readReply(rsp); }
    // The reply, judged as the message with the expected code.
    bool collectReply(int expectedCoreRsp);

    // Up to BSL_RX_PASS_REPEAT attempts of one command, each after a check for a stop request. A
    // failed attempt lets the line fall silent before anything else; every attempt that did not
    // decide the step is then told to `afterAttempt` with its number, from 1.
    Attempts repeat(const std::function<Attempt()> &attempt, const std::function<void(int)> &afterAttempt);

private:
    void settleAfterFailure(const Ack &ack);
    bool stopHere();

    BSL_IO_UART _serial;
    bool _fastReplies = false;
    std::atomic<bool> _ownStop{false};
    std::atomic<bool> *_stop = &_ownStop;
};
