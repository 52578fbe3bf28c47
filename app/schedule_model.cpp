#include "app/schedule_model.h"

namespace vesperon::app {

std::array<WeekPeriod, kPeriodCount> weekPeriodsOf(const ScheduleModel& model) {
    std::array<WeekPeriod, kPeriodCount> out;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const SchedulePeriod& p = model.periods[i];
        out[i] = {BoxSecondOfDay(p.from[0], p.from[1], p.from[2]), BoxSecondOfDay(p.to[0], p.to[1], p.to[2]), p.days};
    }
    return out;
}

}  // namespace vesperon::app
