// The skin on real widgets with scheme 2 (and a look at 1 and 3): pixels of push buttons, edit
// boxes and group boxes in each state, hover from real mouse moves, and switching on and off.
#include <gtest/gtest.h>

#include <QtGui/QPainter>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QSlider>
#include <memory>

#include "skin/skin.h"
#include "tests/skin/plain_look.h"

using vesperon::skin::CurrentSkinScheme;
using vesperon::skin::SetSkin;
using vesperon::skin::SkinIsOn;

namespace {

const QRgb kFace = qRgb(240, 240, 240);
const QRgb kFaceMinus20 = qRgb(208, 208, 208);
const QRgb kBorder2 = qRgb(55, 98, 6);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kOrangeTop = qRgb(255, 240, 207);
const QRgb kOrangeBottom = qRgb(229, 151, 0);
const QRgb kNormalRingBottom = qRgb(226, 223, 214);
const QRgb kFaceTop = qRgb(252, 252, 251);
const QRgb kFaceBottom2 = qRgb(236, 225, 201);
const QRgb kPressedFill2 = qRgb(239, 227, 206);
const QRgb kDisabledFill = qRgb(245, 244, 234);
const QRgb kGroupFrame = qRgb(191, 184, 191);

QImage shot(QWidget* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int distance(QRgb a, QRgb b) {
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Pixels that differ clearly from every colour of the button's own background.
QRect inkBounds(const QImage& image, const QRect& area, int (*score)(QRgb)) {
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (score(image.pixel(x, y)) > 0) bounds |= QRect(x, y, 1, 1);
    return bounds;
}
int darkInk(QRgb c) {
    return qRed(c) + qGreen(c) + qBlue(c) < 300 ? 1 : 0;
}
int redInk(QRgb c) {
    return qRed(c) > 150 && qGreen(c) < 100 && qBlue(c) < 100 ? 1 : 0;
}

QRgb darkestPixel(const QImage& image, const QRect& area) {
    QRgb best = kWhite;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) + qGreen(c) + qBlue(c) < qRed(best) + qGreen(best) + qBlue(best)) best = c;
        }
    return best;
}

// Processes events until the condition holds or a second has passed.
template <class Condition>
bool waitUntil(Condition condition) {
    for (int i = 0; i < 100 && !condition(); ++i) QTest::qWait(10);
    return condition();
}

class SkinWidgets : public ::testing::Test {
protected:
    void SetUp() override {
        pinPlainLook();
        ASSERT_EQ(SetSkin(2), 1);
        window_ = std::make_unique<QWidget>();
        window_->resize(400, 300);
        window_->move(0, 0);
    }
    void TearDown() override {
        window_.reset();
        SetSkin(0);
    }
    template <class W, class... Args>
    W* add(QRect geometry, Args&&... args) {
        auto* w = new W(std::forward<Args>(args)..., window_.get());
        w->setGeometry(geometry);
        return w;
    }
    void showWindow() {
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        QApplication::setActiveWindow(window_.get());
        QTest::qWait(10);
    }
    std::unique_ptr<QWidget> window_;
};

// Counts paint events, to see that a state change repaints without being asked.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++count;
        return false;
    }
};

