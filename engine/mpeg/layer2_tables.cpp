#include "engine/mpeg/layer2_tables.h"

#include <array>
#include <cmath>

namespace vesperon::mpeg::layer2 {

namespace {

// Classes by index: 0:3 1:5 2:7 3:9 4:15 5:31 6:63 7:127 8:255 9:511 10:1023 11:2047
// 12:4095 13:8191 14:16383 15:32767 16:65535 steps.
constexpr int8_t kLowA[16] = {-1, 0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr int8_t kMidA[16] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16};
constexpr int8_t kHighA[16] = {-1, 0, 1, 2, 3, 4, 5, 16};
constexpr int8_t kTopA[16] = {-1, 0, 1, 16};
constexpr int8_t kLowC[16] = {-1, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr int8_t kHighC[16] = {-1, 0, 1, 3, 4, 5, 6, 7};
constexpr int8_t kLowM[16] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
constexpr int8_t kMidM[16] = {-1, 0, 1, 3, 4, 5, 6, 7};
constexpr int8_t kHighM[16] = {-1, 0, 1, 3};

constexpr AllocationGroup group(int subbands, int bits, const int8_t (&classes)[16]) {
    AllocationGroup g{static_cast<int8_t>(subbands), static_cast<int8_t>(bits), {}};
    for (int i = 0; i < 16; ++i) g.classes[i] = classes[i];
    return g;
}

// ISO/IEC 11172-3 B.2a (27 subbands), B.2b (30), B.2c (8), B.2d (12); ISO/IEC 13818-3 (30).
constexpr AllocationTable kTableA{
    'a', 4, {group(3, 4, kLowA), group(8, 4, kMidA), group(12, 3, kHighA), group(4, 2, kTopA)}};
constexpr AllocationTable kTableB{
    'b', 4, {group(3, 4, kLowA), group(8, 4, kMidA), group(12, 3, kHighA), group(7, 2, kTopA)}};
constexpr AllocationTable kTableC{'c', 2, {group(2, 4, kLowC), group(6, 3, kHighC)}};
constexpr AllocationTable kTableD{'d', 2, {group(2, 4, kLowC), group(10, 3, kHighC)}};
constexpr AllocationTable kTableM{'m', 3, {group(4, 4, kLowM), group(7, 3, kMidM), group(19, 2, kHighM)}};

template <int Levels, int Codes>
constexpr std::array<DegroupTriple, Codes> makeDegroup() {
    std::array<DegroupTriple, Codes> t{};
    constexpr int middle = (Levels - 1) / 2;
    for (int code = 0; code < Codes; ++code) {
        int c = code;
        t[code][0] = static_cast<int8_t>(c % Levels - middle);
        c /= Levels;
        t[code][1] = static_cast<int8_t>(c % Levels - middle);
        c /= Levels;
        // Above Levels^3 - 1 the last digit exceeds the range; the value stays small and bounded.
        t[code][2] = static_cast<int8_t>(c - middle);
    }
    return t;
}

}  // namespace

constinit const std::array<DegroupTriple, 32> kDegroup3 = makeDegroup<3, 32>();
constinit const std::array<DegroupTriple, 128> kDegroup5 = makeDegroup<5, 128>();
constinit const std::array<DegroupTriple, 1024> kDegroup9 = makeDegroup<9, 1024>();

const AllocationTable* selectAllocationTable(const FrameHeader& h) {
    if (h.samplingIndex < 0 || h.samplingIndex > 2) return nullptr;
    if (h.bitrateIndex < 0 || h.bitrateIndex > 14) return nullptr;
    if (h.versionBit == 0) return &kTableM;
    if (h.versionBit != 1) return nullptr;

    const bool single = h.mode == kModeSingleChannel;
    int perChannel = 0;  // kbit/s per channel; 0 = free format
    if (h.bitrateIndex != 0) {
        // Layer II forbids 224 kbit/s and above for one channel, and 32, 48, 56 and 80 kbit/s
        // for two.
        if (single && h.bitrateIndex >= 11) return nullptr;
        if (!single && (h.bitrateIndex <= 3 || h.bitrateIndex == 5)) return nullptr;
        perChannel = kBitrateKbps[1][kLayerFieldII][h.bitrateIndex] / (single ? 1 : 2);
    }
    if (perChannel != 0 && perChannel <= 48) return h.samplingIndex == 2 ? &kTableD : &kTableC;
    if (h.samplingIndex == 1) return &kTableA;  // 48 kHz
    if (perChannel == 0 || perChannel >= 96) return &kTableB;
    return &kTableA;
}

int subbandLimitOf(const AllocationTable& table) {
    int sum = 0;
    for (int g = 0; g < table.groupCount; ++g) sum += table.groups[g].subbands;
    return sum;
}

const ScaleTables& scaleTables() {
    static const ScaleTables tables = [] {
        ScaleTables t{};
        for (int c = 0; c < kClassCount; ++c)
            t.requantFactor[c] = static_cast<float>(2.0 / kQuantClasses[c].steps);
        for (int i = 0; i < kScaleFactorCount; ++i)
            t.scaleMultiplier[i] = static_cast<float>(65536.0 * std::pow(2.0, -i / 3.0));
        return t;
    }();
    return tables;
}

}  // namespace vesperon::mpeg::layer2
