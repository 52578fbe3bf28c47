// Which writes raise events and which user actions do: check box, button, list box, scroll bar,
// slider, timer, and the common input events a routine can swallow.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyleOptionSlider>

#include "app/routine_ids.h"
#include "tests/ui/ui_test_support.h"
#include "ui/check_box.h"
#include "ui/edit_box.h"
#include "ui/list_box.h"
#include "ui/scroll_bar.h"
#include "ui/slider_bar.h"
#include "ui/timer.h"

namespace vesperon::ui::test {
namespace {

namespace R = app::routine;

TEST(CheckBoxEvents, WritingCheckedIsSilentAndAUserClickTogglesThenRaisesOnce) {
    for (int pushLike : {1, 0}) {
        SCOPED_TRACE(pushLike ? "push-like" : "plain");
        LayoutBuilder b;
        layout::CheckBoxProps p;
        p.pushLike = pushLike;
        p.caption = "随机播放";
        b.bind(b.add(layout::Kind::CheckBox, "选择框", 10, 10, 80, 25, p), 0, R::RandomOrderSwitch);
        RoutineRecorder rec;
        bool checkedSeenByRoutine = false;
        auto form = showForm(b.layout(), rec);
        auto* box = form->findAs<CheckBox>("选择框");
        ASSERT_TRUE(box);
        EXPECT_EQ(pushLike != 0, qobject_cast<QPushButton*>(box->live()) != nullptr);
        rec.onCall = [&](const EventCall& c) {
            checkedSeenByRoutine = c.widget.intProperty(kCheckChecked) == 1;
        };

        box->setProperty(kCheckChecked, 1);
        EXPECT_EQ(box->intProperty(kCheckChecked), 1);
        box->setProperty(kCheckChecked, 2);  // anything but 1 unchecks
        EXPECT_EQ(box->intProperty(kCheckChecked), 0);
        EXPECT_TRUE(rec.calls.empty());

        QTest::mouseClick(box->live(), Qt::LeftButton, {}, QPoint(10, 10));
        EXPECT_EQ(rec.count("选择框", 0), 1);
        EXPECT_TRUE(checkedSeenByRoutine);  // toggled before the event
        EXPECT_EQ(box->intProperty(kCheckChecked), 1);
    }
}

LayoutBuilder listLayout(std::vector<std::string> items = {}) {
    LayoutBuilder b;
    layout::ListBoxProps p;
    p.itemTexts = std::move(items);
    p.extraRowHeight = 1;
    auto& u = b.add(layout::Kind::ListBox, "列表框", 7, 7, 242, 146, p);
    u.stateFlags |= layout::kStateFocusable;
    b.bind(u, 0, R::PlaySelected);
    b.bind(u, 1, R::PlayNext);
    b.bind(u, -1, R::PlaylistMouseDown);
    b.bind(u, -9, R::PlaylistKeyDown);
    return b;
}

QPoint rowCentre(QListWidget* l, int row) {
    return l->visualItemRect(l->item(row)).center();
}

TEST(ListBox, ItemOperationsAndSelectionClamps) {
    RoutineRecorder rec;
    auto form = showForm(listLayout().layout(), rec);
    auto* list = form->findAs<ListBox>("列表框");
    EXPECT_EQ(list->itemCount(), 0);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), -1);  // empty list
    EXPECT_EQ(list->addItem("1.a"), 0);
    EXPECT_EQ(list->addItem("2.b", 7), 1);
    EXPECT_EQ(list->addItem("3.c"), 2);
    EXPECT_EQ(list->itemValue(1), 7);
    EXPECT_EQ(list->itemValue(2), 0);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), -1);  // nothing selected

    list->setProperty(kListSelectedIndex, 1000);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), 2);
    list->setProperty(kListSelectedIndex, 1);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), 1);
    list->setProperty(kListSelectedIndex, -5);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), -1);
    list->setProperty(kListSelectedIndex, 0);
    list->clear();
    EXPECT_EQ(list->itemCount(), 0);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), -1);
    list->setProperty(kListSelectedIndex, 3);  // empty: stays -1
    EXPECT_EQ(list->intProperty(kListSelectedIndex), -1);
    EXPECT_EQ(rec.count("列表框", 0), 0);  // none of this is the user's doing
}

