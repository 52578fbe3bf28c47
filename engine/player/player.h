#pragma once
// One player: a private copy of a play list, a play count, the state, and a service thread that
// takes the end-of-file and failure requests of the running play and moves on to the next file.
// NewPlay, SetPauseState, removal and the processing of a request are serialised on one lock.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "engine/pipeline/pipeline_stage.h"
#include "engine/pipeline/heard_position.h"
#include "engine/port/message_port.h"

namespace vesperon::engine {

class WaveRenderer;

class Player : public RequestSink {
public:
    static constexpr std::size_t kPasswordCapacity = 512;

    enum class State { Stopped, Playing, Paused };

    // list: NUL-terminated names followed by one more NUL. A negative count is stored as 0
    // (repeat for ever).
    Player(const char* list, int count);
    // Stops the play and the service thread.
    ~Player() override;

    void newPlay(WindowHandle window, const char* password, int startPercent);
    void setPauseState(int pause);
    // 1 Playing, -1 Paused, 0 Stopped.
    int playState() const;
    // False while the sound held at a pause still plays. Never waits for the player's lock
    // (a track change may hold it): while it is taken the answer is false, ask again.
    bool pauseHeard();
    // Where the sound heard stands in the current play. Never waits for the player's lock:
    // while a track change holds it, the last answer is given again.
    HeardPosition heard();

    void postRequest(StageRequest request, std::uint64_t play) override;

    // The byte count of a list up to and including its terminating empty name.
    static std::size_t listLength(const char* list);

private:
    struct Request {
        StageRequest code;
        std::uint64_t play;
    };

    void serviceLoop();
    void process(const Request& request);
    void startService();
    // newPlay with lock_ held: also how the service thread moves on to the next file.
    void newPlayLocked(WindowHandle window, const char* password, int startPercent);
    Status buildPipeline(const char* name, WindowHandle window, const char* password);

    // Serialises NewPlay, SetPauseState, removal and the processing of a request. Plain, not
    // recursive: the service thread goes on to the next file through newPlayLocked(). Taken
    // before any stage's mutex; never taken by a stage's thread.
    std::mutex lock_;

    // --- guarded by lock_; touched by the caller's thread (the command layer) and the service
    // thread
    std::vector<char> list_;  // empty when the caller's list was empty; fixed after construction
    std::size_t cursor_ = 0;  // offset of the current name in list_
    int remaining_ = 0;
    std::string password_;  // the last password given, reused for the following files
    std::unique_ptr<WaveRenderer> pipeline_;
    std::uint64_t play_ = 0;  // the running pipeline's play number
    bool countRanOut_ = false;
    std::thread service_;  // started and joined under lock_, except by the constructor and destructor

    // --- atomics: written under lock_, read without it (playState() from any thread; quit_
    // by the service loop between requests)
    std::atomic<State> state_{State::Stopped};
    std::atomic<WindowHandle> notify_{0};
    std::atomic<bool> quit_{false};

    // --- the request queue: queueMutex_ guards queue_; any stage's thread posts, the service
    // thread takes. Never held together with lock_.
    std::mutex queueMutex_;
    std::deque<Request> queue_;
    std::counting_semaphore<0x7fffffff> queueSignal_{0};  // one release per request, and at quit

    // --- heardMutex_ guards lastHeard_: the answer heard() gives while lock_ is taken
    std::mutex heardMutex_;
    HeardPosition lastHeard_;
};

}  // namespace vesperon::engine
