// The week in the window: the days menu of a period's row, the look of a row limited to some days
// in the real main window (skin on), and the rest-days dialog, driven as a user would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>

#include "app/routine_ids.h"
#include "desktop/period_days_menu.h"
#include "desktop/rest_days_dialog.h"
#include "skin/skin.h"
#include "tests/support/wait.h"
#include "ui/label.h"
#include "ui/main_window.h"

namespace vesperon::desktop {
namespace {

using app::DateRange;
using app::DayBit;
using app::kEveryDay;
using app::kWeekend;
using app::kWorkDays;
namespace cal = std::chrono;

constexpr DayMask kMonWedFri = DayBit(1) | DayBit(3) | DayBit(5);
const char* const kDays[7] = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};

TEST(PeriodDays, ListText) {
    const std::pair<DayMask, const char*> cases[] = {{kEveryDay, "每天"},
                                                     {kWorkDays, "周一至周五"},
                                                     {kWeekend, "周六和周日"},
                                                     {0, "从不"},
                                                     {kMonWedFri, "周一、周三、周五"},
                                                     {DayBit(7), "周日"},
                                                     {DayBit(5) | DayBit(6), "周五、周六"},
                                                     {0x80 | kEveryDay, "每天"}};
    for (const auto& [mask, text] : cases) EXPECT_EQ(DayListText(mask), QString::fromUtf8(text)) << int(mask);
}

QAction* entry(QMenu& menu, const char* text) {
    for (QAction* a : menu.actions())
        if (a->text() == QString::fromUtf8(text)) return a;
    return nullptr;
}

// Opens the menu and clicks the entry with the mouse, as a user would.
void clickEntry(QMenu& menu, const char* text) {
    QAction* a = entry(menu, text);
    ASSERT_NE(a, nullptr) << text;
    menu.popup(QPoint(40, 40));
    ASSERT_TRUE(test::waitFor([&] { return menu.isVisible(); }));
    QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(a).center());
    test::waitFor([&] { return !menu.isVisible(); }, 300);
    menu.hide();  // a disabled entry leaves it open
}

// Runs `act` on the first widget of type T that becomes the active popup or modal widget, polling
// from the event loop of whatever shows it (never blocking it), for up to 5 s.
template <class T>
void onceShown(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, act, left = 250]() mutable {
        QWidget* w = QApplication::activePopupWidget();
        T* shown = qobject_cast<T*>(w ? w : QApplication::activeModalWidget());
        if (!shown && --left > 0) return;
        timer->stop();
        timer->deleteLater();
        if (shown)
            act(shown);
        else
            ADD_FAILURE() << "nothing of the kind showed up";
    });
    timer->start();
}

struct MenuRun {
    PeriodDaysMenu menu;
    std::vector<DayMask> chosen;
    int restDays = 0;
    MenuRun(DayMask shown, bool locked) {
        menu.onDaysChosen = [this](DayMask d) { chosen.push_back(d); };
        menu.onRestDays = [this] { ++restDays; };
        menu.setDays(shown);
        menu.setLocked(locked);
    }
};

TEST(PeriodDays, MenuChoosesPresetsAndSwitchesSingleDays) {
    struct Case {
        DayMask shown;
        const char* entry;
        DayMask chosen;
    };
    const Case cases[] = {
        {DayBit(1), "每天", kEveryDay},
        {kEveryDay, "周一至周五", kWorkDays},
        {kEveryDay, "周六和周日", kWeekend},
        {kWeekend, "周六和周日", kWeekend},  // choosing the shown preset keeps it
        {kWorkDays, "周三", kWorkDays & ~DayBit(3)},
        {kWorkDays, "周日", kWorkDays | DayBit(7)},
        {DayBit(1), "周一", 0},  // the last day off: never
        {0, "周四", DayBit(4)},
    };
    for (const Case& c : cases) {
        MenuRun run(c.shown, false);
        clickEntry(run.menu, c.entry);
        EXPECT_EQ(run.chosen, std::vector<DayMask>{c.chosen}) << c.entry << " from " << int(c.shown);
        EXPECT_EQ(run.restDays, 0);
        // The check marks show the mask chosen, not Qt's flip of the entry clicked.
        for (int d = 1; d <= 7; ++d)
            EXPECT_EQ(entry(run.menu, kDays[d - 1])->isChecked(), (c.chosen & DayBit(d)) != 0)
                << c.entry << d;
        EXPECT_EQ(entry(run.menu, "每天")->isChecked(), c.chosen == kEveryDay);
        EXPECT_EQ(entry(run.menu, "周一至周五")->isChecked(), c.chosen == kWorkDays);
        EXPECT_EQ(entry(run.menu, "周六和周日")->isChecked(), c.chosen == kWeekend);
    }
}

