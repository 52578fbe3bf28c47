#include "volume/mixer.h"

#include <algorithm>

#include "volume/alsa_mixer.h"
#include "volume/pulse_mixer.h"

namespace vesperon::volume {

bool MixerHandle::writeValuesIf(uint32_t controlId, const std::vector<int>& expected,
                                std::span<const uint32_t> values, std::optional<int>* seen) {
    std::vector<uint32_t> now(values.size());
    if (!now.empty() && readValues(controlId, now)) {
        const int v = static_cast<int>(now.size() >= 2 ? now[1] : now[0]);
        if (std::find(expected.begin(), expected.end(), v) == expected.end()) {
            *seen = v;
            return false;
        }
    }
    return writeValues(controlId, values);
}

namespace {

// ALSA's mixer, or the sound server's own library when ALSA's `default` is PulseAudio's plugin
// (asked at every open: the server may come or go).
class DefaultMixerSystem final : public MixerSystem {
public:
    unsigned deviceCount() override { return current().deviceCount(); }
    std::unique_ptr<MixerHandle> open(unsigned device) override { return current().open(device); }

private:
    MixerSystem& current() { return alsaDefaultIsPulse() ? *pulse_ : *alsa_; }
    std::unique_ptr<MixerSystem> alsa_ = makeAlsaMixerSystem();
    std::unique_ptr<MixerSystem> pulse_ = makePulseMixerSystem();
};

std::shared_ptr<MixerSystem>& chosenSystem() {
    static std::shared_ptr<MixerSystem> system;
    return system;
}
}  // namespace

MixerSystem& mixerSystem() {
    auto& s = chosenSystem();
    if (!s) s = std::make_shared<DefaultMixerSystem>();
    return *s;
}

void useMixerSystem(std::shared_ptr<MixerSystem> system) {
    chosenSystem() = std::move(system);
}

}  // namespace vesperon::volume
