#pragma once
// The skin's painters. Each draws one control into an off-screen image of the control's size;
// the style then copies that image to the screen in one go.

#include <QtCore/qnamespace.h>
#include <QtCore/qsize.h>
#include <QtCore/qstring.h>
#include <QtGui/qcolor.h>
#include <QtGui/qfont.h>
#include <QtGui/qimage.h>

#include <cstdint>

#include "skin/skin_scheme.h"

namespace vesperon::skin {

struct PushButtonLook {
    QSize size;
    std::uint32_t flags = 0;  // StateFlag bits
    QRgb buttonFace = 0;
    QRgb parentBackground = 0;
    QString caption;
    QFont font;
    Qt::Alignment alignment = Qt::AlignCenter;
};

// Ring record index for a button's state: pressed, mouse over, checked, focused, normal.
int ringRecordFor(std::uint32_t flags);

QImage paintPushButton(const SkinScheme& scheme, const PushButtonLook& look);

// Draws the two frames of an edit box with a border over `image` (which already holds the box).
void paintEditFrame(QImage& image, const SkinScheme& scheme, std::uint32_t flags, QRgb buttonFace,
                    QRgb windowColour);

struct GroupBoxLook {
    QSize size;
    QString caption;
    QFont font;         // the group's own font
    QFont defaultFont;  // measures the frame height when there is no caption
    Qt::Alignment alignment = Qt::AlignLeft;
    QRgb parentBackground = 0;
    QColor textColour;
};

// Transparent except for what the group box paints: the frame, the strips outside it and the caption.
QImage paintGroupBox(const GroupBoxLook& look);

// Where the caption of a group box goes: its rectangle and the erased stretch of the frame line.
struct GroupCaptionPlace {
    int frameTop = 0;
    int captionLeft = 0;
    int captionWidth = 0;
    int captionHeight = 0;
    int gapLeft = 0;   // first erased pixel of the line
    int gapRight = 0;  // last erased pixel of the line
};
GroupCaptionPlace groupCaptionPlace(const GroupBoxLook& look);

}  // namespace vesperon::skin
