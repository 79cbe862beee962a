#include "scriptedline.h"

#include "serialline.h"

namespace {

struct Script
{
    std::vector<int> events;
    std::size_t next = 0;
    bool endless = false;
    std::vector<uint8_t> written;
    std::size_t reads = 0;
};

Script &script()
{
    static Script s;
    return s;
}

} // namespace

namespace ScriptedLine {

std::vector<int> decode(const uint8_t *data, std::size_t size)
{
    std::vector<int> events;
    events.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == ESCAPE && i + 1 < size) {
            ++i;
            events.push_back(data[i] == 0 ? SILENCE : ESCAPE);
        } else {
            events.push_back(data[i]);
        }
    }
    return events;
}

void setScript(const uint8_t *data, std::size_t size, bool endless)
{
    Script &s = script();
    s.events = decode(data, size);
    s.next = 0;
    s.endless = endless;
    s.written.clear();
    s.reads = 0;
}

const std::vector<uint8_t> &written()
{
    return script().written;
}

std::size_t reads()
{
    return script().reads;
}

} // namespace ScriptedLine

struct SerialLine::State
{
    bool held = false;
};

SerialLine::SerialLine() : _state(new State) {}

SerialLine::~SerialLine()
{
    delete _state;
}

SerialLine::OpenResult SerialLine::open(const wchar_t *, long, unsigned char)
{
    _state->held = true;
    return OpenOk;
}

SerialLine::CloseResult SerialLine::close()
{
    _state->held = false;
    return CloseOk;
}

bool SerialLine::isHeld() const
{
    return _state->held;
}

SerialLine::OpenFailure SerialLine::openFailure() const
{
    return OpenFailure::None;
}

int SerialLine::openErrorCode() const
{
    return 0;
}

// The script is what arrives after each write: purges drop nothing from it.
void SerialLine::clearBuffers() {}

void SerialLine::clearInput() {}

SerialLine::ReadResult SerialLine::readByte(int)
{
    Script &s = script();
    ++s.reads;
    ReadResult result;
    if (s.next >= s.events.size()) {
        if (!s.endless || s.events.empty())
            return result;
        s.next = 0;
    }
    const int event = s.events[s.next++];
    if (event != ScriptedLine::SILENCE) {
        result.received = true;
        result.byte = static_cast<unsigned char>(event);
    }
    return result;
}

std::size_t SerialLine::write(const unsigned char *data, std::size_t size, bool *failed)
{
    if (failed)
        *failed = false;
    script().written.insert(script().written.end(), data, data + size);
    return size;
}

long SerialLine::bytesWaiting()
{
    const Script &s = script();
    return static_cast<long>(s.events.size() - s.next);
}
