// The ALSA backend: one worker thread owns the PCM handle and feeds it from the header queue.
// A header is returned once the device has played it (judged by the device's delay), so that
// closing after the last callback never cuts off queued sound.
//
// The worker never makes a device call while it holds the queue lock: it copies the next
// stretch of sound into a buffer of its own under the lock and writes it with the lock released,
// so that writes, pause, reset and close return at once whatever the device does. When the
// device fails (the sound server went away) or stops taking sound, the worker closes it, puts
// back every header not yet heard and opens the device again twice a second; the play goes on
// from where the sound stopped. After kGiveUp without a device it reports failure.
//
// Pausing keeps the device running on silence once the little it holds (at most a quarter
// second) has played; pauseHeard() tells when that has been heard, so pause() itself never
// waits on the device. Resuming goes on with the next frame. Pausing the device itself (or
// dropping or draining its buffer) makes a sound server rewind or skip audio around the pause,
// so a few milliseconds would be heard twice or not at all; a stream that never stops loses
// nothing.
//
// release() lets the device outlive the renderer that opened it: what is still queued is copied
// and plays on, every header goes back at once, and the next track's sound follows it.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/output/audio_output.h"

namespace vesperon::engine {

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kBufferMicros = 250000;
constexpr unsigned kPeriodMicros = 50000;
constexpr int kWaitMillis = 20;
constexpr auto kStallLimit = std::chrono::seconds(2);
constexpr auto kRetry = std::chrono::milliseconds(500);
constexpr auto kGiveUp = std::chrono::seconds(15);

// Sound still to play after the renderer that queued it has gone.
struct OwnedHeader : WaveHeader {
    std::vector<std::uint8_t> bytes;
};
constexpr std::uint32_t kOwned = 0x1000;

class AlsaOutput : public AudioOutput {
public:
    explicit AlsaOutput(std::string device) : device_(std::move(device)) {}
    ~AlsaOutput() override {
        shutdown();
        for (WaveHeader* h : takeAll()) finish(h);
    }

    int open(const WaveFormat& format, DoneCallback done, void* context) override {
        if (open_) return kOutputError;
        if (format.formatTag != 1 || format.bitsPerSample != 16 || format.channels < 1 ||
            format.channels > 8 || format.samplesPerSecond <= 0)
            return kOutputBadFormat;
        format_ = format;
        int r = openPcm(&pcm_);
        if (r == kOutputOk) {
            everOpened() = true;
        } else if (r == kOutputError && everOpened()) {
            // The sound server this process played through is away (restarting, say): wait
            // for it as a device lost mid-play does, rather than play to nothing.
            lost_ = true;
            lostSince_ = Clock::now();
        } else {
            return r;
        }
        frameBytes_ = format.blockAlign;
        done_ = done;
        context_ = context;
        closing_ = false;
        open_ = true;
        lastProgress_ = Clock::now();
        worker_ = std::thread([this] { run(); });
        return kOutputOk;
    }

    int write(WaveHeader* h) override {
        if (!h || !(h->flags & WaveHeader::kPrepared)) return kOutputUnprepared;
        std::lock_guard lock(mutex_);
        if (!open_ || failed_) return kOutputError;
        h->flags = (h->flags & ~WaveHeader::kDone) | WaveHeader::kInQueue;
        queue_.push_back(h);
        cv_.notify_all();
        return kOutputOk;
    }

    int pause() override {
        std::lock_guard lock(mutex_);
        wantPaused_ = true;
        pauseTarget_ = framesWritten_;
        pauseDrained_ = false;
        cv_.notify_all();
        return kOutputOk;
    }

    bool pauseHeard() override {
        std::lock_guard lock(mutex_);
        return pauseDrained_ || closing_ || !open_ || lost_;
    }

    int restart() override {
        std::lock_guard lock(mutex_);
        wantPaused_ = false;
        pauseDrained_ = true;
        cv_.notify_all();
        return kOutputOk;
    }

