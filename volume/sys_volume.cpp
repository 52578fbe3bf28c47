#include "volume/sys_volume.h"

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
    // One open tells whether the server is back (each failed open logs a line of ALSA's).
    MixerSystem& sys = system_ ? *system_ : mixerSystem();
    if (!sys.open(0)) return;
    // A server that is still away leaves both bindings closed: the commands fail meanwhile.
    if (SelectLine(line) == 0) return;
    reopen_.stop();
    if (eventSink_) {
        eventSink_(VolumeChanged);
        eventSink_(MuteChanged);
    }
}

void SysVolume::close(Binding& b) {
    b.notifiers.clear();
    b.handle.reset();
}

int SysVolume::controlLookup(Binding& b, bool isVolume, uint32_t destination, int64_t source) {
    close(b);
    MixerSystem& sys = system_ ? *system_ : mixerSystem();
    auto fail = [&] {
        close(b);
        return 0;
    };
    if (sys.deviceCount() == 0) return fail();
    b.handle = sys.open(0);
    if (!b.handle) return fail();
    std::optional<MixerLine> line = b.handle->lineByType(destination);
    if (!line) return fail();
    if (source >= 0) {
        std::optional<MixerLine> found;
        for (uint32_t i = 0; i < line->connections; ++i) {
            std::optional<MixerLine> src = b.handle->sourceLine(*line, i);
            if (src && src->componentType == static_cast<uint32_t>(source)) {
                found = src;
                break;
            }
        }
        if (!found) return fail();
        line = found;
    }
    // Stored before the control is asked for, so a line without the control still leaves it.
    if (isVolume) b.channels = line->channels;
    std::optional<MixerControl> control =
        b.handle->findControl(*line, isVolume ? kVolumeControlType : kMuteControlType);
    if (!control) return fail();
    b.controlId = control->id;
    b.name = control->name;
    if (isVolume) {
        b.minimum = control->minimum;
        b.maximum = control->maximum;
    }
    watch(b);
    return 1;
}

void SysVolume::watch(Binding& b) {
    for (int fd : b.handle->pollDescriptors()) {
        auto n = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(n.get(), &QSocketNotifier::activated, this, [this, &b] { onNotice(b); });
        b.notifiers.push_back(std::move(n));
    }
}

void SysVolume::onNotice(Binding& b) {
    if (!b.handle) return;
    const std::vector<uint32_t> changed = b.handle->takeChangedControls();
    noticeLoss(b);
    for (uint32_t id : changed) controlChanged(id);
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
    std::vector<uint32_t> values(volume_.channels);
    if (values.empty() || !volume_.handle->readValues(volume_.controlId, values)) {
        noticeLoss(volume_);
        return -1;
    }
    left = static_cast<int>(values[0]);
    // A line with more than two channels gives its first two.
    if (values.size() >= 2) right = static_cast<int>(values[1]);
    return 1;
}

int SysVolume::SetVolume(int left, int right) {
    if (!volume_.handle || volume_.channels == 0) return 0;
    std::vector<uint32_t> values(volume_.channels);
    // Further channels of a surround line follow left and right alternately.
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint32_t>(i % 2 == 0 ? left : right);
    if (volume_.handle->writeValues(volume_.controlId, values)) return 1;
    noticeLoss(volume_);
    return 0;
}

int SysVolume::GetMute() {
    if (!mute_.handle) return -1;
    uint32_t value = 0;
    if (!mute_.handle->readValues(mute_.controlId, std::span<uint32_t>(&value, 1))) return -1;
    return static_cast<int>(value);
}

int SysVolume::SetMute(int value) {
    if (!mute_.handle) return 0;
    const auto v = static_cast<uint32_t>(value);
    return mute_.handle->writeValues(mute_.controlId, std::span<const uint32_t>(&v, 1)) ? 1 : 0;
}

}  // namespace vesperon::volume
