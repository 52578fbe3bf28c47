#include "volume/mixer_worker.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace vesperon::volume {

// Shared by the owner and the thread, so that a thread left stuck at the owner's end still has
// its queue when its call returns.
struct MixerWorker::State {
    std::mutex mutex;              // guards the fields below; touched by the owner's thread and the worker
    std::condition_variable wake;  // the worker: a job or the end was queued
    std::condition_variable done;  // the owner: a job finished, or the worker ended
    std::deque<std::pair<std::uint64_t, std::function<void()>>> queue;
    std::uint64_t queued = 0;     // number of the last job queued
    std::uint64_t finished = 0;   // number of the last job that ran to its end
    std::uint64_t abandoned = 0;  // number of the last job given up on
    bool ending = false;
    bool ended = false;

    bool stuck() const { return finished < abandoned; }

    void loop() {
        std::unique_lock lock(mutex);
        while (true) {
            wake.wait(lock, [&] { return ending || !queue.empty(); });
            if (queue.empty()) break;
            auto [number, job] = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // what it held goes here, on this thread, without the lock
            lock.lock();
            finished = number;
            done.notify_all();
        }
        ended = true;
        done.notify_all();
    }
};

MixerWorker::MixerWorker(std::chrono::milliseconds bound) : state_(std::make_shared<State>()), bound_(bound) {
    std::thread([state = state_] { state->loop(); }).detach();
}

MixerWorker::~MixerWorker() {
    std::unique_lock lock(state_->mutex);
    state_->ending = true;
    state_->wake.notify_all();
    if (!state_->stuck()) state_->done.wait_for(lock, bound_, [&] { return state_->ended; });
}

bool MixerWorker::run(std::function<void()> job) {
    std::unique_lock lock(state_->mutex);
    if (state_->stuck()) return false;
    const std::uint64_t number = ++state_->queued;
    state_->queue.emplace_back(number, std::move(job));
    state_->wake.notify_all();
    if (state_->done.wait_for(lock, bound_, [&] { return state_->finished >= number; })) return true;
    state_->abandoned = number;
    return false;
}

void MixerWorker::post(std::function<void()> job) {
    std::lock_guard lock(state_->mutex);
    state_->queue.emplace_back(++state_->queued, std::move(job));
    state_->wake.notify_all();
}

bool MixerWorker::stuck() const {
    std::lock_guard lock(state_->mutex);
    return state_->stuck();
}

}  // namespace vesperon::volume
