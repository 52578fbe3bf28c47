#pragma once
// SysVolume: binds one mixer line's volume and mute controls and reports their changes. Values
// are in the control's own units; nothing is scaled here.
//
// Every call into the mixer runs on a worker and is waited for at most kAnswerWithinMs: a sound
// server that hangs fails the command instead of holding up the caller, and the mixer then
// counts as away (closed, looked up again every kReopenIntervalMs) exactly as when it dies.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "volume/mixer.h"
#include "volume/mixer_worker.h"

namespace vesperon::volume {

class SysVolume : public QObject {
    Q_OBJECT
public:
    enum Event { VolumeChanged = 0, MuteChanged = 1 };

    // The mixer system is looked up on every SelectLine (mixerSystem() unless one is given).
    explicit SysVolume(MixerSystem* system = nullptr, QObject* parent = nullptr);
    ~SysVolume() override;

    // Receives the widget's events (VolumeChanged, MuteChanged).
    void setEventSink(std::function<void(int event)> sink) { eventSink_ = std::move(sink); }

    // 1 both controls found, -2 volume only, -1 mute only, 0 neither.
    int SelectLine(int componentType);
    int GetMaxVolume() const;
    int GetVolume(int& left, int& right);
    int SetVolume(int left, int right);
    // Sets both channels to `level` unless the volume now (read as GetVolume(v, v) does, in the
    // same call to the mixer, so that no look by the caller comes between) is none of `expected`:
    // then nothing is written and *seen says what is there. 1 written, 0 not (failed, or seen).
    int SetVolumeIf(const std::vector<int>& expected, int level, std::optional<int>* seen);
    int GetMute();
    int SetMute(int value);

    // Closes both bindings (mute first), as when the widget goes away.
    void closeAll();

    // When the mixer goes away (its sound server died, restarted or does not answer), the line
    // chosen last is looked up again this often until it is back; then both events are raised so
    // that whoever shows the values reads the new ones, and cameBack() is emitted. Meanwhile the
    // commands fail as for a missing mixer.
    static constexpr int kReopenIntervalMs = 500;
    // How long a command waits for the mixer: long enough for any server that works (its round
    // trip is a millisecond or two), short enough that a reply to the desktop (MPRIS) waiting
    // behind it still comes within a quarter of a second.
    static constexpr int kAnswerWithinMs = 150;
    bool reopening() const { return reopen_.isActive(); }

    // Binds the volume of the line chosen last afresh, on a new connection to the mixer: what is
    // read next is the mixer's value now, and a server that does not answer is found before
    // anything is written. False while the mixer is away (and then it is not written to).
    bool rebind();

    // For inspection by tests.
    uint32_t volumeChannels() const { return volume_.channels; }
    bool volumeBound() const { return volume_.handle != nullptr; }
    bool muteBound() const { return mute_.handle != nullptr; }

signals:
    // The mixer is bound again after it was away.
    void cameBack();

private:
    struct Binding {
        std::string name;
        uint32_t channels = 0;  // volume only
        uint32_t controlId = 0;
        uint32_t minimum = 0, maximum = 0;  // volume only
        std::unique_ptr<MixerHandle> handle;
        std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    };

    int controlLookup(Binding& b, bool isVolume, uint32_t destination, int64_t source);
    void close(Binding& b);
    void watch(Binding& b, const std::vector<int>& descriptors);
    void onNotice(Binding& b);
    void controlChanged(uint32_t controlId);
    void noticeLoss(Binding& b);
    void tryReopen();
    // Runs `job` on the worker; false when the mixer did not answer in time (it is away then).
    bool ask(std::function<void()> job);
    void giveUp();

    MixerSystem* system_;
    MixerWorker worker_{std::chrono::milliseconds(kAnswerWithinMs)};
    std::function<void(int)> eventSink_;
    // Declared in this order so that the mute handle closes first.
    Binding volume_;
    Binding mute_;
    int line_ = -1;  // the component type of the last SelectLine that bound something
    QTimer reopen_;
};

}  // namespace vesperon::volume
