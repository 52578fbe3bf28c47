// The built-in main window record: it reads back to its description, and every widget is where
// and what the window needs it to be.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/routine_ids.h"
#include "ui/layout/form_layout.h"
#include "ui/layout/layout_description.h"
#include "ui/layout/record_writer.h"

using namespace vesperon::layout;
namespace app = vesperon::app;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class MainWindowLayout : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto r = loadMainWindow(app::routineCatalog());
        ASSERT_TRUE(r) << r.error;
        layout_ = new FormLayout(std::move(r.value));
    }
    static void TearDownTestSuite() {
        delete layout_;
        layout_ = nullptr;
    }
    const Unit& unit(const std::string& name) {
        const Unit* u = layout_->find(std::string_view(name));
        if (!u) throw std::runtime_error("no widget " + name);
        return *u;
    }
    std::uint32_t idOf(const std::string& name) { return unit(name).id; }
    static FormLayout* layout_;
};
FormLayout* MainWindowLayout::layout_ = nullptr;

struct Place {
    int left, top, width, height;
};

void expectPlace(const Unit& u, Place p) {
    EXPECT_EQ(u.left, p.left) << u.name;
    EXPECT_EQ(u.top, p.top) << u.name;
    EXPECT_EQ(u.width, p.width) << u.name;
    EXPECT_EQ(u.height, p.height) << u.name;
}

}  // namespace

TEST_F(MainWindowLayout, RecordReadsBackToItsDescriptionByteForByte) {
    auto described = readDescription(
        readFile(std::string(VESPERON_SOURCE_DIR) + "/resources/main_window.layout"), app::routineCatalog());
    ASSERT_TRUE(described) << described.error;
    EXPECT_TRUE(described.value == *layout_);
    auto bytes = encode(described.value);
    ASSERT_TRUE(bytes) << bytes.error;
    auto built = mainWindowRecord();
    EXPECT_TRUE(std::equal(bytes.value.begin(), bytes.value.end(), built.begin(), built.end()));
    EXPECT_TRUE(layout_->refused.empty());
}

TEST_F(MainWindowLayout, HeaderAndFramingFollowTheRecordFormat) {
    auto b = mainWindowRecord();
    auto le = [&](std::size_t o) {
        return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | std::uint32_t(b[o + 3]) << 24;
    };
    EXPECT_EQ(le(0), 8u);
    EXPECT_EQ(le(4), 0x52010001u);
    EXPECT_EQ(le(28), 100u);
    EXPECT_EQ(le(32), b.size() - 36);
    EXPECT_EQ(le(36), 0x52010001u);   // the window's identifier leads the list
    EXPECT_EQ(le(36 + 4 * 100), 0u);  // and its unit starts the unit area
    // Every unit's mouse pointer is stored as a 4-byte value, as the format has it; the window's
    // type code and library come first in its unit.
    std::size_t window = 36 + 8 * 100;
    EXPECT_EQ(b[window + 4] | b[window + 5] << 8, 1);
    EXPECT_EQ(b[window + 6] | b[window + 7] << 8, 1);
}

TEST_F(MainWindowLayout, TheWindow) {
    const Unit& w = layout_->window();
    ASSERT_EQ(layout_->units.size(), 100u);
    EXPECT_EQ(w.kind, Kind::Window);
    EXPECT_EQ(w.id, 0x52010001u);
    EXPECT_EQ(w.name, "");
    expectPlace(w, {50, 50, 380, 500});
    EXPECT_EQ(w.routineFor(0), app::routine::StartUp);
    EXPECT_EQ(w.routineFor(2), app::routine::ShutDown);
    EXPECT_EQ(w.bindings.size(), 2u);
    EXPECT_EQ(w.blockVersion, 6u);
    const auto* p = w.as<WindowProps>();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->caption, "Vesperon");
    EXPECT_EQ(p->borderStyle, 2);
    EXPECT_EQ(p->startPosition, 1);
    EXPECT_EQ(p->controlBox, 1);
    EXPECT_EQ(p->minimiseButton, 1);
    EXPECT_EQ(p->maximiseButton, 0);
    EXPECT_EQ(p->movable, 1);
    EXPECT_EQ(p->showInTaskBar, 1);
    EXPECT_EQ(p->backgroundColour, kButtonFace);
    EXPECT_EQ(p->enterMovesFocus + p->escCloses + p->f1OpensHelp + p->alwaysOnTop, 0);
    EXPECT_TRUE(p->icon.empty() && p->picture.empty() && p->music.empty());
    EXPECT_TRUE(p->helpFile.empty() && p->className.empty());
}

