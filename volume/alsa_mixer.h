#pragma once
// The ALSA simple mixer on the `default` control device as a MixerSystem: the speakers
// destination is `Master` (or `PCM` when there is no `Master`), the sources are the other
// playback elements by their usual names, mute is the playback switch turned off.

#include <memory>

#include "volume/mixer.h"

namespace vesperon::volume {

std::unique_ptr<MixerSystem> makeAlsaMixerSystem();
// ALSA's `default` control device is PulseAudio's plugin (its configuration loads it when a
// server runs; ALSA decides that once per process, when the configuration is first read).
bool alsaDefaultIsPulse();

}  // namespace vesperon::volume
