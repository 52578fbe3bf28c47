// The main window built from the embedded layout record: its frame, its widgets, keyboard focus,
// the window's events, the folded height; the screenshot tool and the program without a display.

#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>

#include "app/routine_ids.h"
#include "tests/support/process.h"
#include "tests/ui/ui_test_support.h"
#include "ui/button.h"
#include "ui/edit_box.h"
#include "ui/list_box.h"
#include "ui/window_widget.h"

namespace vesperon::ui::test {
namespace {

std::unique_ptr<Form> mainWindow(RoutineRecorder& rec) {
    auto form = loadMainWindow(rec.dispatcher(), app::routineCatalog(), {.show = true});
    EXPECT_TRUE(form) << form.error;
    if (form) {
        form.value->windowWidget()->activateWindow();
        (void)QTest::qWaitForWindowActive(form.value->windowWidget());
    }
    return std::move(form.value);
}

// Where a widget is, in the window's client coordinates.
QRect placeInClient(Form& form, const char* name) {
    QWidget* w = form.find(name)->live();
    return QRect(w->mapTo(form.windowWidget(), QPoint(0, 0)), w->size());
}

TEST(MainWindow, FrameCaptionAndTheWindowEventsAtLoad) {
    RoutineRecorder rec;
    auto form = mainWindow(rec);
    ASSERT_TRUE(form);
    QWidget* client = form->windowWidget();
    EXPECT_EQ(client->windowTitle(), "Vesperon");
    EXPECT_EQ(client->size(), QSize(374, 471));
    EXPECT_EQ(form->window().intProperty(kWidth), 380);
    EXPECT_EQ(form->window().intProperty(kHeight), 500);
    EXPECT_EQ(client->minimumSize(), client->maximumSize());
    EXPECT_TRUE(client->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(client->windowFlags() & Qt::WindowMaximizeButtonHint);
    // Created (start-up) is the first routine, once, before anything else.
    ASSERT_FALSE(rec.calls.empty());
    EXPECT_EQ(rec.calls[0].routine, app::routine::StartUp);
    EXPECT_EQ(rec.count("", 0), 1);
}

TEST(MainWindow, AllNinetyNineWidgetsAtTheirPlaces) {
    RoutineRecorder rec;
    auto form = mainWindow(rec);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->widgets().size(), 99u);
    for (Widget* w : form->widgets()) EXPECT_NE(w->live(), nullptr) << w->name();
    // Children of the groups are placed relative to their group.
    EXPECT_EQ(placeInClient(*form, "列表框1"), QRect(1 + 7, -5 + 62, 242, 146));
    EXPECT_EQ(placeInClient(*form, "按钮_播放"), QRect(1 + 8, -5 + 9, 80, 25));
    EXPECT_EQ(placeInClient(*form, "按钮_展开"), QRect(6, 212, 362, 18));
    EXPECT_EQ(placeInClient(*form, "编辑框_到秒5"), QRect(1 + 323, 237 + 198, 20, 20));
    EXPECT_EQ(form->find("列表框1")->live()->parentWidget(), form->find("分组框1")->live());
    auto* caption = qobject_cast<QGroupBox*>(form->find("分组框2")->live());
    ASSERT_TRUE(caption);
    EXPECT_EQ(caption->title(), QString::fromUtf8("计划播放时段"));
    EXPECT_EQ(caption->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(form->find("按钮_播放")->textProperty(kButtonCaption), "播放");
    EXPECT_FALSE(form->find("标签1")->live()->isVisible());
    EXPECT_FALSE(form->find("系统音量1")->live()->isVisible());
    EXPECT_FALSE(form->find("拖放对象1")->live()->isVisible());
    EXPECT_EQ(form->find("按钮_播放")->live()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(form->find("编辑框_时")->live()->cursor().shape(), Qt::ArrowCursor);
    // The captions need a CJK face that can draw them.
    EXPECT_TRUE(QFontDatabase::families().contains("WenQuanYi Micro Hei"));
    EXPECT_TRUE(QFontMetrics(QApplication::font()).inFont(QChar(0x64AD)));  // 播
}

TEST(MainWindow, FoldedHeightKeepsTheExpandButtonAndHidesTheSchedule) {
    RoutineRecorder rec;
    auto form = mainWindow(rec);
    ASSERT_TRUE(form);
    form->window().setProperty(kHeight, kMainWindowCollapsedHeight);
    const QRect client = form->windowWidget()->rect();
    EXPECT_EQ(client.size(), QSize(374, 234));
    EXPECT_TRUE(client.contains(placeInClient(*form, "按钮_展开")));
    EXPECT_FALSE(client.intersects(placeInClient(*form, "分组框2")));
}

TEST(MainWindow, TabOrderRunsOverThePlaylistAndTheThirtyPeriodBoxes) {
    RoutineRecorder rec;
    auto form = mainWindow(rec);
    ASSERT_TRUE(form);
    QWidget* list = form->find("列表框1")->live();
    EXPECT_EQ(QApplication::focusWidget(), list);  // at start the list box has the focus

    std::vector<std::string> expected{"列表框1"};
    for (int row = 1; row <= 5; ++row)
        for (const char* col : {"从时", "从分", "从秒", "到时", "到分", "到秒"})
            expected.push_back(std::string("编辑框_") + col + std::to_string(row));
    expected.push_back("列表框1");  // wraps around
    std::vector<std::string> seen{form->lastFocused() ? form->lastFocused()->name() : ""};
    for (int i = 0; i < 31; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.push_back(form->lastFocused() ? form->lastFocused()->name() : "");
    }
    EXPECT_EQ(seen, expected);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(form->lastFocused()->name(), "编辑框_到秒5");

    // A period box that is disabled or hidden is passed by.
    form->find("编辑框_从时1")->live()->setFocus();
    form->find("编辑框_从分1")->setProperty(kDisabled, 1);
    form->find("编辑框_从秒1")->setProperty(kVisible, 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(form->lastFocused()->name(), "编辑框_到时1");
}

TEST(MainWindow, FocusComesBackOnActivationAndEnterEscF1ReachTheWidget) {
    RoutineRecorder rec;
    auto form = mainWindow(rec);
    ASSERT_TRUE(form);
    QWidget* box = form->find("编辑框_到分3")->live();
    box->setFocus();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    form->windowWidget()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form->windowWidget()));
    EXPECT_EQ(QApplication::focusWidget(), box);

    // Esc does not close the window, F1 opens nothing, Enter goes to the list box's routine.
    QTest::keyClick(box, Qt::Key_Escape);
    QTest::keyClick(box, Qt::Key_F1);
    EXPECT_TRUE(form->isLoaded());
    form->find("列表框1")->live()->setFocus();
    rec.clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(rec.count("列表框1", -9), 1);
    EXPECT_EQ(std::get<std::int32_t>(rec.calls[0].args[0]), 0x0D);
}

TEST(WindowEvents, CreatedMovedResizedThenMayCloseAndBeingDestroyed) {
    LayoutBuilder b;
    for (int ev : {0, 1, 2, 3, 4}) b.bind(b.window(), ev, app::routine::StartUp);
    RoutineRecorder rec;
    auto form = showForm(b.layout(), rec);
    std::vector<int> events;
    for (const auto& c : rec.calls)
        if (c.event >= 0) events.push_back(c.event);
    EXPECT_EQ(events, (std::vector<int>{0, 3, 4}));

    rec.clear();
    form->window().setProperty(kHeight, 263);
    EXPECT_EQ(rec.count("", 4), 1);
    form->window().setProperty(kLeft, 10);
    EXPECT_EQ(rec.count("", 3), 1);

    rec.returns[app::routine::StartUp] = 0;  // may close: no
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isLoaded());
    EXPECT_EQ(rec.count("", 2), 0);
    rec.returns.clear();
    bool widgetsLiveDuringEvent2 = false;
    rec.onCall = [&](const EventCall& c) {
        if (c.event == 2) widgetsLiveDuringEvent2 = c.form.windowWidget() != nullptr;
    };
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isLoaded());
    EXPECT_EQ(rec.count("", 2), 1);
    EXPECT_TRUE(widgetsLiveDuringEvent2);
}

TEST(Programs, ScreenshotToolWritesBothPictures) {
    const std::string tool = std::string(VESPERON_BINARY_DIR) + "/tools/vesperon-screenshot";
    const std::string folded = std::string(VESPERON_BINARY_DIR) + "/tests/ui/screenshot_folded.png";
    const std::string expanded = std::string(VESPERON_BINARY_DIR) + "/tests/ui/screenshot_expanded.png";
    QFile::remove(QString::fromStdString(folded));
    QFile::remove(QString::fromStdString(expanded));
    EXPECT_EQ(vesperon::test::runCommand({tool, folded}).exitCode, 0);
    EXPECT_EQ(vesperon::test::runCommand({tool, "--expanded", expanded}).exitCode, 0);
    const QImage a(QString::fromStdString(folded)), b(QString::fromStdString(expanded));
    EXPECT_EQ(a.size(), QSize(374, 234));
    EXPECT_EQ(b.size(), QSize(374, 471));
    // The folded picture is the top of the expanded one.
    EXPECT_EQ(a, b.copy(0, 0, 374, 234));
    EXPECT_NE(vesperon::test::runCommand({tool}).exitCode, 0);
}

TEST(Programs, WithoutADisplayThePlayerSaysSoInOneLine) {
    const std::string player = std::string(VESPERON_BINARY_DIR) + "/app/vesperon";
    vesperon::test::CommandResult r = vesperon::test::runCommand(
        {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", player});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

}  // namespace
}  // namespace vesperon::ui::test

namespace vesperon::ui::test {
namespace {

TEST(DialogKeys, EnterAndEscFollowTheWindowSettingsAndTheDefaultButton) {
    LayoutBuilder b;
    layout::EditBoxProps ep;
    for (const char* name : {"甲", "乙"})
        b.add(layout::Kind::EditBox, name, 10, 10, 50, 20, ep).stateFlags |= layout::kStateFocusable;
    layout::ButtonProps bp;
    bp.defaultButton = 1;
    b.bind(b.add(layout::Kind::Button, "确定", 10, 40, 80, 25, bp), 0, app::routine::PlayNext);
    b.bind(b.window(), 1, app::routine::StartUp);
    RoutineRecorder rec;
    auto form = showForm(b.layout(), rec);
    QWidget* first = form->find("甲")->live();
    first->setFocus();

    QTest::keyClick(first, Qt::Key_Return);  // the first enabled default button is clicked
    EXPECT_EQ(rec.count("确定", 0), 1);
    EXPECT_EQ(QApplication::focusWidget(), first);
    form->find("确定")->setProperty(kDisabled, 1);
    QTest::keyClick(first, Qt::Key_Return);  // a disabled one is not
    EXPECT_EQ(rec.count("确定", 0), 1);

    form->window().setProperty(kWindowEnterMovesFocus, 1);
    QTest::keyClick(first, Qt::Key_Return);
    EXPECT_EQ(form->lastFocused()->name(), "乙");

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);  // Esc-closes is off
    EXPECT_TRUE(form->isLoaded());
    form->window().setProperty(kWindowEscCloses, 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(rec.count("", 1), 1);  // closing asks the window first
    EXPECT_FALSE(form->isLoaded());
}

}  // namespace
}  // namespace vesperon::ui::test
