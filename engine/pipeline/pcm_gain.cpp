#include "engine/pipeline/pcm_gain.h"

#include <algorithm>
#include <cmath>

namespace vesperon::engine {

float gainFactor(double decibels, int levelPercent) {
    const double level = std::clamp(levelPercent, 0, 100) / 100.0;
    if (!std::isfinite(decibels)) decibels = 0;
    // +40 dB is far beyond any real track's need; the bound keeps a wild value from overflowing.
    return float(std::pow(10.0, std::clamp(decibels, -120.0, 40.0) / 20.0) * level);
}

void applyGain(std::int16_t* samples, std::size_t count, float factor) {
    if (factor == 1.0f) return;
    for (std::size_t i = 0; i < count; ++i) {
        const float v = std::clamp(float(samples[i]) * factor, -32768.0f, 32767.0f);
        samples[i] = std::int16_t(std::lrint(v));
    }
}

}  // namespace vesperon::engine