TEST_F(SkinWidgets, NormalButtonHasBorderRingAndFaceOfTheRecords) {
    auto* b = add<QPushButton>(QRect(10, 10, 80, 25), QString());
    b->setFocusPolicy(Qt::NoFocus);
    const QImage img = shot(b);
    const int W = 80, H = 25;
    EXPECT_EQ(img.pixel(0, 0), kFace);  // outer frame
    EXPECT_EQ(img.pixel(40, H - 1), kFace);
    EXPECT_EQ(img.pixel(40, 1), kBorder2);  // border
    EXPECT_EQ(img.pixel(W - 2, 12), kBorder2);
    EXPECT_EQ(img.pixel(40, 2), kWhite);                 // ring, top
    EXPECT_EQ(img.pixel(40, H - 3), kNormalRingBottom);  // ring, bottom
    EXPECT_EQ(img.pixel(2, 12), img.pixel(W - 3, 12));   // ring is a vertical gradient
    EXPECT_EQ(img.pixel(4, 4), kFaceTop);                // face corners
    EXPECT_EQ(img.pixel(W - 5, 4), kFaceTop);
    EXPECT_EQ(img.pixel(4, H - 5), kFaceBottom2);
    EXPECT_EQ(img.pixel(W - 5, H - 5), kFaceBottom2);
    const QRgb middle = img.pixel(40, 12);  // face, between its two colours
    EXPECT_LT(qBlue(middle), 251);
    EXPECT_GT(qBlue(middle), 201);
    // Rounded corners.
    for (QPoint corner : {QPoint(1, 1), QPoint(W - 2, 1), QPoint(1, H - 2), QPoint(W - 2, H - 2)})
        EXPECT_EQ(img.pixel(corner), kFace) << corner.x() << "," << corner.y();
    for (QPoint p : {QPoint(2, 2), QPoint(W - 3, 2), QPoint(2, H - 3), QPoint(W - 3, H - 3), QPoint(1, 2),
                     QPoint(2, 1), QPoint(W - 2, H - 3), QPoint(W - 3, H - 2)})
        EXPECT_EQ(img.pixel(p), kBorder2) << p.x() << "," << p.y();
}

TEST_F(SkinWidgets, RingTurnsOrangeUnderTheMouseAndBackWhenItLeaves) {
    // Under a plain style that tracks no hover of its own, the skin must ask for it.
    for (const char* plainStyle : {"Fusion", "Windows"}) {
        SCOPED_TRACE(plainStyle);
        SetSkin(0);
        window_ = std::make_unique<QWidget>();
        window_->resize(400, 300);
        QApplication::setStyle(QString::fromLatin1(plainStyle));
        auto* b = add<QPushButton>(QRect(10, 10, 80, 25), QString());
        b->setFocusPolicy(Qt::NoFocus);
        b->ensurePolished();
        const bool hoverBefore = b->testAttribute(Qt::WA_Hover);
        ASSERT_EQ(SetSkin(2), 1);
        showWindow();
        PaintCounter paints;
        b->installEventFilter(&paints);

        QTest::mouseMove(window_.get(), QPoint(50, 22));
        EXPECT_TRUE(waitUntil([&] { return b->underMouse(); }));
        EXPECT_TRUE(waitUntil([&] { return paints.count > 0; }));
        QImage img = shot(b);
        EXPECT_EQ(img.pixel(40, 2), kOrangeTop);
        EXPECT_EQ(img.pixel(40, 22), kOrangeBottom);
        EXPECT_EQ(img.pixel(4, 4), kFaceTop);  // the face stays

        paints.count = 0;
        QTest::mouseMove(window_.get(), QPoint(300, 200));
        EXPECT_TRUE(waitUntil([&] { return !b->underMouse(); }));
        EXPECT_TRUE(waitUntil([&] { return paints.count > 0; }));
        img = shot(b);
        EXPECT_EQ(img.pixel(40, 2), kWhite);
        EXPECT_EQ(img.pixel(40, 22), kNormalRingBottom);

        b->removeEventFilter(&paints);
        SetSkin(0);
        EXPECT_EQ(b->testAttribute(Qt::WA_Hover), hoverBefore);
    }
    QApplication::setStyle(QStringLiteral("Fusion"));
}

