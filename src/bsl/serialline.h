#pragma once

#include <cstddef>

// The serial line below BSL_IO_UART: the few capabilities the transport needs of a COM port, with
// one implementation per platform (serialline_win32.cpp on the Win32 communications functions,
// serialline_posix.cpp on termios). No framework types here: the Win32 file must build without Qt.
//
// Contract, the same on every platform:
// - open(path, rate, parity): opens the port exclusively (a port that another program holds fails
//   in the first step), sets rate, 8 data bits, even parity when `parity` is non-zero else none,
//   1 stop bit, no flow control, DTR and RTS asserted where the device supports it, sets the
//   driver's time-outs for the line's own reads and writes (none where the line waits in poll;
//   a driver wait for the first byte and bounded writes on Windows), then purges both
//   directions. Returns the first step that failed, or OpenOk. After a failure in any step but
//   CreateFileFailed the port stays held until close(). An object that already holds a port
//   refuses a second open with CreateFileFailed.
//   openFailure() and openErrorCode() tell why the last open failed in its first step.
// - close(): restores the time-outs found at open and releases the port. Returns CloseOk also
//   when nothing was held (then it makes no system call). A failed step leaves the port held and
//   a later close() tries again.
// - clearBuffers(): discards pending output, then pending input. clearInput(): input only.
// - readByte(timeoutMs): one received byte if one arrives within timeoutMs of the call, else none.
//   It never returns before the deadline without a byte, also when the line reports errors or
//   has hung up, so callers that count attempts keep their timing and never spin.
// - write(data, size): discards pending input, then sends all bytes; returns the count the
//   driver accepted (0 on failure, with `failed` set). A device that stops taking output ends the
//   write after a bound of seconds with a short count.
// - bytesWaiting(): received bytes not yet read, or -1 when the driver cannot tell.
class SerialLine
{
public:
    enum OpenResult
    {
        OpenOk,
        CreateFileFailed,      // the port does not exist, cannot be opened, or another program holds it
        SetupCommFailed,       // driver queues
        GetCommTimeoutsFailed, // reading the port's time-outs
        SetCommTimeoutsFailed, // setting the line's own driver time-outs
        GetCommStateFailed,    // reading the line settings
        SetCommStateFailed     // applying the line settings
    };

    enum CloseResult
    {
        CloseOk,
        RestoreTimeoutsFailed,
        CloseHandleFailed
    };

    // Why the first step of open failed, as far as the system tells.
    enum class OpenFailure
    {
        None,      // the last open did not fail in its first step
        Missing,   // no such device (unplugged, or never there)
        NoAccess,  // the user may not open the device
        Busy,      // another program holds the device
        NotSerial, // the path exists but is not a serial device
        Other      // any other refusal: openErrorCode() has the system's code
    };

    struct ReadResult
    {
        bool received = false; // a byte was read: `byte` holds it
        unsigned char byte = 0;
        bool waitFailed = false; // asking the driver for the waiting count failed at least once
        bool readFailed = false; // the read call itself failed (device gone, hang-up)
    };

    SerialLine();
    ~SerialLine(); // releases a port that is still held, without restoring anything
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    OpenResult open(const wchar_t *path, long rate, unsigned char parity);
    CloseResult close();
    bool isHeld() const;
    OpenFailure openFailure() const;
    // The system's error code (errno, GetLastError) behind openFailure(); 0 for None.
    int openErrorCode() const;

    void clearBuffers();
    void clearInput();
    ReadResult readByte(int timeoutMs);
    std::size_t write(const unsigned char *data, std::size_t size, bool *failed = nullptr);
    long bytesWaiting();

private:
    struct State;
    State *_state;
};