TEST(PeriodDays, RestDaysEntryAndTheLockedMenu) {
    MenuRun open(kEveryDay, false);
    clickEntry(open.menu, "休息日…");
    EXPECT_EQ(open.restDays, 1);
    EXPECT_TRUE(open.chosen.empty());

    // While the schedule runs nothing can be chosen, and the marks still show the days.
    for (const char* text : {"每天", "周一至周五", "周三", "休息日…"}) {
        MenuRun locked(kMonWedFri, true);
        clickEntry(locked.menu, text);
        EXPECT_TRUE(locked.chosen.empty()) << text;
        EXPECT_EQ(locked.restDays, 0) << text;
        EXPECT_FALSE(entry(locked.menu, text)->isEnabled()) << text;
    }
    MenuRun unlocked(kMonWedFri, true);
    EXPECT_TRUE(entry(unlocked.menu, "周三")->isChecked());
    unlocked.menu.setLocked(false);
    clickEntry(unlocked.menu, "周三");
    EXPECT_EQ(unlocked.chosen, std::vector<DayMask>{DayBit(1) | DayBit(5)});

    // The 音量 submenu: checks the period's level, hands on the one chosen; locked with the rest.
    std::vector<int> levels;
    unlocked.menu.onLevelChosen = [&](int percent) { levels.push_back(percent); };
    unlocked.menu.setLevel(70);
    QAction* level = entry(unlocked.menu, "音量");
    ASSERT_TRUE(level && level->menu());
    QAction* seventy = entry(*level->menu(), "70 %");
    QAction* half = entry(*level->menu(), "50 %");
    ASSERT_TRUE(seventy && half);
    EXPECT_TRUE(seventy->isChecked());
    half->trigger();
    EXPECT_EQ(levels, std::vector<int>{50});
    EXPECT_TRUE(half->isChecked() && !seventy->isChecked());
    unlocked.menu.setLocked(true);
    EXPECT_FALSE(level->isEnabled());
}

// ---- a period's row in the main window ----

std::unique_ptr<ui::Form> mainWindow() {
    auto form = ui::loadMainWindow([](layout::RoutineId, const ui::EventCall&) { return std::nullopt; },
                                   app::routineCatalog(), {.show = true});
    EXPECT_TRUE(form) << form.error;
    return std::move(form.value);
}

std::map<std::string, QRect> geometries(const ui::Form& form) {
    std::map<std::string, QRect> out;
    for (const ui::Widget* w : form.widgets())
        if (w->live()) out[w->name()] = w->live()->geometry();
    return out;
}

// Pixels of the colour's hue (the text is smoothed), painted as the window paints it.
int pixelsOf(QWidget* w, QColor colour) {
    const QImage image = w->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor p = image.pixelColor(x, y);
            const int apart = std::abs(p.hsvHue() - colour.hsvHue());
            n += p.hsvSaturation() > 100 && std::min(apart, 360 - apart) < 20;
        }
    return n;
}

TEST(PeriodDays, RowsOfTheMainWindowOpenTheMenuAndShowTheirDaysInPlace) {
    auto form = mainWindow();
    ASSERT_TRUE(form);
    skin::SetSkin(2);  // as the program runs
    for (int period = 0; period < app::kPeriodCount; ++period) {
        const PeriodRow row = FindPeriodRow(*form, period);
        ASSERT_NE(row.from, nullptr) << period;
        ASSERT_NE(row.to, nullptr) << period;
        ASSERT_EQ(row.boxes.size(), 6u) << period;
        EXPECT_EQ(row.boxes.front()->name(), "编辑框_从时" + std::to_string(period + 1));
        EXPECT_EQ(row.from->props().caption, "从:");
        EXPECT_EQ(row.to->props().caption, "到:");
        EXPECT_EQ(row.from->intProperty(ui::kTop), row.boxes.back()->intProperty(ui::kTop));

        // A right-click anywhere on the row asks for the menu, instead of an edit box's own.
        std::vector<QPoint> asked;
        const auto live = row.liveWidgets();
        ASSERT_EQ(live.size(), 8u);
        OnRowContextMenu(live, [&](QPoint at) { asked.push_back(at); });
        for (QWidget* w : {live[0], live[1], live[4]}) {
            QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(3, 4), w->mapToGlobal(QPoint(3, 4)));
            QCoreApplication::sendEvent(w, &click);
        }
        EXPECT_EQ(asked.size(), 3u);
        EXPECT_EQ(asked.back(), live[4]->mapToGlobal(QPoint(3, 4)));
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    }

    // Limited to some days: another colour, painted under the skin, and the days in a tip.
    const auto before = geometries(*form);
    ui::Label& caption = *FindPeriodRow(*form, 2).from;
    QWidget* label = caption.live();
    const QColor own = label->palette().color(QPalette::WindowText), limited(0, 0x80, 0);
    EXPECT_EQ(own, QColor(255, 0, 0));
    struct Step {
        DayMask days;
        QColor colour;
        const char* tip;
    };
    const Step steps[] = {{kMonWedFri, limited, "周一、周三、周五"},
                          {kWorkDays, limited, "周一至周五"},
                          {0, limited, "从不"},
                          {kEveryDay, own, ""},
                          {kEveryDay, own, ""},
                          {DayBit(7), limited, "周日"}};
    for (const Step& s : steps) {
        ShowPeriodDays(caption, s.days);
        QApplication::processEvents();
        EXPECT_EQ(label->palette().color(QPalette::Active, QPalette::WindowText), s.colour) << int(s.days);
        EXPECT_EQ(label->toolTip(), QString::fromUtf8(s.tip));
        EXPECT_GT(pixelsOf(label, s.colour), 3) << "not painted in its colour: " << int(s.days);
    }
    // The skin switched over again keeps it.
    skin::SetSkin(1);
    QApplication::processEvents();
    EXPECT_GT(pixelsOf(label, limited), 3);
    EXPECT_EQ(geometries(*form), before);
    ShowPeriodDays(caption, kEveryDay);
    EXPECT_EQ(caption.intProperty(ui::kLabelTextColour), 0x0000FF);
    skin::SetSkin(0);
}

