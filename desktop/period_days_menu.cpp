#include "desktop/period_days_menu.h"

#include <QContextMenuEvent>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <string>

#include "desktop/rest_days_dialog.h"
#include "ui/form.h"
#include "ui/label.h"

namespace vesperon::desktop {
namespace {

const char* const kDayNames[7] = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};

// The caption's colour from the layout, kept on the label while the limit colour is shown.
constexpr const char* kOwnColour = "vesperonOwnTextColour";

bool isLimited(DayMask days) {
    return (days & app::kEveryDay) != app::kEveryDay;
}

class ContextMenuFilter : public QObject {
public:
    ContextMenuFilter(QObject* parent, std::function<void(QPoint)> open)
        : QObject(parent), open_(std::move(open)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ContextMenu) return false;
        open_(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }

private:
    std::function<void(QPoint)> open_;
};

}  // namespace

QString DayListText(DayMask days) {
    days &= app::kEveryDay;
    if (days == app::kEveryDay) return QStringLiteral("每天");
    if (days == app::kWorkDays) return QStringLiteral("周一至周五");
    if (days == app::kWeekend) return QStringLiteral("周六和周日");
    if (days == 0) return QStringLiteral("从不");
    QStringList names;
    for (int d = 1; d <= 7; ++d)
        if (days & app::DayBit(d)) names << QString::fromUtf8(kDayNames[d - 1]);
    return names.join(QStringLiteral("、"));
}

PeriodDaysMenu::PeriodDaysMenu(QWidget* parent) : QMenu(parent) {
    const std::pair<const char*, DayMask> presets[] = {
        {"每天", app::kEveryDay}, {"周一至周五", app::kWorkDays}, {"周六和周日", app::kWeekend}};
    for (const auto& [text, mask] : presets) {
        QAction* a = addAction(QString::fromUtf8(text));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, mask] { choose(mask); });
        presets_.emplace_back(a, mask);
    }
    addSeparator();
    for (int d = 1; d <= 7; ++d) {
        QAction* a = addAction(QString::fromUtf8(kDayNames[d - 1]));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, d] { choose(days_ ^ app::DayBit(d)); });
        dayActions_[d - 1] = a;
    }
    addSeparator();
    restAction_ = addAction(QStringLiteral("休息日…"));
    connect(restAction_, &QAction::triggered, this, [this] {
        if (onRestDays) onRestDays();
    });
    setDays(app::kEveryDay);
    // The level the period plays at, from its start to its end, without touching the system volume.
    QMenu* level = addMenu(QStringLiteral("音量"));
    for (int percent = 100; percent >= 10; percent -= 10) {
        QAction* a = level->addAction(QStringLiteral("%1 %").arg(percent));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, percent] {
            setLevel(percent);
            if (onLevelChosen) onLevelChosen(percent);
        });
        levels_.emplace_back(a, percent);
    }
    setLevel(100);
}

void PeriodDaysMenu::setLevel(int percent) {
    for (auto& [action, p] : levels_) action->setChecked(p == percent);
}

void PeriodDaysMenu::setDays(DayMask days) {
    days_ = days & app::kEveryDay;
    for (auto& [action, mask] : presets_) action->setChecked(days_ == mask);
    for (int d = 1; d <= 7; ++d) dayActions_[d - 1]->setChecked(days_ & app::DayBit(d));
}

void PeriodDaysMenu::setLocked(bool locked) {
    locked_ = locked;
    for (QAction* a : actions())
        if (!a->isSeparator()) a->setEnabled(!locked);
}

void PeriodDaysMenu::choose(DayMask days) {
    // Qt has already flipped the check mark it was clicked on; show the mask instead.
    setDays(days);
    if (onDaysChosen) onDaysChosen(days_);
}

std::vector<QWidget*> PeriodRow::liveWidgets() const {
    std::vector<QWidget*> out;
    for (const ui::Widget* w : {static_cast<const ui::Widget*>(from), static_cast<const ui::Widget*>(to)})
        if (w && w->live()) out.push_back(w->live());
    for (const ui::Widget* w : boxes)
        if (w->live()) out.push_back(w->live());
    return out;
}

