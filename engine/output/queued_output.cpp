#include "engine/output/queued_output.h"

#include <algorithm>
#include <cstring>

namespace vesperon::engine {

namespace {

constexpr auto kStallLimit = std::chrono::seconds(2);
constexpr auto kRetry = std::chrono::milliseconds(500);
// The heard position runs on by the clock between the device's reports, but never further than
// this: a little more than the longest a worker sleeps between reports while sound plays (the
// pulse backend's 0.7 s between the server's requests), so the position never stalls between
// them, and a device that stopped is caught up with soon after.
constexpr auto kExtrapolateLimit = std::chrono::milliseconds(850);
constexpr auto kGiveUp = std::chrono::seconds(15);
constexpr auto kRecentSound = std::chrono::milliseconds(20);
// Below this held by the device, a header written while the worker sleeps wakes it.
constexpr auto kHoldsLittle = std::chrono::milliseconds(100);
// Added to the earliest moment the sound held at a pause can have been heard, for the jitter of
// the played count that moment is computed from.
constexpr auto kHeardMargin = std::chrono::milliseconds(100);

// Sound still to play after the renderer that queued it has gone.
struct OwnedHeader : WaveHeader {
    std::vector<std::uint8_t> bytes;
};
constexpr std::uint32_t kOwned = 0x1000;

}  // namespace

QueuedOutput::~QueuedOutput() {
    // The backend has stopped the worker; what is left goes back (or is freed, if ours).
    for (WaveHeader* h : takeAll()) finish(h);
}

Status QueuedOutput::open(const PcmFormat& format, DoneCallback done, void* context) {
    if (worker_.joinable()) return Status::DeviceFailed;
    if (format.bitsPerSample != 16 || format.channels < 1 || format.channels > 8 || format.sampleRate <= 0 ||
        format.sampleRate > 768000)
        return Status::BadFormat;
    format_ = format;
    frameBytes_ = static_cast<std::size_t>(format.bytesPerSampleFrame());
    const Status r = openDevice(format);
    // A device that has played before and is away (a sound server restarting, say) is waited
    // for as one lost mid-play is, rather than played to nothing.
    const bool away = r == Status::DeviceFailed && waitsForDevice();
    if (r != Status::Ok && !away) return r;
    std::lock_guard lock(mutex_);
    done_ = done;
    context_ = context;
    closing_ = false;
    open_ = true;
    deviceOpen_ = !away;
    lost_ = away;
    lostSince_ = lastProgress_ = nextRetry_ = Clock::now();
    framesWritten_ = lastPlayed_ = 0;
    failedOpens_ = 0;
    worker_ = std::thread([this] { run(); });
    return Status::Ok;
}

Status QueuedOutput::write(WaveHeader* h) {
    if (!h || !(h->flags & WaveHeader::kPrepared)) return Status::HeaderUnprepared;
    std::lock_guard lock(mutex_);
    if (!open_ || failed_) return Status::DeviceFailed;
    h->flags = (h->flags & ~WaveHeader::kDone) | WaveHeader::kInQueue;
    queue_.push_back(h);
    soundAccepted_ += h->bufferLength / frameBytes_;
    // A worker asleep until its device wants more takes this header when it wakes: waking it
    // for every header would double its wake-ups.
    ++changes_;
    if (!sleepingOnDevice_) cv_.notify_all();
    return Status::Ok;
}

// Never waits for the device: the caller asks pauseHeard() when it has gone quiet (a fade-out
// puts the volume back only then).
Status QueuedOutput::pause() {
    std::lock_guard lock(mutex_);
    if (wantPaused_) return Status::Ok;
    wantPaused_ = true;
    pauseHeard_ = false;
    heardNotBefore_ = {};
    if (playsOnAtPause()) {
        pauseTarget_ = framesWritten_;
        const std::uint64_t held = framesWritten_ - std::min(lastPlayed_, framesWritten_);
        if (held) heardNotBefore_ = Clock::now() + playTime(held) + kHeardMargin;
    }
    wake();
    return Status::Ok;
}

// The played count and the clock must both agree: a device plays in real time, while the count
// through a sound server is an estimate (interpolated between its timing reports; after an
// underrun all that was written counts as played).
bool QueuedOutput::pauseHeard() {
    std::lock_guard lock(mutex_);
    return (pauseHeard_ && Clock::now() >= heardNotBefore_) || closing_ || !open_ || lost_;
}

QueuedOutput::Clock::duration QueuedOutput::playTime(std::uint64_t frames) const {
    return std::chrono::microseconds(frames * 1000000 / static_cast<std::uint64_t>(format_.sampleRate));
}

std::uint64_t QueuedOutput::framesIn(Clock::duration d) const {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(d).count()) *
           static_cast<std::uint64_t>(format_.sampleRate) / 1000000;
}