TEST_F(MainWindowLayout, AllNinetyNineWidgetsAreThereOnceUnderTheRightParent) {
    std::set<std::string> player = {"按钮_播放",       "按钮_下一曲",   "按钮_上一曲",   "按钮_停止",
                                    "滑块条_播放进度", "标签1",         "列表框1",       "选择框_随机播放",
                                    "选择框_单曲循环", "按钮_添加列表", "按钮_删除列表", "按钮_重置列表",
                                    "纵向滚动条_音量", "系统音量1",     "选择框_静音",   "拖放对象1"};
    std::set<std::string> schedule = {"标签44", "编辑框_时",      "标签45", "编辑框_分",
                                      "标签46", "编辑框_秒",      "标签47", "选择框_开始计划",
                                      "时钟1",  "按钮_清空时间段"};
    for (int i = 4; i <= 43; ++i) schedule.insert("标签" + std::to_string(i));
    for (const char* box : {"从时", "从分", "从秒", "到时", "到分", "到秒"})
        for (int k = 1; k <= 5; ++k) schedule.insert(std::string("编辑框_") + box + std::to_string(k));
    ASSERT_EQ(player.size(), 16u);
    ASSERT_EQ(schedule.size(), 80u);

    std::set<std::string> seen;
    for (std::size_t i = 1; i < layout_->units.size(); ++i) {
        const Unit& u = layout_->units[i];
        EXPECT_TRUE(seen.insert(u.name).second) << u.name;
        std::uint32_t expectedParent = player.count(u.name)     ? idOf("分组框1")
                                       : schedule.count(u.name) ? idOf("分组框2")
                                                                : 0;
        EXPECT_EQ(u.parent, expectedParent) << u.name;
        if (u.kind != Kind::GroupBox) {
            EXPECT_TRUE(u.children.empty()) << u.name;
        }
    }
    EXPECT_EQ(seen.size(), 99u);
    for (const char* top : {"分组框1", "分组框2", "按钮_展开"}) EXPECT_TRUE(seen.count(top)) << top;
    EXPECT_EQ(unit("分组框1").children.size(), 16u);
    EXPECT_EQ(unit("分组框2").children.size(), 80u);
    for (auto id : unit("分组框2").children) EXPECT_TRUE(schedule.count(layout_->find(id)->name));
}

