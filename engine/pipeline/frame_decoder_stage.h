#pragma once
// The second stage of a play: its thread runs the stream decoder over the byte ring, frame by
// frame, straight into the PCM ring, and posts the format and the end of the stream (the renderer
// tells the progress, of the sound heard).

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/stream_decoder.h"
#include "engine/pipeline/pipeline_stage.h"

namespace vesperon::engine {

class FileSource;

class FrameDecoder : public PipelineStage, private mpeg::ByteSource {
public:
    static constexpr std::size_t kInitialPcmRing = 64512;
    static constexpr std::size_t kPcmRingLimit = 524288;

    FrameDecoder(RequestSink* owner, std::uint64_t play);
    ~FrameDecoder() override;

    void setSource(FileSource* source);
    void setRenderer(PipelineStage* renderer);
    // A start position in percent, or in time from the beginning (positive: it wins over the
    // percent), applied once before the first frame.
    void setStartPercent(int percent) { startPercent_.store(percent); }
    void setStartMicroseconds(std::int64_t microseconds) { startMicroseconds_.store(microseconds); }
    // The play's gain factor (pcm_gain.h), set before the play starts; 1 leaves the samples as
    // decoded.
    void setGain(float factor) { gain_.store(factor); }
    // Creates the PCM ring and the decoder thread (waiting for its first signal).
    Status connect(StreamRing* input, MessageRing** pcm);

    // The largest whole number of PCM frames that fits the ring's limit.
    static std::size_t pcmRingSizeFor(std::size_t frameBytes) {
        return kPcmRingLimit - kPcmRingLimit % frameBytes;
    }

private:
    void run();
    // The renderer may take what is in the PCM ring (pausing: this thread stops writing now).
    void tellRenderer(bool pausing);

    // The stream decoder's input, served from the byte ring.
    Status peek(std::size_t count, const std::uint8_t** data) override;
    void consume(std::size_t count) override;
    Status seek(std::int64_t offset) override;
    std::int64_t dataLength() override;
    Status waitForData() override;

    FileSource* source_ = nullptr;
    PipelineStage* renderer_ = nullptr;
    MessageRing* pcm_ = nullptr;
    std::atomic<int> startPercent_{0};
    std::atomic<std::int64_t> startMicroseconds_{0};
    std::atomic<float> gain_{1.0f};
    std::unique_ptr<mpeg::StreamDecoder> stream_;
    std::thread thread_;
};

}  // namespace vesperon::engine
