// The null device (plays into nothing at real-time pace) and the WAV-file writer (writes sound
// as it is queued, up to four seconds ahead, and counts it played at 16 times real-time pace, so
// that a play still lasts long enough to be paused): backends of the queued output whose only
// device is a clock.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/output/queued_output.h"

namespace vesperon::engine {

namespace {

constexpr int kWavSpeedUp = 16;

class PacedOutput : public QueuedOutput {
public:
    explicit PacedOutput(std::string wavPath) : wavPath_(std::move(wavPath)) {}
    ~PacedOutput() override { stop(); }

    std::string name() const override { return wavPath_.empty() ? "null" : "wav:" + wavPath_; }

private:
    Status openDevice(const PcmFormat& format) override {
        format_ = format;
        framesPerSecond_ = std::uint64_t(format.sampleRate) * (wavPath_.empty() ? 1 : kWavSpeedUp);
        running_ = false;
        anchorFrame_ = 0;
        if (wavPath_.empty()) return Status::Ok;
        file_ = std::fopen(wavPath_.c_str(), "wb");
        if (!file_) return Status::DeviceFailed;
        dataBytes_ = 0;
        writeWavHeader(0);
        return Status::Ok;
    }

    void closeDevice(bool) override {
        if (!file_) return;
        writeWavHeader(dataBytes_);
        std::fclose(file_);
        file_ = nullptr;
    }

    void dropDevice() override {
        running_ = false;
        anchorFrame_ = 0;
    }

    // A quarter second of play ahead of the clock.
    std::size_t stageFrames() const override { return std::max<std::size_t>(1, framesPerSecond_ / 4); }

    // Frames of `written` heard by `now`: the clock runs from the anchor while not paused.
    std::uint64_t playedBy(Clock::time_point now, std::uint64_t written) const {
        if (!running_) return std::min(anchorFrame_, written);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchorTime_).count();
        const std::uint64_t ran = ns <= 0 ? 0 : std::uint64_t(ns) * framesPerSecond_ / 1000000000ULL;
        return std::min(anchorFrame_ + ran, written);
    }

    // When the clock reaches `frame`.
    Clock::time_point timeOf(std::uint64_t frame) const {
        const std::uint64_t ahead = frame > anchorFrame_ ? frame - anchorFrame_ : 0;
        return anchorTime_ + std::chrono::nanoseconds((ahead * 1000000000ULL + framesPerSecond_ - 1) / framesPerSecond_);
    }

    Turn play(const Feed& feed) override {
        Turn t;
        t.healthy = true;  // a clock is never stuck; paused, it simply stops
        t.havePlayed = true;
        const auto now = Clock::now();
        if (feed.paused) {
            // Keep where the clock stood for after the pause.
            anchorFrame_ = playedBy(now, feed.written);
            running_ = false;
            t.played = anchorFrame_;
            t.stopped = true;
            t.wakeAt = kUntilWoken;
            return t;
        }
        std::uint64_t played = playedBy(now, feed.written);
        if (!running_ || played >= feed.written) {
            // Resumed, or starved: the clock goes on from here.
            anchorFrame_ = played;
            anchorTime_ = now;
            running_ = true;
        }
        std::uint64_t written = feed.written;
        if (feed.data) {
            const std::uint64_t ahead = written - played;
            const std::size_t room = ahead >= stageFrames() ? 0 : std::size_t(stageFrames() - ahead);
            t.wrote = std::min(feed.frames, room);
            if (file_ && t.wrote) {
                const std::size_t bytes = t.wrote * std::size_t(format_.bytesPerSampleFrame());
                dataBytes_ += static_cast<std::uint32_t>(std::fwrite(feed.data, 1, bytes, file_));
            }
            written += t.wrote;
        }
        t.played = played;
        // Wake when the oldest header has been heard, or a period of room has come free.
        std::uint64_t next = feed.nextEnd > played ? feed.nextEnd : written;
        if (feed.data && t.wrote < feed.frames) next = std::min(next, played + stageFrames() / 4 + 1);
        next = std::min(next, written);  // the clock never passes what it was given
        t.wakeAt = next > played ? timeOf(next) : kUntilWoken;
        return t;
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
        le32(h + 24, static_cast<std::uint32_t>(format_.sampleRate));
        le32(h + 28, static_cast<std::uint32_t>(format_.sampleRate * format_.bytesPerSampleFrame()));
        le16(h + 32, static_cast<std::uint32_t>(format_.bytesPerSampleFrame()));
        le16(h + 34, static_cast<std::uint32_t>(format_.bitsPerSample));
        std::memcpy(h + 36, "data", 4);
        le32(h + 40, dataBytes);
        std::fseek(file_, 0, SEEK_SET);
        std::fwrite(h, 1, sizeof h, file_);
        std::fseek(file_, 0, SEEK_END);
    }

    const std::string wavPath_;

    // --- the worker's alone once it runs (open() sets them before it starts, stop() after it ends)
    PcmFormat format_;
    std::FILE* file_ = nullptr;
    std::uint32_t dataBytes_ = 0;
    std::uint64_t framesPerSecond_ = 44100;  // of the clock
    bool running_ = false;                   // the clock runs from anchorTime_
    std::uint64_t anchorFrame_ = 0;          // frames heard at anchorTime_
    Clock::time_point anchorTime_{};
};

}  // namespace

std::unique_ptr<AudioOutput> makeNullOutput() {
    return std::make_unique<PacedOutput>(std::string());
}

std::unique_ptr<AudioOutput> makeWavOutput(const std::string& path) {
    return std::make_unique<PacedOutput>(path.empty() ? std::string("vesperon.wav") : path);
}

}  // namespace vesperon::engine
