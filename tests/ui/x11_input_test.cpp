// The main window on a real X server (Xvfb): real key and mouse input from xdotool reaches the
// widgets through the same filters, focus order and events as on the offscreen platform.

#include <gtest/gtest.h>

#include <QTest>
#include <sstream>

#include "app/routine_ids.h"
#include "tests/support/process.h"
#include "tests/ui/ui_test_support.h"
#include "ui/edit_box.h"
#include "ui/main_window.h"

namespace vesperon::ui::test {
namespace {

void xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    EXPECT_EQ(vesperon::test::runCommand(args, 20).exitCode, 0);
    // The events travel through the X server; let Qt take them.
    QTest::qWait(150);
}

TEST(X11Input, RealKeysAndClicksOnTheMainWindow) {
    ASSERT_TRUE(vesperon::test::haveProgram("xdotool"));
    RoutineRecorder rec;
    auto loaded = loadMainWindow(rec.dispatcher(), app::routineCatalog(), {.show = true});
    ASSERT_TRUE(loaded) << loaded.error;
    auto& form = loaded.value;
    QWidget* top = form->windowWidget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top));
    top->activateWindow();
    QTest::qWait(200);

    auto found = vesperon::test::runCommand({"xdotool", "search", "--name", "^Vesperon$"}, 20);
    ASSERT_EQ(found.exitCode, 0) << found.err;
    std::istringstream ids(found.out);
    std::string id;
    ids >> id;
    auto geometry = vesperon::test::runCommand({"xdotool", "getwindowgeometry", id}, 20);
    EXPECT_NE(geometry.out.find("Geometry: 374x471"), std::string::npos) << geometry.out;

    // Typed into a period box: only digits and "-", two characters, Backspace passes.
    auto* box = form->findAs<EditBox>("编辑框_从时1");
    box->setFocus();
    QTest::qWait(100);
    xdotool({"type", "--delay", "20", "a1x-9"});
    EXPECT_EQ(box->textProperty(kEditContent), "1-");
    xdotool({"key", "BackSpace"});
    EXPECT_EQ(box->textProperty(kEditContent), "1");
    xdotool({"key", "Tab"});
    EXPECT_EQ(form->lastFocused()->name(), "编辑框_从分1");

    // A click on the play button raises its event once.
    rec.clear();
    const QPoint play = form->find("按钮_播放")->live()->mapToGlobal(QPoint(40, 12));
    xdotool({"mousemove", std::to_string(play.x()), std::to_string(play.y()), "click", "1"});
    EXPECT_EQ(rec.count("按钮_播放", 0), 1);
    // Keys typed into the list box reach its key routine with the virtual key code.
    form->find("列表框1")->setFocus();
    QTest::qWait(100);
    rec.clear();
    xdotool({"key", "Delete"});
    ASSERT_EQ(rec.count("列表框1", -9), 1);
    EXPECT_EQ(argInt(rec.calls[0], 0), 0x2E);
}

}  // namespace
}  // namespace vesperon::ui::test
