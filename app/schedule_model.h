#pragma once
// The schedule: five periods, each the texts of its six boxes (hour, minute, second of its start
// and of its end, as typed; empty for an empty box) and the days it applies on, the rest days,
// whether the schedule is on, and the starts it took. The period boxes of the window are a view
// of it. What fires when is WeekSchedule's (app/week_schedule.h), fed from the model by
// weekPeriodsOf.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/week_schedule.h"

namespace vesperon::app {

struct SchedulePeriod {
    std::array<std::string, 3> from, to;  // hour, minute, second as typed
    DayMask days = kEveryDay;
    bool operator==(const SchedulePeriod&) const = default;
};

struct ScheduleModel {
    static constexpr int kPeriods = kPeriodCount;
    std::array<SchedulePeriod, kPeriods> periods;
    std::vector<DateRange> rest;
    bool on = false;
    // What a restart inside a period needs: for each period, the occurrence whose start was taken
    // last (the local second it began, as ScheduleEvent::since counts it), and whether the music
    // was stopped after the latest start taken (the user's stop or pause, or a period's end).
    std::array<std::optional<std::int64_t>, kPeriods> startedAt{};
    bool stopped = false;
    bool operator==(const ScheduleModel&) const = default;
};

// The periods as the evaluator reads them: each box triple as its second of the day (none where
// a box can never equal the clock; an empty box reads as 0), with its days. A row whose six boxes
// are all empty has neither a start nor an end.
std::array<WeekPeriod, kPeriodCount> weekPeriodsOf(const ScheduleModel& model);

}  // namespace vesperon::app
