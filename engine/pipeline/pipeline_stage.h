#pragma once
// What the three stages of a play share: the two semaphores their thread waits on, the stage
// mutex, the paused and stop flags, the ring the stage writes and the ring it reads.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>

#include "engine/pipeline/stream_ring.h"
#include "engine/status/status.h"

namespace vesperon::engine {

// Where a stage reports that its play has ended: `why` is EndOfData when the last sound has been
// handed to the device, any other status when the play failed. Either way the player moves on.
// `play` names the play that reports, so that a late report from a play already replaced can be
// told apart. Called on the stage's thread.
class RequestSink {
public:
    virtual ~RequestSink() = default;
    virtual void playEnded(std::uint64_t play, Status why) = 0;
};

class PipelineStage {
public:
    PipelineStage(RequestSink* owner, std::uint64_t play) : owner_(owner), play_(play) {}
    virtual ~PipelineStage();
    PipelineStage(const PipelineStage&) = delete;
    PipelineStage& operator=(const PipelineStage&) = delete;

    virtual void pause();
    virtual void resume();
    virtual void signal();
    virtual Status resetOutput();
    void setInputRing(StreamRing* ring);
    // The play ended (EndOfData) or failed for this reason: told to the owner.
    void reportEnd(Status why);
    void reportFailure(Status why) { reportEnd(why); }
    // Waits for the signal semaphore; true when the stage is stopping.
    bool waitForSignal();
    // Waits for the resume semaphore; true when the stage is stopping.
    bool waitForResume();
    // Waits for the signal semaphore until `until` at the latest; true when the stage is stopping.
    bool waitForSignalUntil(std::chrono::steady_clock::time_point until);
    // The stage's thread, before it waits for its input: wake it once `bytes` unread bytes are
    // there, or whenever the writer stops writing (see inputWritten).
    void wantInput(std::size_t bytes) { wantInput_.store(bytes, std::memory_order_release); }
    // The writer's side, after each write: `available` unread bytes are there now; `pausing`
    // when the writer stops for a while (its output full, its input empty, a message, the end).
    // Wakes a reader that asked, once: so a reader woken for a batch sleeps through the rest.
    void inputWritten(std::size_t available, bool pausing) {
        const std::size_t want = wantInput_.load(std::memory_order_acquire);
        if (want == 0 || (!pausing && available < want)) return;
        if (wantInput_.exchange(0, std::memory_order_acq_rel) != 0) signal_.release();
    }

    bool paused() const { return paused_.load(std::memory_order_acquire); }
    bool stopping() const { return stop_.load(std::memory_order_acquire); }
    std::uint64_t play() const { return play_; }

protected:
    // Sets the stop flag and releases both semaphores so that every wait of the thread ends.
    void requestStop();
    // The base part of destruction: stop, release, close the output ring.
    void stopBase();

    // --- fixed at construction; read by every thread
    RequestSink* owner_;
    std::uint64_t play_;

    // --- thread-safe in themselves: released by any thread, acquired only by the stage's thread
    std::counting_semaphore<0x7fffffff> signal_{0};  // input has data or output has room
    std::counting_semaphore<0x7fffffff> resume_{0};  // the stage may go on after a pause

    // Serialises the controlling calls (set-up, pause, resume, stop, reset) made by the player's
    // threads. Plain, not recursive: no method calls another that takes it while holding it
    // (WaveRenderer::open uses openWithRingLocked). resetOutput() holds it while the output
    // ring waits for its reservations to end, so no thread that reserves in that ring may take
    // it: the reader and decoder threads never do, and the renderer, whose thread takes it to
    // open and close the device, has no output ring.
    std::mutex mutex_;
    // --- set under mutex_ before the stage's thread starts (the thread start orders them);
    // the stage's thread then reads them without the lock
    std::unique_ptr<StreamRing> output_;
    StreamRing* input_ = nullptr;

    // --- atomics: written under mutex_ (or by stopping), read by the stage's thread without it
    std::atomic<bool> paused_{false};
    std::atomic<bool> stop_{false};
    // --- set by the stage's thread before it waits for input, taken by its writer's thread
    std::atomic<std::size_t> wantInput_{0};
};

}  // namespace vesperon::engine
