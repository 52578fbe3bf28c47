// Edit boxes: typing filtered by input mode and maximum length, the logic's writes unlimited, the
// content-changed notification, and the rewrite of numeric modes when the focus leaves.

#include "ui/edit_box.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>

#include "app/routine_ids.h"
#include "tests/ui/ui_test_support.h"

namespace vesperon::ui::test {
namespace {

struct PeriodBoxes {
    RoutineRecorder rec;
    std::unique_ptr<Form> form;
    EditBox* box = nullptr;
    EditBox* other = nullptr;

    explicit PeriodBoxes(int inputMode = kInputIntegerText, int maxLength = 2) {
        LayoutBuilder b;
        layout::EditBoxProps p;
        p.inputMode = inputMode;
        p.maxLength = maxLength;
        auto& u = b.add(layout::Kind::EditBox, "编辑框_从时1", 33, 56, 20, 20, p);
        u.stateFlags |= layout::kStateFocusable;
        b.bind(u, 0, app::routine::PlayNext);
        auto& v = b.add(layout::Kind::EditBox, "编辑框_从分1", 79, 56, 20, 20, p);
        v.stateFlags |= layout::kStateFocusable;
        form = showForm(b.layout(), rec);
        box = form->findAs<EditBox>("编辑框_从时1");
        other = form->findAs<EditBox>("编辑框_从分1");
        box->live()->setFocus();
    }
    std::string text() { return box->textProperty(kEditContent); }
};

TEST(EditBox, PeriodBoxTakesOnlyDigitsAndMinusUpToTwoCharacters) {
    PeriodBoxes t;
    QSignalSpy changed(t.box, &EditBox::contentChanged);
    QTest::keyClicks(t.box->live(), "a1");
    EXPECT_EQ(t.text(), "1");
    QTest::keyClicks(t.box->live(), "x:.");
    EXPECT_EQ(t.text(), "1");
    QTest::keyClicks(t.box->live(), "-");
    EXPECT_EQ(t.text(), "1-");
    QTest::keyClicks(t.box->live(), "7");  // a third character is refused
    EXPECT_EQ(t.text(), "1-");
    QTest::keyClick(t.box->live(), Qt::Key_Backspace);
    EXPECT_EQ(t.text(), "1");
    QTest::keyClicks(t.box->live(), "5");
    EXPECT_EQ(t.text(), "15");
    // Typing over a selection replaces it, so it is not refused.
    t.box->edit()->selectAll();
    QTest::keyClicks(t.box->live(), "8");
    EXPECT_EQ(t.text(), "8");
    // One notification (and one user event) per accepted change; refused keys give none.
    EXPECT_EQ(changed.count(), 5);
    EXPECT_EQ(t.rec.count("编辑框_从时1", 0), 5);
}

TEST(EditBox, LogicWritesAreNotLimitedAndNotifyOnceWithoutTheUserEvent) {
    PeriodBoxes t;
    QSignalSpy changed(t.box, &EditBox::contentChanged);
    t.box->setProperty(kEditContent, std::string("123abc"));
    EXPECT_EQ(t.text(), "123abc");
    EXPECT_EQ(changed.count(), 1);
    t.box->setProperty(kEditContent, std::string("123abc"));  // the same text notifies again
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(t.rec.count("编辑框_从时1", 0), 0);
    // Over the limit already: typing adds nothing, deleting works.
    t.box->edit()->end(false);
    QTest::keyClicks(t.box->live(), "4");
    EXPECT_EQ(t.text(), "123abc");
    QTest::keyClick(t.box->live(), Qt::Key_Backspace);
    EXPECT_EQ(t.text(), "123ab");
}

TEST(EditBox, InputModesFilterTypedCharacters) {
    struct Case {
        int mode;
        const char* typed;
        const char* kept;
    } cases[] = {
        {kInputNormal, "a-1.", "a-1."},       {kInputIntegerText, "a-1.", "-1"},
        {kInputDecimalText, "a-1.", "-1."},   {kInputByte, "a-1.", "1"},
        {kInputShort, "a-1.", "-1"},          {kInputDouble, "a-1.e", "-1."},
        {kInputDateTime, "2024-1", "2024-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        PeriodBoxes t(c.mode, 0);
        QTest::keyClicks(t.box->live(), c.typed);
        EXPECT_EQ(t.text(), c.kept);
    }
}

TEST(EditBox, NumericModesAreRewrittenWhenTheFocusLeaves) {
    EXPECT_EQ(normaliseForMode(kInputByte, "300"), "255");
    EXPECT_EQ(normaliseForMode(kInputByte, "-4"), "");  // clamped to 0, shown empty
    EXPECT_EQ(normaliseForMode(kInputShort, "40000"), "32767");
    EXPECT_EQ(normaliseForMode(kInputShort, "-12.9"), "-12");
    EXPECT_EQ(normaliseForMode(kInputInt, "99999999999"), "2147483647");
    EXPECT_EQ(normaliseForMode(kInputInt, "007"), "7");
    EXPECT_EQ(normaliseForMode(kInputLong, "-0"), "");
    EXPECT_EQ(normaliseForMode(kInputDouble, "1.50"), "1.5");
    EXPECT_EQ(normaliseForMode(kInputFloat, "abc"), "");
    EXPECT_EQ(normaliseForMode(kInputIntegerText, "007"), "007");  // modes 3 and 4 stay as typed
    EXPECT_EQ(normaliseForMode(kInputDecimalText, "1.50"), "1.50");

    PeriodBoxes t(kInputByte, 0);
    QTest::keyClicks(t.box->live(), "0300");
    EXPECT_EQ(t.text(), "0300");
    t.other->live()->setFocus();
    EXPECT_EQ(t.text(), "255");
}

TEST(EditBox, CurrentTimeBoxIsReadOnlyAndKeepsItsColoursWhenDisabled) {
    LayoutBuilder b;
    layout::EditBoxProps p;
    p.inputMode = kInputReadOnly;
    p.textColour = 0xC0C0C0;
    p.backgroundColour = layout::kButtonFace;
    p.alignment = 1;
    p.font = layout::Font{};
    p.font->height = -21;
    p.font->weight = 700;
    p.font->faceName = "宋体";
    auto& u = b.add(layout::Kind::EditBox, "编辑框_时", 67, 20, 25, 25, p);
    u.stateFlags |= layout::kStateDisabled;
    RoutineRecorder rec;
    auto form = showForm(b.layout(), rec);
    auto* e = form->findAs<EditBox>("编辑框_时");
    EXPECT_TRUE(e->edit()->isReadOnly());
    EXPECT_FALSE(e->edit()->isEnabled());
    EXPECT_EQ(e->edit()->palette().color(QPalette::Disabled, QPalette::Text), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(e->edit()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_TRUE(e->edit()->font().bold());
    // At least as tall as the text plus the border's edges.
    EXPECT_GE(e->intProperty(kHeight), QFontMetrics(e->edit()->font()).height() + 2);
    e->setProperty(kEditContent, std::string("08"));
    EXPECT_EQ(e->textProperty(kEditContent), "08");
}

}  // namespace
}  // namespace vesperon::ui::test
