// The skin on the main window built from its layout record: which widgets it reaches and how
// the widgets it skins look with scheme 2.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>
#include <cstdlib>
#include <memory>

#include "app/routine_ids.h"
#include "skin/skin.h"
#include "tests/skin/plain_look.h"
#include "ui/appearance.h"
#include "ui/main_window.h"

using vesperon::skin::SetSkin;

namespace {

QImage shot(QWidget* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb darker(QRgb c, int by) {
    return qRgb(std::max(qRed(c) - by, 0), std::max(qGreen(c) - by, 0), std::max(qBlue(c) - by, 0));
}

class SkinnedMainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        pinPlainLook();
        auto loaded =
            vesperon::ui::loadMainWindow([](auto, const auto&) { return std::optional<std::int64_t>(); },
                                         vesperon::app::routineCatalog(), {});
        ASSERT_TRUE(loaded) << loaded.error;
        form_ = std::move(loaded.value);
        form_->windowWidget()->resize(form_->windowWidget()->width(), 471);  // the schedule shown
        face_ = QApplication::palette().color(QPalette::Active, QPalette::Button).rgb();
    }
    void TearDown() override {
        form_.reset();
        SetSkin(0);
    }
    QWidget* live(const char* name) {
        auto* w = form_->find(name);
        EXPECT_TRUE(w) << name;
        return w ? w->live() : nullptr;
    }
    std::unique_ptr<vesperon::ui::Form> form_;
    QRgb face_ = 0;
};

TEST_F(SkinnedMainWindow, SkinReachesButtonsEditBoxesAndGroupsButNotTheRest) {
    const char* untouched[] = {"列表框1", "纵向滚动条_音量", "滑块条_播放进度", "标签44", "标签4"};
    std::vector<QImage> plain;
    for (const char* name : untouched) plain.push_back(shot(live(name)));

    ASSERT_EQ(SetSkin(2), 1);
    for (const char* name : {"按钮_播放", "按钮_展开", "选择框_随机播放", "选择框_静音", "按钮_清空时间段"}) {
        QWidget* w = live(name);
        ASSERT_TRUE(w);
        const QImage img = shot(w);
        EXPECT_EQ(img.pixel(w->width() / 2, 1), qRgb(55, 98, 6)) << name;
        EXPECT_EQ(img.pixel(1, 1), face_) << name;
    }
    // The disabled current-time boxes.
    for (const char* name : {"编辑框_时", "编辑框_分", "编辑框_秒"}) {
        const QImage img = shot(live(name));
        EXPECT_EQ(img.pixel(0, 12), darker(face_, 0x20)) << name;
        EXPECT_EQ(img.pixel(12, 0), darker(face_, 0x20)) << name;
        EXPECT_EQ(img.pixel(1, 12), face_) << name;
        EXPECT_EQ(img.pixel(12, 23), face_) << name;
    }
    // A period box: the scheme's edit colour outside, the window colour inside.
    const QImage period = shot(live("编辑框_从时1"));
    EXPECT_EQ(period.pixel(0, 10), qRgb(164, 185, 127));
    EXPECT_EQ(period.pixel(1, 10), QApplication::palette().color(QPalette::Active, QPalette::Base).rgb());

    for (std::size_t i = 0; i < plain.size(); ++i)
        EXPECT_EQ(shot(live(untouched[i])), plain[i]) << untouched[i];
}

TEST_F(SkinnedMainWindow, ScheduleGroupCaptionIsRedInAGapOfItsFrame) {
    ASSERT_EQ(SetSkin(2), 1);
    QWidget* group = live("分组框2");
    ASSERT_TRUE(group);
    const QImage img = shot(group);
    const QRgb frame = qRgb(191, 184, 191);
    int top = -1;
    for (int y = 0; y < img.height() && top < 0; ++y)
        if (img.pixel(20, y) == frame) top = y;
    ASSERT_GT(top, 0);
    const int mid = img.width() / 2;
    EXPECT_NE(img.pixel(mid, top), frame);
    int redLeft = img.width(), redRight = -1;
    for (int y = 0; y <= 2 * top + 2; ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (qRed(c) > 150 && qGreen(c) < 100 && qBlue(c) < 100) {
                redLeft = std::min(redLeft, x);
                redRight = std::max(redRight, x);
            }
        }
    ASSERT_LT(redLeft, redRight);
    EXPECT_LE(std::abs((redLeft + redRight) - (img.width() - 1)), 4);  // centred
    for (int x = redLeft; x <= redRight; ++x) EXPECT_NE(img.pixel(x, top), frame) << x;
    EXPECT_EQ(img.pixel(redLeft - 8, top), frame);
    EXPECT_EQ(img.pixel(redRight + 8, top), frame);

    if (const char* out = std::getenv("VESPERON_SKIN_SHOT"))
        shot(form_->windowWidget()).save(QString::fromUtf8(out));
}

}  // namespace
