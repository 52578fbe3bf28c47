#include "app/tick_count.h"

#include <chrono>

namespace vesperon::app {

uint64_t TickCountMs() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    // 15.625 ms steps.
    return static_cast<uint64_t>(ns / 15625000) * 15625 / 1000;
}

}  // namespace vesperon::app
