// The loader against records that are malformed, truncated, too new or older than it knows, and the
// description reader against mistakes a person editing it would make.
#include <gtest/gtest.h>

#include <cstring>

#include "app/routine_ids.h"
#include "ui/layout/form_layout.h"
#include "ui/layout/gbk.h"
#include "ui/layout/layout_description.h"
#include "ui/layout/record_writer.h"

using namespace vesperon::layout;
namespace app = vesperon::app;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Where the counted and sized fields of unit `index` sit in an encoded record.
struct UnitSpots {
    std::size_t length, name, childCount, pointerLength, bindingCount, block, end;
};
UnitSpots spots(const Bytes& b, std::size_t index) {
    std::uint32_t count = get32(b, 28);
    UnitSpots s{};
    s.length = 36 + 8 * count + get32(b, 36 + 4 * count + 4 * index);
    s.end = s.length + 4 + get32(b, s.length);
    s.name = s.length + 28;
    std::size_t p = s.name;
    for (int text = 0; text < 2; ++text) p += std::strlen(reinterpret_cast<const char*>(&b[p])) + 1;
    p += 4 + 16 + 4 + 4;  // slot, geometry, reserved, parent
    s.childCount = p;
    p += 4 + 4 * get32(b, p);
    s.pointerLength = p;
    p += 4 + get32(b, p);
    p += std::strlen(reinterpret_cast<const char*>(&b[p])) + 1 + 4 + 4 + 4;  // tag, reserved, flags, tab
    s.bindingCount = p;
    p += 4 + 8 * get32(b, p) + 20;
    s.block = p;
    return s;
}

// A small form: window, a group box holding a button and a list box, and a check box.
FormLayout smallForm() {
    auto r = readDescription(R"(
header 8 0x52010001 0 0 0 0 0
Window "" 0x52010001
  at 50 50 200 100
  state visible
  on 0 StartUp
  block 6
  caption "小窗口"
GroupBox 分组 0x100
  at 1 1 150 90
  state visible
  block 1
  caption "组"
Button 按钮 0x101 in 分组
  at 2 2 40 20
  pointer hand
  state visible
  on 0 PlayNext
  block 1
  caption "下一曲"
ListBox 列表 0x102 in 分组
  at 2 30 100 50
  state visible focusable
  on -1 PlaylistMouseDown
  on -9 PlaylistKeyDown
  block 3
  itemTexts "一" "two" "三"
  itemValues 1 -2 3
CheckBox 选择 0x103
  at 160 2 30 20
  state visible
  block 2
  caption "静音"
  extraText1 "x"
)",
                             app::routineCatalog());
    EXPECT_TRUE(r) << r.error;
    return r.value;
}

Bytes encoded(const FormLayout& f) {
    auto e = encode(f);
    EXPECT_TRUE(e) << e.error;
    return e.value;
}

void expectRefused(const Bytes& b, const std::string& fragment) {
    auto r = parse(b, app::routineCatalog());
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find(fragment), std::string::npos) << "error was: " << r.error;
    EXPECT_TRUE(r.value.units.empty());
}

}  // namespace

TEST(LayoutLoader, SmallFormRoundTripsIncludingListsAndTexts) {
    FormLayout f = smallForm();
    auto r = parse(encoded(f), app::routineCatalog());
    ASSERT_TRUE(r) << r.error;
    EXPECT_TRUE(r.value == f);
    const auto* list = r.value.find(std::string_view("列表"))->as<ListBoxProps>();
    EXPECT_EQ(list->itemTexts, (std::vector<std::string>{"一", "two", "三"}));
    EXPECT_EQ(list->itemValues, (std::vector<std::int32_t>{1, -2, 3}));
    EXPECT_EQ(r.value.find(0x100u)->children, (std::vector<std::uint32_t>{0x101, 0x102}));
}

TEST(LayoutLoader, EveryTruncationIsRefused) {
    Bytes full = encoded(smallForm());
    ASSERT_TRUE(parse(full, app::routineCatalog()));
    for (std::size_t n = 0; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(parse(cut, app::routineCatalog())) << "cut at " << n;
        // The same cut with the header's size made to agree, so the unit walk itself meets the end.
        if (n >= 36) {
            put32(cut, 32, static_cast<std::uint32_t>(n - 36));
            EXPECT_FALSE(parse(cut, app::routineCatalog())) << "cut at " << n << " with a matching size";
        }
    }
}

