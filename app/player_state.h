#pragma once
// The player's record of its playlist and switches (the controller holds it).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vesperon::app {

struct PlayerState {
    int32_t panelExpanded = 0;
    int32_t randomOrder = 0;
    int32_t currentTrack = 0;  // 1-based
    std::vector<std::string> playlist;  // full paths
    int32_t loopTrack = 0;
    std::array<int32_t, 2> hotkeyIds{0, 0};  // Pause, Page Down; 0 = not registered
    std::vector<std::string> scheduleBoxes;  // names of the thirty period boxes, in schedule order
    // A track started at the end of the one before is shown (caption, row, MPRIS) once its first
    // sound is heard; until then this names the track still heard (0: show currentTrack).
    int32_t shownTrack = 0;
    int32_t startPercent = 0;  // where the current play started (a seek's target)
    std::int64_t startMicroseconds = 0;  // a seek's target given as a time (MPRIS); 0: none
    // The play was removed (stop, reset): its notices still queued are stale, and a progress
    // among them must not move the slider the next start begins at.
    bool playRemoved = false;
    std::string dialogFolder;  // where the open dialog was last used ("" before its first use)
};

// Flags are toggled by flipping their lowest bit.
inline void toggle(int32_t& flag) { flag ^= 1; }

}  // namespace vesperon::app
