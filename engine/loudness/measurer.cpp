#include "engine/loudness/measurer.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/mpeg/source_file.h"

namespace vesperon::loudness {

using engine::Status;

namespace {

// The player's file reading, stopped early when the measurer is being destroyed.
class StoppableSource : public mpeg::FileByteSource {
public:
    StoppableSource(mpeg::SourceFile& file, const std::atomic<bool>& stop)
        : FileByteSource(file), stop_(stop) {}
    Status peek(std::size_t count, const std::uint8_t** data) override {
        if (stop_.load(std::memory_order_relaxed)) return Status::Stopping;
        return FileByteSource::peek(count, data);
    }

private:
    const std::atomic<bool>& stop_;
};

void lowerPriority() {
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
    // Where SCHED_IDLE is refused, the lowest nice value still keeps it out of the way.
    setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 19);
}

}  // namespace

Measurer::Measurer(LoudnessCache& cache, Measured measured)
    : cache_(cache), measured_(std::move(measured)), thread_([this] { run(); }) {}

Measurer::~Measurer() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Measurer::request(const std::vector<std::string>& paths) {
    bool added = false;
    {
        std::lock_guard lock(mutex_);
        for (const std::string& p : paths) {
            if (p.empty() || queued_.count(p)) continue;
            const auto stamp = stampOf(p);
            if (!stamp || cache_.find(p, *stamp)) continue;
            queue_.push_back(p);
            queued_.insert(p);
            added = true;
        }
    }
    if (added) wake_.notify_one();
}

std::optional<Loudness> Measurer::lookup(const std::string& path) {
    const auto stamp = stampOf(path);
    return stamp ? cache_.find(path, *stamp) : std::nullopt;
}

bool Measurer::idle() const {
    std::lock_guard lock(mutex_);
    return queue_.empty() && !busy_;
}

void Measurer::run() {
    lowerPriority();
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (queue_.empty()) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            continue;
        }
        const std::string path = queue_.front();
        queue_.pop_front();
        busy_ = true;
        lock.unlock();

        const auto before = stampOf(path);
        std::optional<Loudness> result;
        if (before) {
            mpeg::SourceFile file;
            if (file.open(path) == Status::Ok) {
                StoppableSource source(file, stop_);
                result = measureStream(source);
            }
        }
        // A file that changed while it was measured is measured again on its next request.
        const bool same = before && stampOf(path) == before;
        if (!stop_ && before && same) {
            // An unmeasurable file is kept too (as silence), so it is not decoded on every start.
            cache_.put(path, *before, result.value_or(Loudness{-70.0, -120.0, 0.0}));
            ++measuredCount_;
        }
        if (!stop_ && measured_ && same) measured_(path);

        lock.lock();
        queued_.erase(path);
        busy_ = false;
        if (queue_.empty() && !stop_) {
            lock.unlock();
            cache_.save();
            lock.lock();
        }
    }
}

}  // namespace vesperon::loudness
