#include "desktop/x11_key_grabber.h"

#include <QGuiApplication>
#include <algorithm>
#include <memory>

// Xlib's macros (Bool, Status, ...) clash with Qt's headers, so it comes after them.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include "desktop/hot_key_codes.h"

namespace vesperon::desktop {
namespace {
constexpr uint16_t kRelevantMods = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
}

X11KeyGrabber::X11KeyGrabber() {
    auto* app = qGuiApp;
    if (!app) return;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display() || !x11->connection()) return;
    display_ = x11->display();
    connection_ = x11->connection();
    root_ = static_cast<uint32_t>(DefaultRootWindow(static_cast<Display*>(display_)));
    app->installNativeEventFilter(this);
    filtering_ = true;
    appWatch_ = std::make_unique<QObject>();
    QObject::connect(app, &QObject::destroyed, appWatch_.get(), [this] {
        connection_ = nullptr;
        display_ = nullptr;
        filtering_ = false;
    });
}

X11KeyGrabber::~X11KeyGrabber() {
    if (connection_)
        for (const Grab& g : grabs_) ungrab(g.keycode, g.mods);
    if (filtering_ && qGuiApp) qGuiApp->removeNativeEventFilter(this);
}

uint16_t X11KeyGrabber::lockMasks() const {
    // Num Lock sits on whichever modifier carries its keycode (usually Mod2).
    auto* dpy = static_cast<Display*>(display_);
    uint16_t numLock = 0;
    const KeyCode numCode = XKeysymToKeycode(dpy, XK_Num_Lock);
    if (XModifierKeymap* map = XGetModifierMapping(dpy)) {
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (numCode && map->modifiermap[m * map->max_keypermod + k] == numCode)
                    numLock = static_cast<uint16_t>(1 << m);
        XFreeModifiermap(map);
    }
    return static_cast<uint16_t>(numLock | LockMask);
}

bool X11KeyGrabber::grab(uint8_t keycode, uint16_t mods) {
    auto* c = static_cast<xcb_connection_t*>(connection_);
    const uint16_t locks = lockMasks();
    std::vector<uint16_t> combos;
    for (uint16_t extra = 0;; extra = static_cast<uint16_t>((extra - locks) & locks)) {
        combos.push_back(static_cast<uint16_t>(mods | extra));
        if (extra == locks) break;
    }
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t m : combos)
        cookies.push_back(
            xcb_grab_key_checked(c, 1, root_, m, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    // A key another client holds answers BadAccess; checking every cookie waits for the answers.
    bool ok = true;
    for (auto cookie : cookies) {
        if (xcb_generic_error_t* err = xcb_request_check(c, cookie)) {
            ok = false;
            free(err);
        }
    }
    if (!ok) ungrab(keycode, mods);
    return ok;
}

void X11KeyGrabber::ungrab(uint8_t keycode, uint16_t mods) {
    auto* c = static_cast<xcb_connection_t*>(connection_);
    const uint16_t locks = lockMasks();
    for (uint16_t extra = 0;; extra = static_cast<uint16_t>((extra - locks) & locks)) {
        xcb_ungrab_key(c, keycode, root_, static_cast<uint16_t>(mods | extra));
        if (extra == locks) break;
    }
    xcb_flush(c);
}

bool X11KeyGrabber::registerKey(std::intptr_t window, int id, uint32_t flags, uint32_t vk) {
    if (!connection_) return false;
    uint16_t mods = 0;
    if (!xModifierMask(flags, mods)) return false;
    const uint32_t keysym = keysymForVirtualKey(vk);
    if (!keysym) return false;
    const KeyCode code = XKeysymToKeycode(static_cast<Display*>(display_), keysym);
    if (!code) return false;
    // One holder per combination, as the system gives it to one registration only.
    for (const Grab& g : grabs_)
        if (g.keycode == code && g.mods == mods) return false;
    if (!grab(code, mods)) return false;
    grabs_.push_back({window, id, code, mods});
    return true;
}

bool X11KeyGrabber::unregisterKey(std::intptr_t window, int id) {
    if (!connection_) return false;
    auto it = std::find_if(grabs_.begin(), grabs_.end(),
                           [&](const Grab& g) { return g.window == window && g.id == id; });
    if (it == grabs_.end()) return false;
    ungrab(it->keycode, it->mods);
    grabs_.erase(it);
    return true;
}

bool X11KeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || grabs_.empty()) return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    const uint8_t type = ev->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(ev);
    const uint8_t code = key->detail;
    // Whether a press is the auto-repeat of a held key. Releases are noted whichever window they
    // are reported to (one of ours when it has the focus).
    bool repeat = false;
    if (type == XCB_KEY_RELEASE) {
        down_[code] = false;
        releasedAt_[code] = key->time;
    } else {
        repeat = down_[code] || (releasedAt_[code] != 0 && releasedAt_[code] == key->time);
        down_[code] = true;
    }
    if (key->event != root_) return false;
    const uint16_t mods = key->state & kRelevantMods;
    for (const Grab& g : grabs_) {
        if (g.keycode != code || g.mods != mods) continue;
        // The release of a grabbed key is swallowed too, so no window sees half a key stroke.
        if (type == XCB_KEY_PRESS && !repeat) deliver(g.window, g.id);
        return true;
    }
    return false;
}

}  // namespace vesperon::desktop