    int reset() override {
        std::vector<WaveHeader*> returned;
        {
            std::lock_guard lock(mutex_);
            if (!open_) return kOutputError;
            const bool sounding = !written_.empty() || current_ || !queue_.empty() || stageDone_ < stageFrames_;
            returned = takeAll();
            // The worker drops what the device holds before it writes anything else.
            if (sounding) dropRequested_ = true;
            wantPaused_ = false;
            pauseDrained_ = true;
            cv_.notify_all();
        }
        for (WaveHeader* h : returned) finish(h);
        return kOutputOk;
    }

    int close() override {
        {
            std::lock_guard lock(mutex_);
            if (!open_) return kOutputError;
            if (!queue_.empty() || !written_.empty() || current_) return kOutputStillPlaying;
        }
        shutdown();
        return kOutputOk;
    }

    bool keepsOpen() const override { return true; }

    bool release() override {
        std::vector<WaveHeader*> returned;
        {
            std::lock_guard lock(mutex_);
            if (!open_) return false;
            // What the device holds already is the worker's copy: those headers go back now.
            std::deque<Written> kept;
            for (Written& w : written_) {
                if (w.header->flags & kOwned)
                    kept.push_back(w);
                else
                    returned.push_back(w.header);
            }
            written_.swap(kept);
            if (current_ && !(current_->flags & kOwned)) {
                returned.push_back(current_);
                current_ = own(current_, currentOffset_);
                currentOffset_ = 0;
            }
            for (WaveHeader*& h : queue_) {
                if (h->flags & kOwned) continue;
                returned.push_back(h);
                h = own(h, 0);
            }
        }
        for (WaveHeader* h : returned) finish(h);
        std::lock_guard lock(mutex_);
        done_ = nullptr;
        context_ = nullptr;
        return true;
    }

    void rebind(DoneCallback done, void* context) override {
        std::lock_guard lock(mutex_);
        done_ = done;
        context_ = context;
    }

    bool busy() override {
        std::lock_guard lock(mutex_);
        return !queue_.empty() || !written_.empty() || current_;
    }

    bool failed() override {
        std::lock_guard lock(mutex_);
        return failed_;
    }

    std::string name() const override { return "alsa:" + device_; }

private:
    struct Written {
        WaveHeader* header;
        std::uint64_t endFrame;  // frames written to the device when this header was complete
    };

    static std::atomic<bool>& everOpened() {
        static std::atomic<bool> opened{false};
        return opened;
    }

    // A copy of the frames of h from `from` on, queued in its place.
    WaveHeader* own(WaveHeader* h, std::uint32_t fromFrame) {
        auto* o = new OwnedHeader;
        const std::size_t from = std::size_t(fromFrame) * frameBytes_;
        if (from < h->bufferLength) o->bytes.assign(h->data + from, h->data + h->bufferLength);
        o->data = o->bytes.data();
        o->bufferLength = static_cast<std::uint32_t>(o->bytes.size());
        o->flags = WaveHeader::kPrepared | WaveHeader::kInQueue | kOwned;
        return o;
    }

    // Every header queued or at the device, in order; the lock is held.
    std::vector<WaveHeader*> takeAll() {
        std::vector<WaveHeader*> all;
        for (auto& w : written_) all.push_back(w.header);
        written_.clear();
        if (current_) all.push_back(current_);
        current_ = nullptr;
        for (WaveHeader* h : queue_) all.push_back(h);
        queue_.clear();
        stageFrames_ = stageDone_ = 0;
        ++generation_;
        return all;
    }

    void finish(WaveHeader* h) {
        if (h->flags & kOwned) {
            delete static_cast<OwnedHeader*>(h);
            return;
        }
        h->flags = (h->flags & ~WaveHeader::kInQueue) | WaveHeader::kDone;
        DoneCallback done;
        void* context;
        {
            std::lock_guard lock(mutex_);
            done = done_;
            context = context_;
        }
        if (done) done(context, h);
    }

