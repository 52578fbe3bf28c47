#pragma once
// The days of a period in the window: the menu a right-click on a period's row opens, and the
// look of a row limited to some days (its 从: caption in another colour, the days in a tool tip),
// which changes no widget's place or size.

#include <QMenu>
#include <QPoint>
#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "app/week_schedule.h"

namespace vesperon::ui {
class Form;
class Label;
class Widget;
}  // namespace vesperon::ui

namespace vesperon::desktop {

using app::DayMask;

// 每天, 周一至周五 and 周六和周日 for those three masks, 从不 for none, else the days in order
// joined by "、": 周一、周三、周五.
QString DayListText(DayMask days);

// 每天, 周一至周五, 周六和周日; the seven days as check items; 休息日…. Choosing an entry calls
// onDaysChosen with the new mask (a preset's, or the shown mask with that day switched) or
// onRestDays; the menu itself keeps nothing. Locked, every entry is shown disabled.
class PeriodDaysMenu : public QMenu {
    Q_OBJECT
public:
    explicit PeriodDaysMenu(QWidget* parent = nullptr);

    void setDays(DayMask days);  // the check marks
    DayMask days() const { return days_; }
    void setLocked(bool locked);
    bool locked() const { return locked_; }
    // The period's level (per cent of full) checked in the 音量 submenu.
    void setLevel(int percent);

    std::function<void(DayMask)> onDaysChosen;
    std::function<void()> onRestDays;
    std::function<void(int percent)> onLevelChosen;  // a level chosen in the 音量 submenu

private:
    void choose(DayMask days);

    DayMask days_ = app::kEveryDay;
    bool locked_ = false;
    std::vector<std::pair<QAction*, DayMask>> presets_;
    QAction* dayActions_[7] = {};
    QAction* restAction_ = nullptr;
    std::vector<std::pair<QAction*, int>> levels_;
};

// A period's row in the main window: the six boxes 编辑框_从时N … 编辑框_到秒N and the 从: and 到:
// captions on their line (null when the layout has none).
struct PeriodRow {
    ui::Label* from = nullptr;
    ui::Label* to = nullptr;
    std::vector<ui::Widget*> boxes;
    // The live Qt widgets of the captions and the boxes, for OnRowContextMenu.
    std::vector<QWidget*> liveWidgets() const;
};
// `period` 0 .. 4.
PeriodRow FindPeriodRow(const ui::Form& form, int period);

// A right-click (a context-menu request) on any of `widgets` calls `open` with the global
// position, in place of the widget's own menu (an edit box's copy and paste).
void OnRowContextMenu(const std::vector<QWidget*>& widgets, std::function<void(QPoint)> open);

// The 从: caption's colour for a row limited to some days (a window colour: 0x00BBGGRR).
inline constexpr std::uint32_t kLimitedDaysColour = 0x008000;

// Shows `days` on a period's 从: caption: for a limit, kLimitedDaysColour and a tool tip naming
// the days; for every day, the caption's own colour and no tip. Nothing while it is not live.
void ShowPeriodDays(ui::Label& fromCaption, DayMask days);

// The week's side of the main window in one piece: a right-click on any period's row opens its
// menu (locked while the schedule runs), a chosen mask goes to the owner and shows on the row,
// 休息日… opens the dialog once the menu has closed and hands back the list after 确定.
struct WeekMenuHooks {
    std::function<DayMask(int period)> days;
    std::function<bool()> locked;  // the schedule runs
    std::function<void(int period, DayMask days)> setDays;
    std::function<std::vector<app::DateRange>()> restDays;
    std::function<void(std::vector<app::DateRange> rest)> setRestDays;
    // The period's level in per cent (none: no 音量 submenu).
    std::function<int(int period)> level;
    std::function<void(int period, int percent)> setLevel;
};
void AttachWeekMenus(const ui::Form& form, WeekMenuHooks hooks);
// Shows every row's days (after a session is restored, or the days changed elsewhere).
void ShowWeekDays(const ui::Form& form, const std::array<DayMask, app::kPeriodCount>& days);

}  // namespace vesperon::desktop