TEST_F(SkinWidgets, FocusedButtonHasOrangeRingAndDottedFocusRectangle) {
    auto* other = add<QPushButton>(QRect(200, 10, 80, 25), QStringLiteral("x"));
    auto* b = add<QPushButton>(QRect(10, 10, 80, 25), QString());
    showWindow();
    other->setFocus();
    QImage img = shot(b);
    EXPECT_EQ(img.pixel(40, 2), kWhite);
    const QImage unfocused = img;

    b->setFocus();
    EXPECT_TRUE(waitUntil([&] { return b->hasFocus(); }));
    img = shot(b);
    EXPECT_EQ(img.pixel(40, 2), kOrangeTop);
    EXPECT_EQ(img.pixel(40, 22), kOrangeBottom);
    // The focus rectangle lies one pixel outside the face, on the inner ring: every other pixel
    // inverted, the outer ring pixel beside it untouched.
    int inverted = 0, plain = 0;
    for (int y = 4; y <= 20; ++y) {
        const QRgb ring = img.pixel(2, y);
        if (img.pixel(3, y) == (ring ^ 0x00FFFFFFu)) ++inverted;
        if (img.pixel(3, y) == ring) ++plain;
    }
    EXPECT_GE(inverted, 8);
    EXPECT_GE(plain, 8);
    EXPECT_NE(img.pixel(40, 3), img.pixel(41, 3));
    EXPECT_EQ(unfocused.pixel(40, 3), unfocused.pixel(41, 3));
}

TEST_F(SkinWidgets, PushLikeCheckBoxCheckedShowsRecordsTwoAndFiveAndMouseUncheckRestores) {
    auto* b = add<QPushButton>(QRect(10, 10, 80, 25), QString());
    b->setCheckable(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setChecked(true);
    showWindow();
    QImage img = shot(b);
    const int W = 80, H = 25;
    // Ring record 2: different colours in its top two corners, so a triangle fill.
    EXPECT_LE(distance(img.pixel(3, 2), qRgb(214, 203, 189)), 2);
    EXPECT_LE(distance(img.pixel(W - 4, 2), qRgb(214, 207, 198)), 2);
    EXPECT_LE(distance(img.pixel(3, H - 3), qRgb(247, 243, 239)), 2);
    EXPECT_LE(distance(img.pixel(W - 4, H - 3), qRgb(247, 243, 239)), 2);
    EXPECT_NE(img.pixel(3, 2), img.pixel(W - 4, 2));
    // Face record 5, one colour in scheme 2.
    EXPECT_EQ(img.pixel(4, 4), kPressedFill2);
    EXPECT_EQ(img.pixel(W - 5, H - 5), kPressedFill2);

    QTest::mouseMove(b, QPoint(40, 12));
    EXPECT_TRUE(waitUntil([&] { return b->underMouse(); }));
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(40, 12));
    EXPECT_FALSE(b->isChecked());
    img = shot(b);
    EXPECT_EQ(img.pixel(4, 4), kFaceTop);
    EXPECT_EQ(img.pixel(W - 5, H - 5), kFaceBottom2);
    EXPECT_EQ(img.pixel(40, 2), kOrangeTop);  // still under the mouse
}

TEST_F(SkinWidgets, PressedButtonUsesRecordZeroAndShiftsItsCaption) {
    auto* b = add<QPushButton>(QRect(10, 10, 80, 25), QStringLiteral("下一曲"));
    b->setFocusPolicy(Qt::NoFocus);
    const QRect inside(4, 4, 72, 17);
    const QRect normalInk = inkBounds(shot(b), inside, darkInk);
    ASSERT_FALSE(normalInk.isEmpty());
    // The caption is centred.
    EXPECT_LE(std::abs(normalInk.center().x() - 40), 2);
    EXPECT_LE(distance(darkestPixel(shot(b), inside), qRgb(0, 0, 0)), 8);

    b->setDown(true);
    const QImage img = shot(b);
    EXPECT_EQ(img.pixel(40, 2), kPressedFill2);
    EXPECT_EQ(img.pixel(40, 22), kPressedFill2);
    EXPECT_EQ(img.pixel(4, 4), kPressedFill2);
    EXPECT_EQ(inkBounds(img, inside.adjusted(0, 0, 1, 1), darkInk), normalInk.translated(1, 1));

    // A left-aligned caption (the schedule switch) starts at the left edge of the text area.
    auto* left = add<QPushButton>(QRect(10, 40, 80, 25), QStringLiteral("开始计划"));
    left->setProperty(vesperon::skin::kCaptionAlignmentProperty, int(Qt::AlignLeft | Qt::AlignVCenter));
    const QRect leftInk = inkBounds(shot(left), inside, darkInk);
    ASSERT_FALSE(leftInk.isEmpty());
    EXPECT_LE(leftInk.left(), 5);
    EXPECT_LE(std::abs(leftInk.center().y() - normalInk.center().y()), 1);
}

