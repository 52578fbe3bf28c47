#include "desktop/hot_keys.h"

#include "desktop/hot_key_codes.h"
#include "desktop/x11_key_grabber.h"

namespace vesperon::desktop {
namespace {

HotKeyTable& table() {
    static HotKeyTable t;
    return t;
}

std::unique_ptr<KeyGrabber>& grabberSlot() {
    static std::unique_ptr<KeyGrabber> g;
    return g;
}

void deliverKey(std::intptr_t window, int id) {
    ui::sendMessage(window, kHotKeyMessage, id, 0);
}

KeyGrabber& grabber() {
    auto& g = grabberSlot();
    if (!g) {
        g = std::make_unique<X11KeyGrabber>();
        g->setDelivery(deliverKey);
    }
    return *g;
}

// Sees the hot-key window's messages first; the window's own handling follows for every message.
std::optional<std::intptr_t> hotKeyFilter(std::uint32_t message, std::intptr_t wParam, std::intptr_t) {
    if (message != kHotKeyMessage) return std::nullopt;
    const HotKeyTable& t = table();
    for (std::uint32_t id = kFirstHotKeyId; id <= t.highestId; ++id)
        if (static_cast<std::intptr_t>(id) == wParam)
            ui::sendMessage(t.feedbackWindow, ui::kPlayerNotifyMessage, wParam, 0);
    return std::nullopt;
}

}  // namespace

const HotKeyTable& hotKeyTable() {
    return table();
}

void useKeyGrabber(std::unique_ptr<KeyGrabber> g) {
    if (g) g->setDelivery(deliverKey);
    grabberSlot() = std::move(g);
}

int RegisterGlobalHotKey(ui::WindowHandle window, ui::WindowHandle feedback, int modifiers, int key) {
    HotKeyTable& t = table();
    t.feedbackWindow = feedback;
    const std::uint32_t flags = modifierFlagsFromCode(modifiers);
    if (t.filterId == 0) {
        t.filterId = ui::addMessageFilter(window, hotKeyFilter);
        t.filteredWindow = t.filterId ? window : 0;
    }
    ++t.activeCount;
    ++t.issuedCount;
    const int id = static_cast<int>(33000 + t.issuedCount);
    t.highestId = static_cast<std::uint32_t>(id);
    return grabber().registerKey(window, id, flags, static_cast<std::uint32_t>(key)) ? id : 0;
}

bool UnregisterGlobalHotKey(ui::WindowHandle window, int id) {
    HotKeyTable& t = table();
    const bool released = grabber().unregisterKey(window, id);
    --t.activeCount;
    if (t.filterId != 0 && t.activeCount == 0) {
        // Taken off the window it was put on, whichever window this call names.
        ui::removeMessageFilter(t.filteredWindow, t.filterId);
        t.filterId = 0;
        t.filteredWindow = 0;
    }
    return released;
}

}  // namespace vesperon::desktop
