// Start-up, shut-down and the expand/collapse button on the real main window.
#include <QtTest/QTest>

#include "app/routine_ids.h"
#include "desktop/drop_target.h"
#include "skin/skin.h"
#include "tests/app/player_window.h"

namespace vesperon::app::test {
namespace {

class StartUp : public PlayerWindow {
protected:
    void SetUp() override {}  // each test opens the window with its own stand-ins
    void TearDown() override {
        closeWindow();
        skin::SetSkin(0);
    }
    std::string tip(const char* name) { return w(name).live()->toolTip().toStdString(); }
};

TEST_F(StartUp, BothKeysRegisteredGiveToolTipsAndEveryStepLeavesItsMark) {
    startVolume = {20000, 30000};  // left, right: the read keeps the right channel
    openWindow();
    const PlayerState& s = state();
    EXPECT_TRUE(skin::SkinIsOn());
    EXPECT_EQ(skin::CurrentSkinScheme(), 2);
    EXPECT_EQ(s.currentTrack, 1);

    const int first = s.hotkeyIds[0];
    EXPECT_GE(first, desktop::kFirstHotKeyId);
    EXPECT_EQ(s.hotkeyIds[1], first + 1);
    EXPECT_EQ(keyLog, (std::vector<std::string>{"register 19 " + std::to_string(first),
                                                "register 34 " + std::to_string(first + 1)}));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(tip("按钮_播放"), "快捷键:Pause");
    EXPECT_EQ(tip("按钮_下一曲"), "快捷键:Page Down");
    EXPECT_EQ(tip("按钮_上一曲"), "");

    EXPECT_EQ(form->window().intProperty(ui::kHeight), 263);
    EXPECT_EQ(w("按钮_展开").textProperty(ui::kButtonCaption), "∨");
    // The line is chosen before the volume is read; the same variable takes both channels.
    ASSERT_GE(mixer->calls.size(), 2u);
    EXPECT_EQ(mixer->calls[0], "open");
    EXPECT_EQ(controller->fader().target(), 30000);

    auto* drop = form->findAs<desktop::DropTarget>("拖放对象1");
    ASSERT_TRUE(drop);
    EXPECT_EQ(drop->registeredWindow(), list().handle());

    ASSERT_EQ(s.scheduleBoxes.size(), 30u);
    EXPECT_EQ(s.scheduleBoxes[0], "编辑框_从时1");
    EXPECT_EQ(s.scheduleBoxes[4], "编辑框_从时5");
    EXPECT_EQ(s.scheduleBoxes[6], "编辑框_从分2");  // position 7
    EXPECT_EQ(s.scheduleBoxes[12], "编辑框_从秒3");
    EXPECT_EQ(s.scheduleBoxes[15], "编辑框_到时1");
    EXPECT_EQ(s.scheduleBoxes[22], "编辑框_到分3");
    EXPECT_EQ(s.scheduleBoxes[29], "编辑框_到秒5");  // position 30
    for (const std::string& name : s.scheduleBoxes) EXPECT_TRUE(form->findAs<ui::EditBox>(name)) << name;

    // Shut-down releases both keys against the window.
    keyLog.clear();
    form.reset();
    EXPECT_EQ(keyLog, (std::vector<std::string>{"unregister " + std::to_string(first),
                                                "unregister " + std::to_string(first + 1)}));
    EXPECT_EQ(desktop::hotKeyTable().activeCount, 0);
}

TEST_F(StartUp, EitherKeyRefusedShowsTheErrorBoxAfterTheStartUpNoToolTipsAndTheOtherKeyStillWorks) {
    struct Case {
        std::vector<uint32_t> refused;
        int working;  // index into hotkeyIds of the key that registered, -1 for none
    };
    for (const Case& c : {Case{{kPageDownVk}, 0}, Case{{kPauseVk}, 1}, Case{{kPauseVk, kPageDownVk}, -1}}) {
        SCOPED_TRACE(c.working);
        refusedKeys = c.refused;
        keyLog.clear();
        boxes.clear();
        dialogTitles.clear();
        // What the window looks like when the box comes up: the start-up is over by then.
        int heightAtBox = -1, keysTriedAtBox = -1;
        std::size_t periodBoxesAtBox = 0;
        std::optional<int> savedAtBox = -1;
        onMessageBox = [&] {
            heightAtBox = mainForm().window().intProperty(ui::kHeight);
            keysTriedAtBox = static_cast<int>(keyLog.size());
            savedAtBox = controller->fader().target();
            periodBoxesAtBox = state().scheduleBoxes.size();
        };
        openWindow();
        ASSERT_TRUE(waitFor([&] { return !boxes.empty(); }, 2000));
        onMessageBox = nullptr;

        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "快捷键注册失败,您可能无法正常使用快捷键！");
        EXPECT_EQ(boxes[0].flags, 0x10);
        EXPECT_EQ(boxes[0].caption, "错误");
        EXPECT_EQ(keysTriedAtBox, 2);
        EXPECT_EQ(savedAtBox, 30000);
        EXPECT_EQ(heightAtBox, 263);
        EXPECT_EQ(periodBoxesAtBox, 30u);
        EXPECT_EQ(tip("按钮_播放"), "");
        EXPECT_EQ(tip("按钮_下一曲"), "");

        for (int k = 0; k < 2; ++k) EXPECT_EQ(state().hotkeyIds[k] != 0, k == c.working) << k;
        if (c.working >= 0) {
            // The registered key reaches the transport: with an empty list it asks for files.
            grabber->press(form->window().handle(), state().hotkeyIds[c.working]);
            EXPECT_TRUE(waitFor([&] { return !dialogTitles.empty(); }, 2000));
        }
        closeWindow();
        skin::SetSkin(0);
    }
}

TEST_F(StartUp, ExpandButtonTogglesHeightCaptionAndFocus) {
    openWindow();
    QWidget* button = w("按钮_展开").live();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(state().panelExpanded, 1);
    EXPECT_EQ(form->window().intProperty(ui::kHeight), 500);
    EXPECT_EQ(w("按钮_展开").textProperty(ui::kButtonCaption), "∧");
    EXPECT_EQ(form->lastFocused(), &w("编辑框_从时1"));

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(state().panelExpanded, 0);
    EXPECT_EQ(form->window().intProperty(ui::kHeight), 263);
    EXPECT_EQ(w("按钮_展开").textProperty(ui::kButtonCaption), "∨");
    EXPECT_EQ(form->lastFocused(), &w("列表框1"));
}

// The window without its widgets: the logic refuses it at once, naming the first one it lacks,
// instead of acting on a missing widget later.
TEST(MainWidgets, AMissingWidgetStopsTheProgramNamingIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    layout::FormLayout bare = layout::loadMainWindow(app::routineCatalog()).value;
    bare.units.resize(1);  // the window alone
    ui::Form form(bare, {});
    EXPECT_DEATH(resolveMainWidgets(form), "no widget 按钮_播放");
}

}  // namespace
}  // namespace vesperon::app::test