TEST_F(MainWindowLayout, PlayerGroup) {
    const Unit& g = unit("分组框1");
    EXPECT_EQ(g.kind, Kind::GroupBox);
    expectPlace(g, {1, -5, 372, 216});
    // No caption: the empty block gives the defaults.
    EXPECT_TRUE(g.blockEmpty);
    EXPECT_TRUE(g.props == defaultProps(Kind::GroupBox));
    EXPECT_EQ(g.as<GroupBoxProps>()->caption, "");

    struct Expect {
        const char* name;
        Kind kind;
        Place at;
        const char* caption;  // button / check box
        std::int32_t event;
        RoutineId routine;
    };
    const Expect table[] = {
        {"按钮_播放", Kind::Button, {8, 9, 80, 25}, "播放", 0, app::routine::PlayPauseToggle},
        {"按钮_下一曲", Kind::Button, {99, 9, 80, 25}, "下一曲", 0, app::routine::PlayNext},
        {"按钮_上一曲", Kind::Button, {190, 9, 80, 25}, "上一曲", 0, app::routine::PlayPrevious},
        {"按钮_停止", Kind::Button, {284, 9, 80, 25}, "停止", 0, app::routine::StopPlayback},
        {"按钮_添加列表", Kind::Button, {257, 122, 80, 25}, "添加列表", 0, app::routine::AddFilesByDialog},
        {"按钮_删除列表", Kind::Button, {257, 152, 80, 25}, "移除列表", 0, app::routine::RemoveSelected},
        {"按钮_重置列表", Kind::Button, {257, 183, 80, 25}, "重置列表", 0, app::routine::ResetPlaylist},
        {"按钮_展开", Kind::Button, {6, 212, 362, 18}, "∨", 0, app::routine::ExpandCollapse},
        {"按钮_清空时间段", Kind::Button, {301, 20, 60, 24}, "清空时间", 0, app::routine::ClearPeriods},
        {"选择框_随机播放",
         Kind::CheckBox,
         {257, 62, 80, 25},
         "随机播放",
         0,
         app::routine::RandomOrderSwitch},
        {"选择框_单曲循环", Kind::CheckBox, {257, 92, 80, 25}, "单曲循环", 0, app::routine::LoopTrackSwitch},
        {"选择框_静音", Kind::CheckBox, {344, 173, 20, 35}, "静音", 0, app::routine::MuteClicked},
        {"选择框_开始计划", Kind::CheckBox, {215, 20, 60, 24}, "开始计划", 0, app::routine::ScheduleSwitch},
    };
    for (const auto& e : table) {
        const Unit& u = unit(e.name);
        EXPECT_EQ(u.kind, e.kind) << e.name;
        expectPlace(u, e.at);
        EXPECT_EQ(u.routineFor(e.event), e.routine) << e.name;
        EXPECT_EQ(u.bindings.size(), 1u) << e.name;
        EXPECT_EQ(u.pointer.value, kPointerHand) << e.name;
        EXPECT_EQ(u.stateFlags, kStateVisible) << e.name;  // not focus stops
        if (const auto* b = u.as<ButtonProps>()) {
            EXPECT_EQ(b->caption, e.caption);
            EXPECT_EQ(b->defaultButton, 0) << e.name;
            EXPECT_EQ(b->hAlign, 1) << e.name;
            EXPECT_EQ(b->vAlign, 1) << e.name;
            EXPECT_FALSE(b->font) << e.name;
        } else {
            const auto* c = u.as<CheckBoxProps>();
            ASSERT_TRUE(c) << e.name;
            EXPECT_EQ(c->caption, e.caption);
            EXPECT_EQ(c->pushLike, 1) << e.name;
            EXPECT_EQ(c->checked, 0) << e.name;
            EXPECT_EQ(c->hAlign, std::string(e.name) == "选择框_开始计划" ? 0 : 1) << e.name;
            EXPECT_EQ(c->textColour, 0u) << e.name;
            EXPECT_EQ(c->backgroundColour, kButtonFace) << e.name;
            EXPECT_FALSE(c->font) << e.name;
        }
    }

    const Unit& slider = unit("滑块条_播放进度");
    expectPlace(slider, {5, 34, 362, 24});
    EXPECT_EQ(slider.routineFor(0), app::routine::SeekToSlider);
    EXPECT_EQ(slider.pointer.value, kPointerHand);
    const auto* s = slider.as<SliderBarProps>();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->orientation, 0);
    EXPECT_EQ(s->tickStyle, 0);
    EXPECT_EQ(s->border, 0);
    EXPECT_EQ(s->minimum, 1);
    EXPECT_EQ(s->maximum, 100);
    EXPECT_EQ(s->position, 1);
    EXPECT_EQ(s->pageSize, 5);
    EXPECT_EQ(s->lineSize, 1);

    const Unit& feedback = unit("标签1");
    expectPlace(feedback, {160, 42, 50, 16});
    EXPECT_FALSE(feedback.visible());
    EXPECT_EQ(feedback.routineFor(0), app::routine::FeedbackDispatch);
    EXPECT_EQ(feedback.as<LabelProps>()->caption, "反馈事件");
    EXPECT_EQ(feedback.as<LabelProps>()->hAlign, 1);

    const Unit& list = unit("列表框1");
    expectPlace(list, {7, 62, 242, 146});
    EXPECT_EQ(list.routineFor(1), app::routine::PlaySelected);
    EXPECT_EQ(list.routineFor(-1), app::routine::PlaylistMouseDown);
    EXPECT_EQ(list.routineFor(-9), app::routine::PlaylistKeyDown);
    EXPECT_EQ(list.routineFor(0), std::nullopt);  // selection changes are not bound
    EXPECT_EQ(list.pointer.value, kPointerHand);
    const auto* l = list.as<ListBoxProps>();
    ASSERT_TRUE(l);
    EXPECT_TRUE(l->itemTexts.empty());
    EXPECT_EQ(l->border, 1);
    EXPECT_EQ(l->multipleSelection, 0);
    EXPECT_EQ(l->sorted, 0);
    EXPECT_EQ(l->extraRowHeight, 1);
    EXPECT_EQ(l->textColour, 0u);
    EXPECT_EQ(l->backgroundColour, 0xFFFFFFu);
    EXPECT_EQ(l->selectedIndex, -1);

    const Unit& volume = unit("纵向滚动条_音量");
    expectPlace(volume, {344, 62, 20, 111});
    EXPECT_EQ(volume.routineFor(0), app::routine::VolumeBarChanged);
    EXPECT_EQ(volume.pointer.value, kPointerHand);
    const auto* v = volume.as<VScrollBarProps>();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->minimum, 1);
    EXPECT_EQ(v->maximum, 100);
    EXPECT_EQ(v->position, 1);
    EXPECT_EQ(v->pageChange, 10);
    EXPECT_EQ(v->lineChange, 1);
    EXPECT_EQ(v->trackWhileDragging, 1);

    const Unit& sys = unit("系统音量1");
    EXPECT_EQ(sys.kind, Kind::SysVolume);
    EXPECT_EQ(codeOf(sys.kind), (TypeCode{1, 2}));
    expectPlace(sys, {344, 110, 18, 32});
    EXPECT_FALSE(sys.visible());
    EXPECT_TRUE(sys.bindings.empty());

    const Unit& drop = unit("拖放对象1");
    EXPECT_EQ(drop.kind, Kind::DropTarget);
    EXPECT_EQ(codeOf(drop.kind), (TypeCode{1, 5}));
    expectPlace(drop, {111, 125, 26, 26});
    EXPECT_FALSE(drop.visible());
    EXPECT_EQ(drop.routineFor(3), app::routine::FilesDropped);
    EXPECT_EQ(drop.blockVersion, 1u);
    EXPECT_TRUE(*drop.as<DropTargetProps>() == (DropTargetProps{0, 0, 0, 1}));
}

