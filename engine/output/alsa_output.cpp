// The ALSA backend of the queued output: writes the stage to a PCM handle opened non-blocking
// and reports the frames played from the device's delay, so that a header is returned once it
// has been heard and closing after the last callback never cuts off queued sound.
//
// Pausing keeps the device running on silence once the little it holds (at most a quarter
// second) has played; pauseHeard() tells when that has been heard, so pause() itself never
// waits on the device. Resuming goes on with the next frame. Pausing the device itself (or
// dropping or draining its buffer) makes a sound server rewind or skip audio around the pause,
// so a few milliseconds would be heard twice or not at all; a stream that never stops loses
// nothing.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <vector>

#include "engine/output/queued_output.h"

namespace vesperon::engine {

namespace {

constexpr unsigned kBufferMicros = 250000;
constexpr unsigned kPeriodMicros = 50000;
constexpr int kWaitMillis = 20;
constexpr auto kIdleWait = std::chrono::milliseconds(5);

class AlsaOutput : public QueuedOutput {
public:
    AlsaOutput(std::string device, bool waitForDevice) : device_(std::move(device)), waitForDevice_(waitForDevice) {}
    ~AlsaOutput() override { stop(); }

    bool keepsOpen() const override { return true; }
    std::string name() const override { return "alsa:" + device_; }

private:
    static std::atomic<bool>& everOpened() {
        static std::atomic<bool> opened{false};
        return opened;
    }

    // The sound server this process played through is away (restarting, say), or one is
    // expected to start: wait for it.
    bool waitsForDevice() const override { return waitForDevice_ || everOpened(); }
    bool playsOnAtPause() const override { return true; }
    std::size_t stageFrames() const override { return bufferFrames_; }

    Status openDevice(const PcmFormat& format) override {
        snd_pcm_t* pcm = nullptr;
        // Never blocking: the worker must always come back to see pause, reset and close.
        if (snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            // alsa-lib read its configuration once, when `default` may not yet have been routed
            // to a sound server that starts later: read it again for the next try.
            snd_config_update_free_global();
            return Status::DeviceFailed;
        }
        if (!configure(pcm, format)) {
            snd_pcm_close(pcm);
            return Status::BadFormat;
        }
        pcm_ = pcm;
        everOpened() = true;
        return Status::Ok;
    }

    bool configure(snd_pcm_t* pcm, const PcmFormat& f) {
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        if (snd_pcm_hw_params_any(pcm, hw) < 0) return false;
        if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return false;
        if (snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0) return false;
        if (snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(f.channels)) < 0) return false;
        unsigned rate = static_cast<unsigned>(f.sampleRate);
        if (snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0) return false;
        unsigned buffer = kBufferMicros, period = kPeriodMicros;
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer, nullptr);
        snd_pcm_hw_params_set_period_time_near(pcm, hw, &period, nullptr);
        if (snd_pcm_hw_params(pcm, hw) < 0) return false;
        snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
        snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames);
        snd_pcm_hw_params_get_period_size(hw, &periodFrames, nullptr);
        periodFrames_ = periodFrames ? periodFrames : 1024;
        bufferFrames_ = bufferFrames > periodFrames_ ? bufferFrames : 2 * periodFrames_;
        silence_.assign(periodFrames_ * static_cast<std::size_t>(f.bytesPerSampleFrame()), 0);

        snd_pcm_sw_params_t* sw;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_sw_params_current(pcm, sw);
        // Start once half the buffer is queued; a shorter tail is started by hand.
        snd_pcm_sw_params_set_start_threshold(pcm, sw, bufferFrames / 2 ? bufferFrames / 2 : 1);
        snd_pcm_sw_params_set_avail_min(pcm, sw, periodFrames ? periodFrames : 1);
        if (snd_pcm_sw_params(pcm, sw) < 0) return false;
        return snd_pcm_prepare(pcm) >= 0;
    }

    // Recovers from an underrun; false when the device is lost.
    bool recover(int err) {
        if (err == -EPIPE || err == -ESTRPIPE) return snd_pcm_prepare(pcm_) >= 0;
        return false;
    }

    Turn play(const Feed& feed) override {
        Turn t;
        const std::uint8_t* data = feed.data;
        snd_pcm_uframes_t frames = feed.frames;
        snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED) {
            t.lost = !recover(state == SND_PCM_STATE_XRUN ? -EPIPE : -ESTRPIPE);
            t.allPlayed = true;
            return t;
        }
        if (state == SND_PCM_STATE_DISCONNECTED) {
            t.lost = true;
            return t;
        }
        if (state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_DRAINING) {
            snd_pcm_sframes_t delay = 0;
            int r = snd_pcm_delay(pcm_, &delay);
            if (r < 0 && r != -EPIPE) {
                t.lost = !recover(r);
                t.allPlayed = true;
                return t;
            }
            if (r == 0) {
                if (delay < 0) delay = 0;
                const std::uint64_t d = static_cast<std::uint64_t>(delay);
                t.played = d >= feed.written ? 0 : feed.written - d;
                t.havePlayed = true;
            }
        }
        snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0) {
            t.lost = !recover(static_cast<int>(avail));
            t.allPlayed = true;
            return t;
        }
        if (!data) {
            // Keeps a started stream running: tops it up with a period of silence when less
            // than half its buffer is left to play (early enough that a sound server never runs
            // dry and skips). A stream not started yet (less than its threshold queued) is
            // started only after a moment without more sound.
            if (state == SND_PCM_STATE_PREPARED) {
                if (feed.recentSound) {
                    t.wakeAt = Clock::now() + kIdleWait;
                    return t;
                }
                snd_pcm_start(pcm_);
            }
            if (static_cast<snd_pcm_uframes_t>(avail) < bufferFrames_ / 2) {
                t.wakeAt = Clock::now() + kIdleWait;
                return t;
            }
            data = silence_.data();
            frames = periodFrames_;
            t.silence = true;
        } else if (avail == 0) {
            if (state == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
            snd_pcm_wait(pcm_, kWaitMillis);
            return t;
        } else {
            frames = std::min<snd_pcm_uframes_t>(frames, static_cast<snd_pcm_uframes_t>(avail));
        }
        snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, frames);
        if (n == -EAGAIN) {
            snd_pcm_wait(pcm_, kWaitMillis);
            return t;
        }
        if (n < 0) {
            t.lost = !recover(static_cast<int>(n));
            t.allPlayed = true;
            return t;
        }
        t.wrote = static_cast<std::size_t>(n);
        return t;
    }

    void closeDevice(bool lost) override {
        if (!pcm_) return;
        if (!lost) snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }

    void dropDevice() override {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
    }

    const std::string device_;
    const bool waitForDevice_;

    // --- the worker's alone once it runs (open() sets them before it starts, stop() after it ends)
    snd_pcm_t* pcm_ = nullptr;
    snd_pcm_uframes_t periodFrames_ = 1024;
    snd_pcm_uframes_t bufferFrames_ = 4096;
    std::vector<std::uint8_t> silence_;  // one period, written to keep the device going
};

void silentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::unique_ptr<AudioOutput> makeAlsaOutput(const std::string& device, bool waitForDevice) {
    // Failures come back as results; alsa-lib must not print them.
    static const bool quiet = [] {
        snd_lib_error_set_handler(&silentErrorHandler);
        return true;
    }();
    (void)quiet;
    return std::make_unique<AlsaOutput>(device, waitForDevice);
}

}  // namespace vesperon::engine
