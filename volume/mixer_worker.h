#pragma once
// Runs the calls into a mixer on a thread of its own, so that a sound server that hangs (stopped,
// or too busy to answer) holds up that thread and never the caller: each call is waited for at
// most `bound`. A call that has not answered by then is abandoned: the caller hears "no answer"
// and the call runs on alone. Until it returns the worker is stuck, and every further call is
// refused at once without running.
//
// A job runs while its caller may have given up on it, so it owns (or shares) all it touches;
// a handle the caller gives up is passed to post(), which drops it on the worker once the
// abandoned call has let go of it.

#include <chrono>
#include <functional>
#include <memory>

namespace vesperon::volume {

class MixerWorker {
public:
    explicit MixerWorker(std::chrono::milliseconds bound);
    // Waits for an idle worker to end; leaves a stuck one to end by itself once its call returns.
    ~MixerWorker();
    MixerWorker(const MixerWorker&) = delete;
    MixerWorker& operator=(const MixerWorker&) = delete;

    // Runs `job` on the worker: true when it ran to its end within the bound. False at once while
    // the worker is stuck (the job does not run then).
    bool run(std::function<void()> job);
    // Queues `job` behind whatever the worker is doing, without waiting for it.
    void post(std::function<void()> job);
    // A call was abandoned and has not returned yet.
    bool stuck() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::chrono::milliseconds bound_;
};

}  // namespace vesperon::volume
