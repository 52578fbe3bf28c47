// The null device (consumes buffers at real-time pace) and the WAV-file writer (writes every
// buffer at once and returns it at 16 times real-time pace, so that a play still lasts long
// enough to be paused), sharing one worker thread that completes headers in order.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "engine/output/audio_output.h"

namespace vesperon::engine {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWavSpeedUp = 16;

class PacedOutput : public AudioOutput {
public:
    explicit PacedOutput(std::string wavPath) : wavPath_(std::move(wavPath)) {}
    ~PacedOutput() override { shutdown(); }

    int open(const WaveFormat& format, DoneCallback done, void* context) override {
        if (worker_.joinable()) return kOutputError;
        if (format.formatTag != 1 || format.channels < 1 || format.channels > 8 ||
            format.samplesPerSecond <= 0 || format.bitsPerSample != 16 || format.blockAlign <= 0)
            return kOutputBadFormat;
        if (!wavPath_.empty()) {
            file_ = std::fopen(wavPath_.c_str(), "wb");
            if (!file_) return kOutputError;
            writeWavHeader(0);
        }
        format_ = format;
        done_ = done;
        context_ = context;
        closing_ = false;
        worker_ = std::thread([this] { run(); });
        return kOutputOk;
    }

    int write(WaveHeader* h) override {
        if (!h || !(h->flags & WaveHeader::kPrepared)) return kOutputUnprepared;
        bool idle;
        {
            std::lock_guard lock(mutex_);
            if (!worker_.joinable()) return kOutputError;
            h->flags = (h->flags & ~WaveHeader::kDone) | WaveHeader::kInQueue;
            // A worker busy with a header takes this one when that is done: no need to wake it.
            idle = !current_ && queue_.empty();
            queue_.push_back(h);
        }
        if (idle) cv_.notify_all();
        return kOutputOk;
    }

    int pause() override {
        std::lock_guard lock(mutex_);
        paused_ = true;
        cv_.notify_all();
        return kOutputOk;
    }

    int restart() override {
        std::lock_guard lock(mutex_);
        paused_ = false;
        cv_.notify_all();
        return kOutputOk;
    }

    int reset() override {
        std::deque<WaveHeader*> returned;
        {
            std::unique_lock lock(mutex_);
            if (!worker_.joinable()) return kOutputError;
            ++resetRequest_;
            cv_.notify_all();
            cv_.wait(lock, [&] { return resetAck_ == resetRequest_; });
            returned.swap(queue_);
            paused_ = false;
        }
        for (WaveHeader* h : returned) finish(h);
        return kOutputOk;
    }

    int close() override {
        {
            std::lock_guard lock(mutex_);
            if (!worker_.joinable()) return kOutputError;
            if (!queue_.empty() || current_) return kOutputStillPlaying;
        }
        shutdown();
        return kOutputOk;
    }

    std::string name() const override { return wavPath_.empty() ? "null" : "wav:" + wavPath_; }

private:
    void shutdown() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            cv_.notify_all();
        }
        if (worker_.joinable()) worker_.join();
        if (file_) {
            writeWavHeader(dataBytes_);
            std::fclose(file_);
            file_ = nullptr;
        }
    }

    void finish(WaveHeader* h) {
        h->flags = (h->flags & ~WaveHeader::kInQueue) | WaveHeader::kDone;
        if (done_) done_(context_, h);
    }

    void run() {
        std::unique_lock lock(mutex_);
        Clock::time_point playhead = Clock::now();  // when the current header's audio ends
        bool timing = false;
        std::chrono::nanoseconds remaining{0};
        for (;;) {
            if (closing_) break;
            if (resetAck_ != resetRequest_) {
                if (current_) queue_.push_front(current_);
                current_ = nullptr;
                timing = false;
                resetAck_ = resetRequest_;
                cv_.notify_all();
                continue;
            }
            if (paused_) {
                if (timing) {
                    // Keep what is left of the current header for after the pause.
                    remaining = std::max(
                        std::chrono::nanoseconds(0),
                        std::chrono::duration_cast<std::chrono::nanoseconds>(playhead - Clock::now()));
                    timing = false;
                }
                cv_.wait(lock);
                continue;
            }
            if (!current_) {
                if (queue_.empty()) {
                    cv_.wait(lock);
                    continue;
                }
                current_ = queue_.front();
                queue_.pop_front();
                remaining = std::chrono::nanoseconds(static_cast<std::int64_t>(current_->bufferLength) *
                                                     1000000000LL / format_.avgBytesPerSecond);
                if (file_) {
                    std::size_t n = std::fwrite(current_->data, 1, current_->bufferLength, file_);
                    dataBytes_ += static_cast<std::uint32_t>(n);
                    remaining /= kWavSpeedUp;
                }
                // Back-to-back headers continue the timeline; after a starved gap it restarts.
                Clock::time_point now = Clock::now();
                if (playhead < now) playhead = now;
                playhead += remaining;
                timing = true;
            } else if (!timing) {
                playhead = Clock::now() + remaining;
                timing = true;
            }
            if (Clock::now() < playhead) {
                cv_.wait_until(lock, playhead);
                continue;
            }
            WaveHeader* h = current_;
            current_ = nullptr;
            timing = false;
            lock.unlock();
            finish(h);
            lock.lock();
        }
    }

    void writeWavHeader(std::uint32_t dataBytes) {
        auto le32 = [](std::uint8_t* p, std::uint32_t v) {
            for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        auto le16 = [](std::uint8_t* p, std::uint32_t v) {
            p[0] = static_cast<std::uint8_t>(v);
            p[1] = static_cast<std::uint8_t>(v >> 8);
        };
        std::uint8_t h[44];
        std::memcpy(h, "RIFF", 4);
        le32(h + 4, 36 + dataBytes);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        le32(h + 16, 16);
        le16(h + 20, 1);
        le16(h + 22, static_cast<std::uint32_t>(format_.channels));
        le32(h + 24, static_cast<std::uint32_t>(format_.samplesPerSecond));
        le32(h + 28, static_cast<std::uint32_t>(format_.avgBytesPerSecond));
        le16(h + 32, static_cast<std::uint32_t>(format_.blockAlign));
        le16(h + 34, static_cast<std::uint32_t>(format_.bitsPerSample));
        std::memcpy(h + 36, "data", 4);
        le32(h + 40, dataBytes);
        std::fseek(file_, 0, SEEK_SET);
        std::fwrite(h, 1, sizeof h, file_);
        std::fseek(file_, 0, SEEK_END);
    }

    std::string wavPath_;
    std::FILE* file_ = nullptr;
    std::uint32_t dataBytes_ = 0;
    WaveFormat format_;
    DoneCallback done_ = nullptr;
    void* context_ = nullptr;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<WaveHeader*> queue_;
    WaveHeader* current_ = nullptr;
    bool paused_ = false;
    bool closing_ = false;
    unsigned resetRequest_ = 0, resetAck_ = 0;
    std::thread worker_;
};

}  // namespace

std::unique_ptr<AudioOutput> makeNullOutput() {
    return std::make_unique<PacedOutput>(std::string());
}

std::unique_ptr<AudioOutput> makeWavOutput(const std::string& path) {
    return std::make_unique<PacedOutput>(path.empty() ? std::string("vesperon.wav") : path);
}

}  // namespace vesperon::engine