TEST_F(SkinWidgets, DisabledButtonIsFlatWithGreyedCaptionUnlessChecked) {
    auto* b = add<QPushButton>(QRect(10, 10, 80, 25), QStringLiteral("播放"));
    b->setEnabled(false);
    QImage img = shot(b);
    EXPECT_EQ(img.pixel(40, 1), kFaceMinus20);
    EXPECT_EQ(img.pixel(40, 2), kDisabledFill);
    EXPECT_EQ(img.pixel(5, 12), kDisabledFill);
    EXPECT_EQ(img.pixel(74, 20), kDisabledFill);
    EXPECT_EQ(img.pixel(1, 1), kFace);
    EXPECT_EQ(img.pixel(2, 2), qRgb(219, 219, 219));  // face minus 0x151515
    EXPECT_EQ(img.pixel(1, 2), qRgb(223, 223, 223));  // face minus 0x111111
    const QRgb ink = darkestPixel(img, QRect(4, 4, 72, 17));
    EXPECT_LE(distance(ink, qRgb(165, 162, 148)), 3);

    // Checked and disabled keeps the pushed-in face.
    b->setCheckable(true);
    b->setChecked(true);
    img = shot(b);
    EXPECT_EQ(img.pixel(40, 2), kDisabledFill);
    EXPECT_EQ(img.pixel(5, 5), kPressedFill2);
}

TEST_F(SkinWidgets, EditBoxFramesByStateAndOnlyWithABorder) {
    // The current-time box: disabled and read-only.
    auto* clock = add<QLineEdit>(QRect(10, 10, 25, 25));
    clock->setReadOnly(true);
    clock->setEnabled(false);
    auto* period = add<QLineEdit>(QRect(50, 10, 20, 20));
    auto* readOnly = add<QLineEdit>(QRect(80, 10, 20, 20));
    readOnly->setReadOnly(true);
    auto* bare = add<QLineEdit>(QRect(110, 10, 20, 20));
    bare->setFrame(false);

    QImage img = shot(clock);
    for (QPoint p : {QPoint(0, 12), QPoint(24, 12), QPoint(12, 0), QPoint(12, 24), QPoint(0, 0)})
        EXPECT_EQ(img.pixel(p), kFaceMinus20) << p.x() << "," << p.y();
    for (QPoint p : {QPoint(1, 12), QPoint(23, 12), QPoint(12, 1), QPoint(12, 23)})
        EXPECT_EQ(img.pixel(p), kFace) << p.x() << "," << p.y();

    img = shot(period);
    EXPECT_EQ(img.pixel(0, 10), qRgb(164, 185, 127));
    EXPECT_EQ(img.pixel(19, 19), qRgb(164, 185, 127));
    EXPECT_EQ(img.pixel(1, 10), kWhite);
    img = shot(readOnly);
    EXPECT_EQ(img.pixel(0, 10), qRgb(164, 185, 127));
    EXPECT_EQ(img.pixel(1, 10), kFace);
    img = shot(bare);
    EXPECT_NE(img.pixel(0, 10), qRgb(164, 185, 127));
}

