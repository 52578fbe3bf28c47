#pragma once
// The system side of hot keys: a key combination registered for a window under an identifier,
// and delivery of its presses. The X11 grabber is the real one; tests of the table may use a fake.

#include <cstdint>
#include <functional>

namespace vesperon::desktop {

class KeyGrabber {
public:
    // Called with the window handle and identifier of a registered key that was pressed.
    using Delivery = std::function<void(std::intptr_t window, int id)>;

    virtual ~KeyGrabber() = default;
    // flags: modifier flags (kModAlt, ...); vk: virtual-key number. False when refused.
    virtual bool registerKey(std::intptr_t window, int id, uint32_t flags, uint32_t vk) = 0;
    virtual bool unregisterKey(std::intptr_t window, int id) = 0;
    void setDelivery(Delivery d) { delivery_ = std::move(d); }

protected:
    void deliver(std::intptr_t window, int id) {
        if (delivery_) delivery_(window, id);
    }

private:
    Delivery delivery_;
};

}  // namespace vesperon::desktop
