// The gradient fills and the painters on plain images: exact corners, clipping, tiny sizes.
#include <gtest/gtest.h>

#include <QtGui/QFontMetrics>
#include <QtGui/QGuiApplication>

#include "skin/gradient_fill.h"
#include "skin/painters.h"
#include "skin/skin_scheme.h"
#include "skin/skin_state.h"

using namespace vesperon::skin;

namespace {

QImage canvas(int w, int h, QRgb fill = 0xFF000000u) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

int channelDistance(QRgb a, QRgb b) {
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

const GradientRecord kFourColours = {qRgb(10, 200, 30), qRgb(250, 0, 90), qRgb(0, 60, 255),
                                     qRgb(128, 255, 0)};

}  // namespace

TEST(GradientFill, TriangleFillIsExactAtTheFourCornersAndBlendsBetween) {
    for (QSize size : {QSize(80, 25), QSize(2, 2), QSize(7, 40), QSize(1, 9), QSize(9, 1)}) {
        QImage image = canvas(size.width() + 4, size.height() + 4);
        const QRect r(QPoint(2, 2), size);
        triangleGradientFill(image, r, kFourColours);
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        if (size.width() > 1 && size.height() > 1) {
            EXPECT_EQ(image.pixel(r.topLeft()), kFourColours.topLeft);
            EXPECT_EQ(image.pixel(r.topRight()), kFourColours.topRight);
            EXPECT_EQ(image.pixel(r.bottomLeft()), kFourColours.bottomLeft);
            EXPECT_EQ(image.pixel(r.bottomRight()), kFourColours.bottomRight);
        } else {
            EXPECT_EQ(image.pixel(r.topLeft()), kFourColours.topLeft);
        }
        // Nothing outside the rectangle is touched.
        EXPECT_EQ(image.pixel(1, 1), 0xFF000000u);
        EXPECT_EQ(image.pixel(r.right() + 1, r.bottom() + 1), 0xFF000000u);
    }
    // The middle of the shared diagonal is the mean of the two corners on it.
    QImage image = canvas(81, 41);
    triangleGradientFill(image, image.rect(), kFourColours);
    const QRgb mid = image.pixel(40, 20);
    EXPECT_LE(channelDistance(mid, qRgb((250 + 0) / 2, (0 + 60) / 2, (90 + 255) / 2)), 1);
}

TEST(GradientFill, VerticalFillRunsFromTopColourToBottomColourRowByRow) {
    QImage image = canvas(6, 21);
    const QRgb top = qRgb(255, 240, 207), bottom = qRgb(229, 151, 0);
    verticalGradientFill(image, image.rect(), top, bottom);
    EXPECT_EQ(image.pixel(0, 0), top);
    EXPECT_EQ(image.pixel(5, 20), bottom);
    EXPECT_LE(channelDistance(image.pixel(3, 10), qRgb(242, 196, 104)), 1);
    for (int y = 0; y < 21; ++y) {
        for (int x = 1; x < 6; ++x) {
            ASSERT_EQ(image.pixel(x, y), image.pixel(0, y));
        }
        if (y > 0) {
            ASSERT_LE(qGreen(image.pixel(0, y)), qGreen(image.pixel(0, y - 1)));
        }
    }
}

TEST(GradientFill, RecordChoosesVerticalOnlyWhenTopsAndBottomsMatch) {
    const SkinScheme& s = *schemeByNumber(2);
    QImage image = canvas(30, 10);
    gradientFill(image, image.rect(), s.records[kRingNormal]);
    for (int x = 0; x < 30; ++x) EXPECT_EQ(image.pixel(x, 4), image.pixel(0, 4));
    // Record 2 has two different top colours, so the top row changes along its length.
    gradientFill(image, image.rect(), s.records[kRingChecked]);
    EXPECT_EQ(image.pixel(0, 0), qRgb(214, 203, 189));
    EXPECT_EQ(image.pixel(29, 0), qRgb(214, 207, 198));
    EXPECT_EQ(image.pixel(29, 9), qRgb(247, 243, 239));
}

TEST(GradientFill, RectanglesReachingOutsideTheImageAreClipped) {
    QImage image = canvas(10, 10);
    const QRect huge(-1000, -50, 5000, 70);
    triangleGradientFill(image, huge, kFourColours);
    verticalGradientFill(image, QRect(5, 5, 100, 100), 0xFFFFFFFFu, 0xFF000000u);
    solidFill(image, QRect(-3, -3, 4, 4), 0xFF00FF00u);
    frameRect(image, QRect(-5, -5, 30, 30), 0xFF0000FFu);
    setPixelClipped(image, 10, 0, 0xFFFFFFFFu);
    setPixelClipped(image, -1, 0, 0xFFFFFFFFu);
    EXPECT_EQ(image.pixel(0, 0), 0xFF00FF00u);
    EXPECT_EQ(image.pixel(5, 5), 0xFFFFFFFFu);
    // Empty rectangles draw nothing.
    QImage untouched = image.copy();
    triangleGradientFill(image, QRect(3, 3, 0, 5), kFourColours);
    verticalGradientFill(image, QRect(3, 3, 5, 0), 0xFFFFFFFFu, 0xFFFFFFFFu);
    frameRect(image, QRect(3, 3, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(image, untouched);
}

TEST(GradientFill, DarkerShadesStopAtBlack) {
    EXPECT_EQ(darker(qRgb(240, 240, 240), 0x20), qRgb(208, 208, 208));
    EXPECT_EQ(darker(qRgb(0x10, 0x40, 0x20), 0x20), qRgb(0, 0x20, 0));
}

TEST(Painters, RingFollowsPressedThenHoverThenCheckedThenFocusedPriority) {
    EXPECT_EQ(ringRecordFor(kPressed | kMouseOver | kChecked | kFocused), kRingPressed);
    EXPECT_EQ(ringRecordFor(kMouseOver | kChecked | kFocused), kRingMouseOver);
    EXPECT_EQ(ringRecordFor(kIndeterminate | kDefaultButton), kRingChecked);
    EXPECT_EQ(ringRecordFor(kDefaultButton | kDisabled), kRingFocused);
    EXPECT_EQ(ringRecordFor(kReadOnly), kRingNormal);
}

TEST(Painters, DegenerateSizesDoNotFault) {
    const SkinScheme& s = *schemeByNumber(1);
    for (QSize size : {QSize(0, 0), QSize(1, 1), QSize(2, 3), QSize(5, 5), QSize(3, 200)}) {
        PushButtonLook look;
        look.size = size;
        look.caption = QStringLiteral("&OK 播放");
        look.flags = kFocused | kPressed;
        QImage button = paintPushButton(s, look);
        EXPECT_GE(button.width(), 1);
        look.flags = kDisabled;
        paintPushButton(s, look);

        QImage edit = canvas(std::max(size.width(), 1), std::max(size.height(), 1));
        paintEditFrame(edit, s, kDisabled, qRgb(1, 2, 3), qRgb(4, 5, 6));

        GroupBoxLook group;
        group.size = size;
        for (Qt::Alignment a : {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight}) {
            group.alignment = a;
            group.caption = QStringLiteral("计划播放时段 that is wider than the box");
            paintGroupBox(group);
            group.caption.clear();
            paintGroupBox(group);
        }
    }
}

TEST(Painters, GroupCaptionGapForEachAlignment) {
    GroupBoxLook look;
    look.size = QSize(372, 230);
    look.caption = QStringLiteral("计划播放时段");
    const QFontMetrics fm(look.font);
    const int w = fm.horizontalAdvance(look.caption);

    look.alignment = Qt::AlignLeft;
    GroupCaptionPlace p = groupCaptionPlace(look);
    EXPECT_EQ(p.frameTop, fm.height() / 2);
    EXPECT_EQ(p.captionLeft, 9);
    EXPECT_EQ(p.gapLeft, 8);
    EXPECT_EQ(p.gapRight, w + 9);

    look.alignment = Qt::AlignHCenter | Qt::AlignTop;
    p = groupCaptionPlace(look);
    EXPECT_LE(std::abs((p.captionLeft + w / 2) - 186), 1);
    EXPECT_EQ(p.gapLeft, p.captionLeft - 5);
    EXPECT_EQ(p.gapRight, p.captionLeft + w + 4);

    look.alignment = Qt::AlignRight;
    p = groupCaptionPlace(look);
    EXPECT_EQ(p.captionLeft + w, 372 - 10);
    EXPECT_EQ(p.gapLeft, p.captionLeft);

    // Without a caption the frame sits at half a line of the default font.
    look.caption.clear();
    look.defaultFont.setPixelSize(20);
    EXPECT_EQ(groupCaptionPlace(look).frameTop, QFontMetrics(look.defaultFont).height() / 2);
}
