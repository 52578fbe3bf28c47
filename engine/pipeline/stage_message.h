#pragma once
// In-band control messages carried by the PCM ring, anchored at byte positions.

#include <cstdint>
#include <memory>

namespace vesperon::engine {

struct PcmFormat {
    int32_t bitsPerSample = 16;
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t bytesPerFrame = 0;    // PCM bytes of one decoded frame
    int32_t samplesPerFrame = 0;  // per channel
};

struct StageMessage {
    static constexpr int kFormat = 0;
    static constexpr int kEndOfStream = 3;

    int code = 0;
    std::unique_ptr<PcmFormat> format;  // only with kFormat

    static std::unique_ptr<StageMessage> makeFormat(const PcmFormat& f) {
        auto m = std::make_unique<StageMessage>();
        m->code = kFormat;
        m->format = std::make_unique<PcmFormat>(f);
        return m;
    }
    static std::unique_ptr<StageMessage> makeEndOfStream() {
        auto m = std::make_unique<StageMessage>();
        m->code = kEndOfStream;
        return m;
    }
};

}  // namespace vesperon::engine