TEST_F(MainWindowLayout, ScheduleGroupTopLine) {
    const Unit& g = unit("分组框2");
    expectPlace(g, {1, 237, 372, 230});
    const auto* gp = g.as<GroupBoxProps>();
    EXPECT_EQ(gp->caption, "计划播放时段");
    EXPECT_EQ(gp->textColour, 0x0000FFu);
    EXPECT_EQ(gp->captionAlignment, 1);

    for (auto [name, left, tab] :
         {std::tuple{"编辑框_时", 67, 0u}, {"编辑框_分", 110, 12u}, {"编辑框_秒", 153, 13u}}) {
        const Unit& u = unit(name);
        expectPlace(u, {left, 20, 25, 25});
        EXPECT_EQ(u.stateFlags, kStateVisible | kStateDisabled) << name;
        EXPECT_EQ(u.tabOrder, tab) << name;
        EXPECT_EQ(u.pointer.value, kPointerArrow) << name;
        EXPECT_TRUE(u.bindings.empty());
        const auto* e = u.as<EditBoxProps>();
        ASSERT_TRUE(e);
        EXPECT_EQ(e->inputMode, 1);
        EXPECT_EQ(e->maxLength, 2);
        EXPECT_EQ(e->multiLine, 0);
        EXPECT_EQ(e->alignment, 1);
        EXPECT_EQ(e->hideSelection, 1);
        EXPECT_EQ(e->border, 5);
        EXPECT_EQ(e->textColour, 0xC0C0C0u);
        EXPECT_EQ(e->backgroundColour, kButtonFace);
        ASSERT_TRUE(e->font);
        EXPECT_EQ(e->font->faceName, "宋体");
        EXPECT_EQ(e->font->pixelSize(), 21);
        EXPECT_TRUE(e->font->bold());
        EXPECT_EQ(e->font->charSet, 134);
    }
    for (auto [name, left, width, caption, colour] : {std::tuple{"标签44", 10, 56, "现在时间:", 0x0000FFu},
                                                      {"标签45", 94, 16, "时", 0u},
                                                      {"标签46", 137, 16, "分", 0u},
                                                      {"标签47", 180, 16, "秒", 0u}}) {
        const Unit& u = unit(name);
        expectPlace(u, {left, 23, width, 20});
        EXPECT_EQ(u.as<LabelProps>()->caption, caption);
        EXPECT_EQ(u.as<LabelProps>()->textColour, colour) << name;
    }
    const Unit& timer = unit("时钟1");
    EXPECT_EQ(timer.kind, Kind::Timer);
    expectPlace(timer, {276, 17, 24, 24});
    EXPECT_EQ(timer.as<TimerProps>()->interval, 1000);
    EXPECT_EQ(timer.routineFor(0), app::routine::CheckSchedule);
    EXPECT_FALSE(timer.visible());
}

