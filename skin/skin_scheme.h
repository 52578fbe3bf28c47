#pragma once
// The three colour schemes of the skin: frame colours and the seven push-button gradient records.

#include <QtGui/qrgb.h>

namespace vesperon::skin {

// Four corner colours of a gradient fill.
struct GradientRecord {
    QRgb topLeft;
    QRgb topRight;
    QRgb bottomLeft;
    QRgb bottomRight;
};

// Indexes into SkinScheme::records.
enum GradientUse : int {
    kRingPressed = 0,
    kRingMouseOver = 1,
    kRingChecked = 2,  // also indeterminate
    kRingFocused = 3,  // also the default button
    kRingNormal = 4,
    kFacePressed = 5,  // also checked or indeterminate
    kFaceNormal = 6,
};

struct SkinScheme {
    QRgb editFrame;
    QRgb buttonBorder;
    GradientRecord records[7];
};

// Scheme 1, 2 or 3; nullptr for any other number.
const SkinScheme* schemeByNumber(int scheme);

// The same in all schemes.
inline constexpr QRgb kGroupFrameColour = 0xFFBFB8BF;     // 191, 184, 191
inline constexpr QRgb kDisabledButtonFill = 0xFFF5F4EA;   // 245, 244, 234
inline constexpr QRgb kGreyedCaptionColour = 0xFFA5A294;  // 165, 162, 148

}  // namespace vesperon::skin
