#include "engine/output/output_keeper.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace vesperon::engine {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kIdleClose = std::chrono::seconds(3);
// How often a kept device still playing its tail is looked at again.
constexpr auto kTailLook = std::chrono::milliseconds(500);
// The longest a change of format waits for the kept device's tail: a device counts sound as
// played once heard, so this bounds only a device that stopped playing.
constexpr auto kTailWait = std::chrono::seconds(5);
constexpr auto kTailStep = std::chrono::milliseconds(50);
// How much later than the device's latency a new device's first sound is heard: measured on
// PulseAudio, 44.1-kHz stereo then 22.05-kHz mono, about 50 ms more (a seam of 51 ms without
// it); less is taken, so that the jitter of the estimate of the sound heard (10 ms) does not
// start the next track over the last one.
constexpr auto kNewDeviceStart = std::chrono::milliseconds(35);
constexpr auto kExitCloseWait = std::chrono::milliseconds(400);
}  // namespace

struct OutputKeeper::State {
    // --- protected by mutex: taken by plays (take, give) on their renderer threads, by the
    // closer and by exit. Asking the kept device busy()/failed() takes its lock inside this one;
    // a device is reset and closed only once moved out of `kept`, with this lock released.
    std::mutex mutex;
    std::condition_variable cv;  // wakes the closer to quit
    std::unique_ptr<AudioOutput> kept;
    std::vector<std::unique_ptr<AudioOutput>> retiring;  // playing out their tail, then closed
    PcmFormat format;
    Clock::time_point quietSince{};  // when the kept device was last seen playing
    bool quit = false;
    bool closerRunning = false;  // the closer has not yet left closeIdle()
    std::thread closer;          // (re)started by give() under mutex; joined last by the destructor
    bool opening = false;        // a device is being opened ahead (openAhead)
    std::condition_variable opened;  // it has been kept or dropped
    std::thread opener;              // started by openAhead under mutex

    // With mutex held: starts the closer unless it runs.
    void startCloser() {
        if (closerRunning) {
            cv.notify_all();
            return;
        }
        if (closer.joinable()) closer.join();  // it has ended, or is just ending
        closerRunning = true;
        closer = std::thread([this] { closeIdle(); });
    }

