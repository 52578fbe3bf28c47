#pragma once
// The schedule: five periods, each the texts of its six boxes (hour, minute, second of its start
// and of its end, as typed; empty for an empty box), and whether the schedule is on. The period
// boxes of the window are a view of it. What fires at a second is a pure function of the model.

#include <array>
#include <ctime>
#include <string>

namespace vesperon::app {

struct SchedulePeriod {
    std::array<std::string, 3> from, to;  // hour, minute, second as typed
    bool operator==(const SchedulePeriod&) const = default;
};

struct ScheduleModel {
    static constexpr int kPeriods = 5;
    std::array<SchedulePeriod, kPeriods> periods;
    bool on = false;
    bool operator==(const ScheduleModel&) const = default;
};

enum class ScheduleAction { None, Start, End };

// What the schedule does at this local second (only tm_hour, tm_min and tm_sec are read): a
// period starting there starts the next track, one ending there fades out and stops; a start
// wins when both fall on the second. Nothing while the schedule is off.
ScheduleAction scheduleActionAt(const ScheduleModel& model, const std::tm& local);

}  // namespace vesperon::app