QueuedOutput::Clock::duration QueuedOutput::retryDelay(int) const {
    return kRetry;
}

Status QueuedOutput::restart() {
    std::lock_guard lock(mutex_);
    wantPaused_ = false;
    pauseHeard_ = true;
    heardNotBefore_ = {};
    wake();
    return Status::Ok;
}

// Where `played` device frames lie on the sound timeline; the lock is held.
std::uint64_t QueuedOutput::heardAt(std::uint64_t played) const {
    if (segments_.empty()) return heardBase_;
    const Segment& s = segments_.front();
    return s.sound + (played <= s.device ? 0 : std::min(played - s.device, s.frames));
}

std::uint64_t QueuedOutput::soundHeard() {
    std::lock_guard lock(mutex_);
    std::uint64_t played = lastPlayed_;
    if (advancing_ && !wantPaused_ && deviceOpen_ && !lost_) {
        // Between two reports the device plays on in real time.
        const auto ran = std::min<Clock::duration>(Clock::now() - playedAt_, kExtrapolateLimit);
        if (ran.count() > 0)
            played += static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(ran).count()) *
                      static_cast<std::uint64_t>(format_.sampleRate) / 1000000;
    }
    return heardAt(played);
}

std::uint64_t QueuedOutput::soundMark() {
    std::lock_guard lock(mutex_);
    return soundAccepted_;
}

Status QueuedOutput::reset() {
    std::vector<WaveHeader*> returned;
    {
        std::unique_lock lock(mutex_);
        if (!open_) return Status::DeviceFailed;
        awaitCallbacks(lock);
        const bool sounding = pending() || stageDone_ < stageSize_;
        // What was not heard is dropped from the timeline too.
        heardBase_ = heardAt(lastPlayed_);
        segments_.clear();
        soundAccepted_ = stageSound_ = currentSound_ = heardBase_;
        advancing_ = false;
        returned = takeAll();
        // The worker drops what the device holds before it writes anything else.
        if (sounding) dropRequested_ = true;
        wantPaused_ = false;
        pauseHeard_ = true;
        heardNotBefore_ = {};
        wake();
    }
    for (WaveHeader* h : returned) finish(h);
    return Status::Ok;
}

Status QueuedOutput::close() {
    {
        std::lock_guard lock(mutex_);
        if (!open_) return Status::DeviceFailed;
        if (pending()) return Status::StillPlaying;
    }
    stop();
    return Status::Ok;
}

bool QueuedOutput::release() {
    if (!keepsOpen()) return false;
    std::vector<WaveHeader*> returned;
    {
        std::unique_lock lock(mutex_);
        if (!open_) return false;
        awaitCallbacks(lock);
        // What the device holds already is the worker's copy: those headers go back now.
        std::deque<Written> kept;
        for (Written& w : written_) {
            if (w.header->flags & kOwned)
                kept.push_back(w);
            else
                returned.push_back(w.header);
        }
        written_.swap(kept);
        if (current_ && !(current_->flags & kOwned)) {
            returned.push_back(current_);
            current_ = own(current_, currentOffset_);
            currentSound_ += currentOffset_;
            currentOffset_ = 0;
        }
        for (WaveHeader*& h : queue_) {
            if (h->flags & kOwned) continue;
            returned.push_back(h);
            h = own(h, 0);
        }
    }
    for (WaveHeader* h : returned) finish(h);
    std::lock_guard lock(mutex_);
    done_ = nullptr;
    context_ = nullptr;
    return true;
}

void QueuedOutput::rebind(DoneCallback done, void* context) {
    std::lock_guard lock(mutex_);
    done_ = done;
    context_ = context;
}