    // Closes the kept device once it has been quiet for kIdleClose, and each retired one once
    // it has played out; then ends (a device given or retired later starts it again). It looks
    // when the kept device would be due, and again while one still plays (a tail lasts a
    // second at most). Asking a device whether it plays never waits on it; closing it happens
    // without the lock.
    void closeIdle() {
        std::unique_lock lock(mutex);
        while (!quit && (kept || !retiring.empty())) {
            auto due = kept ? quietSince + kIdleClose : Clock::time_point::max();
            if (!retiring.empty()) due = std::min(due, Clock::now() + kTailLook);
            cv.wait_until(lock, due);
            if (quit) break;
            std::vector<std::unique_ptr<AudioOutput>> done;
            for (auto it = retiring.begin(); it != retiring.end();) {
                if ((*it)->busy() && !(*it)->failed()) {
                    ++it;
                    continue;
                }
                done.push_back(std::move(*it));
                it = retiring.erase(it);
            }
            if (kept) {
                if (kept->busy()) quietSince = Clock::now() - kIdleClose + kTailLook;
                if (kept->failed() || Clock::now() - quietSince >= kIdleClose)
                    done.push_back(std::move(kept));
            }
            if (done.empty()) continue;
            lock.unlock();
            for (auto& device : done) {
                device->reset();
                device->close();
            }
            done.clear();
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
        std::unique_lock lock(s_->mutex);
        s_->quit = true;
        s_->cv.notify_all();
        // A device still opening ahead against a server that hangs is left to the end of the
        // process, with the state it reaches.
        if (!s_->opened.wait_for(lock, kExitCloseWait, [&] { return !s_->opening; })) {
            s_->opener.detach();
            lock.unlock();
            if (s_->closer.joinable()) s_->closer.join();
            (void)s_.release();  // the opener may still use it
            return;
        }
    }
    if (s_->opener.joinable()) s_->opener.join();
    if (s_->closer.joinable()) s_->closer.join();
    // At exit a device whose sound server hangs (stopped, not dead) would hold the program up
    // until it gives up on the server: it is closed on a thread of its own, waited for a little,
    // then left to the end of the process.
    std::vector<std::unique_ptr<AudioOutput>> devices;
    {
        std::lock_guard lock(s_->mutex);
        devices.swap(s_->retiring);
        if (s_->kept) devices.push_back(std::move(s_->kept));
    }
    if (devices.empty()) return;
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    std::thread([devices = std::move(devices), closed = std::move(closed)]() mutable {
        for (auto& device : devices) {
            device->reset();
            device->close();
            device.reset();
        }
        closed.set_value();
    }).detach();
    done.wait_for(kExitCloseWait);
}

void OutputKeeper::closeNow() {
    std::vector<std::unique_ptr<AudioOutput>> devices;
    {
        std::lock_guard lock(s_->mutex);
        devices.swap(s_->retiring);
        if (s_->kept) devices.push_back(std::move(s_->kept));
    }
    for (auto& device : devices) {
        device->reset();
        device->close();
    }
}

void OutputKeeper::playOutAndClose(double seconds) {
    const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    auto playing = [](const std::unique_ptr<AudioOutput>& d) { return d && d->busy() && !d->failed(); };
    for (;;) {
        {
            std::lock_guard lock(s_->mutex);
            if (!playing(s_->kept) && std::none_of(s_->retiring.begin(), s_->retiring.end(), playing)) break;
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
        std::unique_lock lock(s_->mutex);
        // A device opening ahead is further on than one opened now would be.
        s_->opened.wait(lock, [&] { return !s_->opening; });
        device = std::move(s_->kept);
        keptFormat = s_->format;
    }
    if (device && !device->failed() && format.sameSound(keptFormat)) {
        device->rebind(done, context);
        device->restart();
        if (result) *result = Status::Ok;
        return device;
    }
    if (!device) return openAudioOutput(format, done, context, result);
    // Another format: a new device opens while the last track's tail plays, and is handed out
    // when that tail is about to end, so that the next sound, heard after the device's own
    // latency, follows it. Without a new device, the old one goes first.
    std::unique_ptr<AudioOutput> fresh = openAudioOutput(format, done, context, result);
    // Both play through one sink: the one that has played knows its latency best. A new stream
    // takes a little longer again to sound (its first sound is mixed in after its prebuffer).
    if (fresh)
        waitTail(*device, keptFormat.sampleRate,
                 std::max(device->heardAfter(), fresh->heardAfter()) + kNewDeviceStart);
    else
        waitTail(*device, keptFormat.sampleRate, std::chrono::microseconds(0));
    if (device->failed() || !device->busy()) {
        device->reset();
        device->close();
        device.reset();
    } else {
        retire(std::move(device));
    }
    return fresh ? std::move(fresh) : openAudioOutput(format, done, context, result);
}

void OutputKeeper::waitTail(AudioOutput& device, int rate, std::chrono::microseconds lead) {
    const auto until = Clock::now() + kTailWait;
    while (!device.failed() && device.busy() && Clock::now() < until && rate > 0) {
        const std::uint64_t mark = device.soundMark(), heard = device.soundHeard();
        const auto left =
            std::chrono::microseconds((mark > heard ? mark - heard : 0) * 1000000 / std::uint64_t(rate));
        if (left <= lead) break;
        // Looked at again now and then, as the device's estimate of the sound heard moves.
        std::this_thread::sleep_for(std::min<Clock::duration>(left - lead, kTailStep));
    }
}

void OutputKeeper::retire(std::unique_ptr<AudioOutput> device) {
    std::lock_guard lock(s_->mutex);
    s_->retiring.push_back(std::move(device));
    s_->startCloser();
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
        s_->startCloser();
    }
    if (old) {
        old->reset();
        old->close();
    }
}

void OutputKeeper::openAhead(std::unique_ptr<AudioOutput> device, const PcmFormat& format) {
    if (!device) return;
    std::lock_guard lock(s_->mutex);
    if (s_->opening || s_->kept || s_->quit) return;
    if (s_->opener.joinable()) s_->opener.join();  // it has ended, or is just ending
    s_->opening = true;
    s_->opener = std::thread([this, format, d = std::move(device)]() mutable {
        const bool ok = d->open(format, nullptr, nullptr) == Status::Ok;
        {
            std::lock_guard lock(s_->mutex);
            if (ok && !s_->kept && !s_->quit) {
                s_->kept = std::move(d);
                s_->format = format;
                s_->quietSince = Clock::now();
                s_->startCloser();
            }
            s_->opening = false;
            s_->opened.notify_all();
        }
        if (d && ok) d->close();
    });
}

}  // namespace vesperon::engine