    int openPcm(snd_pcm_t** out) {
        snd_pcm_t* pcm = nullptr;
        // Never blocking: the worker must always come back to see pause, reset and close.
        if (snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return kOutputError;
        if (!configure(pcm, format_)) {
            snd_pcm_close(pcm);
            return kOutputBadFormat;
        }
        *out = pcm;
        return kOutputOk;
    }

    bool configure(snd_pcm_t* pcm, const WaveFormat& f) {
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        if (snd_pcm_hw_params_any(pcm, hw) < 0) return false;
        if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) return false;
        if (snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0) return false;
        if (snd_pcm_hw_params_set_channels(pcm, hw, static_cast<unsigned>(f.channels)) < 0) return false;
        unsigned rate = static_cast<unsigned>(f.samplesPerSecond);
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
        silence_.assign(periodFrames_ * static_cast<std::size_t>(f.blockAlign), 0);

        snd_pcm_sw_params_t* sw;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_sw_params_current(pcm, sw);
        // Start once half the buffer is queued; a shorter tail is started by hand.
        snd_pcm_sw_params_set_start_threshold(pcm, sw, bufferFrames / 2 ? bufferFrames / 2 : 1);
        snd_pcm_sw_params_set_avail_min(pcm, sw, periodFrames ? periodFrames : 1);
        if (snd_pcm_sw_params(pcm, sw) < 0) return false;
        return snd_pcm_prepare(pcm) >= 0;
    }