bool QueuedOutput::busy() {
    std::lock_guard lock(mutex_);
    return pending() || unheard();
}

// Sound written to the open device and not yet heard: after release() it is no header's, as
// the renderer that gave it has gone. The lock is held.
bool QueuedOutput::unheard() const {
    return deviceOpen_ && !lost_ && heardAt(lastPlayed_) < soundAccepted_;
}

bool QueuedOutput::failed() {
    std::lock_guard lock(mutex_);
    return failed_;
}

// Tells the worker that a caller changed something; the lock is held.
void QueuedOutput::wake() {
    ++changes_;
    cv_.notify_all();
}

void QueuedOutput::wakeWorker() {
    std::lock_guard lock(mutex_);
    wake();
}

void QueuedOutput::stop() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        open_ = false;
        wake();
    }
    if (worker_.joinable()) worker_.join();
    if (deviceOpen_) closeDevice(false);
    deviceOpen_ = false;
}

// Once reset() or release() returns, the caller may free its headers and its context: no
// callback of the worker's may still be running on them. The worker itself may call either.
void QueuedOutput::awaitCallbacks(std::unique_lock<std::mutex>& lock) {
    if (std::this_thread::get_id() == workerId_) return;
    cv_.wait(lock, [&] { return !notifying_; });
}

// Headers queued or at the device; the lock is held.
bool QueuedOutput::pending() const {
    return !queue_.empty() || current_ || !written_.empty();
}

// Every header queued or at the device, in order; the lock is held (or the worker is gone).
std::vector<WaveHeader*> QueuedOutput::takeAll() {
    std::vector<WaveHeader*> all;
    for (auto& w : written_) all.push_back(w.header);
    written_.clear();
    if (current_) all.push_back(current_);
    current_ = nullptr;
    for (WaveHeader* h : queue_) all.push_back(h);
    queue_.clear();
    stageSize_ = stageDone_ = 0;
    ++generation_;
    return all;
}

// A copy of the frames of h from `fromFrame` on, queued in its place.
WaveHeader* QueuedOutput::own(WaveHeader* h, std::uint32_t fromFrame) {
    auto* o = new OwnedHeader;
    const std::size_t from = std::size_t(fromFrame) * frameBytes_;
    if (from < h->bufferLength) o->bytes.assign(h->data + from, h->data + h->bufferLength);
    o->data = o->bytes.data();
    o->bufferLength = static_cast<std::uint32_t>(o->bytes.size());
    o->flags = WaveHeader::kPrepared | WaveHeader::kInQueue | kOwned;
    return o;
}

void QueuedOutput::finish(WaveHeader* h) {
    if (h->flags & kOwned) {
        delete static_cast<OwnedHeader*>(h);
        return;
    }
    h->flags = (h->flags & ~WaveHeader::kInQueue) | WaveHeader::kDone;
    DoneCallback done;
    void* context;
    {
        std::lock_guard lock(mutex_);
        done = done_;
        context = context_;
    }
    if (done) done(context, h);
}

// Copies up to `room` frames of the queued headers into the stage; the lock is held.
void QueuedOutput::fillStage(std::size_t room) {
    const std::size_t fb = frameBytes_;
    stageSound_ = current_ ? currentSound_ + currentOffset_ : stageSound_ + stageSize_;
    stageSize_ = stageDone_ = 0;
    stage_.resize(room * fb);
    while (stageSize_ < room) {
        if (!current_) {
            if (queue_.empty()) break;
            current_ = queue_.front();
            queue_.pop_front();
            currentOffset_ = 0;
            currentSound_ = stageSound_ + stageSize_;
        }
        const std::uint32_t frames = static_cast<std::uint32_t>(current_->bufferLength / fb);
        const std::uint32_t n =
            static_cast<std::uint32_t>(std::min<std::size_t>(frames - currentOffset_, room - stageSize_));
        std::memcpy(stage_.data() + stageSize_ * fb, current_->data + std::size_t(currentOffset_) * fb, n * fb);
        currentOffset_ += n;
        stageSize_ += n;
        if (currentOffset_ >= frames) {
            written_.push_back({current_, framesWritten_ + stageSize_, stageSound_ + stageSize_, frames});
            current_ = nullptr;
        }
    }
}