PeriodRow FindPeriodRow(const ui::Form& form, int period) {
    PeriodRow row;
    if (period < 0 || period >= app::kPeriodCount) return row;
    const std::string n = std::to_string(period + 1);
    for (const char* column :
         {"编辑框_从时", "编辑框_从分", "编辑框_从秒", "编辑框_到时", "编辑框_到分", "编辑框_到秒"})
        if (ui::Widget* w = form.find(column + n)) row.boxes.push_back(w);
    if (row.boxes.empty()) return row;
    // The captions are the labels on the boxes' line, in the same group.
    ui::Widget& first = *row.boxes.front();
    const std::int32_t top = first.intProperty(ui::kTop);
    for (ui::Widget* w : form.widgets()) {
        auto* label = dynamic_cast<ui::Label*>(w);
        if (!label || label->parentId() != first.parentId() || label->intProperty(ui::kTop) != top) continue;
        if (label->props().caption == "从:" && !row.from) row.from = label;
        if (label->props().caption == "到:" && !row.to) row.to = label;
    }
    return row;
}

void OnRowContextMenu(const std::vector<QWidget*>& widgets, std::function<void(QPoint)> open) {
    if (widgets.empty()) return;
    auto* filter = new ContextMenuFilter(widgets.front(), std::move(open));
    for (QWidget* w : widgets) w->installEventFilter(filter);
}

void ShowPeriodDays(ui::Label& fromCaption, DayMask days) {
    QWidget* live = fromCaption.live();
    if (!live) return;
    QObject& keeper = fromCaption;  // QObject's own dynamic properties, not the widget's numbered ones
    const QVariant own = keeper.property(kOwnColour);
    if (isLimited(days)) {
        if (!own.isValid())
            keeper.setProperty(kOwnColour, QVariant::fromValue(fromCaption.props().textColour));
        fromCaption.setProperty(ui::kLabelTextColour, std::int32_t(kLimitedDaysColour));
        live->setToolTip(DayListText(days));
    } else {
        if (own.isValid()) {
            fromCaption.setProperty(ui::kLabelTextColour, std::int32_t(own.value<std::uint32_t>()));
            keeper.setProperty(kOwnColour, QVariant());
        }
        live->setToolTip(QString());
    }
}

void AttachWeekMenus(const ui::Form& form, WeekMenuHooks hooks) {
    auto shared = std::make_shared<const WeekMenuHooks>(std::move(hooks));
    QPointer<QWidget> window = form.windowWidget();
    for (int period = 0; period < app::kPeriodCount; ++period) {
        const PeriodRow row = FindPeriodRow(form, period);
        QPointer<ui::Label> caption = row.from;
        OnRowContextMenu(row.liveWidgets(), [shared, window, caption, period](QPoint at) {
            const WeekMenuHooks& h = *shared;
            PeriodDaysMenu menu(window);
            menu.setDays(h.days ? h.days(period) : app::kEveryDay);
            menu.setLevel(h.level ? h.level(period) : 100);
            menu.setLocked(h.locked && h.locked());
            bool restChosen = false;
            menu.onDaysChosen = [&](DayMask days) {
                if (h.setDays) h.setDays(period, days);
                if (caption) ShowPeriodDays(*caption, days);
            };
            menu.onRestDays = [&] { restChosen = true; };
            menu.onLevelChosen = [&](int percent) {
                if (h.setLevel) h.setLevel(period, percent);
            };
            menu.exec(at);
            // The dialog waits for the menu to close, and for nothing if the window went meanwhile.
            if (!restChosen || !window || !h.restDays) return;
            if (auto rest = EditRestDays(h.restDays(), window); rest && h.setRestDays)
                h.setRestDays(std::move(*rest));
        });
    }
}

void ShowWeekDays(const ui::Form& form, const std::array<DayMask, app::kPeriodCount>& days) {
    for (int period = 0; period < app::kPeriodCount; ++period)
        if (ui::Label* caption = FindPeriodRow(form, period).from) ShowPeriodDays(*caption, days[period]);
}

}  // namespace vesperon::desktop
