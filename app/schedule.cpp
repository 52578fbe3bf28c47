// The schedule: the once-a-second clock shows the time and, while the schedule is on, starts the
// next track at a period's start and fades out and stops at its end.

#include "app/logic.h"
#include "app/routines.h"
#include "app/schedule_box.h"
#include "app/session.h"
#include "ui/button.h"
#include "ui/check_box.h"
#include "ui/edit_box.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

double boxValue(int position) {
    return ReadBoxValue(widget(state().scheduleBoxes[static_cast<std::size_t>(position - 1)])
                            .textProperty(ui::kEditContent));
}

// Start (first = 1) or end (first = 16) of any slot at h:m:s; each box is read only when the one
// before it matched.
bool anySlotAt(int first, int h, int m, int s) {
    for (int i = 0; i < 5; ++i) {
        const int at = first + i;
        if (BoxEquals(boxValue(at), h) && BoxEquals(boxValue(at + 5), m) && BoxEquals(boxValue(at + 10), s))
            return true;
    }
    return false;
}

// The tick's tests for one second of the day; true when a start or an end fired.
bool checkSecond(int h, int m, int s) {
    if (anySlotAt(1, h, m, s)) {
        ScheduleStart();
        return true;
    }
    if (anySlotAt(16, h, m, s)) {
        ScheduleEnd();
        return true;
    }
    return false;
}

void setEnabled(ui::Widget& w, bool enabled) {
    w.setProperty(ui::kDisabled, enabled ? 0 : 1);
}

}  // namespace

void CheckSchedule() {
    std::tm now = services().localTime();
    widgets().hourBox.setProperty(ui::kEditContent, std::to_string(now.tm_hour));
    widgets().minuteBox.setProperty(ui::kEditContent, std::to_string(now.tm_min));
    widgets().secondBox.setProperty(ui::kEditContent, std::to_string(now.tm_sec));

    // Local seconds as a running count, so that every second of the day is checked once.
    std::tm copy = now;
    const std::int64_t second = static_cast<std::int64_t>(timegm(&copy));
    const std::vector<std::int64_t> due = scheduleSeconds().due(second);
    for (std::int64_t sec : due) {
        // Marked before the tests run: a fade lets later ticks in, which go on from here.
        scheduleSeconds().markChecked(sec);
        if (state().scheduleOn != 1) continue;
        std::time_t t = static_cast<std::time_t>(sec);
        std::tm at{};
        gmtime_r(&t, &at);
        if (checkSecond(at.tm_hour, at.tm_min, at.tm_sec)) return;
    }
    SyncVolumeWidgets();
}

RoutineResult CheckSchedule(const ui::EventCall&) {
    CheckSchedule();
    return std::nullopt;
}

void SwitchSchedule() {
    PlayerState& s = state();
    toggle(s.scheduleOn);
    const bool on = s.scheduleOn == 1;
    setEnabled(widgets().clearPeriodsButton, !on);
    for (const std::string& box : s.scheduleBoxes) setEnabled(widget(box), !on);
    s.scheduleOn = on ? 1 : 0;
    widgets().scheduleSwitch.setProperty(ui::kCheckCaption, std::string(on ? "取消计划" : "开始计划"));
    sessionChanged();
}

RoutineResult ScheduleSwitch(const ui::EventCall&) {
    SwitchSchedule();
    return std::nullopt;
}

RoutineResult ClearPeriods(const ui::EventCall&) {
    SessionBatch batch;
    for (const std::string& box : state().scheduleBoxes) widget(box).setProperty(ui::kEditContent, std::string());
    return std::nullopt;
}

}  // namespace vesperon::app
