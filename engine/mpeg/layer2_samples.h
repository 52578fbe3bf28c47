#pragma once
// The sample part of a Layer II frame: 12 granules of three samples, read and scaled by the
// plan the allocation and scale factors made. A file of its own because its branches depend only
// on loop counters, so the fuzz build leaves them untraced.

#include <cstdint>

#include "engine/mpeg/bit_reader.h"
#include "engine/mpeg/layer2_tables.h"

namespace vesperon::mpeg::layer2 {

inline constexpr int kSubbands = 32;
inline constexpr int kGranules = 12;           // of three samples each
inline constexpr int kBlocks = kGranules * 3;  // blocks of 32 subband samples per channel
inline constexpr int kSilent = 2;

// What to read for one allocated subband of one channel, in the order of the bitstream.
struct SampleRead {
    const DegroupTriple* degroup;  // grouped classes: the split of each code
    int32_t middle;
    // Where the values go: channel * kValueRow + subband for the channels that take them (one,
    // or both above the bound; the same one twice otherwise). Subbands at or above the band
    // limit are read past into a channel kSilent that is never used.
    int16_t first;
    int16_t second;
    int8_t codeBits;
};

// One channel's granule of values: three rows of subbands.
inline constexpr int kValueRow = 3 * kSubbands;

// Reads every granule's codes into samples, all 32 subbands of each channel's blocks written;
// scale holds each channel's, third's and subband's factor (zero where nothing is allocated).
void readSamples(BitReader& br, const SampleRead* reads, int readCount, int channels,
                 const float (*scale)[3][kSubbands], float (*samples)[kBlocks][kSubbands]);

}  // namespace vesperon::mpeg::layer2
