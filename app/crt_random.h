#pragma once
// The pseudo-random generator of the track order: 0 to 32767 on every platform, the classic
// C library sequence, so that a seed gives the same order everywhere.

#include <cstdint>

namespace vesperon::app {

void SeedRandom(uint32_t seed);
int NextRandom();  // 0 .. 32767

}  // namespace vesperon::app
