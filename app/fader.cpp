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
    if (kind != Kind::Resume) {
        // The volume to come back to is read now; a lost mixer gives none, and then nothing is
        // written at all (a guessed value would come out as silence).
        if (const std::optional<int> now = mixer_.read())
            target_ = *now;
        else
            target_.reset();
    }
    if (!target_) {
        if (atBottom) atBottom();
        if (done) done();
        return;
    }
    kind_ = kind;
    atBottom_ = std::move(atBottom);
    done_ = std::move(done);
    step_ = *target_ / kSteps;
    stepsDone_ = 0;
    if (kind == Kind::Resume) {
        level_ = 0;
        write(0);
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
            write(level_);
            if (++stepsDone_ < kSteps) return arm();
            // 50 whole steps leave the remainder of the division: end on silence exactly.
            write(0);
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
            write(level_);
            if (++stepsDone_ < kSteps) return arm();
            return finish();
    }
}

void Fader::arm() { timer_.start(msToNextTick()); }

void Fader::write(int level) {
    mixer_.write(level);
    writtenBefore_ = lastWritten_;
    lastWritten_ = level;
}

void Fader::restore() {
    if (target_) write(*target_);
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
    if (!busy()) return;
    timer_.stop();
    phase_ = Phase::Idle;
    atBottom_ = nullptr;
    done_ = nullptr;
    restore();
}

void Fader::observe(std::optional<int> volume) {
    if (!volume) return;
    // During a fade a reading of its own last writes is the fade, not the user (a mixer may show
    // a write a moment late, hence the one before too).
    if (busy() && (volume == lastWritten_ || volume == writtenBefore_)) return;
    target_ = *volume;
}

}  // namespace vesperon::app
