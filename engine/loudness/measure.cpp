#include "engine/loudness/measure.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "engine/mpeg/source_file.h"
#include "engine/mpeg/stream_decoder.h"

namespace vesperon::loudness {

namespace {

struct StateDeleter {
    void operator()(ebur128_state* s) const { ebur128_destroy(&s); }
};

// One measurement: frames go in as they come, the figures come out at the end.
class Meter {
public:
    Meter(int channels, int rate)
        : channels_(channels),
          rate_(rate),
          state_(ebur128_init(unsigned(channels), static_cast<unsigned long>(rate),
                              EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK)) {}
    bool ok() const { return state_ != nullptr; }
    bool add(const std::int16_t* samples, std::size_t frames) {
        frames_ += std::int64_t(frames);
        return ebur128_add_frames_short(state_.get(), samples, frames) == EBUR128_SUCCESS;
    }
    std::optional<Loudness> result() {
        if (frames_ == 0) return std::nullopt;
        Loudness out;
        out.seconds = double(frames_) / rate_;
        double lufs = -HUGE_VAL;
        if (ebur128_loudness_global(state_.get(), &lufs) != EBUR128_SUCCESS) return std::nullopt;
        out.lufs = std::isfinite(lufs) ? std::max(lufs, -70.0) : -70.0;
        double peak = 0;
        for (int c = 0; c < channels_; ++c) {
            double p = 0;
            if (ebur128_true_peak(state_.get(), unsigned(c), &p) == EBUR128_SUCCESS) peak = std::max(peak, p);
        }
        out.peakDb = peak > 0 ? 20 * std::log10(peak) : -120.0;
        return out;
    }

private:
    int channels_, rate_;
    std::unique_ptr<ebur128_state, StateDeleter> state_;
    std::int64_t frames_ = 0;
};

}  // namespace

std::optional<Loudness> measurePcm(const std::int16_t* samples, std::size_t frames, int channels, int rate) {
    if (channels < 1 || channels > 8 || rate < 8000 || rate > 384000) return std::nullopt;
    Meter meter(channels, rate);
    if (!meter.ok() || !meter.add(samples, frames)) return std::nullopt;
    return meter.result();
}

std::optional<Loudness> measureStream(mpeg::ByteSource& source) {
    mpeg::StreamDecoder decoder(source);
    if (decoder.start() != engine::Status::Ok) return std::nullopt;
    const engine::PcmFormat& format = decoder.info().output;
    const std::size_t frameBytes = decoder.pcmFrameBytes();
    if (format.channels < 1 || format.channels > 2 || format.sampleRate < 8000 || frameBytes == 0 ||
        frameBytes % (2 * std::size_t(format.channels)) != 0)
        return std::nullopt;
    Meter meter(format.channels, format.sampleRate);
    if (!meter.ok()) return std::nullopt;
    std::vector<std::int16_t> pcm(frameBytes / 2);
    // Every step consumes input or ends; the bound only guards against a decoder that would not.
    for (std::int64_t steps = 0; steps < (std::int64_t(1) << 32); ++steps) {
        const mpeg::FrameStep s = decoder.decodeFrame(pcm.data());
        if (s.status == engine::Status::NotEnoughData) {
            if (source.waitForData() != engine::Status::Ok) break;
            continue;
        }
        if (s.status != engine::Status::Ok) break;
        if (!s.decoded || s.bytesProduced <= 0) continue;
        const std::size_t frames = std::min<std::size_t>(std::size_t(s.bytesProduced), frameBytes) /
                                   (2 * std::size_t(format.channels));
        if (!meter.add(pcm.data(), frames)) return std::nullopt;
        if (s.lastBlock) break;
    }
    return meter.result();
}

std::optional<Loudness> measureFile(const std::string& path) {
    mpeg::SourceFile file;
    if (file.open(path) != engine::Status::Ok) return std::nullopt;
    mpeg::FileByteSource source(file);
    return measureStream(source);
}

}  // namespace vesperon::loudness
