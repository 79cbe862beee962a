#pragma once

// A serial line that plays a script instead of talking to a device, for the fuzz targets: it stands
// in for the platform's SerialLine (link scriptedline.cpp instead of serialline_<platform>.cpp), so
// the transport and the loader interface above it run unchanged and without real time-outs.
//
// The script is what the host reads, byte by byte. A silence (nothing within the read's time-out)
// is written into the script as the pair FE 00; FE followed by any other byte stands for a data byte
// FE. After the end of the script the line stays silent, or, with `endless` set, plays the script
// again and again (a device that never stops talking).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ScriptedLine {

constexpr uint8_t ESCAPE = 0xFE;

void setScript(const uint8_t *data, std::size_t size, bool endless = false);
// Everything the host has written since setScript, and the number of reads it made.
const std::vector<uint8_t> &written();
std::size_t reads();

// The script as a list of events: a byte (0..255) or SILENCE.
constexpr int SILENCE = -1;
std::vector<int> decode(const uint8_t *data, std::size_t size);

} // namespace ScriptedLine
