#include "volume/alsa_mixer.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>

namespace vesperon::volume {
namespace {

constexpr uint32_t kUndefinedSource = 0x1000;

struct SourceName {
    uint32_t type;
    const char* element;
};
constexpr SourceName kSourceNames[] = {
    {kLineInSource, "Line"},    {kMicrophoneSource, "Mic"},  {kSynthesizerSource, "Synth"},
    {kCompactDiscSource, "CD"}, {kTelephoneSource, "Phone"}, {kWaveOutSource, "PCM"},
    {kAnalogSource, "Aux"},
};

uint32_t sourceTypeOf(const std::string& element) {
    for (const auto& s : kSourceNames)
        if (element == s.element) return s.type;
    return kUndefinedSource;
}

class AlsaMixerHandle final : public MixerHandle {
public:
    static std::unique_ptr<AlsaMixerHandle> open() {
        snd_mixer_t* m = nullptr;
        if (snd_mixer_open(&m, 0) < 0 || !m) return nullptr;
        if (snd_mixer_attach(m, "default") < 0 || snd_mixer_selem_register(m, nullptr, nullptr) < 0 ||
            snd_mixer_load(m) < 0) {
            snd_mixer_close(m);
            return nullptr;
        }
        return std::unique_ptr<AlsaMixerHandle>(new AlsaMixerHandle(m));
    }

    ~AlsaMixerHandle() override { snd_mixer_close(mixer_); }

    std::optional<MixerLine> lineByType(uint32_t type) override {
        if (type == kSpeakersDestination) {
            int pos = findPlayback("Master");
            if (pos < 0) pos = findPlayback("PCM");
            if (pos < 0) return std::nullopt;
            MixerLine line = lineAt(pos, type);
            line.connections = static_cast<uint32_t>(sourcesOf(pos).size());
            return line;
        }
        for (const auto& s : kSourceNames) {
            if (s.type != type) continue;
            int pos = findPlayback(s.element);
            if (pos < 0) return std::nullopt;
            return lineAt(pos, type);
        }
        return std::nullopt;
    }

    std::optional<MixerLine> sourceLine(const MixerLine& destination, uint32_t index) override {
        std::vector<int> sources = sourcesOf(destination.key);
        if (index >= sources.size()) return std::nullopt;
        int pos = sources[index];
        return lineAt(pos, sourceTypeOf(elements_[pos].name));
    }

    std::optional<MixerControl> findControl(const MixerLine& line, uint32_t controlType) override {
        snd_mixer_elem_t* e = element(line.key);
        if (!e) return std::nullopt;
        MixerControl c;
        const std::string& name = elements_[line.key].name;
        if (controlType == kVolumeControlType) {
            if (!snd_mixer_selem_has_playback_volume(e)) return std::nullopt;
            long lo = 0, hi = 0;
            if (snd_mixer_selem_get_playback_volume_range(e, &lo, &hi) < 0 || hi < lo) return std::nullopt;
            c.id = volumeId(line.key);
            c.name = name + " Playback Volume";
            // Values are handed out from 0, so a range that starts elsewhere is shifted.
            c.minimum = 0;
            c.maximum = static_cast<uint32_t>(std::min<long>(hi - lo, UINT32_MAX));
        } else if (controlType == kMuteControlType) {
            if (!snd_mixer_selem_has_playback_switch(e)) return std::nullopt;
            c.id = muteId(line.key);
            c.name = name + " Playback Switch";
        } else {
            return std::nullopt;
        }
        std::vector<long> now;
        if (!current(c.id, now)) return std::nullopt;
        watched_[c.id] = now;
        return c;
    }

    bool readValues(uint32_t id, std::span<uint32_t> values) override {
        std::vector<long> now;
        if (!current(id, now) || values.size() > now.size()) return false;
        for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint32_t>(now[i]);
        return true;
    }

    bool writeValues(uint32_t id, std::span<const uint32_t> values) override {
        int pos = static_cast<int>(id / 2) - 1;
        snd_mixer_elem_t* e = element(pos);
        if (lost_ || !e || values.empty()) return false;
        if (id == muteId(pos)) {
            if (!snd_mixer_selem_has_playback_switch(e)) return false;
            return snd_mixer_selem_set_playback_switch_all(e, values[0] ? 0 : 1) >= 0;
        }
        if (!snd_mixer_selem_has_playback_volume(e)) return false;
        long lo = 0, hi = 0;
        if (snd_mixer_selem_get_playback_volume_range(e, &lo, &hi) < 0) return false;
        std::vector<snd_mixer_selem_channel_id_t> chans = channelsOf(e);
        if (values.size() > chans.size()) return false;
        // ALSA quietly ignores a value outside the range; refusing it keeps the caller informed.
        for (uint32_t v : values)
            if (static_cast<long long>(v) > static_cast<long long>(hi) - lo) return false;
        // Equal values go in one write: a sound server's plugin makes a round trip per write, and
        // another program's change landing between two of them would be lost half-way.
        if (std::all_of(values.begin(), values.end(), [&](uint32_t v) { return v == values[0]; }) &&
            values.size() == chans.size())
            return snd_mixer_selem_set_playback_volume_all(e, lo + static_cast<long>(values[0])) >= 0;
        for (size_t i = 0; i < values.size(); ++i)
            if (snd_mixer_selem_set_playback_volume(e, chans[i], lo + static_cast<long>(values[i])) < 0)
                return false;
        return true;
    }

