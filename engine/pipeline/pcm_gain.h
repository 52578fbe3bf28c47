#pragma once
// The gain a play's samples are multiplied by on their way from the decoder to the ring: the
// track's loudness gain and the stream level, fixed for the whole play so that a seam between
// tracks stays sample-exact. A factor of exactly 1 leaves the samples untouched (bit for bit).

#include <cstddef>
#include <cstdint>

namespace vesperon::engine {

// decibels and a level in per cent of full (clamped to 0..100) as one factor.
float gainFactor(double decibels, int levelPercent);
// Multiplies in place, rounding to nearest and saturating at the 16-bit limits.
void applyGain(std::int16_t* samples, std::size_t count, float factor);

}  // namespace vesperon::engine