// The device is gone or stuck: every header not yet heard goes back to the front of the queue
// to be played again on the next device. The lock is held.
void QueuedOutput::loseDevice(std::vector<WaveHeader*>& done) {
    putBackUnheard(done);
    deviceOpen_ = false;
    if (!lost_) lostSince_ = Clock::now();
    lost_ = true;
    pauseHeard_ = true;
    heardNotBefore_ = {};
    failedOpens_ = 0;
    nextRetry_ = Clock::now() + retryDelay(0);
    cv_.notify_all();
}

// Headers heard go to `done`; the rest go back to the front of the queue, the first of them
// from its first frame not heard, and the device's counts start again. The lock is held.
void QueuedOutput::putBackUnheard(std::vector<WaveHeader*>& done) {
    std::deque<WaveHeader*> again;
    std::uint32_t resumeAt = 0;
    std::uint64_t resumeSound = 0;
    for (Written& w : written_) {
        if (w.endFrame <= lastPlayed_) {
            done.push_back(w.header);
            continue;
        }
        if (again.empty()) {
            const std::uint64_t start = w.endFrame - w.frames;
            resumeAt = lastPlayed_ > start ? static_cast<std::uint32_t>(lastPlayed_ - start) : 0;
            resumeSound = w.soundEnd - w.frames;
        }
        again.push_back(w.header);
    }
    written_.clear();
    if (current_) {
        if (again.empty()) resumeSound = currentSound_;
        again.push_back(current_);
    }
    current_ = nullptr;
    currentOffset_ = 0;
    if (!again.empty()) {
        current_ = again.front();
        again.pop_front();
        currentOffset_ = resumeAt;
        currentSound_ = resumeSound;
        heardBase_ = resumeSound + resumeAt;
    } else {
        heardBase_ = stageSound_ + stageSize_;
    }
    stageSound_ = heardBase_;
    segments_.clear();
    advancing_ = false;
    queue_.insert(queue_.begin(), again.begin(), again.end());
    stageSize_ = stageDone_ = 0;
    framesWritten_ = lastPlayed_ = 0;
}

// Lost: opens the device again, at the backend's pace, while there is something to play.
void QueuedOutput::reopen(std::unique_lock<std::mutex>& lock) {
    if (!pending()) {
        cv_.wait(lock);
        return;
    }
    if (Clock::now() < nextRetry_) {
        cv_.wait_until(lock, nextRetry_);
        return;
    }
    lock.unlock();
    const bool opened = openDevice(format_) == Status::Ok;
    lock.lock();
    if (opened) {
        deviceOpen_ = true;
        lost_ = false;
        lastProgress_ = Clock::now();
        framesWritten_ = lastPlayed_ = 0;
    } else {
        nextRetry_ = Clock::now() + retryDelay(++failedOpens_);
        if (!failed_ && Clock::now() - lostSince_ > kGiveUp) failed_ = true;
    }
    cv_.notify_all();
}

