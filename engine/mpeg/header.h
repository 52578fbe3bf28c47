#pragma once
// Finding and measuring MPEG audio frames: header parsing, frame lengths (free format
// included) and bit rates.

#include <cstddef>
#include <cstdint>

#include "engine/mpeg/frame_header.h"

namespace vesperon::mpeg {

// Free-format lengths are searched for only this far into a window.
inline constexpr std::size_t kFreeFormatSearchLimit = 2000;
inline constexpr std::size_t kFreeFormatWindowLimit = 10000;

// True when p[0], p[1] look like the start of a header (0xFF, then high nibble 0xF or 0xE).
inline bool isSyncPattern(const uint8_t* p) {
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0;
}

// Fills the record from the 4 header bytes; no validation beyond the sync kind.
void unpackHeader(const uint8_t* p, FrameHeader* h);

// Frame length without padding from the record's own bit-rate index; 0 or less when the
// combination has none (free format, invalid index, reserved rate or layer).
int tableFrameLength(const FrameHeader& h);

// Bytes of padding a set padding bit adds. One byte for every layer: frame lengths elsewhere in
// the engine step by this.
inline int paddingBytes(const FrameHeader& h) {
    return h.paddingBit;
}

// Parses the header at window[0] (window holds `length` readable bytes). Returns the frame
// length in bytes without padding, or 0 when there is no valid header there. A free-format
// header is measured by looking for its repetitions within the window.
int parseHeader(const uint8_t* window, std::size_t length, FrameHeader* h);

// Bit rate in bit/s of a frame with this header and length without padding (the table's value,
// or for free format the value that length implies).
int bitrateOf(const FrameHeader& h, int frameLength);

struct FoundHeader {
    std::size_t offset = 0;  // of the first sync pattern
    int frameLength = 0;     // without padding; 0 when none was found or the header there is invalid
    int bitrate = 0;         // bit/s
    FrameHeader header;
};

// Scans for the first sync pattern and parses the header there (only there).
FoundHeader findHeader(const uint8_t* window, std::size_t length);

}  // namespace vesperon::mpeg
