// The schedule's view and clock: the thirty period boxes show the controller's schedule model and
// write what is typed into it; the once-a-second clock shows the time and, while the schedule is
// on, starts the next track at a period's start and fades out and stops at its end.

#include "app/logic.h"
#include "app/routines.h"
#include "app/session.h"
#include "ui/button.h"
#include "ui/check_box.h"
#include "ui/content_watch.h"
#include "ui/edit_box.h"

namespace vesperon::app {

namespace {

// scheduleBoxes holds every start hour, then start minutes, ..., then end seconds.
ui::Widget& periodBox(int period, bool end, int part) {
    return widget(state().scheduleBoxes[static_cast<std::size_t>(((end ? 3 : 0) + part) * 5 + period)]);
}

SchedulePeriod periodOfBoxes(int period) {
    SchedulePeriod p;
    for (int part = 0; part < 3; ++part) {
        p.from[static_cast<std::size_t>(part)] = periodBox(period, false, part).textProperty(ui::kEditContent);
        p.to[static_cast<std::size_t>(part)] = periodBox(period, true, part).textProperty(ui::kEditContent);
    }
    return p;
}

void setEnabled(ui::Widget& w, bool enabled) { w.setProperty(ui::kDisabled, enabled ? 0 : 1); }

void startPeriod() {
    controller().whenIdle([] {
        // A new period tries the playlist again, whatever failed before.
        controller().failedInARow = 0;
        PlayNext();
    });
}

void endPeriod() {
    controller().whenIdle([] { controller().endWithFade(); });
}

}  // namespace

void ShowPeriod(int index) {
    // A copy: each box written tells its watcher, which writes the model from the boxes.
    const SchedulePeriod p = controller().schedule.periods[static_cast<std::size_t>(index)];
    SessionBatch batch;
    for (int part = 0; part < 3; ++part) {
        ui::Widget& from = periodBox(index, false, part);
        ui::Widget& to = periodBox(index, true, part);
        if (from.textProperty(ui::kEditContent) != p.from[static_cast<std::size_t>(part)])
            from.setProperty(ui::kEditContent, p.from[static_cast<std::size_t>(part)]);
        if (to.textProperty(ui::kEditContent) != p.to[static_cast<std::size_t>(part)])
            to.setProperty(ui::kEditContent, p.to[static_cast<std::size_t>(part)]);
    }
}

void WatchPeriodBoxes() {
    for (int period = 0; period < ScheduleModel::kPeriods; ++period)
        for (int part = 0; part < 6; ++part)
            ui::watchContent(periodBox(period, part >= 3, part % 3), [period] {
                ScheduleModel& model = controller().schedule;
                const SchedulePeriod typed = periodOfBoxes(period);
                if (model.periods[static_cast<std::size_t>(period)] == typed) return;
                model.periods[static_cast<std::size_t>(period)] = typed;
                sessionChanged();
            });
}

void CheckSchedule() {
    std::tm now = services().localTime();
    widgets().hourBox.setProperty(ui::kEditContent, std::to_string(now.tm_hour));
    widgets().minuteBox.setProperty(ui::kEditContent, std::to_string(now.tm_min));
    widgets().secondBox.setProperty(ui::kEditContent, std::to_string(now.tm_sec));

    // Local seconds as a running count, so that every second of the day is checked once.
    std::tm copy = now;
    const std::int64_t second = static_cast<std::int64_t>(timegm(&copy));
    for (std::int64_t sec : controller().seconds.due(second)) {
        controller().seconds.markChecked(sec);
        std::time_t t = static_cast<std::time_t>(sec);
        std::tm at{};
        gmtime_r(&t, &at);
        switch (scheduleActionAt(controller().schedule, at)) {
            case ScheduleAction::Start:
                startPeriod();
                return;
            case ScheduleAction::End:
                endPeriod();
                return;
            case ScheduleAction::None:
                break;
        }
    }
    SyncVolumeWidgets();
}

RoutineResult CheckSchedule(const ui::EventCall&) {
    CheckSchedule();
    return std::nullopt;
}

void SwitchSchedule() {
    ScheduleModel& model = controller().schedule;
    model.on = !model.on;
    setEnabled(widgets().clearPeriodsButton, !model.on);
    for (const std::string& box : state().scheduleBoxes) setEnabled(widget(box), !model.on);
    widgets().scheduleSwitch.setProperty(ui::kCheckCaption, std::string(model.on ? "取消计划" : "开始计划"));
    sessionChanged();
}

RoutineResult ScheduleSwitch(const ui::EventCall&) {
    controller().switchSchedule();
    return std::nullopt;
}

RoutineResult ClearPeriods(const ui::EventCall&) {
    SessionBatch batch;
    for (int period = 0; period < ScheduleModel::kPeriods; ++period) controller().setPeriod(period, {});
    return std::nullopt;
}

}  // namespace vesperon::app
