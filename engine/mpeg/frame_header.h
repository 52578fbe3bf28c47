#pragma once
// The MPEG audio frame header record and the standards' rate tables that every part of the
// decoder shares.

#include <cstdint>

namespace vesperon::mpeg {

// Parsed from the 4 header bytes; every field a 32-bit signed integer, in this order.
struct FrameHeader {
    int32_t syncKind = 0;       // 1 = 12-bit sync 0xFFF (MPEG-1/2), 2 = 0xFFE + 0 bit (MPEG 2.5), 0 = none
    int32_t versionBit = 0;     // 1 = MPEG-1, 0 = MPEG-2 or 2.5
    int32_t layerField = 0;     // as stored: 3 = Layer I, 2 = Layer II, 1 = Layer III, 0 = reserved
    int32_t protectionBit = 0;  // 0 = a 16-bit CRC follows the header
    int32_t bitrateIndex = 0;   // 0 = free format, 15 = invalid
    int32_t samplingIndex = 0;  // 3 = reserved
    int32_t paddingBit = 0;
    int32_t privateBit = 0;
    int32_t mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t modeExtension = 0;
    int32_t copyrightBit = 0;
    int32_t originalBit = 0;
    int32_t emphasis = 0;
};

inline constexpr int kModeStereo = 0;
inline constexpr int kModeJointStereo = 1;
inline constexpr int kModeDualChannel = 2;
inline constexpr int kModeSingleChannel = 3;

inline constexpr int kLayerFieldI = 3;
inline constexpr int kLayerFieldII = 2;
inline constexpr int kLayerFieldIII = 1;

// Bit rates in kbit/s by [versionBit][layerField][bitrateIndex]; 0 for free format and the
// invalid index 15. Version bit 0 uses the ISO/IEC 13818-3 table (also for MPEG 2.5).
inline constexpr int16_t kBitrateKbps[2][4][16] = {
    {
        {0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},        // Layer III
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},        // Layer II
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},  // Layer I
    },
    {
        {0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},     // Layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},    // Layer II
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // Layer I
    },
};

// Sampling frequencies in units of 50 Hz by [versionBit][samplingIndex]; the reserved index 3
// is -999 so that any length computed with it is not positive.
inline constexpr int16_t kRateUnits50[2][4] = {
    {441, 480, 320, -999},
    {882, 960, 640, -999},
};

inline bool isMpeg25(const FrameHeader& h) { return h.syncKind == 2; }

// Sample rate in Hz (halved for MPEG 2.5); 0 for the reserved index.
inline int sampleRateOf(const FrameHeader& h) {
    if (h.samplingIndex < 0 || h.samplingIndex > 2 || h.versionBit < 0 || h.versionBit > 1) return 0;
    int rate = kRateUnits50[h.versionBit][h.samplingIndex] * 50;
    return isMpeg25(h) ? rate / 2 : rate;
}

inline int channelsOf(const FrameHeader& h) { return h.mode == kModeSingleChannel ? 1 : 2; }

}  // namespace vesperon::mpeg
