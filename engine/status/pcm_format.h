#pragma once
// The one description of a PCM stream in the engine: what the decoder produces, what the PCM
// ring's format message carries and what the wave output opens with. Samples are interleaved
// and signed, little-endian.

#include <cstdint>

namespace vesperon::engine {

struct PcmFormat {
    std::int32_t bitsPerSample = 16;
    std::int32_t channels = 0;
    std::int32_t sampleRate = 0;
    std::int32_t samplesPerFrame = 0;  // per channel, in one decoded frame (0: not framed)

    static PcmFormat pcm16(std::int32_t channels, std::int32_t rate, std::int32_t samplesPerFrame = 0) {
        return PcmFormat{16, channels, rate, samplesPerFrame};
    }
    // Bytes of one sample of every channel.
    std::int32_t bytesPerSampleFrame() const { return bitsPerSample / 8 * channels; }
    // PCM bytes of one decoded frame.
    std::int32_t bytesPerFrame() const { return bytesPerSampleFrame() * samplesPerFrame; }
    // The same sound on a device: rate, channels and sample size agree.
    bool sameSound(const PcmFormat& o) const {
        return bitsPerSample == o.bitsPerSample && channels == o.channels && sampleRate == o.sampleRate;
    }
};

}  // namespace vesperon::engine