TEST(LayoutLoader, EveryShorterUnitLengthIsRefusedExceptAnEmptyTypeBlock) {
    Bytes full = encoded(smallForm());
    for (std::size_t unit = 0; unit < 5; ++unit) {
        UnitSpots s = spots(full, unit);
        std::uint32_t length = get32(full, s.length);
        for (std::uint32_t shorter = 0; shorter < length; ++shorter) {
            Bytes b = full;
            put32(b, s.length, shorter);
            auto r = parse(b, app::routineCatalog());
            bool emptyBlock = s.length + 4 + shorter == s.block;
            if (emptyBlock && unit != 0) {
                // Cutting exactly at the type block leaves the type's defaults.
                ASSERT_TRUE(r) << r.error;
                const Unit& u = r.value.units[unit];
                EXPECT_TRUE(u.blockEmpty);
                EXPECT_TRUE(u.props == defaultProps(u.kind));
            } else if (!emptyBlock) {
                EXPECT_FALSE(r) << "unit " << unit << " length " << shorter;
            }
        }
    }
}

TEST(LayoutLoader, HugeAndBadCountsAndLengthsAreRefused) {
    Bytes full = encoded(smallForm());
    UnitSpots group = spots(full, 1);
    UnitSpots list = spots(full, 3);
    struct Case {
        const char* what;
        std::size_t at;
        std::uint32_t value;
        const char* fragment;
    };
    const Case cases[] = {
        {"format", 0, 9, "record format 9"},
        {"unit count", 28, 0xFFFFFFFF, "unit count"},
        {"no units", 28, 0, "no units"},
        {"rest size", 32, 0x7FFFFFFF, "size of the rest"},
        {"unit offset", 36 + 5 * 4 + 4, 0xFFFFFFF0, "outside the unit area"},
        {"unit length", list.length, 0xFFFFFFFF, "runs past the end"},
        {"child count", group.childCount, 0x40000000, "child count"},
        {"pointer length", list.pointerLength, 0xFFFFFFFF, "mouse pointer"},
        {"pointer length 3", list.pointerLength, 3, "mouse pointer"},
        {"binding count", list.bindingCount, 0x20000001, "event binding count"},
        {"first binding's routine", list.bindingCount + 8, 999, "unknown routine 999"},
        {"second binding's event", list.bindingCount + 12, static_cast<std::uint32_t>(-1), "bound twice"},
        {"item text count", list.block + 4 + 8 * 4 + 4, 0xFFFFFFFF, "itemTexts"},
        {"first item text length", list.block + 4 + 8 * 4 + 4 + 4, 0xFFFFFFF0, "itemTexts"},
        {"window identifier", 4, 0x52010002, "not the window's"},
        {"duplicate identifier", 36 + 8, 0x100, "repeats identifier"},
        {"zero identifier", 36 + 16, 0, "identifier 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = full;
        put32(b, c.at, c.value);
        expectRefused(b, c.fragment);
    }
    // Two units pointing at the same bytes would let a small record cost many times its size.
    Bytes b = full;
    put32(b, 36 + 20 + 16, get32(b, 36 + 20 + 12));
    expectRefused(b, "overlap");
}

TEST(LayoutLoader, InconsistentParentsAndChildrenAreRefused) {
    FormLayout f = smallForm();
    {
        FormLayout g = f;  // parent is a button
        g.units[4].parent = 0x101;
        g.units[2].children = {0x103};
        expectRefused(encoded(g), "not a group box");
    }
    {
        FormLayout g = f;  // child lists a widget that does not name it as parent
        g.units[1].children.push_back(0x103);
        expectRefused(encoded(g), "wrongly");
    }
    {
        FormLayout g = f;  // a widget its parent does not list
        g.units[1].children.pop_back();
        expectRefused(encoded(g), "missing from its parent");
    }
    {
        FormLayout g = f;  // parent that does not exist
        g.units[4].parent = 0x999;
        expectRefused(encoded(g), "unknown parent");
    }
    {
        FormLayout g = f;  // two group boxes inside each other
        Unit second = g.units[1];
        second.id = 0x200;
        second.name = "分组2";
        second.parent = 0x100;
        second.children = {};
        g.units[1].parent = 0x200;
        g.units[1].children.push_back(0x200);
        second.children.push_back(0x100);
        g.units.push_back(second);
        expectRefused(encoded(g), "cycle");
    }
    {
        FormLayout g = f;
        g.units[4].name = "按钮";
        expectRefused(encoded(g), "repeats a name");
    }
    {
        FormLayout g = f;
        std::swap(g.units[0], g.units[4]);
        expectRefused(encoded(g), "not the window");
    }
}

TEST(LayoutLoader, BadTextsAndFontsAreRefused) {
    Bytes full = encoded(smallForm());
    {
        Bytes b = full;  // a lead byte followed by a byte that cannot continue it
        UnitSpots s = spots(b, 2);
        b[s.name] = 0x81;
        b[s.name + 1] = 0x20;
        expectRefused(b, "not valid GBK");
    }
    {
        Bytes b = full;  // a name that never ends
        UnitSpots s = spots(b, 4);
        for (std::size_t i = s.name; i < s.end; ++i)
            if (b[i] == 0) b[i] = 'a';
        EXPECT_FALSE(parse(b, app::routineCatalog()));
    }
    FormLayout f = smallForm();
    {
        FormLayout g = f;
        Font font;
        font.faceName = "宋体";
        font.height = -21;
        g.units[2].props = ButtonProps{0, 1, 1, {}, font, "x"};
        auto r = parse(encoded(g), app::routineCatalog());
        ASSERT_TRUE(r) << r.error;
        EXPECT_TRUE(r.value.units[2].as<ButtonProps>()->font == font);
        // A font record of the wrong size: lengthen the stored record by one byte.
        Bytes b = encoded(g);
        UnitSpots s = spots(b, 2);
        std::size_t fontLength = s.block + 4 + 12 + 4;  // version, three values, empty picture
        ASSERT_EQ(get32(b, fontLength), kFontRecordSize);
        put32(b, fontLength, kFontRecordSize + 1);
        expectRefused(b, "not 60");
    }
    {
        FormLayout g = f;
        std::get<ButtonProps>(g.units[2].props).caption = "😀";
        EXPECT_FALSE(encode(g));
    }
}

TEST(LayoutLoader, TooNewTypeBlockRefusesThatWidgetOnly) {
    FormLayout f = smallForm();
    f.units[4].blockVersion = 3;  // CheckBox knows 2
    auto r = parse(encoded(f), app::routineCatalog());
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.value.units.size(), 4u);
    EXPECT_EQ(r.value.find(0x103u), nullptr);
    ASSERT_EQ(r.value.refused.size(), 1u);
    EXPECT_EQ(r.value.refused[0].id, 0x103u);
    EXPECT_EQ(r.value.refused[0].name, "选择");
    EXPECT_EQ(r.value.refused[0].blockVersion, 3u);
    EXPECT_NE(r.value.refused[0].reason.find("newer"), std::string::npos);

    // A refused group box takes its children with it; the rest still loads.
    FormLayout g = smallForm();
    g.units[1].blockVersion = 2;
    r = parse(encoded(g), app::routineCatalog());
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.value.units.size(), 2u);
    EXPECT_EQ(r.value.refused.size(), 3u);
    EXPECT_NE(r.value.find(0x103u), nullptr);

    // Without its window nothing can be built.
    FormLayout w = smallForm();
    w.units[0].blockVersion = 7;
    expectRefused(encoded(w), "window cannot be loaded");
}

