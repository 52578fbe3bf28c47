#pragma once
// The 32-band polyphase synthesis shared by Layer II and Layer III: a fast 32-point cosine
// transform into a 512-value history ring per channel, then a 16-tap windowed sum per output
// sample, truncated toward zero and clipped to 16 bits.

#include <cstdint>

namespace vesperon::mpeg {

// Coefficient i (0..511) of the standard's synthesis window D.
double synthesisWindow(int i);

class Synthesis {
public:
    Synthesis();
    // Clears the history of both channels.
    void reset();
    // One block of 32 subband samples (on the 16-bit output scale: full scale is 32768) for
    // channel ch (0 or 1) gives 32 PCM samples written to out[0], out[stride], out[2*stride], ...
    // (stride 1 for mono, 2 for interleaved stereo with out pointing at the channel's first slot,
    // so that out - ch is the first pair's start).
    void synthesize(int ch, const float* subbands, int16_t* out, int stride);
    // count blocks in a row of each of `channels` (1 or 2) channels, blocks[ch][b]: block b's
    // samples go to out + 32 * channels * b, the channels interleaved. The transforms of several
    // blocks run side by side in vector lanes, so this is the fast way.
    void synthesizeBlocks(const float (*const blocks[2])[32], int channels, int count, int16_t* out);

    // Values in each channel's two history rings: 32 blocks, twice what one block's windowing reads.
    static constexpr int kRing = 1024;

private:
    // synthesizeBlocks for `channels` channels from firstCh on.
    void run(int firstCh, const float (*const blocks[2])[32], int channels, int count, int16_t* out);

    // Per channel, the two halves of each block's 64 matrixing values (see synthesis.cpp).
    alignas(32) float history_[2][2][kRing + kRing / 2];
    int position_[2];
};

}  // namespace vesperon::mpeg
