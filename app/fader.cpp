#include "app/fader.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <chrono>

namespace vesperon::app {

namespace {

constexpr std::int64_t kTickNs = 15'625'000;  // 1/64 s
constexpr int kHeardPollMs = 5;

// Milliseconds to the next 1/64-s boundary of the monotonic clock (at least 1).
int msToNextTick() {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    const std::int64_t left = kTickNs - ns % kTickNs;
    return std::max(1, static_cast<int>((left + 999'999) / 1'000'000));
}

qint64 nowMs() { return QDeadlineTimer::current().deadline(); }

}  // namespace

Fader::Fader(Mixer mixer) : mixer_(std::move(mixer)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}

void Fader::start(Kind kind, std::function<void()> atBottom, std::function<void()> done) {
    if (busy()) cut();
    // The volume now, from a fresh binding: the server's own value, and none from a server that
    // is away or does not answer (then nothing is written at all: a guess would come out as
    // silence, and a write to a server that hangs would land whenever it wakes up).
    std::optional<int> now = !mixer_.rebind || mixer_.rebind() ? mixer_.read() : std::nullopt;
    if (now && restorePending_) {
        mixerBack();
        now = mixer_.read();
    }
    if (!now) {
        // A pause saves nothing it did not read; a volume still to be put back stays so.
        if (kind != Kind::Resume && !restorePending_) target_.reset();
        if (atBottom) atBottom();
        if (done) done();
        return;
    }
    // Also for a resume: a volume set while paused (by anyone) is the one to come up to.
    target_ = *now;
    kind_ = kind;
    atBottom_ = std::move(atBottom);
    done_ = std::move(done);
    step_ = *target_ / kSteps;
    stepsDone_ = 0;
    handsOff_ = false;
    mixerReturned_ = false;
    fadeWrites_.clear();
    // What the mixer shows now counts as the fade's own until it writes.
    lastWritten_ = writtenBefore_ = now;
    if (kind == Kind::Resume) {
        level_ = 0;
        step(0);
        if (atBottom_) atBottom_();
        phase_ = Phase::Up;
    } else {
        level_ = *target_;
        phase_ = Phase::Down;
    }
    tick();
}

void Fader::tick() {
    switch (phase_) {
        case Phase::Idle:
            return;
        case Phase::Down:
            level_ -= step_;
            step(level_);
            if (++stepsDone_ < kSteps) return arm();
            // 50 whole steps leave the remainder of the division: end on silence exactly.
            step(0);
            if (atBottom_) atBottom_();
            if (kind_ == Kind::End) return finish();
            // The volume goes back only once the sound the device still held has been heard.
            phase_ = Phase::Heard;
            heardUntilMs_ = nowMs() + kHeardWaitMs;
            [[fallthrough]];
        case Phase::Heard:
            if ((mixer_.pauseHeard && mixer_.pauseHeard()) || nowMs() >= heardUntilMs_) return finish();
            timer_.start(kHeardPollMs);
            return;
        case Phase::Up:
            level_ += step_;
            step(level_);
            if (++stepsDone_ < kSteps) return arm();
            return finish();
    }
}

void Fader::arm() { timer_.start(msToNextTick()); }

void Fader::step(int level) {
    if (!handsOff_) write(level);
}

std::vector<int> Fader::ownValues() const {
    std::vector<int> own;
    for (const std::optional<int>& v : {lastWritten_, writtenBefore_})
        if (v) own.push_back(*v);
    // A server that came back may have restored any value the fade wrote as the device's own.
    if (mixerReturned_ || restorePending_) {
        own.insert(own.end(), fadeWrites_.begin(), fadeWrites_.end());
        if (target_) own.push_back(*target_);
    }
    return own;
}

bool Fader::ours(int volume) const {
    const std::vector<int> own = ownValues();
    return std::find(own.begin(), own.end(), volume) != own.end();
}

void Fader::takeUsers(int volume) {
    target_ = volume;
    handsOff_ = true;
    restorePending_ = false;
}

bool Fader::write(int level, bool checked) {
    // The look and the write are one call to the mixer: nothing of ours comes between them.
    std::optional<int> seen;
    const bool taken = mixer_.write(level, checked ? ownValues() : std::vector<int>{}, &seen);
    if (seen) {
        takeUsers(*seen);
        return false;
    }
    // Tried, also when the mixer is away: a server that comes back may show it.
    fadeWrites_.push_back(level);
    writtenBefore_ = lastWritten_;
    lastWritten_ = level;
    if (taken) mixerReturned_ = false;
    return taken;
}

void Fader::restore() {
    if (!target_) return;
    if (handsOff_) {
        // The volume there is someone else's, unless a step of ours landed just after their
        // change (both in flight at once): then theirs is written back.
        const std::optional<int> now = mixer_.read();
        if (now && *now != *target_ &&
            std::find(fadeWrites_.begin(), fadeWrites_.end(), *now) != fadeWrites_.end())
            write(*target_, false);
        return;
    }
    const bool taken = write(*target_);
    if (!handsOff_) restorePending_ = !taken;
}

void Fader::finish() {
    timer_.stop();
    phase_ = Phase::Idle;
    restore();
    atBottom_ = nullptr;
    std::function<void()> done = std::move(done_);
    done_ = nullptr;
    // May start the next fade (a command that waited for this one).
    if (done) done();
}

void Fader::cut() {
    if (!busy()) {
        mixerBack();
        return;
    }
    timer_.stop();
    phase_ = Phase::Idle;
    atBottom_ = nullptr;
    done_ = nullptr;
    restore();
}

void Fader::observe(std::optional<int> volume) {
    if (!volume) return;
    if (busy()) {
        // A reading of the fade's own writes is the fade, not the user.
        if (handsOff_ || !ours(*volume)) {
            target_ = *volume;
            handsOff_ = true;
        }
        return;
    }
    // A volume still to be put back, and a mixer that answers: settled now (what it shows may
    // be a step the server restored, or the user's).
    if (restorePending_) return mixerBack();
    target_ = *volume;
}

void Fader::setTarget(int volume) {
    target_ = volume;
    restorePending_ = false;
    // The user's volume is not written over by the rest of a fade.
    if (busy()) handsOff_ = true;
}

void Fader::mixerBack() {
    if (busy()) {
        mixerReturned_ = true;
        return;
    }
    if (!restorePending_ || !target_) return;
    const std::optional<int> now = mixer_.read();
    if (!now) return;
    const bool fadesOwn = ours(*now);
    restorePending_ = false;
    if (!fadesOwn && *now != *target_) {
        // Not one of the fade's values: someone set it since; that is the volume now.
        target_ = *now;
        return;
    }
    if (*now != *target_) restorePending_ = !write(*target_, false);
}

}  // namespace vesperon::app
