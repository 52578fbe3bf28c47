#include "skin/painters.h"

#include <QtGui/QFontMetrics>
#include <QtGui/QPainter>

#include "skin/gradient_fill.h"
#include "skin/skin_state.h"

namespace vesperon::skin {
namespace {

QImage blankImage(QSize size) {
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// The dotted focus rectangle: every other pixel of the outline inverted.
void focusRect(QImage& image, const QRect& r) {
    if (r.width() < 1 || r.height() < 1) return;
    auto invert = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
        if ((x + y) % 2 != 0) return;
        image.setPixel(x, y, (image.pixel(x, y) ^ 0x00FFFFFFu) | 0xFF000000u);
    };
    for (int x = r.left(); x <= r.right(); ++x) {
        invert(x, r.top());
        if (r.bottom() != r.top()) invert(x, r.bottom());
    }
    for (int y = r.top() + 1; y < r.bottom(); ++y) {
        invert(r.left(), y);
        if (r.right() != r.left()) invert(r.right(), y);
    }
}

}  // namespace

int ringRecordFor(std::uint32_t f) {
    if (f & kPressed) return kRingPressed;
    if (f & kMouseOver) return kRingMouseOver;
    if (f & (kChecked | kIndeterminate)) return kRingChecked;
    if (f & (kFocused | kDefaultButton)) return kRingFocused;
    return kRingNormal;
}

QImage paintPushButton(const SkinScheme& scheme, const PushButtonLook& look) {
    QImage image = blankImage(look.size);
    const int w = look.size.width();
    const int h = look.size.height();
    const std::uint32_t f = look.flags;
    const bool disabled = f & kDisabled;
    const QRgb face = look.buttonFace;

    QRect r(0, 0, w, h);
    solidFill(image, r, look.parentBackground);
    frameRect(image, r, face);

    r.adjust(1, 1, -1, -1);
    const QRgb border = disabled ? darker(face, 0x20) : scheme.buttonBorder;
    frameRect(image, r, border);

    r.adjust(1, 1, -1, -1);
    if (disabled)
        solidFill(image, r, kDisabledButtonFill);
    else
        gradientFill(image, r, scheme.records[ringRecordFor(f)]);

    r.adjust(2, 2, -2, -2);
    const QRect faceRect = r;
    const bool pushedIn = f & (kPressed | kChecked | kIndeterminate);
    if (!disabled || (f & (kPressed | kChecked)))
        gradientFill(image, faceRect, scheme.records[pushedIn ? kFacePressed : kFaceNormal]);

    // Rounded corners.
    const QRgb inner = disabled ? darker(face, 0x15) : scheme.buttonBorder;
    const QRgb beside = disabled ? darker(face, 0x11) : scheme.buttonBorder;
    const int xs[2] = {1, w - 2}, ys[2] = {1, h - 2};
    for (int cx = 0; cx < 2; ++cx) {
        for (int cy = 0; cy < 2; ++cy) {
            const int x = xs[cx], y = ys[cy];
            const int dx = cx == 0 ? 1 : -1, dy = cy == 0 ? 1 : -1;
            setPixelClipped(image, x, y, face);
            setPixelClipped(image, x + dx, y + dy, inner);
            setPixelClipped(image, x, y + dy, beside);
            setPixelClipped(image, x + dx, y, beside);
        }
    }

    if (f & kFocused) focusRect(image, faceRect.adjusted(-1, -1, 1, 1));

    if (!look.caption.isEmpty()) {
        QPainter p(&image);
        p.setFont(look.font);
        p.setPen(QColor::fromRgb((disabled || (f & kIndeterminate)) ? kGreyedCaptionColour : 0xFF000000u));
        QRect text = QRect(0, 0, w, h).adjusted(2, 2, -2, -2);
        if (f & kPressed) text.translate(1, 1);
        p.drawText(text, int(look.alignment) | Qt::TextWordWrap | Qt::TextShowMnemonic, look.caption);
    }
    return image;
}

void paintEditFrame(QImage& image, const SkinScheme& scheme, std::uint32_t flags, QRgb buttonFace,
                    QRgb windowColour) {
    const bool disabled = flags & kDisabled;
    QRect r = image.rect();
    frameRect(image, r, disabled ? darker(buttonFace, 0x20) : scheme.editFrame);
    r.adjust(1, 1, -1, -1);
    frameRect(image, r, (disabled || (flags & kReadOnly)) ? buttonFace : windowColour);
}

GroupCaptionPlace groupCaptionPlace(const GroupBoxLook& look) {
    GroupCaptionPlace place;
    const int w = look.size.width();
    if (look.caption.isEmpty()) {
        place.frameTop = QFontMetrics(look.defaultFont).height() / 2;
        return place;
    }
    const QFontMetrics fm(look.font);
    const QSize text = fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, look.caption);
    place.captionWidth = text.width();
    place.captionHeight = fm.height();
    place.frameTop = place.captionHeight / 2;
    const Qt::Alignment h = look.alignment & Qt::AlignHorizontal_Mask;
    if (h & Qt::AlignHCenter) {
        place.captionLeft = (w - place.captionWidth) / 2;
        place.gapLeft = place.captionLeft - 5;
        place.gapRight = place.captionLeft + place.captionWidth + 5 - 1;
    } else if (h & Qt::AlignRight) {
        place.captionLeft = w - 10 - place.captionWidth;
        place.gapLeft = place.captionLeft;
        place.gapRight = place.captionLeft + place.captionWidth - 1;
    } else {
        place.captionLeft = 9;
        place.gapLeft = 8;
        place.gapRight = place.captionWidth + 9;
    }
    return place;
}

QImage paintGroupBox(const GroupBoxLook& look) {
    QImage image = blankImage(look.size);
    const int w = look.size.width();
    const int h = look.size.height();
    const GroupCaptionPlace place = groupCaptionPlace(look);
    const int top = place.frameTop;
    const QRgb bg = look.parentBackground | 0xFF000000u;

    // The strips outside the frame: above it, and two pixels inside the left, right and bottom edges.
    solidFill(image, QRect(0, 0, w, top), bg);
    solidFill(image, QRect(0, top, 2, h - top), bg);
    solidFill(image, QRect(w - 2, top, 2, h - top), bg);
    solidFill(image, QRect(0, h - 2, w, 2), bg);
    const QRect frame(0, top, w, h - top);
    frameRect(image, frame, kGroupFrameColour);

    // Rounded corners: the corner pixel takes the background, the one diagonally inside the frame colour.
    const QRgb background = image.valid(0, 0) ? image.pixel(0, 0) : bg;
    if (frame.width() >= 3 && frame.height() >= 3) {
        const int xs[2] = {frame.left(), frame.right()}, ys[2] = {frame.top(), frame.bottom()};
        for (int cx = 0; cx < 2; ++cx) {
            for (int cy = 0; cy < 2; ++cy) {
                setPixelClipped(image, xs[cx], ys[cy], background);
                setPixelClipped(image, xs[cx] + (cx == 0 ? 1 : -1), ys[cy] + (cy == 0 ? 1 : -1),
                                kGroupFrameColour);
            }
        }
    }

    if (!look.caption.isEmpty()) {
        for (int x = place.gapLeft; x <= place.gapRight; ++x) setPixelClipped(image, x, top, background);
        const QRect band(place.captionLeft, 0, place.captionWidth, place.captionHeight);
        solidFill(image, band, bg);
        QPainter p(&image);
        p.setFont(look.font);
        p.setPen(look.textColour);
        p.drawText(band, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic,
                   look.caption);
    }
    return image;
}

}  // namespace vesperon::skin
