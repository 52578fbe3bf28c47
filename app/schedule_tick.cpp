#include "app/schedule_tick.h"

#include <ctime>

namespace vesperon::app {

int MsToNextSecond(std::int64_t nsIntoSecond) {
    constexpr std::int64_t kSecond = 1000000000, kMs = 1000000;
    if (nsIntoSecond < 0 || nsIntoSecond >= kSecond) nsIntoSecond = 0;
    const std::int64_t left = kSecond - nsIntoSecond;
    return static_cast<int>((left + kMs - 1) / kMs) + kTickMarginMs;
}

int MsToNextScheduleTick() {
    // The wall clock, which the local time of day is read from (and which faketime moves).
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return MsToNextSecond(now.tv_nsec);
}

}  // namespace vesperon::app