// ---- the rest-days dialog ----

DateRange day(int y, unsigned m, unsigned d) {
    const cal::sys_days s{cal::year(y) / m / d};
    return {s, s};
}
DateRange range(int y, unsigned m, unsigned d, int y2, unsigned m2, unsigned d2) {
    return {cal::sys_days{cal::year(y) / m / d}, cal::sys_days{cal::year(y2) / m2 / d2}};
}

QStringList shown(RestDaysDialog& d) {
    QStringList out;
    auto* list = d.findChild<QListWidget*>("list");
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

void addDates(RestDaysDialog& d, QDate from, QDate to = {}) {
    d.findChild<QDateEdit*>("from")->setDate(from);
    auto* range = d.findChild<QCheckBox*>("range");
    if (range->isChecked() != to.isValid())
        QTest::mouseClick(range, Qt::LeftButton, {}, QPoint(4, range->height() / 2));
    if (to.isValid()) d.findChild<QDateEdit*>("to")->setDate(to);
    QTest::mouseClick(d.findChild<QPushButton*>("add"), Qt::LeftButton);
}

TEST(RestDays, DialogListsAddsAndRemovesInDateOrder) {
    EXPECT_EQ(RestDayText(day(2026, 12, 25)), "2026-12-25");
    EXPECT_EQ(RestDayText(range(2027, 1, 1, 2027, 1, 3)), QString::fromUtf8("2027-01-01 – 2027-01-03"));

    // Given out of order, a range backwards and a day twice: shown sorted, once, the right way round.
    RestDaysDialog d({range(2027, 1, 3, 2027, 1, 1), day(2026, 12, 25), day(2026, 12, 25)});
    d.show();
    EXPECT_EQ(d.windowTitle(), QString::fromUtf8("休息日"));
    for (const char* name : {"add", "remove", "ok", "cancel"})
        EXPECT_NE(d.findChild<QPushButton*>(name), nullptr);
    EXPECT_EQ(shown(d), (QStringList{"2026-12-25", QString::fromUtf8("2027-01-01 – 2027-01-03")}));
    EXPECT_FALSE(d.findChild<QDateEdit*>("to")->isEnabled());
    EXPECT_FALSE(d.findChild<QPushButton*>("remove")->isEnabled());

    addDates(d, QDate(2026, 10, 1), QDate(2026, 10, 7));
    addDates(d, QDate(2027, 5, 5), QDate(2027, 5, 1));  // picked backwards
    addDates(d, QDate(2026, 12, 24));
    addDates(d, QDate(2026, 12, 25));  // already there
    EXPECT_EQ(shown(d), (QStringList{QString::fromUtf8("2026-10-01 – 2026-10-07"), "2026-12-24", "2026-12-25",
                                     QString::fromUtf8("2027-01-01 – 2027-01-03"),
                                     QString::fromUtf8("2027-05-01 – 2027-05-05")}));
    // The entry just added (or found) is selected; 删除 takes the selection.
    auto* list = d.findChild<QListWidget*>("list");
    EXPECT_EQ(list->currentRow(), 2);
    list->item(0)->setSelected(true);
    QTest::mouseClick(d.findChild<QPushButton*>("remove"), Qt::LeftButton);
    EXPECT_EQ(shown(d), (QStringList{"2026-12-24", QString::fromUtf8("2027-01-01 – 2027-01-03"),
                                     QString::fromUtf8("2027-05-01 – 2027-05-05")}));
    EXPECT_FALSE(d.findChild<QPushButton*>("remove")->isEnabled());
    EXPECT_EQ(d.rest(), (std::vector<DateRange>{day(2026, 12, 24), range(2027, 1, 1, 2027, 1, 3),
                                                range(2027, 5, 1, 2027, 5, 5)}));
}

// Adds 2028-02-29 in the dialog once it shows and leaves by `button` (or closes it).
void addLeapDayAndLeave(const char* button) {
    onceShown<RestDaysDialog>([button](RestDaysDialog* d) {
        addDates(*d, QDate(2028, 2, 29));
        if (button)
            QTest::mouseClick(d->findChild<QPushButton*>(button), Qt::LeftButton);
        else
            d->close();
    });
}
std::optional<std::vector<DateRange>> editAndClose(const std::vector<DateRange>& rest, const char* button) {
    addLeapDayAndLeave(button);
    return EditRestDays(rest);
}

TEST(RestDays, OkReturnsTheListCancelAndCloseReturnNothing) {
    const std::vector<DateRange> rest{day(2026, 12, 25)};
    EXPECT_EQ(editAndClose(rest, "ok"), (std::vector<DateRange>{day(2026, 12, 25), day(2028, 2, 29)}));
    EXPECT_EQ(editAndClose(rest, "cancel"), std::nullopt);
    EXPECT_EQ(editAndClose(rest, nullptr), std::nullopt);
}

// The pieces together on the real window, as the program attaches them.
TEST(PeriodDays, AttachedMenusSetDaysAndRestDaysThroughTheHooks) {
    auto form = mainWindow();
    ASSERT_TRUE(form);
    std::array<DayMask, app::kPeriodCount> days{kEveryDay, kEveryDay, kEveryDay, kWorkDays, kEveryDay};
    std::vector<DateRange> rest{day(2026, 12, 25)};
    bool locked = false;
    std::vector<std::pair<int, DayMask>> setDays;
    int restSets = 0;
    AttachWeekMenus(*form, {.days = [&](int p) { return days[std::size_t(p)]; },
                            .locked = [&] { return locked; },
                            .setDays =
                                [&](int p, DayMask d) {
                                    setDays.emplace_back(p, d);
                                    days[std::size_t(p)] = d;
                                },
                            .restDays = [&] { return rest; },
                            .setRestDays =
                                [&](std::vector<DateRange> r) {
                                    ++restSets;
                                    rest = std::move(r);
                                }});
    ShowWeekDays(*form, days);
    const PeriodRow row = FindPeriodRow(*form, 3);
    EXPECT_EQ(row.from->live()->toolTip(), QString::fromUtf8("周一至周五"));
    EXPECT_EQ(FindPeriodRow(*form, 0).from->live()->toolTip(), "");
    auto rightClick = [](QWidget* w) {
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(3, 4), w->mapToGlobal(QPoint(3, 4)));
        QCoreApplication::sendEvent(w, &click);
    };
    auto choose = [](const char* text) {
        onceShown<PeriodDaysMenu>([text](PeriodDaysMenu* m) {
            QTest::mouseClick(m, Qt::LeftButton, {}, m->actionGeometry(entry(*m, text)).center());
            m->close();  // a disabled entry leaves it open
        });
    };

    choose("周六");  // on period 4's 到秒 box: 周一至周五 and Saturday
    rightClick(row.boxes.back()->live());
    EXPECT_EQ(setDays, (std::vector<std::pair<int, DayMask>>{{3, kWorkDays | DayBit(6)}}));
    EXPECT_EQ(row.from->live()->toolTip(), QString::fromUtf8("周一、周二、周三、周四、周五、周六"));

    choose("休息日…");
    addLeapDayAndLeave("ok");
    rightClick(row.to->live());
    EXPECT_EQ(restSets, 1);
    EXPECT_EQ(rest, (std::vector<DateRange>{day(2026, 12, 25), day(2028, 2, 29)}));
    choose("休息日…");
    addLeapDayAndLeave("cancel");
    rightClick(row.from->live());
    EXPECT_EQ(restSets, 1);

    // While the schedule runs the menu opens but changes nothing.
    locked = true;
    for (const char* text : {"每天", "周日", "休息日…"}) {
        choose(text);
        rightClick(row.boxes.front()->live());
    }
    EXPECT_EQ(setDays.size(), 1u);
    EXPECT_EQ(restSets, 1);
}

}  // namespace
}  // namespace vesperon::desktop
