#pragma once
// What every queued output shares: the header queue, one worker thread that copies queued sound
// into a stage and hands it to the device, returns each header once the device has played it
// (judged by the frames it reports played), and the bookkeeping of pause, reset, release and
// close. A backend only opens its device, writes frames to it and says how many it has played.
//
// The worker never calls the device while it holds the lock, so that writes, pause, reset and
// close return at once whatever the device does. When the device fails (a sound server gone) or
// takes and plays nothing for kStallLimit, the worker closes it, puts back every header not yet
// heard and opens the device again (at the backend's retryDelay); the play goes on from the
// last frame heard. After kGiveUp without a device, failed() is true and writes fail.
//
// release() lets the device outlive the renderer that opened it: what is still queued is copied
// and plays on, every header goes back at once, and the next track's sound follows it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/output/audio_output.h"

namespace vesperon::engine {

class QueuedOutput : public AudioOutput {
public:
    using Clock = std::chrono::steady_clock;

    ~QueuedOutput() override;

    Status open(const PcmFormat& format, DoneCallback done, void* context) final;
    Status write(WaveHeader* header) final;
    Status pause() final;
    bool pauseHeard() final;
    Status restart() final;
    Status reset() final;
    Status close() final;
    bool release() final;
    void rebind(DoneCallback done, void* context) final;
    bool busy() final;
    bool failed() final;
    std::uint64_t soundMark() final;
    std::uint64_t soundHeard() final;

protected:
    // What the worker asks of the device in one turn.
    struct Feed {
        const std::uint8_t* data = nullptr;  // sound to write (null: none; keep the device going)
        std::size_t frames = 0;
        bool paused = false;
        bool recentSound = false;   // sound was written within the last 20 ms
        std::uint64_t written = 0;  // frames written to this device since it opened or dropped
        std::uint64_t nextEnd = 0;  // where the oldest header at the device ends (0: none)
    };
    // What the device did in that turn.
    struct Turn {
        bool lost = false;       // the device is gone: close it and open another
        bool allPlayed = false;  // it recovered from an underrun: everything written was heard
        bool havePlayed = false;
        std::uint64_t played = 0;  // frames of those written that have been heard
        std::size_t wrote = 0;     // frames taken from the feed's sound, or of silence
        bool silence = false;      // what it wrote was silence of its own
        bool healthy = false;      // fine though it took and played nothing (a stopped clock)
        bool stopped = false;      // paused: the device has stopped sounding (its clock holds)
        Clock::time_point wakeAt{};  // the worker may sleep until then unless woken; {}: go on
    };
    static constexpr Clock::time_point kUntilWoken = Clock::time_point::max();

    // The backend, as a table of duties. openDevice runs in open() and, after a loss, on the
    // worker; everything else runs on the worker, or after it has ended. None is called with
    // the lock held, so a backend may take its own locks inside; its own threads may take the
    // lock (wakeWorker) inside theirs, since the worker never holds it while calling in.
    // Mandatory:
    //   openDevice: open for the format; Ok, BadFormat, or DeviceFailed (retried after a loss).
    //   closeDevice: close; `lost` when it failed (nothing need be drained or dropped).
    //   dropDevice: forget the sound it holds at once (after a reset); its played count
    //     starts again from 0, as the written count does.
    //   play: one turn (see Feed and Turn): write what it can, say what has been heard, and
    //     when to come back. While paused it stops sounding and reports stopped once it has.
    //   stageFrames: the most frames worth staging at a time; read on the worker only.
    virtual Status openDevice(const PcmFormat& format) = 0;
    virtual void closeDevice(bool lost) = 0;
    virtual void dropDevice() = 0;
    virtual Turn play(const Feed& feed) = 0;
    virtual std::size_t stageFrames() const = 0;
    // Optional:
    //   waitsForDevice: a failing first open waits for the device as a lost one is waited for.
    //   playsOnAtPause: the device still plays what it holds after a pause, so pauseHeard()
    //     turns true once that has been heard (judged by its played count and the clock);
    //     false when it reports stopped at a pause.
    //   retryDelay: how long after the n-th failed open (0 first) to try again.
    virtual bool waitsForDevice() const { return false; }
    virtual bool playsOnAtPause() const { return false; }
    virtual Clock::duration retryDelay(int failures) const;

