#pragma once
// Behind Playback: a private copy of a play list, a play count, the state, and a service thread
// that takes the end reports of the running play and moves on to the next file. A play, a pause,
// removal and the processing of an end report are serialised on one lock.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "engine/pipeline/heard_position.h"
#include "engine/pipeline/pipeline_stage.h"
#include "engine/player/playback.h"
#include "engine/port/notice.h"

namespace vesperon::engine {

class WaveRenderer;

class Player : public RequestSink {
public:
    static constexpr std::size_t kPasswordCapacity = 512;

    // The names up to the first empty one. A negative count is stored as 0 (repeat for ever).
    Player(const std::vector<std::string>& files, int count);
    // Stops the play and the service thread.
    ~Player() override;

    // As Playback::play; password null keeps the last one given for the files that follow.
    Status play(NoticeSink sink, const char* password, int startPercent, std::int64_t startMicroseconds = 0);
    void setPaused(bool paused);
    PlayState state() const { return state_.load(); }
    // False while the sound held at a pause still plays. Never waits for the player's lock
    // (a track change may hold it): while it is taken the answer is false, ask again.
    bool pauseHeard();
    // Where the sound heard stands in the current play. Never waits for the player's lock:
    // while a track change holds it, the last answer is given again.
    HeardPosition heard();
    PlayEnd lastEnd() const;

    void playEnded(std::uint64_t play, Status why) override;

private:
    struct Request {
        std::uint64_t play;
        Status why;
    };

    void serviceLoop();
    void process(const Request& request);
    void startService();
    // play with lock_ held: also how the service thread moves on to the next file.
    Status playLocked(NoticeSink sink, const char* password, int startPercent,
                      std::int64_t startMicroseconds = 0);
    Status buildPipeline(const std::string& name, const NoticeSink& sink, const char* password);

    // Serialises play, setPaused, removal and the processing of an end report. Plain, not
    // recursive: the service thread goes on to the next file through playLocked(). Taken
    // before any stage's mutex; never taken by a stage's thread.
    std::mutex lock_;

    // --- guarded by lock_; touched by the caller's thread and the service thread
    std::vector<std::string> files_;  // fixed after construction
    std::size_t cursor_ = 0;          // index of the current name in files_
    int remaining_ = 0;
    std::string password_;  // the last password given, reused for the following files
    std::unique_ptr<WaveRenderer> pipeline_;
    std::uint64_t play_ = 0;  // the running pipeline's play number
    bool countRanOut_ = false;
    std::thread service_;  // started and joined under lock_, except by the constructor and destructor

    NoticeSink sink_;  // where the running play's end is told

    // --- atomics: written under lock_, read without it (state() from any thread; quit_ by the
    // service loop between requests)
    std::atomic<PlayState> state_{PlayState::Stopped};
    std::atomic<bool> quit_{false};

    // --- the request queue: queueMutex_ guards queue_; any stage's thread posts, the service
    // thread takes. Never held together with lock_.
    std::mutex queueMutex_;
    std::deque<Request> queue_;
    std::counting_semaphore<0x7fffffff> queueSignal_{0};  // one release per request, and at quit

    // --- heardMutex_ guards lastHeard_: the answer heard() gives while lock_ is taken
    std::mutex heardMutex_;
    HeardPosition lastHeard_;

    // --- endMutex_ guards lastEnd_: written under lock_ (a failed start, the service thread's
    // end of a play), read by any thread without it
    mutable std::mutex endMutex_;
    PlayEnd lastEnd_;
};

}  // namespace vesperon::engine
