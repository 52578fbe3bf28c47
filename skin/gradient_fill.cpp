#include "skin/gradient_fill.h"

#include <algorithm>
#include <cmath>

namespace vesperon::skin {
namespace {

int channelAt(int from, int to, long step, long steps) {
    if (steps <= 0) return from;
    // Rounded to nearest, so both ends are exact.
    long v = (static_cast<long>(from) * (steps - step) + static_cast<long>(to) * step + steps / 2) / steps;
    return static_cast<int>(std::clamp(v, 0L, 255L));
}

int clampChannel(double v) {
    return static_cast<int>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

void setPixelClipped(QImage& image, int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
    image.setPixel(x, y, colour | 0xFF000000u);
}

void solidFill(QImage& image, const QRect& rect, QRgb colour) {
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) image.setPixel(x, y, colour | 0xFF000000u);
}

void frameRect(QImage& image, const QRect& rect, QRgb colour) {
    if (rect.isEmpty()) return;
    for (int x = rect.left(); x <= rect.right(); ++x) {
        setPixelClipped(image, x, rect.top(), colour);
        setPixelClipped(image, x, rect.bottom(), colour);
    }
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        setPixelClipped(image, rect.left(), y, colour);
        setPixelClipped(image, rect.right(), y, colour);
    }
}

void verticalGradientFill(QImage& image, const QRect& rect, QRgb top, QRgb bottom) {
    if (rect.isEmpty()) return;
    const QRect r = rect.intersected(image.rect());
    const long steps = rect.height() - 1;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const long step = y - rect.top();
        const QRgb c = qRgb(channelAt(qRed(top), qRed(bottom), step, steps),
                            channelAt(qGreen(top), qGreen(bottom), step, steps),
                            channelAt(qBlue(top), qBlue(bottom), step, steps));
        for (int x = r.left(); x <= r.right(); ++x) image.setPixel(x, y, c);
    }
}

void triangleGradientFill(QImage& image, const QRect& rect, const GradientRecord& g) {
    if (rect.isEmpty()) return;
    const QRect r = rect.intersected(image.rect());
    const long wSteps = rect.width() - 1;
    const long hSteps = rect.height() - 1;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const long dy = y - rect.top();
        const double v = hSteps > 0 ? double(dy) / double(hSteps) : 0.0;
        for (int x = r.left(); x <= r.right(); ++x) {
            const long dx = x - rect.left();
            const double u = wSteps > 0 ? double(dx) / double(wSteps) : 0.0;
            // Integer test of u + v <= 1, so the diagonal falls the same way every time.
            const bool upperLeft = dx * hSteps + dy * wSteps <= wSteps * hSteps;
            auto mix = [&](int (*ch)(QRgb)) {
                if (upperLeft)
                    return clampChannel(ch(g.topLeft) + (ch(g.topRight) - ch(g.topLeft)) * u +
                                        (ch(g.bottomLeft) - ch(g.topLeft)) * v);
                return clampChannel(ch(g.bottomRight) + (ch(g.bottomLeft) - ch(g.bottomRight)) * (1.0 - u) +
                                    (ch(g.topRight) - ch(g.bottomRight)) * (1.0 - v));
            };
            image.setPixel(x, y, qRgb(mix(qRed), mix(qGreen), mix(qBlue)));
        }
    }
}

void gradientFill(QImage& image, const QRect& rect, const GradientRecord& g) {
    if (g.topLeft == g.topRight && g.bottomLeft == g.bottomRight)
        verticalGradientFill(image, rect, g.topLeft, g.bottomLeft);
    else
        triangleGradientFill(image, rect, g);
}

QRgb darker(QRgb colour, int amount) {
    return qRgb(std::max(qRed(colour) - amount, 0), std::max(qGreen(colour) - amount, 0),
                std::max(qBlue(colour) - amount, 0));
}

}  // namespace vesperon::skin
