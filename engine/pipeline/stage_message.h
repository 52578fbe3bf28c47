#pragma once
// In-band control messages carried by the PCM ring, anchored at byte positions.

#include <cstdint>
#include <memory>

#include "engine/status/pcm_format.h"

namespace vesperon::engine {

struct StageMessage {
    static constexpr int kFormat = 0;
    static constexpr int kEndOfStream = 3;

    int code = 0;
    std::unique_ptr<PcmFormat> format;  // only with kFormat
    // With kFormat: the decoded frame the play starts from (after a seek) and the estimated
    // count of frames in the file, for the progress of the sound heard.
    std::int64_t firstFrame = 0;
    std::int64_t totalFrames = 0;

    static std::unique_ptr<StageMessage> makeFormat(const PcmFormat& f, std::int64_t firstFrame = 0,
                                                    std::int64_t totalFrames = 0) {
        auto m = std::make_unique<StageMessage>();
        m->code = kFormat;
        m->format = std::make_unique<PcmFormat>(f);
        m->firstFrame = firstFrame;
        m->totalFrames = totalFrames;
        return m;
    }
    static std::unique_ptr<StageMessage> makeEndOfStream() {
        auto m = std::make_unique<StageMessage>();
        m->code = kEndOfStream;
        return m;
    }
};

}  // namespace vesperon::engine
