#pragma once
// Which seconds of the day a clock tick checks: every second exactly once while the program
// runs. A late tick also checks the seconds it skipped (at most the last 10); a larger jump, or
// the clock going back, checks only the current second; a second already checked is not checked
// again when a second tick lands in it.

#include <cstdint>
#include <vector>

namespace vesperon::app {

class ScheduleSeconds {
public:
    static constexpr int64_t kMaxCatchUp = 10;

    // `now` is a count of local seconds (e.g. seconds since the epoch in local time). Returns the
    // seconds to check, oldest first; none when `now` was checked already.
    std::vector<int64_t> due(int64_t now) const;
    // Records `second` as the latest checked (call it for each second of due(), in order).
    void markChecked(int64_t second) {
        last_ = second;
        any_ = true;
    }

private:
    int64_t last_ = 0;
    bool any_ = false;
};

}  // namespace vesperon::app
