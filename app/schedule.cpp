// The schedule's view and clock: the thirty period boxes and the rows' days menus show the
// controller's schedule model and write what is typed or chosen into it; the once-a-second clock
// shows the time and hands it to the week's evaluator, whose events start the next track (a
// period's start) or fade out and stop (its end).

#include "app/logic.h"
#include "app/loudness_control.h"
#include "app/routines.h"
#include "app/session.h"
#include "desktop/period_days_menu.h"
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

// Whether the music is stopped (or paused) after the latest start taken, kept for a restart.
void setStopped(bool stopped) {
    ScheduleModel& model = controller().schedule;
    if (model.stopped == stopped) return;
    model.stopped = stopped;
    sessionChanged();
}

void carryOut(const ScheduleEvent& event) {
    PlayerController& c = controller();
    if (event.kind == ScheduleEvent::Kind::Start) {
        std::optional<std::int64_t>& taken = c.schedule.startedAt[static_cast<std::size_t>(event.period)];
        // A restart inside an occurrence whose start was taken: the music comes back only when it
        // was playing (a crash, a power cut), not after the user stopped it.
        if (event.missed && taken == event.since && c.schedule.stopped) return;
        taken = event.since;
        c.schedule.stopped = false;
        sessionChanged();
        ApplyPeriodLevel(event.period);
        c.record(LogEvent::ScheduleStart, LogBy::Schedule, {}, event.missed);
        c.whenIdle(c.as(LogBy::Schedule, [&c] {
            // A new period tries the playlist again, whatever failed before.
            c.failedInARow = 0;
            PlayNext();
        }));
    } else {
        setStopped(true);
        ApplyPeriodLevel(-1);
        c.record(LogEvent::ScheduleEnd, LogBy::Schedule, {}, event.missed);
        c.whenIdle([&c] { c.endWithFade(); });
    }
}

}  // namespace

void NoteTransport(LogEvent event, LogBy by) {
    if (by == LogBy::None || by == LogBy::Schedule) return;
    if (event == LogEvent::Stop || event == LogEvent::Pause) setStopped(true);
    if (event == LogEvent::Track || event == LogEvent::Resume) setStopped(false);
}

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
    if (ui::Label* caption = desktop::FindPeriodRow(mainForm(), index).from) desktop::ShowPeriodDays(*caption, p.days);
}

void WatchPeriodBoxes() {
    for (int period = 0; period < ScheduleModel::kPeriods; ++period)
        for (int part = 0; part < 6; ++part)
            ui::watchContent(periodBox(period, part >= 3, part % 3), [period] {
                ScheduleModel& model = controller().schedule;
                SchedulePeriod typed = periodOfBoxes(period);
                typed.days = model.periods[static_cast<std::size_t>(period)].days;
                if (model.periods[static_cast<std::size_t>(period)] == typed) return;
                model.periods[static_cast<std::size_t>(period)] = typed;
                sessionChanged();
            });
}

void AttachPeriodDaysMenus() {
    desktop::AttachWeekMenus(
        mainForm(), {
                        .days = [](int period) { return controller().schedule.periods[static_cast<std::size_t>(period)].days; },
                        .locked = [] { return controller().schedule.on; },
                        .setDays =
                            [](int period, DayMask days) {
                                controller().schedule.periods[static_cast<std::size_t>(period)].days = days;
                                sessionChanged();
                            },
                        .restDays = [] { return controller().schedule.rest; },
                        .setRestDays =
                            [](std::vector<DateRange> rest) {
                                controller().schedule.rest = std::move(rest);
                                sessionChanged();
                            },
                        .level = &PeriodLevel,
                        .setLevel = &SetPeriodLevel,
                    });
}

void CheckSchedule() {
    std::tm now = services().localTime();
    widgets().hourBox.setProperty(ui::kEditContent, std::to_string(now.tm_hour));
    widgets().minuteBox.setProperty(ui::kEditContent, std::to_string(now.tm_min));
    widgets().secondBox.setProperty(ui::kEditContent, std::to_string(now.tm_sec));

    PlayerController& c = controller();
    c.week.setPeriods(weekPeriodsOf(c.schedule));
    if (c.week.restDays() != c.schedule.rest) c.week.setRestDays(c.schedule.rest);
    const std::vector<ScheduleEvent> events = c.week.observe(now);
    for (const ScheduleEvent& e : events) carryOut(e);
    if (!events.empty()) return;
    SyncVolumeWidgets();
}

RoutineResult CheckSchedule(const ui::EventCall&) {
    CheckSchedule();
    return std::nullopt;
}

void SwitchSchedule() {
    ScheduleModel& model = controller().schedule;
    model.on = !model.on;
    // The user's click takes nothing late: the schedule waits for the next start.
    controller().week.switchOn(model.on);
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
    // The boxes only: each period keeps its days.
    for (int period = 0; period < ScheduleModel::kPeriods; ++period) {
        SchedulePeriod cleared;
        cleared.days = controller().schedule.periods[static_cast<std::size_t>(period)].days;
        controller().setPeriod(period, cleared);
    }
    return std::nullopt;
}

}  // namespace vesperon::app
