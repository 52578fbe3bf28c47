// Start-up, shut-down and the expand/collapse button.

#include <chrono>

#include "app/logic.h"
#include "app/loudness_control.h"
#include "app/portal_keys.h"
#include "app/routines.h"
#include "app/schedule_tick.h"
#include "app/session.h"
#include "desktop/drop_target.h"
#include "desktop/hot_keys.h"
#include "skin/skin.h"
#include "ui/button.h"
#include "ui/list_box.h"
#include "ui/main_window.h"
#include "ui/timer.h"
#include "ui/window_widget.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

constexpr int kPauseKey = 0x13;
constexpr int kPageDownKey = 0x22;

const char* const kPeriodBoxes[6] = {"编辑框_从时", "编辑框_从分", "编辑框_从秒",
                                     "编辑框_到时", "编辑框_到分", "编辑框_到秒"};

}  // namespace

RoutineResult StartUp(const ui::EventCall& call) {
    PlayerState& s = state();
    controller().setForm(&call.form);
    ui::Form& form = call.form;
    installCloseQuit(form);
    skin::SetSkin(2);
    controller().random.seed(static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count() / 1000000));
    s.currentTrack = 1;
    sysVolume().SelectLine(4);

    const ui::WindowHandle window = form.window().handle();
    const ui::WindowHandle feedback = widgets().feedbackLabel.handle();
    s.hotkeyIds[0] = desktop::RegisterGlobalHotKey(window, feedback, 0, kPauseKey);
    s.hotkeyIds[1] = desktop::RegisterGlobalHotKey(window, feedback, 0, kPageDownKey);
    std::vector<HotKey> refused;
    if (s.hotkeyIds[0] == 0) refused.push_back(HotKey::Pause);
    if (s.hotkeyIds[1] == 0) refused.push_back(HotKey::PageDown);
    SettleHotKeys(refused);

    form.window().setProperty(ui::kHeight, ui::kMainWindowCollapsedHeight);
    // The first volume the fades come back to (none while the mixer is missing).
    if (int v = -1; sysVolume().GetVolume(v, v) == 1 && v >= 0) controller().fader().setTarget(v);
    if (auto* drop = widgets().dropTarget)
        drop->RegisterDropWindow(widgets().playlist.handle());

    // Schedule order: all start hours, then start minutes, ..., then end seconds.
    s.scheduleBoxes.clear();
    for (const char* column : kPeriodBoxes)
        for (int slot = 1; slot <= 5; ++slot) s.scheduleBoxes.push_back(column + std::to_string(slot));

    // The schedule's clock ticks just after each wall-clock second begins.
    if (auto* clock = widgets().clock) clock->setPhase(&MsToNextScheduleTick);
    WatchPeriodBoxes();
    AttachPeriodDaysMenus();
    AttachLoudnessMenu(mainForm());
    RestoreSession();
    return std::nullopt;
}

RoutineResult ShutDown(const ui::EventCall& call) {
    const ui::WindowHandle window = call.form.window().handle();
    desktop::UnregisterGlobalHotKey(window, state().hotkeyIds[0]);
    desktop::UnregisterGlobalHotKey(window, state().hotkeyIds[1]);
    return std::nullopt;
}

RoutineResult ExpandCollapse(const ui::EventCall&) {
    PlayerState& s = state();
    toggle(s.panelExpanded);
    if (s.panelExpanded == 1) {
        setButtonCaption(widgets().expandButton, "∧");
        mainForm().window().setProperty(ui::kHeight, ui::kMainWindowExpandedHeight);
        widgets().firstPeriodBox.setFocus();
    } else {
        setButtonCaption(widgets().expandButton, "∨");
        mainForm().window().setProperty(ui::kHeight, ui::kMainWindowCollapsedHeight);
        widgets().playlist.setFocus();
    }
    return std::nullopt;
}

}  // namespace vesperon::app
