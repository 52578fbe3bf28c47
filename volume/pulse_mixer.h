#pragma once
// The sound server's default sink as a MixerSystem, through the server's own client library
// (libpulse): the same line and controls, in the same units, as ALSA's pulse plugin shows it
// (`Master`, 0 to the sink's full level, one value per channel; its mute as the switch), so
// callers see no difference. Used in its place when ALSA's `default` control device is that
// plugin: a write that must not go over another program's change (writeValuesIf) then looks and
// writes within one round trip to the server, where the plugin takes several.

#include <memory>

#include "volume/mixer.h"

namespace vesperon::volume {

std::unique_ptr<MixerSystem> makePulseMixerSystem();

}  // namespace vesperon::volume
