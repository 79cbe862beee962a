// The host's byte stream, followed as the host sent it, so that line faults can hit a whole frame or
// request of the host's.

#include "simulatedunit.h"

// In loader mode a frame begins with 80 where no frame or request is under way, and its length bytes
// give its size; in either mode 7D 7D 01 is a programming-mode request. A byte goes to the unit
// (handleByte()) at once, unless a line fault for a host frame or request is waiting: then the
// host's whole frame or request is held back, the fault applied when it matches, and the result
// passed on with the bytes' arrival times.
void SimulatedUnit::receiveByte(quint8 byte, qint64 arrivalNs)
{
    Mode mode;
    bool frameFaultWaits, requestFaultWaits;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        mode = _mode;
        frameFaultWaits = _faults.lineFaultWaits(LineFault::HostFrame);
        requestFaultWaits = _faults.lineFaultWaits(LineFault::HandshakeRequest);
    }
    if (_parserReset && !_hostBytes.isEmpty())
        flushHeldHostBytes();

    if (!_hostBytes.isEmpty() && quint8(_hostBytes.at(0)) != FRAME_HEADER &&
        !PROGRAMMING_REQUEST.startsWith(_hostBytes + char(byte)))
        flushHeldHostBytes(); // not a request after all; the byte is looked at afresh

    if (_hostBytes.isEmpty()) {
        if (mode == Mode::Loader && byte == FRAME_HEADER)
            _holdingHostBytes = frameFaultWaits;
        else if (byte == quint8(PROGRAMMING_REQUEST.at(0)))
            _holdingHostBytes = requestFaultWaits;
        else {
            handleByte(byte, arrivalNs);
            return;
        }
        _hostFrameSize = 0;
    }
    _hostBytes.append(char(byte));
    _hostArrivalNs.append(arrivalNs);
    if (!_holdingHostBytes)
        handleByte(byte, arrivalNs);
    takeWholeHostBytes();
}

// Once the host's frame or request is whole: counted, hit by its line fault, and let go.
void SimulatedUnit::takeWholeHostBytes()
{
    if (quint8(_hostBytes.at(0)) == FRAME_HEADER) {
        if (_hostBytes.size() == 3) {
            const int length = quint8(_hostBytes.at(1)) | (quint8(_hostBytes.at(2)) << 8);
            _hostFrameSize = length == 0 ? 3 : 3 + length + 2;
        }
        if (_hostBytes.size() != _hostFrameSize)
            return;
        if (_hostFrameSize > 3) {
            const int command = quint8(_hostBytes.at(3));
            SimOccurrence occurrence;
            {
                std::lock_guard<std::mutex> lock(_mutex);
                occurrence = _faults.countHostFrame(command);
            }
            if (_holdingHostBytes)
                takeLineFault(LineFault::HostFrame, command, occurrence, _hostBytes);
        }
    } else {
        if (_hostBytes.size() != PROGRAMMING_REQUEST.size())
            return;
        int occurrence;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            occurrence = _faults.countHostRequest();
        }
        if (_holdingHostBytes)
            takeLineFault(LineFault::HandshakeRequest, -1, SimOccurrence{occurrence, occurrence}, _hostBytes);
    }
    flushHeldHostBytes();
}

// Passes held bytes on; after an insertion or a drop the times shift with the bytes, an inserted byte
// arriving with the one after it (or the last one).
void SimulatedUnit::feedHostBytes(const QByteArray &bytes, const QVector<qint64> &arrivalNs)
{
    for (int i = 0; i < bytes.size() && !_line.ending(); ++i)
        handleByte(quint8(bytes.at(i)),
                   arrivalNs.value(i, arrivalNs.isEmpty() ? monotonicNs() : arrivalNs.last()));
}

void SimulatedUnit::flushHeldHostBytes()
{
    const QByteArray bytes = _hostBytes;
    const QVector<qint64> arrivals = _hostArrivalNs;
    const bool held = _holdingHostBytes;
    _hostBytes.clear();
    _hostArrivalNs.clear();
    _holdingHostBytes = false;
    if (held)
        feedHostBytes(bytes, arrivals);
}