    void shutdown() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            open_ = false;
            cv_.notify_all();
        }
        if (worker_.joinable()) worker_.join();
        if (pcm_) {
            snd_pcm_drop(pcm_);
            snd_pcm_close(pcm_);
            pcm_ = nullptr;
        }
    }

    // Copies up to `room` frames of the queued headers into the stage; the lock is held.
    void fillStage(snd_pcm_uframes_t room) {
        const std::size_t fb = static_cast<std::size_t>(frameBytes_);
        stageFrames_ = stageDone_ = 0;
        stage_.resize(std::size_t(room) * fb);
        while (stageFrames_ < room) {
            if (!current_) {
                if (queue_.empty()) break;
                current_ = queue_.front();
                queue_.pop_front();
                currentOffset_ = 0;
            }
            const std::uint32_t frames = current_->bufferLength / static_cast<std::uint32_t>(fb);
            const std::uint32_t n = std::min<std::uint32_t>(frames - currentOffset_, room - stageFrames_);
            std::memcpy(stage_.data() + stageFrames_ * fb, current_->data + std::size_t(currentOffset_) * fb, n * fb);
            currentOffset_ += n;
            stageFrames_ += n;
            if (currentOffset_ >= frames) {
                written_.push_back({current_, framesWritten_ + stageFrames_});
                current_ = nullptr;
            }
        }
    }

    // The device is gone or stuck: every header not yet heard goes back to the front of the
    // queue to be played again on the next device. The lock is held.
    void loseDevice(std::vector<WaveHeader*>& done) {
        std::deque<WaveHeader*> again;
        for (Written& w : written_) {
            if (w.endFrame <= lastPlayed_)
                done.push_back(w.header);
            else
                again.push_back(w.header);
        }
        written_.clear();
        if (current_) again.push_back(current_);
        current_ = nullptr;
        currentOffset_ = 0;
        queue_.insert(queue_.begin(), again.begin(), again.end());
        stageFrames_ = stageDone_ = 0;
        framesWritten_ = lastPlayed_ = 0;
        if (!lost_) lostSince_ = Clock::now();
        lost_ = true;
        pauseDrained_ = true;
        nextRetry_ = Clock::now() + kRetry;
        cv_.notify_all();
    }

    // What one turn of the worker did at the device, found with the lock released.
    struct Turn {
        bool lost = false;
        bool restarted = false;  // underrun recovered: everything written has been played
        bool havePlayed = false;
        std::uint64_t played = 0;
        snd_pcm_sframes_t wrote = 0;
        bool silence = false;
        bool idle = false;  // nothing could be done: wait a little
    };

    // Recovers from an underrun; false when the device is lost.
    bool recover(int err) {
        if (err == -EPIPE || err == -ESTRPIPE) return snd_pcm_prepare(pcm_) >= 0;
        return false;
    }

    Turn deviceTurn(bool sound, const std::uint8_t* data, snd_pcm_uframes_t frames, bool recentSound) {
        Turn t;
        snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED) {
            t.lost = !recover(state == SND_PCM_STATE_XRUN ? -EPIPE : -ESTRPIPE);
            t.restarted = true;
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
                t.restarted = true;
                return t;
            }
            if (r == 0) {
                if (delay < 0) delay = 0;
                const std::uint64_t d = static_cast<std::uint64_t>(delay);
                t.played = d >= framesWritten_ ? 0 : framesWritten_ - d;
                t.havePlayed = true;
            }
        }
        snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0) {
            t.lost = !recover(static_cast<int>(avail));
            t.restarted = true;
            return t;
        }
        if (!sound) {
            // Keeps a started stream running: tops it up with a period of silence when less
            // than half its buffer is left to play (early enough that a sound server never runs
            // dry and skips). A stream not started yet (less than its threshold queued) is
            // started only after a moment without more sound.
            if (state == SND_PCM_STATE_PREPARED) {
                if (recentSound) {
                    t.idle = true;
                    return t;
                }
                snd_pcm_start(pcm_);
            }
            if (static_cast<snd_pcm_uframes_t>(avail) < bufferFrames_ / 2) {
                t.idle = true;
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
            t.restarted = true;
            return t;
        }
        t.wrote = n;
        return t;
    }

    void run() {
        std::unique_lock lock(mutex_);
        std::vector<WaveHeader*> done;
        auto finishDone = [&] {
            if (done.empty()) return;
            lock.unlock();
            for (WaveHeader* h : done) finish(h);
            done.clear();
            lock.lock();
        };
        while (!closing_) {
            if (dropRequested_) {
                dropRequested_ = false;
                if (pcm_) {
                    lock.unlock();
                    snd_pcm_drop(pcm_);
                    snd_pcm_prepare(pcm_);
                    lock.lock();
                }
                framesWritten_ = lastPlayed_ = 0;
                continue;
            }
            const bool pending = !queue_.empty() || current_ || !written_.empty() || stageDone_ < stageFrames_;
            if (!pcm_) {
                // Lost: open again twice a second while there is something to play.
                if (!pending) {
                    cv_.wait(lock);
                    continue;
                }
                if (Clock::now() < nextRetry_) {
                    cv_.wait_until(lock, nextRetry_);
                    continue;
                }
                lock.unlock();
                snd_pcm_t* pcm = nullptr;
                const bool opened = openPcm(&pcm) == kOutputOk;
                lock.lock();
                if (opened) {
                    pcm_ = pcm;
                    lost_ = false;
                    lastProgress_ = Clock::now();
                    framesWritten_ = lastPlayed_ = 0;
                } else {
                    nextRetry_ = Clock::now() + kRetry;
                    if (!failed_ && Clock::now() - lostSince_ > kGiveUp) failed_ = true;
                }
                cv_.notify_all();
                continue;
            }
            const bool paused = wantPaused_;
            if (!paused && stageDone_ >= stageFrames_ && (current_ || !queue_.empty())) fillStage(bufferFrames_);
            const bool sound = !paused && stageDone_ < stageFrames_;
            const bool silence = !sound && (paused ? framesWritten_ > 0 : !written_.empty());
            if (!sound && !silence) {
                if (paused && !pauseDrained_) {
                    pauseDrained_ = true;
                    cv_.notify_all();
                }
                cv_.wait(lock);
                lastProgress_ = Clock::now();  // idle is not stuck
                continue;
            }
            const unsigned generation = generation_;
            const std::uint8_t* data = stage_.data() + stageDone_ * std::size_t(frameBytes_);
            const snd_pcm_uframes_t frames = stageFrames_ - stageDone_;
            const bool recentSound = Clock::now() - lastWrite_ < std::chrono::milliseconds(20);
            lock.unlock();
            Turn t = deviceTurn(sound, data, frames, recentSound);
            lock.lock();
            if (generation != generation_) continue;  // reset meanwhile: drop before anything else
            const auto now = Clock::now();
            if (t.lost) {
                lock.unlock();
                snd_pcm_close(pcm_);
                lock.lock();
                pcm_ = nullptr;
                loseDevice(done);
                finishDone();
                continue;
            }
            if (t.restarted) {
                // An underrun: everything written has been played.
                lastPlayed_ = framesWritten_;
                lastProgress_ = now;
            } else if (t.havePlayed && t.played > lastPlayed_) {
                lastPlayed_ = t.played;
                lastProgress_ = now;
            }
            if (t.wrote > 0) {
                lastProgress_ = now;
                framesWritten_ += static_cast<std::uint64_t>(t.wrote);
                if (!t.silence) {
                    stageDone_ += static_cast<snd_pcm_uframes_t>(t.wrote);
                    lastWrite_ = now;
                    // Sound written while a pause came in belongs to what it must wait for.
                    if (wantPaused_ && !pauseDrained_) pauseTarget_ = framesWritten_;
                }
            }
            if (now - lastProgress_ > kStallLimit && (sound || !written_.empty())) {
                // The device has taken and played nothing for a while (a server gone or
                // stuck): a fresh one cures it, from where the sound stopped.
                lock.unlock();
                snd_pcm_close(pcm_);
                lock.lock();
                pcm_ = nullptr;
                loseDevice(done);
                nextRetry_ = now;
                finishDone();
                continue;
            }
            while (!written_.empty() && written_.front().endFrame <= lastPlayed_) {
                done.push_back(written_.front().header);
                written_.pop_front();
            }
            if (paused && !pauseDrained_ && lastPlayed_ >= pauseTarget_) {
                pauseDrained_ = true;
                cv_.notify_all();
            }
            finishDone();
            if (t.idle) cv_.wait_for(lock, std::chrono::milliseconds(5));
        }
    }

    std::string device_;
    snd_pcm_t* pcm_ = nullptr;  // the worker's once it runs
    WaveFormat format_;
    int frameBytes_ = 4;

    std::mutex mutex_;
    std::condition_variable cv_;
    DoneCallback done_ = nullptr;
    void* context_ = nullptr;
    bool open_ = false;
    std::deque<WaveHeader*> queue_;
    WaveHeader* current_ = nullptr;
    std::uint32_t currentOffset_ = 0;  // frames of current_ copied to the stage
    std::deque<Written> written_;
    std::vector<std::uint8_t> stage_;  // the next frames to write, the worker's own copy
    snd_pcm_uframes_t stageFrames_ = 0, stageDone_ = 0;
    unsigned generation_ = 0;  // counts resets, so a write in flight meanwhile is dropped
    bool dropRequested_ = false;
    snd_pcm_uframes_t periodFrames_ = 1024;
    snd_pcm_uframes_t bufferFrames_ = 4096;
    std::vector<std::uint8_t> silence_;  // one period, written while paused
    std::uint64_t framesWritten_ = 0;    // to the current device
    std::uint64_t lastPlayed_ = 0;
    Clock::time_point lastWrite_{};  // of sound, not silence
    Clock::time_point lastProgress_{};
    bool lost_ = false, failed_ = false;
    Clock::time_point lostSince_{}, nextRetry_{};
    bool wantPaused_ = false;
    std::uint64_t pauseTarget_ = 0;  // frames written when the last pause was asked for
    bool pauseDrained_ = true;       // everything written before that pause has been heard
    bool closing_ = false;
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