TEST(ListBox, UserSelectionAndDoubleClickRaiseEventsAfterTheClickRoutine) {
    RoutineRecorder rec;
    auto form = showForm(listLayout({"1.a", "2.b", "3.c"}).layout(), rec);
    auto* list = form->findAs<ListBox>("列表框");
    EXPECT_EQ(list->itemCount(), 3);
    QListWidget* l = list->list();
    int selectionDuringPress = -2;
    rec.onCall = [&](const EventCall& c) {
        if (c.event == -1) selectionDuringPress = list->selectedIndex();
    };
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, rowCentre(l, 1));
    ASSERT_GE(rec.calls.size(), 2u);
    // The press reaches the routine first, with client coordinates, then the list box.
    EXPECT_EQ(rec.calls[0].event, -1);
    EXPECT_EQ(argInt(rec.calls[0], 1), rowCentre(l, 1).y());
    EXPECT_EQ(selectionDuringPress, -1);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), 1);
    EXPECT_EQ(rec.count("列表框", 0), 1);

    // A double click: press and release, then the second press arrives as a double click.
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, rowCentre(l, 2));
    QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, rowCentre(l, 2));
    QTest::mouseRelease(l->viewport(), Qt::LeftButton, {}, rowCentre(l, 2));
    EXPECT_EQ(rec.count("列表框", 1), 1);
    EXPECT_EQ(rec.count("列表框", -1), 2);
    EXPECT_EQ(list->intProperty(kListSelectedIndex), 2);
}

TEST(InputEvents, ARoutineReturningFalseSwallowsTheInput) {
    RoutineRecorder rec;
    auto form = showForm(listLayout({"1.a", "2.b"}).layout(), rec);
    auto* list = form->findAs<ListBox>("列表框");
    QListWidget* l = list->list();
    rec.returns[R::PlaylistMouseDown] = 0;
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, rowCentre(l, 1));
    EXPECT_EQ(rec.count("列表框", -1), 1);
    EXPECT_EQ(list->selectedIndex(), -1);  // the list never saw the press

    rec.returns[R::PlaylistMouseDown] = 1;  // true lets it through
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, rowCentre(l, 1));
    EXPECT_EQ(list->selectedIndex(), 1);

    l->setFocus();
    rec.clear();
    rec.returns[R::PlaylistKeyDown] = 0;
    QTest::keyClick(l, Qt::Key_Down);
    ASSERT_EQ(rec.count("列表框", -9), 1);
    EXPECT_EQ(argInt(rec.calls[0], 0), 0x28);  // virtual key code of Down
    EXPECT_EQ(list->selectedIndex(), 1);
    rec.returns.erase(R::PlaylistKeyDown);  // no value: the key proceeds
    auto lastKey = [&] {
        for (auto it = rec.calls.rbegin(); it != rec.calls.rend(); ++it)
            if (it->event == -9) return *it;
        return RoutineCall{};
    };
    QTest::keyClick(l, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(argInt(lastKey(), 1), kKeyStateShift);
    EXPECT_EQ(list->selectedIndex(), 0);
    QTest::keyClick(l, Qt::Key_Delete);
    EXPECT_EQ(argInt(lastKey(), 0), 0x2E);
}

TEST(InputEvents, CharacterRoutineReplacesOrSwallowsTheCharacter) {
    LayoutBuilder b;
    auto& u = b.add(layout::Kind::EditBox, "编辑框", 10, 10, 100, 20, layout::EditBoxProps{});
    u.stateFlags |= layout::kStateFocusable;
    b.bind(u, -11, R::PlayNext);
    RoutineRecorder rec;
    auto form = showForm(b.layout(), rec);
    auto* e = form->findAs<EditBox>("编辑框");
    e->live()->setFocus();
    rec.returns[R::PlayNext] = 'B';
    QTest::keyClicks(e->live(), "a");
    EXPECT_EQ(e->textProperty(kEditContent), "B");
    ASSERT_FALSE(rec.calls.empty());
    EXPECT_EQ(argInt(rec.calls.back(), 0), 'a');
    rec.returns[R::PlayNext] = 0;
    QTest::keyClicks(e->live(), "c");
    EXPECT_EQ(e->textProperty(kEditContent), "B");
}

LayoutBuilder barLayout() {
    LayoutBuilder b;
    layout::VScrollBarProps sp;  // range 1-100, position 1, page 10, line 1, tracking
    b.bind(b.add(layout::Kind::VScrollBar, "滚动条", 344, 62, 20, 111, sp), 0, R::VolumeBarChanged);
    layout::SliderBarProps lp;
    b.bind(b.add(layout::Kind::SliderBar, "滑块条", 5, 34, 362, 24, lp), 0, R::SeekToSlider);
    return b;
}

QRect subControl(QAbstractSlider* s, QStyle::ComplexControl cc, QStyle::SubControl sc) {
    QStyleOptionSlider opt;
    opt.initFrom(s);
    opt.orientation = s->orientation();
    opt.minimum = s->minimum();
    opt.maximum = s->maximum();
    opt.sliderPosition = s->sliderPosition();
    opt.sliderValue = s->value();
    opt.singleStep = s->singleStep();
    opt.pageStep = s->pageStep();
    opt.subControls = QStyle::SC_All;
    if (auto* slider = qobject_cast<QSlider*>(s)) opt.tickPosition = slider->tickPosition();
    return s->style()->subControlRect(cc, &opt, sc, s);
}