    bool lost() const override { return lost_; }

    std::vector<int> pollDescriptors() override {
        std::vector<pollfd> pfds = descriptors();
        std::vector<int> fds;
        for (const auto& p : pfds) fds.push_back(p.fd);
        return fds;
    }

    std::vector<uint32_t> takeChangedControls() override {
        if (lost_) return {};
        std::vector<pollfd> pfds = descriptors();
        if (!pfds.empty()) {
            poll(pfds.data(), pfds.size(), 0);
            unsigned short revents = 0;
            if (snd_mixer_poll_descriptors_revents(mixer_, pfds.data(), pfds.size(), &revents) < 0 ||
                (revents & (POLLERR | POLLHUP | POLLNVAL)))
                lost_ = true;
        }
        if (snd_mixer_handle_events(mixer_) < 0) lost_ = true;
        if (lost_) return {};
        std::vector<uint32_t> changed;
        for (auto& [id, last] : watched_) {
            std::vector<long> now;
            if (!current(id, now) || now == last) continue;
            last = now;
            changed.push_back(id);
        }
        return changed;
    }

private:
    struct Element {
        std::string name;
        unsigned index;
    };

    explicit AlsaMixerHandle(snd_mixer_t* m) : mixer_(m) {
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(m); e; e = snd_mixer_elem_next(e))
            elements_.push_back({snd_mixer_selem_get_name(e), snd_mixer_selem_get_index(e)});
    }

    static uint32_t volumeId(int pos) { return static_cast<uint32_t>(pos + 1) * 2; }
    static uint32_t muteId(int pos) { return static_cast<uint32_t>(pos + 1) * 2 + 1; }

    // Looked up by name every time: elements may come and go while the handle is open.
    snd_mixer_elem_t* element(int pos) {
        if (pos < 0 || pos >= static_cast<int>(elements_.size())) return nullptr;
        snd_mixer_selem_id_t* sid = nullptr;
        snd_mixer_selem_id_alloca(&sid);
        snd_mixer_selem_id_set_name(sid, elements_[pos].name.c_str());
        snd_mixer_selem_id_set_index(sid, elements_[pos].index);
        return snd_mixer_find_selem(mixer_, sid);
    }

    bool isPlayback(int pos) {
        snd_mixer_elem_t* e = element(pos);
        return e && (snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e));
    }

    int findPlayback(const char* name) {
        for (int i = 0; i < static_cast<int>(elements_.size()); ++i)
            if (elements_[i].name == name && isPlayback(i)) return i;
        return -1;
    }

    std::vector<int> sourcesOf(int destination) {
        std::vector<int> out;
        for (int i = 0; i < static_cast<int>(elements_.size()); ++i)
            if (i != destination && isPlayback(i)) out.push_back(i);
        return out;
    }

