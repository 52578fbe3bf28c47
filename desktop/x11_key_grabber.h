#pragma once
// Hot keys as passive grabs on the X11 root window, one per Num Lock / Caps Lock combination,
// made on Qt's own connection and read back through Qt's native event filter. Off X11 (Wayland,
// offscreen) every registration is refused.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <array>
#include <memory>
#include <vector>

#include "desktop/key_grabber.h"

namespace vesperon::desktop {

class X11KeyGrabber final : public KeyGrabber, public QAbstractNativeEventFilter {
public:
    X11KeyGrabber();
    ~X11KeyGrabber() override;

    bool registerKey(std::intptr_t window, int id, uint32_t flags, uint32_t vk) override;
    bool unregisterKey(std::intptr_t window, int id) override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        std::intptr_t window;
        int id;
        uint8_t keycode;
        uint16_t mods;
    };
    bool grab(uint8_t keycode, uint16_t mods);
    void ungrab(uint8_t keycode, uint16_t mods);
    uint16_t lockMasks() const;

    void* display_ = nullptr;     // Display*
    void* connection_ = nullptr;  // xcb_connection_t*
    uint32_t root_ = 0;
    bool filtering_ = false;
    std::unique_ptr<QObject> appWatch_;  // forgets the connection when the application goes
    std::vector<Grab> grabs_;
    // A held key repeats: as further presses (detectable auto-repeat) or as release and press
    // pairs with one time stamp. Either way it acts once, until it is really released.
    std::array<bool, 256> down_{};
    std::array<uint32_t, 256> releasedAt_{};
};

}  // namespace vesperon::desktop
