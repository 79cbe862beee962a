// The serial line on the Win32 communications functions.

#include "serialline.h"

#include "BSL_Common.h"

#include <windows.h>

#include <algorithm>

struct SerialLine::State
{
    HANDLE hComPort = INVALID_HANDLE_VALUE;
    DCB comDCB{};
    COMSTAT comState{};
    COMMTIMEOUTS orgTimeouts{};
    bool orgTimeoutsRead = false;
    DWORD readWaitMs = 0; // the read time-out the driver holds now
    // Bytes that one read took from the driver beyond the one asked for; each communications call
    // is a round trip to the driver (under wine to its server), so a reply is taken whole at once.
    unsigned char received[512];
    DWORD receivedStart = 0, receivedEnd = 0;
    void dropReceived() { receivedStart = receivedEnd = 0; }
    SerialLine::OpenFailure failure = SerialLine::OpenFailure::None;
    DWORD errorCode = 0;
};

namespace {

// A write may take this long plus WRITE_MS_PER_BYTE for each byte before the driver gives up: a
// device that stops reading must not hold the caller for ever. At 115200 baud a byte takes 87 µs.
const DWORD WRITE_STALL_MS = 2000;
const DWORD WRITE_MS_PER_BYTE = 1;

// Milliseconds on the performance counter: the tick count's 10 to 16 ms steps are too coarse
// for a 40 ms deadline.
class Deadline
{
public:
    explicit Deadline(int timeoutMs)
    {
        QueryPerformanceFrequency(&_frequency);
        QueryPerformanceCounter(&_start);
        _ticks = _frequency.QuadPart * timeoutMs / 1000;
    }
    // Whole milliseconds left, rounded up, so that a wait of this length reaches the deadline.
    DWORD remainingMs() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const LONGLONG left = _ticks - (now.QuadPart - _start.QuadPart);
        if (left <= 0)
            return 0;
        return static_cast<DWORD>((left * 1000 + _frequency.QuadPart - 1) / _frequency.QuadPart);
    }
    void waitOut() const
    {
        for (DWORD left = remainingMs(); left != 0; left = remainingMs())
            Sleep(left);
    }

private:
    LARGE_INTEGER _frequency;
    LARGE_INTEGER _start;
    LONGLONG _ticks;
};

// The driver waits for the first byte of a read for up to readWaitMs and returns it at once; a
// byte already waiting is returned without waiting. Writes are bounded.
COMMTIMEOUTS lineTimeouts(DWORD readWaitMs)
{
    // ReadIntervalTimeout, ReadTotalTimeoutMultiplier, ReadTotalTimeoutConstant,
    // WriteTotalTimeoutMultiplier, WriteTotalTimeoutConstant
    return COMMTIMEOUTS{MAXDWORD, MAXDWORD, readWaitMs, WRITE_MS_PER_BYTE, WRITE_STALL_MS};
}

SerialLine::OpenFailure failureFor(DWORD error)
{
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return SerialLine::OpenFailure::Missing;
    // Windows answers ERROR_ACCESS_DENIED for a COM port that another program holds; wine answers
    // ERROR_LOCK_VIOLATION for a device that a Linux program holds exclusively.
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return SerialLine::OpenFailure::Busy;
    return SerialLine::OpenFailure::Other;
}

} // namespace

SerialLine::SerialLine() : _state(new State) {}

SerialLine::~SerialLine()
{
    if (_state->hComPort != INVALID_HANDLE_VALUE)
        CloseHandle(_state->hComPort);
    delete _state;
}

bool SerialLine::isHeld() const
{
    return _state->hComPort != INVALID_HANDLE_VALUE;
}

SerialLine::OpenFailure SerialLine::openFailure() const
{
    return _state->failure;
}

int SerialLine::openErrorCode() const
{
    return static_cast<int>(_state->errorCode);
}

SerialLine::OpenResult SerialLine::open(const wchar_t *path, long rate, unsigned char parity)
{
    if (_state->hComPort != INVALID_HANDLE_VALUE) {
        // One opening per object: the held port stays as it is.
        _state->failure = OpenFailure::Busy;
        _state->errorCode = ERROR_BUSY;
        return CreateFileFailed;
    }
    _state->failure = OpenFailure::None;
    _state->errorCode = 0;
    // Share mode 0: the open fails while any other program holds the port.
    _state->hComPort = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (_state->hComPort == INVALID_HANDLE_VALUE) {
        _state->errorCode = GetLastError();
        _state->failure = failureFor(_state->errorCode);
        return CreateFileFailed;
    }

    if (!SetupComm(_state->hComPort, QUEUE_SIZE, QUEUE_SIZE))
        return SetupCommFailed;

    if (!GetCommTimeouts(_state->hComPort, &_state->orgTimeouts))
        return GetCommTimeoutsFailed;
    _state->orgTimeoutsRead = true;
    // Reads wait in the driver, which costs no CPU, instead of polling the waiting count.
    COMMTIMEOUTS timeouts = lineTimeouts(TIMEOUT_MS);
    if (!SetCommTimeouts(_state->hComPort, &timeouts))
        return SetCommTimeoutsFailed;
    _state->readWaitMs = TIMEOUT_MS;

    if (!GetCommState(_state->hComPort, &_state->comDCB))
        return GetCommStateFailed;
    DCB &dcb = _state->comDCB;
    dcb.BaudRate = static_cast<DWORD>(rate);
    dcb.ByteSize = 8;
    dcb.Parity = parity ? EVENPARITY : NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.ErrorChar = static_cast<char>(0xEF);
    dcb.fNull = FALSE;
    if (!SetCommState(_state->hComPort, &dcb))
        return SetCommStateFailed;

    clearBuffers();
    return OpenOk;
}

