#pragma once
// Constant and computed tables of Layer III decoding.

#include <cstdint>

namespace vesperon::mpeg::l3 {

// Scale-factor band boundaries for one sampling frequency: long[0..22] in lines, short[0..13]
// in lines of one window.
struct BandTable {
    int16_t longStart[23];
    int16_t shortStart[14];
    // Short blocks: where each line of the Huffman order (band, window, line) goes in the
    // transform's order (subband, window, line), and the subbands that lines 0..i reach.
    int16_t shortOrder[576];
    uint8_t shortTop[576];
};

// Rate set: 0..2 MPEG-1 (44.1, 48, 32 kHz), 3..5 MPEG-2 (22.05, 24, 16), 6..8 MPEG 2.5
// (11.025, 12, 8).
const BandTable& bandTable(int rateSet);

extern const uint8_t kPretab[22];
extern const uint8_t kSlen1[16];
extern const uint8_t kSlen2[16];
// Bands per scale-factor length group in the low-sampling-frequency coding, by
// [row 0..5][block kind: 0 long, 1 short, 2 mixed][group].
extern const uint8_t kBandsPerGroup[6][3][4];

struct Tables {
    static constexpr int kPowMax = 8207;
    float pow43[kPowMax];  // |i|^(4/3)
    // 2^(q / 4) * 32768 for q = index - kGainBias: requantisation straight onto the 16-bit scale.
    static constexpr int kGainBias = 512;
    float gain[kGainBias + 128];
    float aliasCs[8], aliasCa[8];
    // Count1 quadruples: the four values of code v whose signs are the top bits of s (one per
    // non-zero value, in order).
    alignas(16) float count1[16][16][4];
    // Windows of block types 0, 1 and 3 (2 unused).
    float longWindow[4][36];
    // Intensity ratios of 11172-3 for positions 0..6: left and right factors.
    float isLeft[7], isRight[7];
    // Intensity factors of 13818-3: [intensity_scale][position] for positions up to 63.
    float lsfIs[2][64];
};

const Tables& tables();

}  // namespace vesperon::mpeg::l3