TEST(LayoutLoader, UnknownWidgetTypeIsRefusedAndTheRestLoads) {
    Bytes b = encoded(smallForm());
    UnitSpots s = spots(b, 4);
    b[s.length + 4] = 77;  // type code
    auto r = parse(b, app::routineCatalog());
    ASSERT_TRUE(r) << r.error;
    ASSERT_EQ(r.value.refused.size(), 1u);
    EXPECT_EQ(r.value.refused[0].code, (TypeCode{77, 1}));
    EXPECT_EQ(r.value.units.size(), 4u);
}

TEST(LayoutLoader, OlderBlocksReadTheirFieldsInPlaceAndDefaultTheRest) {
    FormLayout f = smallForm();
    auto& window = std::get<WindowProps>(f.units[0].props);
    window.showInTaskBar = 0;  // from version 2 on: not stored in version 1
    window.alwaysOnTop = 1;
    window.className = "cls";
    f.units[0].blockVersion = 1;
    auto& check = std::get<CheckBoxProps>(f.units[4].props);
    f.units[4].blockVersion = 1;  // extra texts start with version 2
    check.extraText1 = "lost";
    auto r = parse(encoded(f), app::routineCatalog());
    ASSERT_TRUE(r) << r.error;
    const auto* w = r.value.window().as<WindowProps>();
    EXPECT_EQ(w->caption, "小窗口");  // read after the fields version 1 does not hold
    EXPECT_EQ(w->showInTaskBar, 1);
    EXPECT_EQ(w->alwaysOnTop, 0);
    EXPECT_EQ(w->className, "");
    const auto* c = r.value.units[4].as<CheckBoxProps>();
    EXPECT_EQ(c->caption, "静音");
    EXPECT_EQ(c->extraText1, "");

    // Version 5: everything but the class name.
    f = smallForm();
    std::get<WindowProps>(f.units[0].props).keepTitleBarActive = 1;
    std::get<WindowProps>(f.units[0].props).className = "cls";
    f.units[0].blockVersion = 5;
    r = parse(encoded(f), app::routineCatalog());
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.value.window().as<WindowProps>()->keepTitleBarActive, 1);
    EXPECT_EQ(r.value.window().as<WindowProps>()->className, "");
    EXPECT_EQ(r.value.window().as<WindowProps>()->caption, "小窗口");
}

