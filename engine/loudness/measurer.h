#pragma once
// Measures tracks one after another on a thread of its own at idle priority (SCHED_IDLE and
// nice 19), so it only ever takes a core nobody else wants: the window and the sound never wait
// for it. Results go to the cache, which is saved whenever the queue runs empty, and each is
// told to `measured` (on the measuring thread).

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/loudness/loudness_cache.h"

namespace vesperon::loudness {

class Measurer {
public:
    using Measured = std::function<void(const std::string& path)>;

    // The cache outlives the measurer.
    Measurer(LoudnessCache& cache, Measured measured = {});
    // Abandons a measurement under way (at its next frame) and waits for the thread.
    ~Measurer();
    Measurer(const Measurer&) = delete;
    Measurer& operator=(const Measurer&) = delete;

    // Queues the paths the cache has no valid entry for (changed files again); returns at once.
    void request(const std::vector<std::string>& paths);
    // The cached measurement of the file as it is now.
    std::optional<Loudness> lookup(const std::string& path);
    // Nothing queued or being measured.
    bool idle() const;
    // Files measured since the start (for tests and benchmarks).
    int measuredCount() const { return measuredCount_.load(); }

private:
    void run();

    LoudnessCache& cache_;
    Measured measured_;
    std::atomic<bool> stop_{false};
    std::atomic<int> measuredCount_{0};

    // --- guarded by mutex_; the caller's threads queue, the measuring thread takes
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    std::set<std::string> queued_;  // in queue_ or being measured
    bool busy_ = false;

    std::thread thread_;  // last: started once the rest is set up
};

}  // namespace vesperon::loudness
