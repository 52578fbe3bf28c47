// The ALSA backend: one worker thread owns the PCM handle and feeds it from the header queue.
// A header is returned once the device has played it (judged by the device's delay), so that
// closing after the last callback never cuts off queued sound.
//
// Pausing keeps the device running on silence once the little it holds (at most a quarter
// second) has played, and returns when that has been heard; resuming goes on with the next frame. Pausing the device itself (or dropping or
// draining its buffer) makes a sound server rewind or skip audio around the pause, so a few
// milliseconds would be heard twice or not at all; a stream that never stops loses nothing.

#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/output/audio_output.h"

namespace vesperon::engine {

namespace {

constexpr unsigned kBufferMicros = 250000;
constexpr unsigned kPeriodMicros = 50000;
constexpr int kWaitMillis = 20;
constexpr auto kStallLimit = std::chrono::seconds(2);

class AlsaOutput : public AudioOutput {
public:
    explicit AlsaOutput(std::string device) : device_(std::move(device)) {}
    ~AlsaOutput() override { shutdown(); }

    int open(const WaveFormat& format, DoneCallback done, void* context) override {
        if (pcm_) return kOutputError;
        if (format.formatTag != 1 || format.bitsPerSample != 16 || format.channels < 1 ||
            format.channels > 8 || format.samplesPerSecond <= 0)
            return kOutputBadFormat;
        // Never blocking: the worker must always come back to see pause, reset and close.
        if (snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            pcm_ = nullptr;
            return kOutputError;
        }
        if (!configure(format)) {
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
            return kOutputBadFormat;
        }
        frameBytes_ = format.blockAlign;
        done_ = done;
        context_ = context;
        closing_ = false;
        worker_ = std::thread([this] { run(); });
        return kOutputOk;
    }

    int write(WaveHeader* h) override {
        if (!h || !(h->flags & WaveHeader::kPrepared)) return kOutputUnprepared;
        std::lock_guard lock(mutex_);
        if (!pcm_) return kOutputError;
        h->flags = (h->flags & ~WaveHeader::kDone) | WaveHeader::kInQueue;
        queue_.push_back(h);
        cv_.notify_all();
        return kOutputOk;
    }

    int pause() override {
        std::unique_lock lock(mutex_);
        wantPaused_ = true;
        // Return only once the sound the device already holds has been heard: a caller that
        // fades the volume out, pauses and puts the volume back at once must not make that
        // tail audible at full volume.
        pauseTarget_ = framesWritten_;
        pauseDrained_ = false;
        cv_.notify_all();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(kBufferMicros) +
                              std::chrono::milliseconds(300);
        cv_.wait_until(lock, deadline, [&] { return pauseDrained_ || closing_ || !pcm_; });
        return kOutputOk;
    }

    int restart() override {
        std::lock_guard lock(mutex_);
        wantPaused_ = false;
        pauseDrained_ = true;
        cv_.notify_all();
        return kOutputOk;
    }

    int reset() override {
        std::deque<WaveHeader*> returned;
        {
            std::unique_lock lock(mutex_);
            if (!pcm_) return kOutputError;
            ++resetRequest_;
            cv_.notify_all();
            cv_.wait(lock, [&] { return resetAck_ == resetRequest_; });
            returned.swap(resetReturned_);
            wantPaused_ = false;
        }
        for (WaveHeader* h : returned) finish(h);
        return kOutputOk;
    }

    int close() override {
        {
            std::lock_guard lock(mutex_);
            if (!pcm_) return kOutputError;
            if (!queue_.empty() || !written_.empty() || current_) return kOutputStillPlaying;
        }
        shutdown();
        return kOutputOk;
    }

    std::string name() const override { return "alsa:" + device_; }

private:
    struct Written {
        WaveHeader* header;
        std::uint64_t endFrame;  // frames written to the device when this header was complete
    };

    bool configure(const WaveFormat& f) {
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        if (snd_pcm_hw_params_any(pcm_, hw) < 0) return false;
        if (snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return false;
        if (snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE) < 0) return false;
        if (snd_pcm_hw_params_set_channels(pcm_, hw, static_cast<unsigned>(f.channels)) < 0) return false;
        unsigned rate = static_cast<unsigned>(f.samplesPerSecond);
        if (snd_pcm_hw_params_set_rate(pcm_, hw, rate, 0) < 0) return false;
        unsigned buffer = kBufferMicros, period = kPeriodMicros;
        snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &buffer, nullptr);
        snd_pcm_hw_params_set_period_time_near(pcm_, hw, &period, nullptr);
        if (snd_pcm_hw_params(pcm_, hw) < 0) return false;
        snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
        snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
        snd_pcm_hw_params_get_period_size(hw, &periodFrames, nullptr);
        periodFrames_ = periodFrames ? periodFrames : 1024;
        bufferFrames_ = bufferFrames > periodFrames_ ? bufferFrames : 2 * periodFrames_;
        silence_.assign(periodFrames_ * static_cast<std::size_t>(f.blockAlign), 0);