    // Every backend's destructor calls it: ends the worker and closes the device.
    void stop();
    // For a backend's own threads (a client library's callbacks): the device has room, or its
    // state changed; the worker takes a turn now. Takes the lock; call it holding none the
    // worker could wait for while holding this one.
    void wakeWorker();

private:
    struct Written {
        WaveHeader* header;
        std::uint64_t endFrame;  // frames written to the device when this header was complete
        std::uint64_t soundEnd;  // where it ends on the sound timeline
        std::uint32_t frames;
    };
    // Sound written to the device in one piece: device frames [device, device + frames) are
    // the sound timeline's [sound, sound + frames).
    struct Segment {
        std::uint64_t device, sound, frames;
    };

    void run();
    void wake();
    void awaitCallbacks(std::unique_lock<std::mutex>& lock);
    bool pending() const;
    bool unheard() const;
    std::vector<WaveHeader*> takeAll();
    WaveHeader* own(WaveHeader* h, std::uint32_t fromFrame);
    void finish(WaveHeader* h);
    void fillStage(std::size_t room);
    void loseDevice(std::vector<WaveHeader*>& done);
    void putBackUnheard(std::vector<WaveHeader*>& done);
    void reopen(std::unique_lock<std::mutex>& lock);
    Clock::duration playTime(std::uint64_t frames) const;
    std::uint64_t framesIn(Clock::duration d) const;
    std::uint64_t heardAt(std::uint64_t played) const;

    // --- set by open() before the worker starts; read-only while it runs
    PcmFormat format_;
    std::size_t frameBytes_ = 4;
    std::thread worker_;  // started by open(), joined by stop()

    // --- the worker's alone: the device reads it without the lock
    std::vector<std::uint8_t> stage_;  // the next frames to write, copied from the headers

    // --- protected by mutex_; cv_ wakes the worker and whoever waits on it. No other lock is
    // taken while it is held; the device and the callback are called without it.
    std::mutex mutex_;
    std::condition_variable cv_;
    DoneCallback done_ = nullptr;  // rebind() and release() change them while the worker runs
    void* context_ = nullptr;
    bool open_ = false, closing_ = false;
    std::uint64_t changes_ = 0;  // counts what callers asked of the worker
    bool sleepingOnDevice_ = false;  // the worker sleeps on a device that holds plenty
    std::thread::id workerId_;
    bool notifying_ = false;  // the worker is calling back for headers outside the lock
    // The headers, oldest first: written by callers, taken by the worker, returned by reset().
    std::deque<WaveHeader*> queue_;    // not yet staged
    WaveHeader* current_ = nullptr;    // partly staged
    std::uint32_t currentOffset_ = 0;  // frames of current_ staged
    std::deque<Written> written_;      // wholly staged, not yet heard
    std::size_t stageSize_ = 0, stageDone_ = 0;  // frames in stage_, and of those written
    unsigned generation_ = 0;  // counts resets, so the result of a turn in flight is dropped
    bool dropRequested_ = false;
    // The device's position, counted by the worker.
    bool deviceOpen_ = false;
    std::uint64_t framesWritten_ = 0;  // since it opened or dropped
    std::uint64_t lastPlayed_ = 0;
    Clock::time_point lastWrite_{};  // of sound, not silence
    Clock::time_point lastProgress_{};
    bool lost_ = false, failed_ = false;
    Clock::time_point lostSince_{}, nextRetry_{};
    // Pause: asked by callers, honoured by the worker.
    bool wantPaused_ = false;
    std::uint64_t pauseTarget_ = 0;  // frames written when the last pause was asked for
    bool pauseHeard_ = true;         // everything written before that pause has been heard
    Clock::time_point heardNotBefore_{};  // and by the clock not before then
    // The sound timeline (see AudioOutput::soundMark).
    std::uint64_t soundAccepted_ = 0;  // frames of every header written, less those dropped
    std::uint64_t stageSound_ = 0;     // where stage_[0] lies on it
    std::uint64_t currentSound_ = 0;   // where current_ begins on it
    std::deque<Segment> segments_;     // written, not wholly heard; oldest first
    std::uint64_t heardBase_ = 0;      // heard up to here when segments_ is empty
    bool advancing_ = false;           // the played count moved at the last turn
    Clock::time_point playedAt_{};     // when lastPlayed_ was measured
    int failedOpens_ = 0;              // since the device was lost
};

}  // namespace vesperon::engine