TEST(LayoutLoader, TrailingBytesInATypeBlockAreRefused) {
    FormLayout f = smallForm();
    f.units[2].blockVersion = 1;
    Bytes b = encoded(f);
    UnitSpots s = spots(b, 2);
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(s.end), {1, 2, 3, 4});
    put32(b, s.length, get32(b, s.length) + 4);
    put32(b, 32, get32(b, 32) + 4);
    // Later units moved by 4 bytes.
    for (std::size_t i = 3; i < 5; ++i) put32(b, 36 + 4 * 5 + 4 * i, get32(b, 36 + 4 * 5 + 4 * i) + 4);
    expectRefused(b, "unexpected bytes");
}

TEST(LayoutDescription, MistakesNameTheirLine) {
    struct Case {
        const char* text;
        const char* fragment;
    };
    const Case cases[] = {
        {"Button b 1\n", "window comes first"},
        {"Window \"\" 1\n  at 1 2 3\n", "line 2: expected 4"},
        {"Window \"\" 1\n  block 7\n", "newer"},
        {"Window \"\" 1\n  block 1\n  className \"x\"\n", "line 3: className needs block version 6"},
        {"Window \"\" 1\n  block 6\n  colour 1\n", "has no field colour"},
        {"Window \"\" 1\n  block 6\n  caption Vesperon\n", "expected \"text\""},
        {"Window \"\" 1\n  block 6\n  borderStyle 0x100000000\n", "out of range"},
        {"Window \"\" 1\n  on 0 Nowhere\n  block 6\n", "unknown routine Nowhere"},
        {"Window \"\" 1\n  block 6\nButton b 2 in nothing\n  block 1\n", "line 3"},
        {"Window \"\" 1\n", "no block line"},
        {"Window \"\" 1\n  block 6\n  caption \"open\n", "unterminated"},
    };
    for (const auto& c : cases) {
        auto r = readDescription(c.text, app::routineCatalog());
        EXPECT_FALSE(r) << c.text;
        EXPECT_NE(r.error.find(c.fragment), std::string::npos) << c.text << " gave: " << r.error;
    }
}

TEST(LayoutGbk, ConvertsBothWaysAndRefusesWhatItCannotHold) {
    EXPECT_EQ(utf8ToGbk("播放"), std::string("\xB2\xA5\xB7\xC5"));
    EXPECT_EQ(gbkToUtf8("\xB2\xA5\xB7\xC5"), std::string("播放"));
    EXPECT_EQ(gbkToUtf8(*utf8ToGbk("∨ 现在时间: 宋体")), std::string("∨ 现在时间: 宋体"));
    EXPECT_FALSE(gbkToUtf8("\x81"));  // a lead byte with nothing after it
    EXPECT_FALSE(utf8ToGbk("\xFF"));
    EXPECT_FALSE(utf8ToGbk("😀"));
}