TEST_F(MainWindowLayout, PeriodRowsFollowTheirRule) {
    const int tops[] = {56, 91, 126, 161, 198};
    struct Column {
        int left;
        const char* box;   // edit box role, or nullptr for a label
        const char* text;  // label caption
        std::uint32_t colour;
    };
    const Column columns[] = {
        {10, nullptr, "从:", 0x0000FF}, {33, "从时", nullptr, 0},        {56, nullptr, "时", 0},
        {79, "从分", nullptr, 0},       {102, nullptr, "分", 0},         {122, "从秒", nullptr, 0},
        {149, nullptr, "秒", 0},        {208, nullptr, "到:", 0x0000FF}, {231, "到时", nullptr, 0},
        {254, nullptr, "时", 0},        {277, "到分", nullptr, 0},       {300, nullptr, "分", 0},
        {323, "到秒", nullptr, 0},      {350, nullptr, "秒", 0}};
    const int firstRowLabels[] = {4, 5, 6, 7, 11, 10, 9, 8};
    for (int k = 1; k <= 5; ++k) {
        int label = 0, box = 0;
        for (const auto& c : columns) {
            std::string name;
            if (c.box) {
                name = std::string("编辑框_") + c.box + std::to_string(k);
            } else {
                int n = k == 1 ? firstRowLabels[label] : 12 + (k - 2) * 8 + label;
                name = "标签" + std::to_string(n);
                ++label;
            }
            SCOPED_TRACE(name);
            const Unit& u = unit(name);
            expectPlace(u, {c.left, tops[k - 1], 20, 20});
            EXPECT_TRUE(u.bindings.empty());
            if (c.box) {
                EXPECT_EQ(u.kind, Kind::EditBox);
                EXPECT_EQ(u.stateFlags, kStateVisible | kStateFocusable);
                EXPECT_EQ(u.tabOrder, static_cast<std::uint32_t>(11 + (k - 1) * 6 + box));
                EXPECT_EQ(u.pointer.value, kPointerDefault);
                const auto* e = u.as<EditBoxProps>();
                EXPECT_EQ(e->content, "");
                EXPECT_EQ(e->maxLength, 2);
                EXPECT_EQ(e->multiLine, 0);
                EXPECT_EQ(e->alignment, 0);
                EXPECT_EQ(e->inputMode, 3);
                EXPECT_EQ(e->border, 1);
                EXPECT_EQ(e->textColour, 0u);
                EXPECT_EQ(e->backgroundColour, 0xFFFFFFu);
                EXPECT_FALSE(e->font);
                ++box;
            } else {
                EXPECT_EQ(u.kind, Kind::Label);
                EXPECT_EQ(u.stateFlags, kStateVisible);
                const auto* l = u.as<LabelProps>();
                EXPECT_EQ(l->caption, c.text);
                EXPECT_EQ(l->textColour, c.colour);
                EXPECT_EQ(l->backgroundColour, kButtonFace);
                EXPECT_EQ(l->hAlign, 0);
                EXPECT_EQ(l->vAlign, 1);
                EXPECT_EQ(l->wordWrap, 0);
                EXPECT_FALSE(l->font);
            }
        }
    }
}

