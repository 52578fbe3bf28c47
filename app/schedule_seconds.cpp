#include "app/schedule_seconds.h"

namespace vesperon::app {

std::vector<int64_t> ScheduleSeconds::due(int64_t now) const {
    if (!any_) return {now};
    int64_t gap = now - last_;
    if (gap <= 0) {
        // The same second again, or a small step back of the clock: checked already. A clock
        // set back further starts afresh at the current second.
        if (gap >= -kMaxCatchUp) return {};
        return {now};
    }
    if (gap > kMaxCatchUp + 1) return {now};
    std::vector<int64_t> seconds;
    for (int64_t s = last_ + 1; s <= now; ++s) seconds.push_back(s);
    return seconds;
}

}  // namespace vesperon::app
