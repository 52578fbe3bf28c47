#include "engine/mpeg/vbr_info.h"

#include <cstring>

#include "engine/mpeg/frame_header.h"
#include "engine/mpeg/header.h"

namespace vesperon::mpeg {

namespace {

uint32_t bigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace

std::optional<VbrInfo> parseVbrInfo(const uint8_t* window, std::size_t length) {
    if (length < 4) return std::nullopt;
    FrameHeader h;
    unpackHeader(window, &h);
    // The tag sits right after the side information, whose size depends on version and channels.
    std::size_t pos;
    if (h.versionBit == 1) {
        pos = h.mode == kModeSingleChannel ? 21 : 36;
    } else {
        pos = h.mode == kModeSingleChannel ? 13 : 21;
    }
    if (pos + 8 > length ||
        (std::memcmp(window + pos, "Xing", 4) != 0 && std::memcmp(window + pos, "Info", 4) != 0)) {
        return std::nullopt;
    }
    pos += 4;
    VbrInfo info;
    info.versionBit = h.versionBit;
    static constexpr int32_t kRates[4] = {44100, 48000, 32000, 99999};
    info.sampleRate = kRates[h.samplingIndex & 3];
    if (h.versionBit == 0 && h.samplingIndex != 3) info.sampleRate /= 2;
    info.flags = bigEndian32(window + pos);
    pos += 4;
    if (info.flags & kXingFrames) {
        if (pos + 4 > length) return std::nullopt;
        info.frameCount = bigEndian32(window + pos);
        pos += 4;
    }
    if (info.flags & kXingBytes) {
        if (pos + 4 > length) return std::nullopt;
        info.byteCount = bigEndian32(window + pos);
        pos += 4;
    }
    if (info.flags & kXingSeekTable) {
        if (pos + 100 > length) return std::nullopt;
        std::memcpy(info.seekTable.data(), window + pos, 100);
        pos += 100;
    }
    if (info.flags & kXingQuality) {
        if (pos + 4 > length) return std::nullopt;
        info.quality = static_cast<int32_t>(bigEndian32(window + pos));
        pos += 4;
    }
    // The LAME tag: a 9-byte encoder name, then at byte 21 two 12-bit counts of samples, the
    // encoder's delay and its padding. Other encoders that write the same tag name themselves
    // "Lavc" or "Lavf".
    constexpr std::size_t kLameTagDelayAt = 21;
    if (pos + kLameTagDelayAt + 3 <= length &&
        (std::memcmp(window + pos, "LAME", 4) == 0 || std::memcmp(window + pos, "Lav", 3) == 0)) {
        const uint8_t* d = window + pos + kLameTagDelayAt;
        info.encoderDelay = (d[0] << 4) | (d[1] >> 4);
        info.encoderPadding = ((d[1] & 0x0F) << 8) | d[2];
    }
    return info;
}

}  // namespace vesperon::mpeg
