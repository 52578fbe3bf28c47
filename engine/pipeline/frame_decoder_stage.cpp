#include "engine/pipeline/frame_decoder_stage.h"

#include <cstdio>
#include <cstring>
#include <system_error>

#include "engine/pipeline/file_source.h"
#include "engine/pipeline/result_codes.h"

namespace vesperon::engine {

FrameDecoder::FrameDecoder(RequestSink* owner, std::uint64_t play)
    : PipelineStage(owner, play),
      stream_(std::make_unique<mpeg::StreamDecoder>(static_cast<mpeg::ByteSource&>(*this))) {}

FrameDecoder::~FrameDecoder() {
    requestStop();
    if (thread_.joinable()) thread_.join();
}

void FrameDecoder::setSource(FileSource* source) {
    std::lock_guard lock(mutex_);
    source_ = source;
}

void FrameDecoder::setRenderer(PipelineStage* renderer) {
    std::lock_guard lock(mutex_);
    renderer_ = renderer;
}

int FrameDecoder::connect(StreamRing* input, MessageRing** pcm) {
    std::lock_guard lock(mutex_);
    if (!input) return kNoInputRing;
    if (!source_) return kNotConnected;
    input_ = input;
    auto ring = std::make_unique<MessageRing>(kInitialPcmRing);
    pcm_ = ring.get();
    output_ = std::move(ring);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return kDecoderThreadFailed;
    }
    if (pcm) *pcm = pcm_;
    return kDone;
}

void FrameDecoder::postProgress() {
    WindowHandle window = notify_.load();
    if (!isLiveWindow(window)) return;
    int p = stream_->progress();
    if (p == lastProgress_) return;
    postToWindow(window, kPlayerNotifyMessage, p, 0);
    lastProgress_ = p;
}

void FrameDecoder::run() {
    if (waitForSignal()) return;
    source_->signal();

    int r = stream_->start(startPercent_.exchange(0));
    if (r == kClosing) return;
    if (r != kDone) {
        reportFailure();
        return;
    }
    const std::size_t frameBytes = stream_->pcmFrameBytes();
    const mpeg::OutputDescription& out = stream_->info().output;
    if (frameBytes == 0 || out.channels <= 0) {
        reportFailure();
        return;
    }
    r = pcm_->resize(pcmRingSizeFor(frameBytes), 0);
    if (r == kClosing) return;
    if (r != kDone) {
        reportFailure();
        return;
    }
    PcmFormat format;
    format.bitsPerSample = 16;
    format.channels = out.channels;
    format.sampleRate = out.sampleRate;
    format.bytesPerFrame = static_cast<std::int32_t>(frameBytes);
    format.samplesPerFrame = out.valuesPerFrame / out.channels;
    pcm_->postMessage(StageMessage::makeFormat(format));

    while (!stopping()) {
        postProgress();
        if (paused()) {
            if (waitForResume()) return;
            continue;
        }
        std::uint8_t* block = nullptr;
        r = pcm_->reserveWrite(frameBytes, &block);
        if (r == kClosing) return;
        if (r == kNoRoom) {
            if (waitForSignal()) return;
            continue;
        }
        if (r != kDone) {
            reportFailure();
            return;
        }
        mpeg::FrameStep step = stream_->decodeFrame(reinterpret_cast<std::int16_t*>(block));
        if (step.status == kNeedMoreData) {
            pcm_->commitWrite(0);
            if (waitForData() != kDone) return;
            continue;
        }
        if (step.status == kClosing) {
            pcm_->commitWrite(0);
            return;
        }
        if (step.status == kEndOfData) {
            pcm_->commitWrite(0);
            pcm_->postMessage(StageMessage::makeEndOfStream());
            return;
        }
        if (step.status != kDone) {
            pcm_->commitWrite(0);
            reportFailure();
            return;
        }
        if (!step.decoded || step.bytesProduced <= 0) {
            pcm_->commitWrite(0);  // resynchronised after a bad frame, or trimmed samples held back
            continue;
        }
        // The ring holds whole frames only, so the renderer's frames never cross its end; only
        // a trimmed stream's last block is shorter, and nothing but the end follows it.
        std::size_t produced = static_cast<std::size_t>(step.bytesProduced);
        if (produced < frameBytes && !step.lastBlock) std::memset(block + produced, 0, frameBytes - produced);
        r = pcm_->commitWrite(step.lastBlock ? produced : frameBytes);
        if (r == kClosing) return;
        if (r != kDone) {
            reportFailure();
            return;
        }
    }
}

int FrameDecoder::peek(std::size_t count, const std::uint8_t** data) {
    std::uint8_t* p = nullptr;
    int r = input_->reserveRead(count, &p);
    if (r == kDone) *data = p;
    return r;
}

void FrameDecoder::consume(std::size_t count) {
    input_->consume(count);
    // The reader only ever waits for room for a whole block: wake it when there is some.
    if (count && input_->fill() + FileSource::kBlockSize <= input_->size()) source_->signal();
}

int FrameDecoder::seek(std::int64_t offset) {
    return source_->seek(offset, SEEK_SET) == kDone ? kDone : kSeekFailed;
}

std::int64_t FrameDecoder::dataLength() {
    return source_->dataLength();
}

int FrameDecoder::waitForData() {
    source_->signal();
    return waitForSignal() ? kClosing : kDone;
}

}  // namespace vesperon::engine
