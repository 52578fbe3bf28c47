#include "volume/sys_volume.h"

#include <algorithm>

namespace vesperon::volume {

SysVolume::SysVolume(MixerSystem* system, QObject* parent) : QObject(parent), system_(system) {
    reopen_.setInterval(kReopenIntervalMs);
    connect(&reopen_, &QTimer::timeout, this, [this] { tryReopen(); });
}

SysVolume::~SysVolume() {
    closeAll();
}

void SysVolume::closeAll() {
    reopen_.stop();
    line_ = -1;
    close(mute_);
    close(volume_);
}

bool SysVolume::ask(std::function<void()> job) {
    if (worker_.run(std::move(job))) return true;
    giveUp();
    return false;
}

void SysVolume::giveUp() {
    // The call given up on may still be using the handles: they are dropped behind it.
    close(volume_);
    close(mute_);
    if (line_ >= 0 && !reopen_.isActive()) reopen_.start();
}

void SysVolume::noticeLoss(Binding& b) {
    if (!b.handle || !b.handle->lost()) return;
    // Its descriptors stay readable for ever once it is gone; watching them would spin.
    b.notifiers.clear();
    if (line_ >= 0 && !reopen_.isActive()) reopen_.start();
}

void SysVolume::tryReopen() {
    const int line = line_;
    if (line < 0) {
        reopen_.stop();
        return;
    }
    // A call still waiting for a server that hangs: nothing new is asked of it meanwhile.
    if (worker_.stuck()) return;
    // One open tells whether the server is back (each failed open logs a line of ALSA's).
    MixerSystem* sys = system_ ? system_ : &mixerSystem();
    auto opened = std::make_shared<bool>(false);
    if (!ask([sys, opened] { *opened = sys->open(0) != nullptr; }) || !*opened) return;
    // A server that is still away leaves both bindings closed: the commands fail meanwhile.
    if (SelectLine(line) == 0) return;
    reopen_.stop();
    if (eventSink_) {
        eventSink_(VolumeChanged);
        eventSink_(MuteChanged);
    }
    emit cameBack();
}

bool SysVolume::rebind() {
    if (line_ < 0) return false;
    if (reopen_.isActive()) {
        tryReopen();
        return !reopen_.isActive();
    }
    const auto type = static_cast<uint32_t>(line_);
    const bool waveOut = type == kWaveOutSource;
    const int64_t source = waveOut ? int64_t{kWaveOutSource} : -1;
    if (controlLookup(volume_, true, waveOut ? kSpeakersDestination : type, source) == 1) return true;
    // Gone, or not answering: away, as when its loss is noticed.
    giveUp();
    return false;
}

void SysVolume::close(Binding& b) {
    b.notifiers.clear();
    if (!b.handle) return;
    // Dropped on the worker too: a call given up on may still be using it, and closing a
    // connection to a server that hangs may wait as well.
    std::shared_ptr<MixerHandle> h(std::move(b.handle));
    if (worker_.stuck())
        worker_.post([h] {});
    else
        worker_.run([h = std::move(h)]() mutable { h.reset(); });
}

int SysVolume::controlLookup(Binding& b, bool isVolume, uint32_t destination, int64_t source) {
    close(b);
    MixerSystem* sys = system_ ? system_ : &mixerSystem();
    struct Found {
        std::unique_ptr<MixerHandle> handle;
        std::optional<uint32_t> channels;
        std::optional<MixerControl> control;
        std::vector<int> descriptors;
    };
    auto found = std::make_shared<Found>();
    const bool answered = ask([sys, found, isVolume, destination, source] {
        if (sys->deviceCount() == 0) return;
        std::unique_ptr<MixerHandle> handle = sys->open(0);
        if (!handle) return;
        std::optional<MixerLine> line = handle->lineByType(destination);
        if (!line) return;
        if (source >= 0) {
            std::optional<MixerLine> match;
            for (uint32_t i = 0; i < line->connections; ++i) {
                std::optional<MixerLine> src = handle->sourceLine(*line, i);
                if (src && src->componentType == static_cast<uint32_t>(source)) {
                    match = src;
                    break;
                }
            }
            if (!match) return;
            line = match;
        }
        found->channels = line->channels;
        found->control = handle->findControl(*line, isVolume ? kVolumeControlType : kMuteControlType);
        if (!found->control) return;
        found->descriptors = handle->pollDescriptors();
        found->handle = std::move(handle);
    });
    if (!answered) return 0;
    // Stored before the control is asked for, so a line without the control still leaves it.
    if (isVolume && found->channels) b.channels = *found->channels;
    if (!found->handle) return 0;
    b.handle = std::move(found->handle);
    b.controlId = found->control->id;
    b.name = found->control->name;
    if (isVolume) {
        b.minimum = found->control->minimum;
        b.maximum = found->control->maximum;
    }
    watch(b, found->descriptors);
    return 1;
}

void SysVolume::watch(Binding& b, const std::vector<int>& descriptors) {
    for (int fd : descriptors) {
        auto n = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(n.get(), &QSocketNotifier::activated, this, [this, &b] { onNotice(b); });
        b.notifiers.push_back(std::move(n));
    }
}

void SysVolume::onNotice(Binding& b) {
    if (!b.handle) return;
    MixerHandle* h = b.handle.get();
    auto changed = std::make_shared<std::vector<uint32_t>>();
    if (!ask([h, changed] { *changed = h->takeChangedControls(); })) return;
    noticeLoss(b);
    for (uint32_t id : *changed) controlChanged(id);
}

void SysVolume::controlChanged(uint32_t id) {
    if (!eventSink_) return;
    if (volume_.handle && id == volume_.controlId)
        eventSink_(VolumeChanged);
    else if (mute_.handle && id == mute_.controlId)
        eventSink_(MuteChanged);
}

int SysVolume::SelectLine(int componentType) {
    const auto type = static_cast<uint32_t>(componentType);
    uint32_t destination = type;
    int64_t source = -1;
    if (type == kWaveOutSource) {
        destination = kSpeakersDestination;
        source = kWaveOutSource;
    }
    const int a = controlLookup(volume_, true, destination, source);
    const int b = controlLookup(mute_, false, destination, source);
    const bool known = type == kSpeakersDestination || (type >= kLineInSource && type <= kTelephoneSource) ||
                       type == kWaveOutSource || type == kAnalogSource;
    if (!known) {
        close(volume_);
        close(mute_);
    }
    // Remembered while retrying, so that the line comes back with the server.
    if ((a || b) && known) line_ = componentType;
    else if (!reopen_.isActive()) line_ = -1;
    if (a && b) return 1;
    if (a) return -2;
    if (b) return -1;
    return 0;
}

int SysVolume::GetMaxVolume() const {
    return static_cast<int>(volume_.maximum);
}

int SysVolume::GetVolume(int& left, int& right) {
    if (!volume_.handle) return -1;
    right = -1;
    left = -1;
    if (volume_.channels == 0) return -1;
    MixerHandle* h = volume_.handle.get();
    auto values = std::make_shared<std::vector<uint32_t>>(volume_.channels);
    auto read = std::make_shared<bool>(false);
    if (!ask([h, id = volume_.controlId, values, read] { *read = h->readValues(id, *values); })) return -1;
    if (!*read) {
        noticeLoss(volume_);
        return -1;
    }
    left = static_cast<int>((*values)[0]);
    // A line with more than two channels gives its first two.
    if (values->size() >= 2) right = static_cast<int>((*values)[1]);
    return 1;
}

int SysVolume::SetVolume(int left, int right) {
    if (!volume_.handle || volume_.channels == 0) return 0;
    std::vector<uint32_t> values(volume_.channels);
    // Further channels of a surround line follow left and right alternately.
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint32_t>(i % 2 == 0 ? left : right);
    MixerHandle* h = volume_.handle.get();
    auto written = std::make_shared<bool>(false);
    if (!ask([h, id = volume_.controlId, values, written] { *written = h->writeValues(id, values); }))
        return 0;
    if (*written) return 1;
    noticeLoss(volume_);
    return 0;
}

int SysVolume::SetVolumeIf(const std::vector<int>& expected, int level, std::optional<int>* seen) {
    seen->reset();
    if (!volume_.handle || volume_.channels == 0) return 0;
    MixerHandle* h = volume_.handle.get();
    struct Outcome {
        bool written = false;
        std::optional<int> seen;
    };
    auto outcome = std::make_shared<Outcome>();
    const auto channels = volume_.channels;
    if (!ask([h, id = volume_.controlId, channels, expected, level, outcome] {
            const std::vector<uint32_t> values(channels, static_cast<uint32_t>(level));
            outcome->written = h->writeValuesIf(id, expected, values, &outcome->seen);
        }))
        return 0;
    *seen = outcome->seen;
    if (outcome->written) return 1;
    if (!outcome->seen) noticeLoss(volume_);
    return 0;
}

int SysVolume::GetMute() {
    if (!mute_.handle) return -1;
    MixerHandle* h = mute_.handle.get();
    auto value = std::make_shared<uint32_t>(0);
    auto read = std::make_shared<bool>(false);
    if (!ask([h, id = mute_.controlId, value, read] {
            *read = h->readValues(id, std::span<uint32_t>(value.get(), 1));
        }))
        return -1;
    return *read ? static_cast<int>(*value) : -1;
}

int SysVolume::SetMute(int value) {
    if (!mute_.handle) return 0;
    MixerHandle* h = mute_.handle.get();
    auto written = std::make_shared<bool>(false);
    const auto v = static_cast<uint32_t>(value);
    if (!ask([h, id = mute_.controlId, v, written] {
            *written = h->writeValues(id, std::span<const uint32_t>(&v, 1));
        }))
        return 0;
    return *written ? 1 : 0;
}

}  // namespace vesperon::volume
