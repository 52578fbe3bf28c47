#pragma once
// Virtual key codes of the key events (-9, -10): the codes the player logic and the hot keys
// compare against (0x0D Enter, 0x20 Space, 0x2E Delete, 0x13 Pause, 0x22 Page Down, ...).

#include <cstdint>

class QKeyEvent;

namespace vesperon::ui {

// The virtual key code of a Qt key (Qt::Key), 0 when it has none.
std::int32_t virtualKeyOfQtKey(int qtKey, bool keypad = false);
std::int32_t virtualKeyOf(const QKeyEvent& event);
// The Qt key of a virtual key code, 0 when none.
int qtKeyOfVirtualKey(std::int32_t vk);
// 1 Ctrl, 2 Shift, 4 Alt, from Qt keyboard modifiers.
std::int32_t keyStateOf(int qtModifiers);

}  // namespace vesperon::ui