    static std::vector<snd_mixer_selem_channel_id_t> channelsOf(snd_mixer_elem_t* e) {
        if (snd_mixer_selem_is_playback_mono(e)) return {SND_MIXER_SCHN_MONO};
        std::vector<snd_mixer_selem_channel_id_t> chans;
        for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
            auto ch = static_cast<snd_mixer_selem_channel_id_t>(c);
            if (snd_mixer_selem_has_playback_channel(e, ch)) chans.push_back(ch);
        }
        return chans;
    }

    MixerLine lineAt(int pos, uint32_t type) {
        MixerLine line;
        line.componentType = type;
        line.name = elements_[pos].name;
        line.key = pos;
        if (snd_mixer_elem_t* e = element(pos)) line.channels = static_cast<uint32_t>(channelsOf(e).size());
        return line;
    }

    // The control's values now: one per channel for a volume, one (1 = muted) for a mute.
    bool current(uint32_t id, std::vector<long>& out) {
        if (lost_) return false;  // what the element cache holds now is stale
        int pos = static_cast<int>(id / 2) - 1;
        snd_mixer_elem_t* e = element(pos);
        if (!e) return false;
        std::vector<snd_mixer_selem_channel_id_t> chans = channelsOf(e);
        if (chans.empty()) return false;
        out.clear();
        if (id == muteId(pos)) {
            int on = 1;
            if (!snd_mixer_selem_has_playback_switch(e) ||
                snd_mixer_selem_get_playback_switch(e, chans[0], &on) < 0)
                return false;
            out.push_back(on ? 0 : 1);
            return true;
        }
        long lo = 0, hi = 0;
        if (!snd_mixer_selem_has_playback_volume(e) ||
            snd_mixer_selem_get_playback_volume_range(e, &lo, &hi) < 0)
            return false;
        if (liveVolume(pos, chans.size(), lo, hi, out)) return true;
        for (auto ch : chans) {
            long v = 0;
            if (snd_mixer_selem_get_playback_volume(e, ch, &v) < 0) return false;
            out.push_back(std::clamp(v, lo, hi) - lo);
        }
        return true;
    }

    // The volume the device holds now, read through its control: the simple element keeps the
    // value of the last change notice handled, and a sound server's plugin answers this read from
    // the server itself, so another program's change shows before the next write goes over it.
    // False when the control does not map one value per channel (the element's copy is used then).
    bool liveVolume(int pos, size_t channels, long lo, long hi, std::vector<long>& out) {
        snd_hctl_t* hctl = nullptr;
        if (snd_mixer_get_hctl(mixer_, "default", &hctl) < 0 || !hctl) return false;
        snd_ctl_elem_id_t* id = nullptr;
        snd_ctl_elem_id_alloca(&id);
        snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
        snd_ctl_elem_id_set_name(id, (elements_[pos].name + " Playback Volume").c_str());
        snd_ctl_elem_id_set_index(id, elements_[pos].index);
        snd_hctl_elem_t* control = snd_hctl_find_elem(hctl, id);
        if (!control) return false;
        auto known = liveChannels_.find(pos);
        if (known == liveChannels_.end()) {
            snd_ctl_elem_info_t* info = nullptr;
            snd_ctl_elem_info_alloca(&info);
            const bool integer = snd_hctl_elem_info(control, info) >= 0 &&
                                 snd_ctl_elem_info_get_type(info) == SND_CTL_ELEM_TYPE_INTEGER;
            known = liveChannels_.emplace(pos, integer ? snd_ctl_elem_info_get_count(info) : 0).first;
        }
        if (known->second != channels) return false;
        snd_ctl_elem_value_t* value = nullptr;
        snd_ctl_elem_value_alloca(&value);
        if (snd_hctl_elem_read(control, value) < 0) return false;
        out.clear();
        for (size_t i = 0; i < channels; ++i)
            out.push_back(
                std::clamp(snd_ctl_elem_value_get_integer(value, static_cast<unsigned>(i)), lo, hi) - lo);
        return true;
    }

    std::vector<pollfd> descriptors() {
        int n = snd_mixer_poll_descriptors_count(mixer_);
        if (n <= 0) return {};
        std::vector<pollfd> pfds(static_cast<size_t>(n));
        n = snd_mixer_poll_descriptors(mixer_, pfds.data(), static_cast<unsigned>(n));
        pfds.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return pfds;
    }

    snd_mixer_t* mixer_;
    bool lost_ = false;
    std::vector<Element> elements_;
    std::map<uint32_t, std::vector<long>> watched_;
    std::map<int, size_t> liveChannels_;  // values per read of each element's volume control
};

class AlsaMixerSystem final : public MixerSystem {
public:
    // The `default` device is the only one; it counts when it opens.
    unsigned deviceCount() override { return AlsaMixerHandle::open() ? 1 : 0; }
    std::unique_ptr<MixerHandle> open(unsigned device) override {
        if (device != 0) return nullptr;
        return AlsaMixerHandle::open();
    }
};

}  // namespace

bool alsaDefaultIsPulse() {
    // ALSA settles what `default` is once per process, when a device is first opened by that name
    // (before that its configuration does not name it yet): found out once, by opening it.
    static std::atomic<int> known{-1};
    if (known >= 0) return known != 0;
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, "default", 0) < 0 || !ctl) return false;  // asked again next time
    snd_config_t* top = nullptr;
    bool pulse = false;
    if (snd_config_update_ref(&top) >= 0 && top) {
        snd_config_t* node = nullptr;
        const char* type = nullptr;
        pulse = snd_config_search(top, "ctl.default.type", &node) >= 0 &&
                snd_config_get_string(node, &type) >= 0 && type && std::strcmp(type, "pulse") == 0;
        snd_config_unref(top);
    }
    snd_ctl_close(ctl);
    known = pulse ? 1 : 0;
    return pulse;
}

std::unique_ptr<MixerSystem> makeAlsaMixerSystem() {
    return std::make_unique<AlsaMixerSystem>();
}

}  // namespace vesperon::volume
