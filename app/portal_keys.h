#pragma once
// The hot keys the X server would not grab (both of them on Wayland, where a client grabs
// nothing) are asked of the desktop's GlobalShortcuts portal, once the start-up is over. A press
// there acts as the X key does; where neither gives the keys, the refusal box says so, without
// holding anything up.

#include <string>
#include <vector>

namespace vesperon::app {

enum class HotKey { Pause = 0, PageDown = 1 };

// The start-up's last word on the keys: `refused` are those the X server did not grab.
void SettleHotKeys(const std::vector<HotKey>& refused);

}  // namespace vesperon::app