TEST_F(SkinWidgets, CentredRedCaptionSitsInAGapOfTheGroupFrame) {
    auto* group = add<QGroupBox>(QRect(1, 20, 372, 230), QStringLiteral("计划播放时段"));
    group->setAlignment(Qt::AlignHCenter);
    QPalette red = group->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    group->setPalette(red);
    auto* left = add<QGroupBox>(QRect(0, 0, 200, 60), QStringLiteral("Left"));
    left->setAlignment(Qt::AlignLeft);
    auto* right = add<QGroupBox>(QRect(0, 0, 200, 60), QStringLiteral("Right"));
    right->setAlignment(Qt::AlignRight);

    const QImage img = shot(group);
    const int W = 372, H = 230;
    // The frame's top line: the first frame-coloured pixel down the left quarter.
    int top = -1;
    for (int y = 0; y < H && top < 0; ++y)
        if (img.pixel(W / 4, y) == kGroupFrame) top = y;
    ASSERT_GT(top, 2);
    EXPECT_EQ(img.pixel(0, top + 5), kGroupFrame);
    EXPECT_EQ(img.pixel(W - 1, top + 5), kGroupFrame);
    EXPECT_EQ(img.pixel(W / 2, H - 1), kGroupFrame);
    EXPECT_NE(img.pixel(0, top), kGroupFrame);  // rounded corner
    EXPECT_EQ(img.pixel(1, top + 1), kGroupFrame);
    EXPECT_NE(img.pixel(W - 1, H - 1), kGroupFrame);

    // The gap in the top line, around the centre.
    int gapLeft = W / 2, gapRight = W / 2;
    ASSERT_NE(img.pixel(W / 2, top), kGroupFrame);
    while (gapLeft > 0 && img.pixel(gapLeft - 1, top) != kGroupFrame) --gapLeft;
    while (gapRight < W - 1 && img.pixel(gapRight + 1, top) != kGroupFrame) ++gapRight;
    EXPECT_LE(std::abs((gapLeft + gapRight) - (W - 1)), 2);
    const QRect ink = inkBounds(img, QRect(0, 0, W, 2 * top + 4), redInk);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GE(ink.left(), gapLeft + 4);
    EXPECT_LE(ink.right(), gapRight - 4);
    EXPECT_LE(ink.top(), top);
    EXPECT_GE(ink.bottom(), top);

    // Left: the gap starts 8 pixels in; right: the caption ends 10 pixels from the edge.
    QImage l = shot(left);
    int lTop = -1;
    for (int y = 0; y < 60 && lTop < 0; ++y)
        if (l.pixel(190, y) == kGroupFrame) lTop = y;
    ASSERT_GT(lTop, 0);
    EXPECT_EQ(l.pixel(7, lTop), kGroupFrame);
    EXPECT_NE(l.pixel(8, lTop), kGroupFrame);
    QRect lInk = inkBounds(l, QRect(0, 0, 200, 2 * lTop + 2), darkInk);
    EXPECT_GE(lInk.left(), 9);
    EXPECT_LE(lInk.left(), 11);
    QImage r = shot(right);
    QRect rInk = inkBounds(r, QRect(0, 0, 200, 2 * lTop + 2), darkInk);
    EXPECT_LE(rInk.right(), 200 - 10 - 1);
    EXPECT_GE(rInk.right(), 200 - 10 - 3);
    EXPECT_NE(r.pixel(rInk.right(), lTop), kGroupFrame);
    EXPECT_EQ(r.pixel(200 - 9, lTop), kGroupFrame);
}

