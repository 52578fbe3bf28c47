#pragma once
// Where the sound heard stands in a play: what the renderer reports, the player names and the
// window's bar and MPRIS Position follow.

#include <cstdint>

namespace vesperon::engine {

// Where the sound heard stands in a play's track.
struct HeardPosition {
    std::uint64_t play = 0;         // names the play (a new one for every start and seek; 0: none)
    bool started = false;           // the play's first sound has been heard
    bool moving = false;            // it plays on (not paused nor stopping)
    std::int64_t samples = 0;       // per channel, from the track's beginning (a seek's start included)
    std::int32_t sampleRate = 0;    // 0 until the track's format is known
    std::int64_t totalSamples = 0;  // estimated from the file (0: unknown)

    std::int64_t microseconds() const { return sampleRate > 0 ? samples * 1000000 / sampleRate : 0; }
};

}  // namespace vesperon::engine
