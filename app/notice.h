#pragma once
// The engine's notice to the window comes as one number on the label: progress 0-99, 100 for the
// end of a track (played out to the device), 101 when a play's first sound is heard, or a hot key's
// identifier (from 33001; 0 for a key that did not register). It
// is decoded once, here, so that the logic dispatches on what it means and the ranges never mix.

#include <array>
#include <cstdint>

namespace vesperon::app {

struct Notice {
    enum class Kind { Progress, TrackEnded, FirstSoundHeard, HotKey, Unknown };
    enum class Key { Pause, PageDown };
    Kind kind = Kind::Unknown;
    int percent = 0;     // Progress
    Key key = Key::Pause;  // HotKey
};

// hotkeyIds as the start-up registered them (Pause, Page Down; 0 = not registered). A registered
// key wins over progress, and an unregistered one (0) never turns progress 0 into a key press.
Notice decodeNotice(std::int64_t value, const std::array<std::int32_t, 2>& hotkeyIds);

}  // namespace vesperon::app
