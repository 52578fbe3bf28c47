#include "engine/output/output_keeper.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace vesperon::engine {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kIdleClose = std::chrono::seconds(3);
// The longest a change of format waits for the kept device's tail: a device counts sound as
// played once heard, so this bounds only a device that stopped playing.
constexpr auto kTailWait = std::chrono::seconds(5);
constexpr auto kExitCloseWait = std::chrono::milliseconds(400);
}  // namespace

struct OutputKeeper::State {
    // --- protected by mutex: taken by plays (take, give) on their renderer threads, by the
    // closer and by exit. Asking the kept device busy()/failed() takes its lock inside this one;
    // a device is reset and closed only once moved out of `kept`, with this lock released.
    std::mutex mutex;
    std::condition_variable cv;  // wakes the closer to quit
    std::unique_ptr<AudioOutput> kept;
    PcmFormat format;
    Clock::time_point quietSince{};  // when the kept device was last seen playing
    bool quit = false;
    bool closerRunning = false;  // the closer has not yet left closeIdle()
    std::thread closer;          // (re)started by give() under mutex; joined last by the destructor

    // Closes the kept device once it has been quiet for kIdleClose, then ends (a device given
    // later starts it again). Asking the device whether it plays never waits on it; closing it
    // happens without the lock.
    void closeIdle() {
        std::unique_lock lock(mutex);
        while (!quit && kept) {
            cv.wait_for(lock, std::chrono::milliseconds(250));
            if (!kept) break;
            if (kept->busy()) quietSince = Clock::now();
            if (!kept->failed() && Clock::now() - quietSince < kIdleClose) continue;
            std::unique_ptr<AudioOutput> device = std::move(kept);
            lock.unlock();
            device->reset();
            device->close();
            device.reset();
            lock.lock();
        }
        closerRunning = false;
    }
};

OutputKeeper& OutputKeeper::instance() {
    static OutputKeeper keeper;
    return keeper;
}

OutputKeeper::OutputKeeper() : s_(std::make_unique<State>()) {}

OutputKeeper::~OutputKeeper() {
    {
        std::lock_guard lock(s_->mutex);
        s_->quit = true;
        s_->cv.notify_all();
    }
    if (s_->closer.joinable()) s_->closer.join();
    // At exit a device whose sound server hangs (stopped, not dead) would hold the program up
    // until it gives up on the server: it is closed on a thread of its own, waited for a little,
    // then left to the end of the process.
    std::unique_ptr<AudioOutput> device;
    {
        std::lock_guard lock(s_->mutex);
        device = std::move(s_->kept);
    }
    if (!device) return;
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    std::thread([device = std::move(device), closed = std::move(closed)]() mutable {
        device->reset();
        device->close();
        device.reset();
        closed.set_value();
    }).detach();
    done.wait_for(kExitCloseWait);
}

void OutputKeeper::closeNow() {
    std::unique_ptr<AudioOutput> device;
    {
        std::lock_guard lock(s_->mutex);
        device = std::move(s_->kept);
    }
    if (device) {
        device->reset();
        device->close();
    }
}

void OutputKeeper::playOutAndClose(double seconds) {
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        {
            std::lock_guard lock(s_->mutex);
            if (!s_->kept || !s_->kept->busy() || s_->kept->failed()) break;
        }
        if (Clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    closeNow();
}

std::unique_ptr<AudioOutput> OutputKeeper::take(const PcmFormat& format, AudioOutput::DoneCallback done,
                                                void* context, Status* result) {
    std::unique_ptr<AudioOutput> device;
    PcmFormat keptFormat;
    {
        std::lock_guard lock(s_->mutex);
        device = std::move(s_->kept);
        keptFormat = s_->format;
    }
    if (device && !device->failed() && format.sameSound(keptFormat)) {
        device->rebind(done, context);
        device->restart();
        if (result) *result = Status::Ok;
        return device;
    }
    if (device) {
        // Another format: let the last track's tail be heard first, then close.
        const auto until = Clock::now() + kTailWait;
        while (!device->failed() && device->busy() && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        device->reset();
        device->close();
        device.reset();
    }
    return openAudioOutput(format, done, context, result);
}

void OutputKeeper::give(std::unique_ptr<AudioOutput> device, const PcmFormat& format) {
    if (!device) return;
    std::unique_ptr<AudioOutput> old;
    {
        std::lock_guard lock(s_->mutex);
        old = std::move(s_->kept);
        s_->kept = std::move(device);
        s_->format = format;
        s_->quietSince = Clock::now();
        if (!s_->closerRunning) {
            if (s_->closer.joinable()) s_->closer.join();  // it has ended, or is just ending
            s_->closerRunning = true;
            s_->closer = std::thread([s = s_.get()] { s->closeIdle(); });
        }
    }
    if (old) {
        old->reset();
        old->close();
    }
}

}  // namespace vesperon::engine
