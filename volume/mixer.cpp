#include "volume/mixer.h"

#include "volume/alsa_mixer.h"

namespace vesperon::volume {

namespace {
std::shared_ptr<MixerSystem>& chosenSystem() {
    static std::shared_ptr<MixerSystem> system;
    return system;
}
}  // namespace

MixerSystem& mixerSystem() {
    auto& s = chosenSystem();
    if (!s) s = makeAlsaMixerSystem();
    return *s;
}

void useMixerSystem(std::shared_ptr<MixerSystem> system) {
    chosenSystem() = std::move(system);
}

}  // namespace vesperon::volume
