#pragma once
// The engine's only way out to the application: posting a numbered message to a window handle.
// The application installs the two functions at start; with none installed nothing is posted.

#include <cstdint>

namespace vesperon::engine {

using WindowHandle = std::intptr_t;
// The player's notice; its value is the progress of the sound heard (0-99) or kNoticeTrackEnd
// when a track has been played out to the device (the moment to start the next one, so that it
// follows without a gap). Nothing else travels on it: hot keys number themselves from 33001.
// A play's first progress notice comes when its first sound is heard.
inline constexpr std::uint32_t kPlayerNotifyMessage = 0x8075;
inline constexpr std::intptr_t kNoticeTrackEnd = 100;

struct MessagePort {
    bool (*post)(WindowHandle target, std::uint32_t message, std::intptr_t wParam,
                 std::intptr_t lParam) = nullptr;
    bool (*isWindow)(WindowHandle target) = nullptr;
};

void installMessagePort(const MessagePort& port);

// Posts to target when a port is installed, target is non-null and names a live window.
bool postToWindow(WindowHandle target, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);
// True when a port is installed and target names a live window.
bool isLiveWindow(WindowHandle target);

}  // namespace vesperon::engine