TEST(ScrollBar, WritesAreStoredClampedAndDrawnInsideTheRange) {
    RoutineRecorder rec;
    auto form = showForm(barLayout().layout(), rec);
    auto* bar = form->findAs<VScrollBar>("滚动条");
    bar->setProperty(kScrollPosition, 500);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 500);
    EXPECT_EQ(bar->bar()->value(), 100);
    bar->setProperty(kScrollPosition, 40000);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 32767);
    bar->setProperty(kScrollPosition, -3);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 0);
    EXPECT_EQ(bar->bar()->value(), 1);
    bar->setProperty(kScrollMinimum, 100);
    bar->setProperty(kScrollMaximum, 1);
    EXPECT_EQ(bar->bar()->minimum(), 1);
    EXPECT_EQ(bar->bar()->maximum(), 100);
    bar->setProperty(kScrollLineChange, 0);
    EXPECT_EQ(bar->intProperty(kScrollLineChange), 1);
    EXPECT_TRUE(rec.calls.empty());
}

TEST(ScrollBar, UserScrollingRaisesTheEventOnlyOnAnEffectiveChange) {
    RoutineRecorder rec;
    auto form = showForm(barLayout().layout(), rec);
    auto* bar = form->findAs<VScrollBar>("滚动条");
    QScrollBar* q = bar->bar();
    const QPoint up = subControl(q, QStyle::CC_ScrollBar, QStyle::SC_ScrollBarSubLine).center();
    const QPoint down = subControl(q, QStyle::CC_ScrollBar, QStyle::SC_ScrollBarAddLine).center();

    QTest::mouseClick(q, Qt::LeftButton, {}, up);  // already at the top
    EXPECT_EQ(rec.count("滚动条", 0), 0);
    QTest::mouseClick(q, Qt::LeftButton, {}, down);
    EXPECT_EQ(rec.count("滚动条", 0), 1);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 2);

    // Written beyond the range, the first user step starts from the stored value and clamps.
    bar->setProperty(kScrollPosition, 500);
    QTest::mouseClick(q, Qt::LeftButton, {}, up);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 100);
    EXPECT_EQ(rec.count("滚动条", 0), 2);
    QTest::mouseClick(q, Qt::LeftButton, {}, down);  // at the bottom already
    EXPECT_EQ(rec.count("滚动条", 0), 2);

    // Page steps, and the keyboard's Home.
    q->setFocus();
    QTest::keyClick(q, Qt::Key_PageUp);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 90);
    QTest::keyClick(q, Qt::Key_Home);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 1);
    EXPECT_EQ(rec.count("滚动条", 0), 4);
    bar->setProperty(kScrollLineChange, 5);
    QTest::keyClick(q, Qt::Key_Down);
    EXPECT_EQ(bar->intProperty(kScrollPosition), 6);
}

TEST(ScrollBar, DraggingTheThumbFollowsOnlyWhileTrackingIsOn) {
    for (int track : {1, 0}) {
        SCOPED_TRACE(track ? "tracking" : "not tracking");
        RoutineRecorder rec;
        auto form = showForm(barLayout().layout(), rec);
        auto* bar = form->findAs<VScrollBar>("滚动条");
        bar->setProperty(kScrollTrack, track);
        QScrollBar* q = bar->bar();
        const QPoint thumb = subControl(q, QStyle::CC_ScrollBar, QStyle::SC_ScrollBarSlider).center();
        QTest::mousePress(q, Qt::LeftButton, {}, thumb);
        for (int dy : {10, 20, 30}) QTest::mouseMove(q, thumb + QPoint(0, dy));
        const int duringDrag = rec.count("滚动条", 0);
        const std::int32_t positionDuringDrag = bar->intProperty(kScrollPosition);
        QTest::mouseRelease(q, Qt::LeftButton, {}, thumb + QPoint(0, 30));
        if (track) {
            EXPECT_EQ(duringDrag, 3);
            EXPECT_GT(positionDuringDrag, 1);
            EXPECT_EQ(rec.count("滚动条", 0), 3);  // the release changes nothing more
        } else {
            EXPECT_EQ(duringDrag, 0);
            EXPECT_EQ(positionDuringDrag, 1);
            EXPECT_EQ(rec.count("滚动条", 0), 1);
        }
        EXPECT_EQ(bar->intProperty(kScrollPosition), q->value());
    }
}

