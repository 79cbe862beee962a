// The serial line on the Win32 communications functions.

#include "serialline.h"

#include "BSL_Common.h"

#include <windows.h>

struct SerialLine::State
{
    HANDLE hComPort = INVALID_HANDLE_VALUE;
    DCB comDCB{};
    COMSTAT comState{};
    COMMTIMEOUTS orgTimeouts{};
    bool orgTimeoutsRead = false;
    SerialLine::OpenFailure failure = SerialLine::OpenFailure::None;
    DWORD errorCode = 0;
};

namespace {

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
    bool passed() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return now.QuadPart - _start.QuadPart >= _ticks;
    }

private:
    LARGE_INTEGER _frequency;
    LARGE_INTEGER _start;
    LONGLONG _ticks;
};

SerialLine::OpenFailure failureFor(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return SerialLine::OpenFailure::Missing;
    case ERROR_ACCESS_DENIED: // what Windows answers for a COM port that another program holds
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: // wine, for a device that a Linux program holds exclusively
        return SerialLine::OpenFailure::Busy;
    default:
        return SerialLine::OpenFailure::Other;
    }
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
    // No driver time-outs at all: reads only take bytes already waiting, the time is kept here.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(_state->hComPort, &timeouts))
        return SetCommTimeoutsFailed;

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
    return CloseOk;
}

void SerialLine::clearBuffers()
{
    if (_state->hComPort == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(_state->hComPort, PURGE_TXABORT | PURGE_TXCLEAR);
    PurgeComm(_state->hComPort, PURGE_RXABORT | PURGE_RXCLEAR);
}

void SerialLine::clearInput()
{
    if (_state->hComPort == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(_state->hComPort, PURGE_RXABORT | PURGE_RXCLEAR);
}

SerialLine::ReadResult SerialLine::readByte(int timeoutMs)
{
    ReadResult result;
    const Deadline deadline(timeoutMs);
    if (_state->hComPort == INVALID_HANDLE_VALUE) {
        while (!deadline.passed())
            Sleep(1);
        return result;
    }

    // Poll the waiting count without sleeping, so a byte is taken within one poll of its arrival.
    // A failed poll counts as nothing waiting: with the driver time-outs off, a ReadFile on a stale
    // count would wait for ever on a port that has gone away. Failed polls sleep, so a dead port
    // does not spin.
    DWORD waiting = 0;
    for (;;) {
        DWORD errors = 0;
        if (ClearCommError(_state->hComPort, &errors, &_state->comState)) {
            waiting = _state->comState.cbInQue;
        } else {
            result.waitFailed = true;
            waiting = 0;
            Sleep(1);
        }
        if (waiting != 0 || deadline.passed())
            break;
    }

    // A byte that arrived at the very end stays queued for the next read.
    if (waiting == 0 || deadline.passed())
        return result;

    DWORD count = 0;
    if (!ReadFile(_state->hComPort, &result.byte, 1, &count, nullptr)) {
        result.readFailed = true;
        while (!deadline.passed())
            Sleep(1);
        return result;
    }
    result.received = count == 1;
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
    return static_cast<long>(_state->comState.cbInQue);
}
