#pragma once

// For the fuzz targets' models of the loader interface: what the host reads from a scripted line
// (scriptedline.h), as the transport defines it.

#include "BSL_Common.h"
#include "scriptedline.h"

#include <QByteArray>

#include <cstddef>
#include <utility>
#include <vector>

// A data byte (0xEE like any other), or SILENCE. After the script the line stays silent, or with
// `endless` plays it again.
class Reader
{
public:
    static constexpr int SILENCE = -1;

    Reader(std::vector<int> events, bool endless = false) : _events(std::move(events)), _endless(endless) {}

    int readByte()
    {
        if (_next >= _events.size()) {
            if (!_endless || _events.empty())
                return SILENCE;
            _next = 0;
        }
        const int event = _events[_next++];
        return event == ScriptedLine::SILENCE ? SILENCE : event;
    }

    // Until a silence, bounded like the transport.
    QByteArray readUntilSilent()
    {
        QByteArray bytes;
        for (int count = 1;; ++count) {
            const int byte = readByte();
            if (byte == SILENCE)
                return bytes;
            bytes.append(static_cast<char>(byte));
            if (count >= READ_UNTIL_TIMEOUT_MAX_BYTES)
                return bytes;
        }
    }

private:
    std::vector<int> _events;
    bool _endless;
    std::size_t _next = 0;
};