        snd_pcm_sw_params_t* sw;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_sw_params_current(pcm_, sw);
        // Start once half the buffer is queued; a shorter tail is started by hand.
        snd_pcm_sw_params_set_start_threshold(pcm_, sw, bufferFrames / 2 ? bufferFrames / 2 : 1);
        snd_pcm_sw_params_set_avail_min(pcm_, sw, periodFrames ? periodFrames : 1);
        if (snd_pcm_sw_params(pcm_, sw) < 0) return false;
        return snd_pcm_prepare(pcm_) >= 0;
    }

    void shutdown() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            cv_.notify_all();
        }
        if (worker_.joinable()) worker_.join();
        if (pcm_) {
            snd_pcm_drop(pcm_);
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
        }
    }

    void finish(WaveHeader* h) {
        h->flags = (h->flags & ~WaveHeader::kInQueue) | WaveHeader::kDone;
        if (done_) done_(context_, h);
    }

    // Frames the device has played so far, from its delay; everything written once it has
    // stopped (underrun or never started with nothing pending).
    std::uint64_t playedFrames() {
        snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_XRUN) {
            snd_pcm_prepare(pcm_);
            return framesWritten_;
        }
        if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_DRAINING) {
            return lastPlayed_;
        }
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0) return lastPlayed_;
        if (delay < 0) delay = 0;
        std::uint64_t d = static_cast<std::uint64_t>(delay);
        std::uint64_t played = d >= framesWritten_ ? 0 : framesWritten_ - d;
        return played > lastPlayed_ ? played : lastPlayed_;
    }

    // Returns finished headers (in order) through the callback, with the lock released.
    void waitForRoom(std::unique_lock<std::mutex>& lock) {
        lock.unlock();
        snd_pcm_wait(pcm_, kWaitMillis);
        lock.lock();
    }

    void completePlayed(std::unique_lock<std::mutex>& lock) {
        if (written_.empty()) return;
        std::uint64_t played = playedFrames();
        auto now = std::chrono::steady_clock::now();
        if (played != lastPlayed_) {
            lastProgress_ = now;
        } else if (now - lastProgress_ > kStallLimit) {
            // The device has stopped taking sound (a server gone or stuck): count what it was
            // given as played rather than hold the play forever, and start it afresh.
            snd_pcm_drop(pcm_);
            snd_pcm_prepare(pcm_);
            played = framesWritten_;
            lastProgress_ = now;
        }
        lastPlayed_ = played;
        std::deque<WaveHeader*> done;
        while (!written_.empty() && written_.front().endFrame <= lastPlayed_) {
            done.push_back(written_.front().header);
            written_.pop_front();
        }
        if (done.empty()) return;
        lock.unlock();
        for (WaveHeader* h : done) finish(h);
        lock.lock();
    }

    // Keeps a started stream running: tops it up with a period of silence when less than half
    // its buffer is left to play (early enough that a sound server never runs dry and skips),
    // else waits a little (or for new headers).
    void feedSilence(std::unique_lock<std::mutex>& lock) {
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            // Not started yet (less than the start threshold queued): more sound may follow at
            // once, so start the short tail only after a moment without any.
            if (std::chrono::steady_clock::now() - lastWrite_ < std::chrono::milliseconds(20)) {
                cv_.wait_for(lock, std::chrono::milliseconds(5));
                return;
            }
            snd_pcm_start(pcm_);
        }
        snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0) {
            if (snd_pcm_recover(pcm_, static_cast<int>(avail), 1) < 0) snd_pcm_prepare(pcm_);
            lastPlayed_ = framesWritten_;
            return;
        }
        if (static_cast<snd_pcm_uframes_t>(avail) < bufferFrames_ / 2) {
            cv_.wait_for(lock, std::chrono::milliseconds(5));
            return;
        }
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, silence_.data(), periodFrames_);
        if (n == -EAGAIN) {
            waitForRoom(lock);
            return;
        }
        if (n < 0) {
            if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) snd_pcm_prepare(pcm_);
            lastPlayed_ = framesWritten_;
            return;
        }
        framesWritten_ += static_cast<std::uint64_t>(n);
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (closing_) break;
            if (resetAck_ != resetRequest_) {
                // Only cut the sound short when something is still to play.
                if (!written_.empty() || current_ || !queue_.empty()) {
                    snd_pcm_drop(pcm_);
                    snd_pcm_prepare(pcm_);
                }
                paused_ = false;
                pauseDrained_ = true;
                for (auto& w : written_) resetReturned_.push_back(w.header);
                written_.clear();
                if (current_) resetReturned_.push_back(current_);
                current_ = nullptr;
                for (WaveHeader* h : queue_) resetReturned_.push_back(h);
                queue_.clear();
                lastPlayed_ = framesWritten_;
                resetAck_ = resetRequest_;
                cv_.notify_all();
                continue;
            }
            paused_ = wantPaused_;
            completePlayed(lock);
            if (paused_ && !pauseDrained_ && (framesWritten_ == 0 || playedFrames() >= pauseTarget_)) {
                pauseDrained_ = true;
                cv_.notify_all();
            }
            if (paused_) {
                if (framesWritten_ == 0) {
                    cv_.wait(lock);
                    continue;
                }
                feedSilence(lock);
                continue;
            }
            if (!current_ && !queue_.empty()) {
                current_ = queue_.front();
                queue_.pop_front();
                currentOffset_ = 0;
            }
            if (current_) {
                std::uint32_t frames = current_->bufferLength / static_cast<std::uint32_t>(frameBytes_);
                if (currentOffset_ >= frames) {
                    if (written_.empty()) lastProgress_ = std::chrono::steady_clock::now();
                    written_.push_back({current_, framesWritten_});
                    current_ = nullptr;
                    continue;
                }
                snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
                if (avail < 0) {
                    if (snd_pcm_recover(pcm_, static_cast<int>(avail), 1) < 0) snd_pcm_prepare(pcm_);
                    lastPlayed_ = framesWritten_;
                    continue;
                }
                if (avail == 0) {
                    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
                    lock.unlock();
                    snd_pcm_wait(pcm_, kWaitMillis);
                    lock.lock();
                    continue;
                }
                snd_pcm_uframes_t want = std::min<snd_pcm_uframes_t>(frames - currentOffset_, avail);
                const std::uint8_t* p = current_->data + std::size_t(currentOffset_) * frameBytes_;
                snd_pcm_sframes_t n = snd_pcm_writei(pcm_, p, want);
                if (n == -EAGAIN) {
                    waitForRoom(lock);
                    continue;
                }
                if (n < 0) {
                    if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) snd_pcm_prepare(pcm_);
                    lastPlayed_ = framesWritten_;
                    continue;
                }
                currentOffset_ += static_cast<std::uint32_t>(n);
                framesWritten_ += static_cast<std::uint64_t>(n);
                lastWrite_ = std::chrono::steady_clock::now();
                continue;
            }
            if (!written_.empty()) {
                // Nothing more to write while headers are still playing: keep the stream
                // running on silence so that the delay keeps counting until they are heard.
                feedSilence(lock);
                continue;
            }
            cv_.wait(lock);
        }
    }

    std::string device_;
    snd_pcm_t* pcm_ = nullptr;
    int frameBytes_ = 4;
    DoneCallback done_ = nullptr;
    void* context_ = nullptr;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<WaveHeader*> queue_;
    WaveHeader* current_ = nullptr;
    std::uint32_t currentOffset_ = 0;  // frames of current_ written
    std::deque<Written> written_;
    std::deque<WaveHeader*> resetReturned_;
    snd_pcm_uframes_t periodFrames_ = 1024;
    snd_pcm_uframes_t bufferFrames_ = 4096;
    std::vector<std::uint8_t> silence_;  // one period, written while paused
    std::uint64_t framesWritten_ = 0;
    std::chrono::steady_clock::time_point lastWrite_{};  // of sound, not silence
    std::chrono::steady_clock::time_point lastProgress_{std::chrono::steady_clock::now()};
    std::uint64_t lastPlayed_ = 0;
    bool wantPaused_ = false, paused_ = false;
    std::uint64_t pauseTarget_ = 0;  // frames written when the last pause was asked for
    bool pauseDrained_ = true;       // everything written before that pause has been heard
    bool closing_ = false;
    unsigned resetRequest_ = 0, resetAck_ = 0;
    std::thread worker_;
};

void silentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::unique_ptr<AudioOutput> makeAlsaOutput(const std::string& device) {
    // Failures come back as results; alsa-lib must not print them.
    static const bool quiet = [] {
        snd_lib_error_set_handler(&silentErrorHandler);
        return true;
    }();
    (void)quiet;
    return std::make_unique<AlsaOutput>(device);
}

}  // namespace vesperon::engine
