// Common properties, stored and live values, fatal run-time errors, the window's outer size.

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>

#include "tests/ui/ui_test_support.h"
#include "ui/button.h"
#include "ui/check_box.h"
#include "ui/edit_box.h"
#include "ui/runtime_error.h"
#include "ui/scroll_bar.h"
#include "ui/window_widget.h"

namespace vesperon::ui::test {
namespace {

LayoutBuilder buttonLayout() {
    LayoutBuilder b;
    layout::ButtonProps p;
    p.caption = "播放";
    b.add(layout::Kind::Button, "按钮", 8, 9, 80, 25, p);
    return b;
}

TEST(CommonProperties, GeometryWritesAreClampedAndMoveOrResizeOnly) {
    RoutineRecorder rec;
    auto form = showForm(buttonLayout().layout(), rec);
    Widget* b = form->find("按钮");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->intProperty(kLeft), 8);
    EXPECT_EQ(b->intProperty(kWidth), 80);

    b->setProperty(kWidth, -10);
    EXPECT_EQ(b->intProperty(kWidth), 0);
    EXPECT_EQ(b->intProperty(kLeft), 8);  // resizing does not move
    b->setProperty(kWidth, 99999);
    EXPECT_EQ(b->intProperty(kWidth), 32627);
    b->setProperty(kWidth, 80);

