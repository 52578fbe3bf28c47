#include "engine/pipeline/frame_decoder_stage.h"

#include <cstdio>
#include <cstring>
#include <system_error>

#include "engine/pipeline/file_source.h"

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

Status FrameDecoder::connect(StreamRing* input, MessageRing** pcm) {
    std::lock_guard lock(mutex_);
    if (!input) return Status::NoInputRing;
    if (!source_) return Status::NotConnected;
    input_ = input;
    auto ring = std::make_unique<MessageRing>(kInitialPcmRing);
    pcm_ = ring.get();
    output_ = std::move(ring);
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return Status::DecoderThreadFailed;
    }
    if (pcm) *pcm = pcm_;
    return Status::Ok;
}

void FrameDecoder::run() {
    if (waitForSignal()) return;
    source_->signal();

    Status r = stream_->start(startPercent_.exchange(0), startMicroseconds_.exchange(0));
    if (r == Status::Stopping) return;
    if (r != Status::Ok) {
        // The probe that reached the end of the input found no stream in it.
        reportFailure(r == Status::EndOfData ? Status::NoStreamFound : r);
        return;
    }
    const std::size_t frameBytes = stream_->pcmFrameBytes();
    const PcmFormat& format = stream_->info().output;
    if (frameBytes == 0 || format.channels <= 0 || std::size_t(format.bytesPerFrame()) != frameBytes) {
        reportFailure(Status::CannotDecode);
        return;
    }
    r = pcm_->resize(pcmRingSizeFor(frameBytes), 0);
    if (r == Status::Stopping) return;
    if (r != Status::Ok) {
        reportFailure(r);
        return;
    }
    // The progress of the sound heard counts from where the play starts.
    pcm_->postMessage(StageMessage::makeFormat(format, stream_->frameCounter(), stream_->info().totalFrames));
    tellRenderer(true);

    while (!stopping()) {
        if (paused()) {
            if (waitForResume()) return;
            continue;
        }
        std::uint8_t* block = nullptr;
        r = pcm_->reserveWrite(frameBytes, &block);
        if (r == Status::Stopping) return;
        if (r == Status::NoRoom) {
            tellRenderer(true);
            if (waitForSignal()) return;
            continue;
        }
        if (r != Status::Ok) {
            reportFailure(r);
            return;
        }
        mpeg::FrameStep step = stream_->decodeFrame(reinterpret_cast<std::int16_t*>(block));
        if (step.status == Status::NotEnoughData) {
            pcm_->commitWrite(0);
            if (waitForData() != Status::Ok) return;
            continue;
        }
        if (step.status == Status::Stopping) {
            pcm_->commitWrite(0);
            return;
        }
        if (step.status == Status::EndOfData) {
            pcm_->commitWrite(0);
            pcm_->postMessage(StageMessage::makeEndOfStream());
            tellRenderer(true);
            return;
        }
        if (step.status != Status::Ok) {
            pcm_->commitWrite(0);
            reportFailure(step.status);
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
        if (r == Status::Stopping) return;
        if (r != Status::Ok) {
            reportFailure(r);
            return;
        }
        tellRenderer(false);
    }
}

void FrameDecoder::tellRenderer(bool pausing) {
    if (renderer_) renderer_->inputWritten(pcm_->unhanded(), pausing);
}

Status FrameDecoder::peek(std::size_t count, const std::uint8_t** data) {
    std::uint8_t* p = nullptr;
    Status r = input_->reserveRead(count, &p);
    if (r == Status::Ok) *data = p;
    return r;
}

void FrameDecoder::consume(std::size_t count) {
    input_->consume(count);
    // The reader waits for room: wake it once half the ring is free, so that it reads a few
    // blocks in one go.
    if (count && input_->fill() <= input_->size() / 2) source_->signal();
}

Status FrameDecoder::seek(std::int64_t offset) {
    return source_->seek(offset, SEEK_SET) == Status::Ok ? Status::Ok : Status::SeekFailed;
}

std::int64_t FrameDecoder::dataLength() {
    return source_->dataLength();
}

Status FrameDecoder::waitForData() {
    // Waiting for the file: what was decoded so far goes on to the renderer meanwhile.
    tellRenderer(true);
    source_->signal();
    return waitForSignal() ? Status::Stopping : Status::Ok;
}

}  // namespace vesperon::engine
