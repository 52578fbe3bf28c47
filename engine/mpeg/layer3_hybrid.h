#pragma once
// The hybrid filter of Layer III: alias reduction, IMDCT with the block's window, overlap-add
// and frequency inversion, giving 18 time slots of 32 subband samples for the synthesis.

namespace vesperon::mpeg::l3 {

// Butterflies across the subband boundaries 1..lastBoundary of the spectrum x.
void reduceAliasing(float* x, int lastBoundary);

// Transforms subbands 0..subbands-1 of the 576 reordered lines x into out[t][sb] (18 x 32),
// adding and replacing overlap (18 x 32 values, [t][sb]); subbands from `subbands` up are
// written as zero. blockType is
// 0..3; subbands below longSubbands (those of a mixed block's long part, else 0) use the normal
// long window whatever the block type.
void hybridFilter(const float* x, float* overlap, int subbands, int blockType, int longSubbands, float (*out)[32]);

}  // namespace vesperon::mpeg::l3
