#pragma once
// The fades of a pause, a resume and a scheduled end: a small state machine that a timer steps,
// one mixer write per 1/64-s tick, 50 steps a fade. Nothing runs inside a fade: commands that
// come meanwhile are the controller's to queue, and the event loop is never entered again.
//
// The volume a fade comes back to is the last one read from a live mixer, or set by the user
// since (the bar, MPRIS, another program). A fade writes only over its own steps: before each
// write it reads the volume, and a value other than the one it wrote last (or the one before,
// which a mixer may still show a moment late) is someone else's. That value becomes the volume
// to come back to, and the fade writes nothing more. A fade starts on a fresh binding of the
// mixer, so the value it saves is the server's own and a server that does not answer is found
// before a step is written (no fade then).
//
// A fade never leaves a step as the device's volume: when the volume could not be put back (the
// mixer was away at the end, or the server restarted and restored one of the steps as the
// device's volume), it is written once the mixer is back, unless the mixer then shows a value
// the fade never wrote (the user's, kept).

#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

namespace vesperon::app {

class Fader {
public:
    struct Mixer {
        std::function<std::optional<int>()> read;  // nothing while the mixer is away
        // Both channels, unless `expected` is not empty and the volume then is none of it (that
        // value goes to *seen, nothing is written). False when nothing was written.
        std::function<bool(int level, const std::vector<int>& expected, std::optional<int>* seen)> write;
        std::function<bool()> pauseHeard;          // the device has played what it held
        std::function<bool()> rebind;              // a fresh binding; false while the mixer is away
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

    // A volume read from the mixer elsewhere (nothing when it was away).
    void observe(std::optional<int> volume);
    // A volume the user set and the mixer took (the window, MPRIS), or the first one read.
    void setTarget(int volume);
    // The mixer is bound again after it was away: a volume still to be put back is written now.
    void mixerBack();
    // The volume a fade comes back to; nothing before a live mixer was ever read.
    std::optional<int> target() const { return target_; }
    int step() const { return step_; }
    // The volume is still to be put back, once the mixer takes it.
    bool restorePending() const { return restorePending_; }

private:
    enum class Phase { Idle, Down, Heard, Up };
    void tick();
    void arm();
    // Writes `level` unless the volume is no longer the fade's own (then nothing more is written).
    void step(int level);
    // Writes `level` if the mixer still shows one of the fade's own values (or at all, with
    // `checked` false); another value there is taken as the user's. True when written.
    bool write(int level, bool checked = true);
    std::vector<int> ownValues() const;
    bool ours(int volume) const;
    void takeUsers(int volume);
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
    std::vector<int> fadeWrites_;  // every value this fade (or the last one) wrote or tried to
    bool handsOff_ = false;        // someone else set the volume during this fade
    bool mixerReturned_ = false;   // the mixer came back during this fade: its value may be any step
    bool restorePending_ = false;
    qint64 heardUntilMs_ = 0;
    std::function<void()> atBottom_, done_;
};

}  // namespace vesperon::app