TEST_F(MainWindowLayout, FocusStopsAndTabOrders) {
    std::map<std::uint32_t, std::string> stops;
    for (const auto& u : layout_->units)
        if (u.focusable()) {
            EXPECT_TRUE(stops.emplace(u.tabOrder, u.name).second) << u.name;
        }
    ASSERT_EQ(stops.size(), 31u);
    EXPECT_EQ(stops.begin()->second, "列表框1");
    EXPECT_EQ(stops.begin()->first, 0u);
    // Tab walks row 1 start hour, minute, second, end hour, minute, second, then row 2, ...
    std::uint32_t expected = 11;
    for (int k = 1; k <= 5; ++k)
        for (const char* box : {"从时", "从分", "从秒", "到时", "到分", "到秒"}) {
            std::string name = std::string("编辑框_") + box + std::to_string(k);
            ASSERT_TRUE(stops.count(expected)) << expected;
            EXPECT_EQ(stops[expected], name);
            ++expected;
        }
    // Not focus stops, but numbered all the same.
    const char* numbered[] = {"按钮_播放",       "按钮_下一曲",     "按钮_上一曲",   "按钮_停止",
                              "选择框_随机播放", "选择框_单曲循环", "按钮_添加列表", "按钮_删除列表",
                              "按钮_重置列表",   "选择框_静音",     "按钮_展开"};
    for (std::uint32_t i = 0; i < 11; ++i) EXPECT_EQ(unit(numbered[i]).tabOrder, i) << numbered[i];
    EXPECT_EQ(unit("选择框_开始计划").tabOrder, 41u);
    EXPECT_EQ(unit("按钮_清空时间段").tabOrder, 42u);
}

TEST_F(MainWindowLayout, EveryBindingIsAccountedFor) {
    std::map<std::pair<std::string, std::int32_t>, RoutineId> all;
    for (const auto& u : layout_->units)
        for (const auto& b : u.bindings) all[{u.name, b.event}] = b.routine;
    // 2 on the window, 13 buttons and check boxes, slider, feedback label, 3 on the list, volume bar,
    // drop target, timer.
    EXPECT_EQ(all.size(), 23u);
    std::set<RoutineId> used;
    for (const auto& [key, r] : all) used.insert(r);
    EXPECT_EQ(used.size(), app::kRoutineCount) << "every routine is bound exactly once";
    const RoutineCatalog& routines = app::routineCatalog();
    for (RoutineId n = 1; n <= app::kRoutineCount; ++n) {
        ASSERT_TRUE(routines.known(n));
        EXPECT_EQ(routines.fromName(routines.name(n)), n);
    }
    EXPECT_FALSE(routines.known(0));
    EXPECT_FALSE(routines.known(app::kRoutineCount + 1));
}

TEST_F(MainWindowLayout, FoldedWindowKeepsTheExpandButtonAndHidesTheSchedule) {
    // A 263-pixel-high window has a client area of 263 - 26 - 3 = 234 pixels.
    const int foldedClient = 263 - 26 - 3;
    const Unit& expand = unit("按钮_展开");
    EXPECT_LE(expand.top + expand.height, foldedClient);
    EXPECT_EQ(expand.parent, 0u);
    EXPECT_GE(unit("分组框2").top, foldedClient);
    const Unit& player = unit("分组框1");
    EXPECT_LE(player.top + player.height, foldedClient);
    // Unfolded, everything fits the 471-pixel client area.
    for (const auto& u : layout_->units)
        if (u.parent == 0 && u.kind != Kind::Window) {
            EXPECT_LE(u.top + u.height, 500 - 26 - 3) << u.name;
        }
}