    b->setProperty(kLeft, 40000);
    EXPECT_EQ(b->intProperty(kLeft), 32627);
    b->setProperty(kTop, -40000);
    EXPECT_EQ(b->intProperty(kTop), -32627);
    EXPECT_EQ(b->intProperty(kWidth), 80);  // moving keeps the size
    EXPECT_EQ(b->intProperty(kHeight), 25);
    EXPECT_EQ(b->live()->geometry(), QRect(32627, -32627, 80, 25));
}

TEST(CommonProperties, VisibleDisabledTagAndPointer) {
    RoutineRecorder rec;
    auto form = showForm(buttonLayout().layout(), rec);
    Widget* b = form->find("按钮");
    EXPECT_EQ(b->intProperty(kVisible), 1);
    b->setProperty(kVisible, 0);
    EXPECT_TRUE(b->live()->isHidden());
    EXPECT_EQ(b->intProperty(kVisible), 0);
    b->setProperty(kDisabled, 1);
    EXPECT_FALSE(b->live()->isEnabled());
    EXPECT_EQ(b->intProperty(kDisabled), 1);
    b->setProperty(kTag, std::string("备注"));
    EXPECT_EQ(b->textProperty(kTag), "备注");
    b->setProperty(kMousePointer, Bytes{0x89, 0x7F, 0, 0});    // 32649, the hand
    EXPECT_EQ(b->live()->cursor().shape(), Qt::BitmapCursor);  // the program's own hand
    EXPECT_EQ(b->live()->cursor().hotSpot(), QPoint(5, 0));
    EXPECT_EQ(std::get<Bytes>(b->property(kMousePointer)), (Bytes{0x89, 0x7F, 0, 0}));
}

TEST(CommonProperties, ReadsFallBackToStoredValuesOnceTheWidgetIsDestroyed) {
    RoutineRecorder rec;
    auto form = showForm(buttonLayout().layout(), rec);
    Widget* b = form->find("按钮");
    b->setProperty(kLeft, 20);
    const WindowHandle h = b->handle();
    EXPECT_TRUE(isWindow(h));
    b->destroyLive();
    EXPECT_EQ(b->live(), nullptr);
    EXPECT_FALSE(isWindow(h));
    EXPECT_EQ(b->intProperty(kLeft), 20);
    EXPECT_EQ(b->intProperty(kWidth), 80);
    b->setProperty(kTop, 33);  // stored only
    EXPECT_EQ(b->intProperty(kTop), 33);
}

TEST(CommonProperties, FontAttributesByPartSelector) {
    RoutineRecorder rec;
    auto form = showForm(buttonLayout().layout(), rec);
    Widget* b = form->find("按钮");
    EXPECT_TRUE(b->setProperty(kButtonFont, 1, 1));     // bold
    EXPECT_TRUE(b->setProperty(kButtonFont, 21, 5));    // size
    EXPECT_TRUE(b->setProperty(kButtonFont, 3650, 0));  // angle, modulo 3600
    EXPECT_EQ(b->intProperty(kButtonFont), 0);          // whole value: bytes, not a number
    EXPECT_EQ(intOf(b->property(kButtonFont, 1)), 1);
    EXPECT_EQ(intOf(b->property(kButtonFont, 5)), 21);
    EXPECT_EQ(intOf(b->property(kButtonFont, 0)), 50);
    EXPECT_TRUE(b->live()->font().bold());
    EXPECT_EQ(b->live()->font().pixelSize(), 21);
    b->setProperty(kButtonFont, std::string(40, 'x'), 6);  // too long: the default face
    EXPECT_EQ(textOf(b->property(kButtonFont, 6)), "");
    b->setProperty(kButtonFont, std::string("宋体"), 6);
    EXPECT_EQ(textOf(b->property(kButtonFont, 6)), "宋体");
    EXPECT_FALSE(b->setProperty(kButtonCaption, 1, 1));  // not a font
}

TEST(RuntimeErrors, ReportTextFollowsTheFatalErrorFormat) {
    EXPECT_EQ(formatRuntimeError(std::nullopt, kErrorLiveWindowMissing),
              "运行时出错!\r\n\r\n错误信息：指定窗口尚未载入\r\n");
    EXPECT_EQ(formatRuntimeError(4, kErrorIndexBelowOne),
              "运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n");
    EXPECT_EQ(formatRuntimeError(1, ""), "运行时出错!\r\n\r\n错误代码：1\r\n\r\n");
}

// The hooks are process-wide: each test installs all three.
struct ErrorCapture {
    std::vector<std::string> shown;
    std::vector<std::string> order;
    int exitCode = 0;
    ErrorCapture() {
        setFatalErrorHooks({[this] { order.push_back("stop"); },
                            [this](const std::string& m) {
                                shown.push_back(m);
                                order.push_back("show");
                            },
                            [this](int code) {
                                exitCode = code;
                                order.push_back("exit");
                            }});
    }
    ~ErrorCapture() { setFatalErrorHooks({}); }
};

TEST(RuntimeErrors, TypePropertyOfADestroyedWidgetAndAnUnloadedWindowAreFatal) {
    ErrorCapture cap;
    RoutineRecorder rec;
    auto form = showForm(buttonLayout().layout(), rec);
    Widget* b = form->find("按钮");
    const std::uint32_t windowId = form->id(), buttonId = b->id();
    EXPECT_EQ(textOf(readProperty(windowId, buttonId, kButtonCaption)), "播放");
    EXPECT_TRUE(cap.shown.empty());

    b->destroyLive();
    EXPECT_EQ(b->intProperty(kButtonCaption), -1);
    ASSERT_EQ(cap.shown.size(), 1u);
    EXPECT_NE(cap.shown[0].find("指定窗口尚未载入"), std::string::npos);
    EXPECT_EQ(cap.order, (std::vector<std::string>{"show", "stop", "exit"}));
    EXPECT_EQ(cap.exitCode, -1);
    EXPECT_EQ(b->intProperty(kLeft), 8);  // common properties are no error

    form->destroyWindow();
    EXPECT_FALSE(form->isLoaded());
    EXPECT_EQ(intOf(readProperty(windowId, buttonId, kLeft)), -1);
    ASSERT_EQ(cap.shown.size(), 2u);
    EXPECT_NE(cap.shown[1].find("未载入欲访问窗口组件所在的窗口"), std::string::npos);
}

TEST(RuntimeErrorsDeathTest, TheProcessEndsWithExitCodeMinusOne) {
    EXPECT_EXIT(
        {
            setFatalErrorHooks({{}, [](const std::string& m) { fputs(m.c_str(), stderr); }, {}});
            reportRuntimeError(1, kErrorIndexBeyondEnd);
        },
        ::testing::ExitedWithCode(255), "数组成员引用下标超出定义范围");
}

TEST(WindowGeometry, OuterSizeIsTheClientAreaPlusTheFrame) {
    RoutineRecorder rec;
    LayoutBuilder b;
    b.window().props = [] {
        layout::WindowProps p;
        p.caption = "Vesperon";
        p.startPosition = 1;
        return p;
    }();
    auto form = showForm(b.layout(), rec);
    WindowWidget& w = form->window();
    QWidget* client = form->windowWidget();
    EXPECT_EQ(client->size(), QSize(374, 471));
    EXPECT_EQ(w.intProperty(kWidth), 380);
    EXPECT_EQ(w.intProperty(kHeight), 500);
    EXPECT_EQ(client->minimumSize(), client->maximumSize());  // fixed frame
    w.setProperty(kHeight, 263);
    EXPECT_EQ(client->size(), QSize(374, 234));
    EXPECT_EQ(w.intProperty(kHeight), 263);
    // Centred: the outer frame in the middle of the screen.
    const QRect screen = client->screen()->geometry();
    EXPECT_EQ(w.intProperty(kLeft), (screen.width() - 380) / 2);
    EXPECT_EQ(w.intProperty(kTop), (screen.height() - 500) / 2);
    const Qt::WindowFlags f = client->windowFlags();
    EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    w.setProperty(kWindowCaption, std::string("播放:a.mp3"));
    EXPECT_EQ(client->windowTitle(), QString::fromUtf8("播放:a.mp3"));
}

}  // namespace
}  // namespace vesperon::ui::test
