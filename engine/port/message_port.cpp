#include "engine/port/message_port.h"

#include <atomic>

namespace vesperon::engine {

namespace {
// Installed once at start, read from the engine's threads.
std::atomic<decltype(MessagePort::post)> g_post{nullptr};
std::atomic<decltype(MessagePort::isWindow)> g_isWindow{nullptr};
}  // namespace

void installMessagePort(const MessagePort& port) {
    g_post.store(port.post);
    g_isWindow.store(port.isWindow);
}

bool isLiveWindow(WindowHandle target) {
    auto isWindow = g_isWindow.load();
    return target != 0 && isWindow && isWindow(target);
}

bool postToWindow(WindowHandle target, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    auto post = g_post.load();
    if (!post || !isLiveWindow(target)) return false;
    return post(target, message, wParam, lParam);
}

}  // namespace vesperon::engine
