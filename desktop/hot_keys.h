#pragma once
// System-wide hot keys: registration hands out identifiers from 33001 (consumed also when the
// key is refused, never reused) and, while any registration is active, puts a message filter in
// front of the hot-key window that forwards each pressed key's identifier to the feedback window
// as message 0x8075 before the window itself sees the key message.

#include <cstdint>
#include <memory>

#include "desktop/key_grabber.h"
#include "ui/handle_registry.h"

namespace vesperon::desktop {

// The key message a registered key delivers to its hot-key window (wParam = identifier).
inline constexpr std::uint32_t kHotKeyMessage = 0x312;
inline constexpr int kFirstHotKeyId = 33001;

struct HotKeyTable {
    std::int32_t activeCount = 0;   // +1 per registration call, -1 per release call
    std::uint32_t issuedCount = 0;  // +1 per registration call, never less
    std::uint32_t highestId = 33000;
    ui::WindowHandle feedbackWindow = 0;  // of the most recent registration
    // The window whose messages are filtered, and the filter (0 = none installed).
    ui::WindowHandle filteredWindow = 0;
    int filterId = 0;
};

const HotKeyTable& hotKeyTable();

// modifiers: HotKeyModifierCode (0 none, 1 Ctrl, 2 Shift, 4 Alt and sums); key: virtual-key
// number. Returns the new identifier, or 0 when the system refused the key.
int RegisterGlobalHotKey(ui::WindowHandle window, ui::WindowHandle feedback, int modifiers, int key);
// True when the system released the key.
bool UnregisterGlobalHotKey(ui::WindowHandle window, int id);

// The system side of the keys: the X11 grabber unless replaced (tests). Replacing it drops the
// registrations the old one held.
void useKeyGrabber(std::unique_ptr<KeyGrabber> grabber);

}  // namespace vesperon::desktop
