#pragma once
// Gradient and frame drawing on a 32-bit image, pixel-exact: the corner pixels of a filled
// rectangle get exactly the record's corner colours. Everything is clipped to the image.

#include <QtCore/qrect.h>
#include <QtGui/qimage.h>

#include "skin/skin_scheme.h"

namespace vesperon::skin {

// Vertical when both top colours and both bottom colours are equal, otherwise two triangles
// (top-left, top-right, bottom-left) and (bottom-right, top-right, bottom-left).
void gradientFill(QImage& image, const QRect& rect, const GradientRecord& record);

// Top row exactly `top`, bottom row exactly `bottom`, rows between interpolated.
void verticalGradientFill(QImage& image, const QRect& rect, QRgb top, QRgb bottom);

// Each pixel interpolated inside the triangle of the corner pixels that contains it.
void triangleGradientFill(QImage& image, const QRect& rect, const GradientRecord& record);

void solidFill(QImage& image, const QRect& rect, QRgb colour);

// A frame one pixel wide along the inside of rect.
void frameRect(QImage& image, const QRect& rect, QRgb colour);

void setPixelClipped(QImage& image, int x, int y, QRgb colour);

// Channel-wise subtraction that stops at 0 (the darker shades of the button face).
QRgb darker(QRgb colour, int amount);

}  // namespace vesperon::skin
