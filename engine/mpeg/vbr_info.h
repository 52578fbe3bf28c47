#pragma once
// The "Xing" header that encoders put in a stream's first frame ("Info" in constant-rate files):
// frame count, byte count, a 100-entry seek table, and the LAME tag's encoder delay and padding.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace vesperon::mpeg {

inline constexpr uint32_t kXingFrames = 1;
inline constexpr uint32_t kXingBytes = 2;
inline constexpr uint32_t kXingSeekTable = 4;
inline constexpr uint32_t kXingQuality = 8;

struct VbrInfo {
    int32_t versionBit = 0;
    int32_t sampleRate = 0;  // by the sampling-frequency index, halved for version bit 0; 99999 for index 3
    uint32_t flags = 0;
    uint32_t frameCount = 0;
    uint32_t byteCount = 0;
    int32_t quality = -1;
    std::array<uint8_t, 100> seekTable{};  // zero when absent
    // From a LAME tag after the Xing fields: samples the encoder added before and after the
    // source's own. -1 when there is no such tag.
    int32_t encoderDelay = -1;
    int32_t encoderPadding = -1;

    bool hasFrameCount() const { return (flags & kXingFrames) != 0; }
    bool hasSeekTable() const { return (flags & kXingSeekTable) != 0; }
    bool hasLameTag() const { return encoderDelay >= 0; }
};

// Reads a "Xing" or "Info" header from the frame at window[0]; none when the tag is absent or
// the fields it announces do not fit in the window.
std::optional<VbrInfo> parseVbrInfo(const uint8_t* window, std::size_t length);

}  // namespace vesperon::mpeg