SerialLine::CloseResult SerialLine::close()
{
    if (_state->hComPort == INVALID_HANDLE_VALUE)
        return CloseOk;
    // Time-outs that were never read from this port are not written back.
    if (_state->orgTimeoutsRead && !SetCommTimeouts(_state->hComPort, &_state->orgTimeouts))
        return RestoreTimeoutsFailed;
    if (!CloseHandle(_state->hComPort))
        return CloseHandleFailed;
    _state->hComPort = INVALID_HANDLE_VALUE;
    _state->orgTimeoutsRead = false;
    _state->dropReceived();
    return CloseOk;
}

void SerialLine::clearBuffers()
{
    _state->dropReceived();
    if (_state->hComPort == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(_state->hComPort, PURGE_TXABORT | PURGE_TXCLEAR);
    PurgeComm(_state->hComPort, PURGE_RXABORT | PURGE_RXCLEAR);
}

void SerialLine::clearInput()
{
    _state->dropReceived();
    if (_state->hComPort == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(_state->hComPort, PURGE_RXABORT | PURGE_RXCLEAR);
}

SerialLine::ReadResult SerialLine::readByte(int timeoutMs)
{
    ReadResult result;
    if (_state->receivedStart < _state->receivedEnd) {
        result.byte = _state->received[_state->receivedStart++];
        result.received = true;
        return result;
    }
    const Deadline deadline(timeoutMs);
    if (_state->hComPort == INVALID_HANDLE_VALUE) {
        deadline.waitOut();
        return result;
    }

    // Clears a pending line error first: a port whose fAbortOnError is set fails every read until
    // then. A port that cannot answer this has gone away; its wait is sat out, not spun.
    DWORD errors = 0;
    if (!ClearCommError(_state->hComPort, &errors, &_state->comState)) {
        result.waitFailed = true;
        deadline.waitOut();
        return result;
    }

    // The driver returns a waiting byte at once, else the first byte to arrive, else nothing when
    // its time-out ends. Its timer may end a little before ours: the rest is waited for again.
    for (DWORD left = deadline.remainingMs(); left != 0; left = deadline.remainingMs()) {
        if (left != _state->readWaitMs) {
            COMMTIMEOUTS timeouts = lineTimeouts(left);
            if (!SetCommTimeouts(_state->hComPort, &timeouts)) {
                result.waitFailed = true;
                break;
            }
            _state->readWaitMs = left;
        }
        // All that is waiting at once, else the first byte to arrive (a longer read would wait for
        // its whole length or the time-out under some drivers).
        const DWORD waiting = _state->comState.cbInQue;
        const DWORD size = waiting == 0 ? 1 : std::min<DWORD>(waiting, sizeof _state->received);
        _state->comState.cbInQue = 0;
        DWORD count = 0;
        if (!ReadFile(_state->hComPort, _state->received, size, &count, nullptr)) {
            result.readFailed = true;
            break;
        }
        if (count > 0) {
            result.byte = _state->received[0];
            result.received = true;
            _state->receivedStart = 1;
            _state->receivedEnd = count;
            return result;
        }
    }
    // A failing line waits out its deadline like a silent one, so callers never spin.
    deadline.waitOut();
    return result;
}

std::size_t SerialLine::write(const unsigned char *data, std::size_t size, bool *failed)
{
    if (failed)
        *failed = false;
    if (_state->hComPort == INVALID_HANDLE_VALUE) {
        if (failed)
            *failed = true;
        return 0;
    }
    // Whatever came in before this write is not the answer to it.
    _state->dropReceived();
    PurgeComm(_state->hComPort, PURGE_RXABORT | PURGE_RXCLEAR);
    DWORD written = 0;
    if (!WriteFile(_state->hComPort, data, static_cast<DWORD>(size), &written, nullptr)) {
        if (failed)
            *failed = true;
        return 0;
    }
    return written;
}

long SerialLine::bytesWaiting()
{
    if (_state->hComPort == INVALID_HANDLE_VALUE)
        return -1;
    DWORD errors = 0;
    if (!ClearCommError(_state->hComPort, &errors, &_state->comState))
        return -1;
    return static_cast<long>(_state->comState.cbInQue + (_state->receivedEnd - _state->receivedStart));
}