TEST_F(SkinWidgets, SwitchingOffRestoresThePlainLookAndOnAgainSkinsEverything) {
    SetSkin(0);
    auto* before = add<QPushButton>(QRect(10, 10, 80, 25), QStringLiteral("停止"));
    auto* edit = add<QLineEdit>(QRect(100, 10, 25, 25));
    auto* group = add<QGroupBox>(QRect(10, 50, 200, 100), QStringLiteral("g"));
    auto* list = add<QListWidget>(QRect(10, 160, 100, 60));
    list->addItem(QStringLiteral("a.mp3"));
    auto* scroll = add<QScrollBar>(QRect(300, 10, 20, 111), Qt::Vertical);
    auto* slider = add<QSlider>(QRect(10, 230, 300, 24), Qt::Horizontal);
    auto* label = add<QLabel>(QRect(150, 10, 50, 16), QStringLiteral("标签"));
    auto* box = add<QCheckBox>(QRect(150, 30, 80, 20), QStringLiteral("check"));
    const QList<QWidget*> all = {before, edit, group, list, scroll, slider, label, box};
    QList<QImage> plain;
    for (QWidget* w : all) plain.append(shot(w));
    EXPECT_FALSE(SkinIsOn());
    EXPECT_EQ(SetSkin(0), 0);  // already off

    EXPECT_EQ(SetSkin(2), 1);
    EXPECT_TRUE(SkinIsOn());
    EXPECT_EQ(CurrentSkinScheme(), 2);
    auto* after = add<QPushButton>(QRect(10, 40, 80, 25), QString());
    for (QWidget* w : {static_cast<QWidget*>(before), static_cast<QWidget*>(after)})
        EXPECT_EQ(shot(w).pixel(40, 1), kBorder2);
    EXPECT_EQ(shot(edit).pixel(0, 12), qRgb(164, 185, 127));
    EXPECT_NE(shot(group), plain[2]);
    // Untouched by the skin: list box, scroll bar, slider, label, plain check box.
    for (int i = 3; i < all.size(); ++i) EXPECT_EQ(shot(all[i]), plain[i]) << i;

    EXPECT_EQ(SetSkin(0), 1);
    EXPECT_FALSE(SkinIsOn());
    for (int i = 0; i < all.size(); ++i) EXPECT_EQ(shot(all[i]), plain[i]) << i;

    EXPECT_EQ(SetSkin(2), 1);
    EXPECT_EQ(shot(before).pixel(40, 1), kBorder2);
    EXPECT_EQ(shot(after).pixel(40, 1), kBorder2);
    // On again while on: still one skin, same look.
    EXPECT_EQ(SetSkin(2), 1);
    EXPECT_EQ(shot(before).pixel(40, 1), kBorder2);

    // Any other number switches off and is remembered as it was given.
    EXPECT_EQ(SetSkin(7), 1);
    EXPECT_EQ(CurrentSkinScheme(), 7);
    EXPECT_EQ(shot(before), plain[0]);
    EXPECT_EQ(SetSkin(-1), 0);
}

TEST_F(SkinWidgets, SchemesOneAndThreeUseTheirOwnColours) {
    auto* b = add<QPushButton>(QRect(10, 10, 80, 25), QString());
    b->setFocusPolicy(Qt::NoFocus);
    b->setDefault(true);
    auto* e = add<QLineEdit>(QRect(100, 10, 25, 25));

    ASSERT_EQ(SetSkin(1), 1);
    QImage img = shot(b);
    EXPECT_EQ(img.pixel(40, 1), qRgb(0, 60, 115));
    EXPECT_EQ(img.pixel(40, 2), qRgb(206, 231, 255));  // default button: blue ring in scheme 1
    EXPECT_EQ(img.pixel(40, 22), qRgb(105, 130, 238));
    EXPECT_EQ(img.pixel(4, 20), qRgb(236, 235, 230));
    EXPECT_EQ(shot(e).pixel(0, 12), qRgb(123, 158, 189));

    ASSERT_EQ(SetSkin(3), 1);
    img = shot(b);
    EXPECT_EQ(img.pixel(40, 1), qRgb(0, 60, 116));
    EXPECT_EQ(img.pixel(4, 20), qRgb(198, 197, 215));
    EXPECT_EQ(shot(e).pixel(0, 12), qRgb(198, 197, 215));
    b->setDown(true);
    img = shot(b);
    EXPECT_EQ(img.pixel(4, 4), qRgb(179, 178, 197));  // scheme 3's pressed face runs downwards
    EXPECT_EQ(img.pixel(4, 20), qRgb(252, 252, 251));
}

}  // namespace
