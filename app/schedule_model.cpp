#include "app/schedule_model.h"

namespace vesperon::app {

std::array<WeekPeriod, kPeriodCount> weekPeriodsOf(const ScheduleModel& model) {
    std::array<WeekPeriod, kPeriodCount> out;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const SchedulePeriod& p = model.periods[i];
        // A row nobody typed in is not used: read as 00:00:00 to 00:00:00 it would start a track
        // at every midnight, and its start would hide another row's midnight end.
        const auto empty = [](const std::array<std::string, 3>& boxes) {
            return boxes[0].empty() && boxes[1].empty() && boxes[2].empty();
        };
        if (empty(p.from) && empty(p.to)) {
            out[i] = {std::nullopt, std::nullopt, p.days};
            continue;
        }
        out[i] = {BoxSecondOfDay(p.from[0], p.from[1], p.from[2]), BoxSecondOfDay(p.to[0], p.to[1], p.to[2]), p.days};
    }
    return out;
}

}  // namespace vesperon::app