TEST(SliderBar, EveryUserNotificationRaisesTheEventEvenWhenUnchanged) {
    RoutineRecorder rec;
    auto form = showForm(barLayout().layout(), rec);
    auto* slider = form->findAs<SliderBar>("滑块条");
    QSlider* q = slider->slider();
    slider->setProperty(kSliderPosition, 50);
    EXPECT_EQ(rec.count("滑块条", 0), 0);  // writes are silent
    EXPECT_EQ(q->value(), 50);

    q->setFocus();
    QTest::keyClick(q, Qt::Key_Right);
    EXPECT_EQ(slider->intProperty(kSliderPosition), 51);
    QTest::keyClick(q, Qt::Key_Home);
    QTest::keyClick(q, Qt::Key_Left);  // at the minimum: unchanged, raised all the same
    EXPECT_EQ(rec.count("滑块条", 0), 3);
    EXPECT_EQ(slider->intProperty(kSliderPosition), 1);
    QTest::keyClick(q, Qt::Key_PageUp);
    EXPECT_EQ(slider->intProperty(kSliderPosition), 6);  // page size 5

    // A drag raises the event at each step, with each intermediate position, and once more on release.
    rec.clear();
    std::vector<std::int32_t> seen;
    rec.onCall = [&](const EventCall& c) { seen.push_back(c.widget.intProperty(kSliderPosition)); };
    const QPoint handle = subControl(q, QStyle::CC_Slider, QStyle::SC_SliderHandle).center();
    QTest::mousePress(q, Qt::LeftButton, {}, handle);
    const std::size_t afterPress = seen.size();
    for (int dx : {40, 80, 120, 160}) QTest::mouseMove(q, handle + QPoint(dx, 0));
    EXPECT_EQ(seen.size() - afterPress, 4u);
    QTest::mouseRelease(q, Qt::LeftButton, {}, handle + QPoint(160, 0));
    EXPECT_EQ(seen.size() - afterPress, 5u);
    ASSERT_GE(seen.size(), 5u);
    for (std::size_t i = afterPress + 1; i < afterPress + 4; ++i) EXPECT_LT(seen[i - 1], seen[i]);
    EXPECT_EQ(seen.back(), q->value());
    EXPECT_EQ(slider->intProperty(kSliderPosition), q->value());
}

TEST(SliderBar, StepsAreLimitedToTheRangeWidth) {
    RoutineRecorder rec;
    auto form = showForm(barLayout().layout(), rec);
    auto* slider = form->findAs<SliderBar>("滑块条");
    slider->setProperty(kSliderMinimum, 10);
    slider->setProperty(kSliderMaximum, 13);
    slider->setProperty(kSliderPageSize, 100);
    EXPECT_EQ(slider->slider()->pageStep(), 3);
    EXPECT_EQ(slider->intProperty(kSliderPageSize), 100);  // stored as written
    slider->setProperty(kSliderMaximum, 10);
    EXPECT_EQ(slider->slider()->pageStep(), 1);
    slider->setProperty(kSliderMinimum, 200);  // written the wrong way round
    EXPECT_EQ(slider->slider()->minimum(), 10);
    EXPECT_EQ(slider->slider()->maximum(), 200);
}

TEST(Timer, IntervalRules) {
    LayoutBuilder b;
    layout::TimerProps tp;
    tp.interval = 30;
    b.bind(b.add(layout::Kind::Timer, "时钟", 276, 17, 24, 24, tp), 0, R::CheckSchedule);
    RoutineRecorder rec;
    auto form = showForm(b.layout(), rec);
    auto* timer = form->findAs<Timer>("时钟");
    EXPECT_FALSE(timer->live()->isVisible());
    timer->setProperty(kVisible, 1);  // non-visual: stays hidden
    EXPECT_FALSE(timer->live()->isVisible());
    EXPECT_TRUE(timer->isRunning());  // started at creation
    QTest::qWait(100);
    EXPECT_GE(rec.count("时钟", 0), 2);

    timer->setProperty(kTimerInterval, -5);
    EXPECT_EQ(timer->intProperty(kTimerInterval), 0);
    EXPECT_FALSE(timer->isRunning());
    rec.clear();
    QTest::qWait(80);
    EXPECT_EQ(rec.count("时钟", 0), 0);

    // Writing the current interval does not restart the period: ticks keep their phase.
    timer->setProperty(kTimerInterval, 60);
    QTest::qWait(40);
    timer->setProperty(kTimerInterval, 60);
    QTest::qWait(35);
    EXPECT_EQ(rec.count("时钟", 0), 1);  // a restart at 40 ms would not tick before 100 ms

    timer->destroyLive();
    rec.clear();
    QTest::qWait(130);
    EXPECT_EQ(rec.count("时钟", 0), 0);
}

}  // namespace
}  // namespace vesperon::ui::test
