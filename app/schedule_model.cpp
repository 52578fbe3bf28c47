#include "app/schedule_model.h"

#include "app/schedule_box.h"

namespace vesperon::app {

namespace {

bool matches(const std::array<std::string, 3>& texts, const std::tm& t) {
    return BoxEquals(ReadBoxValue(texts[0]), t.tm_hour) && BoxEquals(ReadBoxValue(texts[1]), t.tm_min) &&
           BoxEquals(ReadBoxValue(texts[2]), t.tm_sec);
}

}  // namespace

ScheduleAction scheduleActionAt(const ScheduleModel& model, const std::tm& local) {
    if (!model.on) return ScheduleAction::None;
    for (const SchedulePeriod& p : model.periods)
        if (matches(p.from, local)) return ScheduleAction::Start;
    for (const SchedulePeriod& p : model.periods)
        if (matches(p.to, local)) return ScheduleAction::End;
    return ScheduleAction::None;
}

}  // namespace vesperon::app
