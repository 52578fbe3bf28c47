#pragma once
// The fades of a pause, a resume and a scheduled end: a small state machine that a timer steps,
// one mixer write per 1/64-s tick, 50 steps a fade. Nothing runs inside a fade: commands that
// come meanwhile are the controller's to queue, and the event loop is never entered again.
//
// The volume a fade comes back to is the last one read from a live mixer, or set by the user
// since (the bar, MPRIS, another program seen by the clock's reading); a reading that matches
// what the fade itself wrote last is the fade's own and changes nothing.

#include <QTimer>
#include <functional>
#include <optional>

namespace vesperon::app {

class Fader {
public:
    struct Mixer {
        std::function<std::optional<int>()> read;  // nothing while the mixer is lost
        std::function<void(int)> write;            // both channels
        std::function<bool()> pauseHeard;          // the device has played what it held
    };
    enum class Kind {
        Pause,   // down, then `atBottom` (the engine pauses), wait until heard, volume back
        Resume,  // 0, then `atBottom` (the engine resumes), up to the volume
        End,     // down, then `atBottom` (the engine stops), volume back
    };
    static constexpr int kSteps = 50;
    // How long a pause waits at most for the sound the device still held.
    static constexpr int kHeardWaitMs = 1000;

    explicit Fader(Mixer mixer);

    // Runs the first step now and the rest on the timer; `done` runs once the fade is over.
    // Without a volume read from a live mixer there is no fade: both callbacks run at once.
    void start(Kind kind, std::function<void()> atBottom, std::function<void()> done);
    bool busy() const { return phase_ != Phase::Idle; }
    // A quit: the fade stops here and the volume goes back at once (`done` is not run).
    void cut();

    // A volume read from the mixer elsewhere (nothing when it was lost).
    void observe(std::optional<int> volume);
    // A volume the user set (the window, MPRIS), or the first one read.
    void setTarget(int volume) { target_ = volume; }
    // The volume a fade comes back to; nothing before a live mixer was ever read.
    std::optional<int> target() const { return target_; }
    int step() const { return step_; }

private:
    enum class Phase { Idle, Down, Heard, Up };
    void tick();
    void arm();
    void write(int level);
    void restore();
    void finish();

    Mixer mixer_;
    QTimer timer_;
    Phase phase_ = Phase::Idle;
    Kind kind_ = Kind::Pause;
    int stepsDone_ = 0;
    int level_ = 0;
    int step_ = 0;
    std::optional<int> target_;
    std::optional<int> lastWritten_, writtenBefore_;
    qint64 heardUntilMs_ = 0;
    std::function<void()> atBottom_, done_;
};

}  // namespace vesperon::app
