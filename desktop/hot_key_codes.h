#pragma once
// Hot-key codes: the modifier codes callers pass, the modifier flags and virtual-key numbers the
// layout and the routines use for a key, and their X11 equivalents.

#include <cstdint>

namespace vesperon::desktop {

// Modifier flags of a key registration, as the routines pass them.
inline constexpr uint32_t kModAlt = 1;
inline constexpr uint32_t kModControl = 2;
inline constexpr uint32_t kModShift = 4;
inline constexpr uint32_t kModWin = 8;
inline constexpr uint32_t kModNoRepeat = 0x4000;

// Virtual-key numbers the player uses.
inline constexpr uint32_t kVkPause = 0x13;
inline constexpr uint32_t kVkPageDown = 0x22;

// HotKeyModifierCode (0 none, 1 Ctrl, 2 Shift, 4 Alt and their sums) to modifier flags; any
// other code passes unchanged.
uint32_t modifierFlagsFromCode(int code);

// The X keysym for a virtual-key number, 0 when there is none.
uint32_t keysymForVirtualKey(uint32_t vk);

// The X modifier mask for modifier flags; false when the flags hold a bit with no X meaning.
bool xModifierMask(uint32_t flags, uint16_t& mask);

}  // namespace vesperon::desktop