void QueuedOutput::run() {
    std::unique_lock lock(mutex_);
    workerId_ = std::this_thread::get_id();
    std::vector<WaveHeader*> done;
    auto finishDone = [&] {
        if (done.empty()) return;
        notifying_ = true;
        lock.unlock();
        for (WaveHeader* h : done) finish(h);
        done.clear();
        lock.lock();
        notifying_ = false;
        cv_.notify_all();
    };
    auto closeLost = [&] {
        lock.unlock();
        closeDevice(true);
        lock.lock();
        loseDevice(done);
    };
    while (!closing_) {
        if (dropRequested_) {
            dropRequested_ = false;
            if (deviceOpen_) {
                lock.unlock();
                dropDevice();
                lock.lock();
            }
            framesWritten_ = lastPlayed_ = 0;
            advancing_ = false;
            continue;
        }
        if (!deviceOpen_) {
            reopen(lock);
            continue;
        }
        const bool paused = wantPaused_;
        if (!paused && stageDone_ >= stageSize_ && (current_ || !queue_.empty())) fillStage(stageFrames());
        const bool sound = !paused && stageDone_ < stageSize_;
        const bool keepGoing = !sound && (paused ? framesWritten_ > 0 : !written_.empty() || unheard());
        if (!sound && !keepGoing) {
            if (paused && !pauseHeard_) {
                pauseHeard_ = true;
                cv_.notify_all();
            }
            cv_.wait(lock);
            lastProgress_ = Clock::now();  // idle is not stuck
            continue;
        }
        Feed feed;
        if (sound) {
            feed.data = stage_.data() + stageDone_ * frameBytes_;
            feed.frames = stageSize_ - stageDone_;
        }
        feed.paused = paused;
        feed.recentSound = Clock::now() - lastWrite_ < kRecentSound;
        feed.written = framesWritten_;
        feed.nextEnd = written_.empty() ? 0 : written_.front().endFrame;
        const unsigned generation = generation_;
        const std::uint64_t seen = changes_;
        lock.unlock();
        const Turn t = play(feed);
        lock.lock();
        if (generation != generation_) continue;  // reset meanwhile: drop before anything else
        const auto now = Clock::now();
        if (t.lost) {
            closeLost();
            finishDone();
            continue;
        }
        const std::uint64_t before = lastPlayed_;
        if (t.allPlayed) {
            lastPlayed_ = framesWritten_;
            lastProgress_ = now;
        } else if (t.havePlayed && t.played > lastPlayed_) {
            lastPlayed_ = t.played;
            lastProgress_ = now;
        }
        if (t.havePlayed || t.allPlayed) {
            advancing_ = lastPlayed_ > before && !t.allPlayed;
            playedAt_ = now;
        }
        if (t.healthy) lastProgress_ = now;
        if (t.wrote > 0) {
            lastProgress_ = now;
            if (!t.silence) {
                const std::uint64_t sound = stageSound_ + stageDone_;
                Segment* last = segments_.empty() ? nullptr : &segments_.back();
                if (last && last->device + last->frames == framesWritten_ && last->sound + last->frames == sound)
                    last->frames += t.wrote;
                else
                    segments_.push_back({framesWritten_, sound, t.wrote});
            }
            framesWritten_ += t.wrote;
            if (!t.silence) {
                stageDone_ += t.wrote;
                lastWrite_ = now;
                // Sound written while a pause came in belongs to what it must wait for.
                if (wantPaused_ && !pauseHeard_) {
                    pauseTarget_ = framesWritten_;
                    heardNotBefore_ = std::max(heardNotBefore_, now + kHeardMargin) + playTime(t.wrote);
                }
            }
        }
        if (now - lastProgress_ > kStallLimit && (sound || !written_.empty() || unheard())) {
            // The device has taken and played nothing for a while (a server gone or stuck): a
            // fresh one cures it, from where the sound stopped.
            closeLost();
            nextRetry_ = now;
            finishDone();
            continue;
        }
        while (!written_.empty() && written_.front().endFrame <= lastPlayed_) {
            done.push_back(written_.front().header);
            written_.pop_front();
        }
        while (segments_.size() > 1 && segments_.front().device + segments_.front().frames <= lastPlayed_)
            segments_.pop_front();
        if (segments_.size() == 1 && segments_.front().device + segments_.front().frames <= lastPlayed_) {
            heardBase_ = segments_.front().sound + segments_.front().frames;
            segments_.clear();
        }
        if (paused && !pauseHeard_ &&
            (playsOnAtPause() ? lastPlayed_ >= pauseTarget_ : t.stopped)) {
            pauseHeard_ = true;
            cv_.notify_all();
        }
        finishDone();
        // Asked for anything since the turn began, the worker looks again at once.
        auto woken = [&] { return changes_ != seen || closing_; };
        if (t.wakeAt == kUntilWoken)
            cv_.wait(lock, woken);
        else if (t.wakeAt > now) {
            // A full device wakes the worker when it wants more, and one that holds plenty
            // lets the headers written meanwhile gather until its next turn; one that holds
            // next to nothing (the first frame of a play, below the server's start threshold)
            // takes the next header at once.
            const std::uint64_t held = framesWritten_ - std::min(lastPlayed_, framesWritten_);
            sleepingOnDevice_ = sound ? t.wrote < feed.frames : held >= framesIn(kHoldsLittle);
            cv_.wait_until(lock, t.wakeAt, woken);
            sleepingOnDevice_ = false;
        }
    }
}

}  // namespace vesperon::engine
