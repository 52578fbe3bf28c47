#pragma once
// The pseudo-random generator of the track order: 0 to 32767 on every platform, the classic
// C library sequence, so that a seed gives the same order everywhere.

#include <cstdint>

namespace vesperon::app {

class CrtRandom {
public:
    void seed(uint32_t seed) { state_ = seed; }
    int next() {  // 0 .. 32767
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

private:
    uint32_t state_ = 1;
};

}  // namespace vesperon::app
