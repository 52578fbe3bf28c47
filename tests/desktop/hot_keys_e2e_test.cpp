// Hot keys for real: a private Xvfb, Qt on xcb, key presses from xdotool. The feedback event of
// the form's label must carry the identifier; a key another X client holds must be refused.

#include <gtest/gtest.h>

#include "desktop/hot_key_codes.h"
#include "desktop/hot_keys.h"
#include "tests/desktop/test_form.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"
#include "ui/window_widget.h"

// Xlib's macros clash with Qt and GoogleTest, so it comes last.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace vesperon::desktop {
namespace {

using test::TestForm;

std::vector<std::pair<std::int64_t, std::int64_t>> feedbacks(const TestForm& f) {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    auto num = [](const ui::EventArg& a) -> std::int64_t {
        if (auto* i = std::get_if<std::int32_t>(&a)) return *i;
        if (auto* l = std::get_if<std::int64_t>(&a)) return *l;
        return -999;
    };
    for (const auto& c : f.rec.calls)
        if (c.widget == "标签1" && c.event == 0 && c.args.size() == 2)
            out.emplace_back(num(c.args[0]), num(c.args[1]));
    return out;
}

bool pressKey(const char* key) {
    return test::runCommand({"xdotool", "key", key}, 10).exitCode == 0;
}

TEST(HotKeysE2E, KeysReachTheFeedbackLabelAndHeldKeysAreRefused) {
    ASSERT_TRUE(test::haveProgram("xdotool"));
    TestForm f;
    ASSERT_TRUE(f.form) << f.error;
    const ui::WindowHandle window = f.form->window().handle();
    const ui::WindowHandle label = f.handle("标签1");
    ASSERT_NE(window, 0);
    ASSERT_NE(label, 0);

    const bool firstInProcess = hotKeyTable().issuedCount == 0;
    const int pause = RegisterGlobalHotKey(window, label, 0, kVkPause);
    const int pageDown = RegisterGlobalHotKey(window, label, 0, kVkPageDown);
    ASSERT_NE(pause, 0);
    if (firstInProcess) {
        EXPECT_EQ(pause, 33001);
    }
    EXPECT_EQ(pageDown, pause + 1);

    ASSERT_TRUE(pressKey("Pause"));
    ASSERT_TRUE(test::waitFor([&] { return feedbacks(f).size() == 1; }));
    EXPECT_EQ(feedbacks(f)[0], (std::pair<std::int64_t, std::int64_t>(pause, 0)));
    ASSERT_TRUE(pressKey("Next"));
    ASSERT_TRUE(test::waitFor([&] { return feedbacks(f).size() == 2; }));
    EXPECT_EQ(feedbacks(f)[1], (std::pair<std::int64_t, std::int64_t>(pageDown, 0)));
    // With Num Lock on the key is still caught.
    ASSERT_TRUE(pressKey("Num_Lock"));
    ASSERT_TRUE(pressKey("Pause"));
    EXPECT_TRUE(test::waitFor([&] { return feedbacks(f).size() == 3; }));
    ASSERT_TRUE(pressKey("Num_Lock"));

    // A key held down past the server's auto-repeat delay (660 ms) acts once.
    // The focus is elsewhere (the root), so that the repeats reach the grab and not our window.
    ASSERT_EQ(test::runCommand({"xdotool", "mousemove", "1270", "1010"}, 10).exitCode, 0);
    if (Display* d = XOpenDisplay(nullptr)) {
        XAutoRepeatOn(d);
        XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
        XSync(d, False);
        XCloseDisplay(d);
    }
    ASSERT_EQ(test::runCommand({"xdotool", "keydown", "Pause", "sleep", "1.2", "keyup", "Pause"}, 10).exitCode, 0);
    test::pump(300);
    EXPECT_EQ(feedbacks(f).size(), 4u);
    ASSERT_TRUE(pressKey("Pause"));  // and a new press after the release counts again
    EXPECT_TRUE(test::waitFor([&] { return feedbacks(f).size() == 5; }));

    // Another client grabs Ctrl+F9 first; ours is refused but consumes its identifier.
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XGrabKey(other, XKeysymToKeycode(other, XK_F9), ControlMask, DefaultRootWindow(other), True,
             GrabModeAsync, GrabModeAsync);
    XSync(other, False);
    EXPECT_EQ(RegisterGlobalHotKey(window, label, 1, 0x78 /* F9 */), 0);
    const int next = RegisterGlobalHotKey(window, label, 1, 0x79 /* F10 */);
    EXPECT_EQ(next, pageDown + 2);
    XCloseDisplay(other);

    // Releasing every identifier, the refused one (0) included, takes the filter off the window
    // and the keys off the X server: Pause no longer reaches the label.
    EXPECT_TRUE(UnregisterGlobalHotKey(window, pause));
    EXPECT_TRUE(UnregisterGlobalHotKey(window, pageDown));
    EXPECT_NE(hotKeyTable().filterId, 0);
    EXPECT_FALSE(UnregisterGlobalHotKey(window, 0));
    EXPECT_TRUE(UnregisterGlobalHotKey(window, next));
    EXPECT_EQ(hotKeyTable().activeCount, 0);
    EXPECT_EQ(hotKeyTable().filterId, 0);
    const size_t before = feedbacks(f).size();
    ASSERT_TRUE(pressKey("Pause"));
    test::pump(500);
    EXPECT_EQ(feedbacks(f).size(), before);
    ui::sendMessage(window, kHotKeyMessage, pause, 0);
    EXPECT_EQ(feedbacks(f).size(), before);
}

}  // namespace
}  // namespace vesperon::desktop
