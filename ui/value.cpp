#include "ui/value.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <cstdlib>
#include <cstring>

namespace vesperon::ui {

std::int32_t intOf(const Value& v) {
    if (auto* i = std::get_if<std::int32_t>(&v)) return *i;
    if (auto* s = std::get_if<std::string>(&v)) {
        long long n = std::strtoll(s->c_str(), nullptr, 10);
        return clampInt(n, INT32_MIN, INT32_MAX);
    }
    return 0;
}

std::string textOf(const Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* i = std::get_if<std::int32_t>(&v)) return std::to_string(*i);
    return {};
}

Bytes bytesOf(const Value& v) {
    if (auto* b = std::get_if<Bytes>(&v)) return *b;
    return {};
}


Bytes encodeFont(const layout::Font& f) {
    Bytes b(layout::kFontRecordSize, 0);
    layout::putFontFields(f, b.data());
    // The face name is kept as UTF-8 here, cut to the record's 31 bytes plus NUL.
    std::size_t n = std::min<std::size_t>(f.faceName.size(), layout::kFontFaceSize - 1);
    std::memcpy(b.data() + layout::kFontFaceOffset, f.faceName.data(), n);
    return b;
}

std::optional<layout::Font> decodeFont(const Bytes& b) {
    if (b.size() != layout::kFontRecordSize) return std::nullopt;
    layout::Font f = layout::fontFields(b.data());
    const char* name = reinterpret_cast<const char*>(b.data() + layout::kFontFaceOffset);
    f.faceName.assign(name, strnlen(name, layout::kFontFaceSize));
    return f;
}

QFont toQFont(const std::optional<layout::Font>& f, const QFont& systemFont) {
    if (!f) return systemFont;
    QFont q = systemFont;
    if (!f->faceName.empty()) {
        // Faces from the other platform ("宋体") fall back to what fontconfig offers for them,
        // with the system font's family behind it for CJK text.
        q.setFamilies({QString::fromUtf8(f->faceName), systemFont.family()});
    }
    if (f->pixelSize() > 0) q.setPixelSize(f->pixelSize());
    q.setBold(f->bold());
    q.setItalic(f->italic != 0);
    q.setUnderline(f->underline != 0);
    q.setStrikeOut(f->strikeOut != 0);
    return q;
}

std::int32_t fontPart(const layout::Font& f, int part) {
    switch (part) {
        case 0:
            return f.escapement;
        case 1:
            return f.bold() ? 1 : 0;
        case 2:
            return f.italic ? 1 : 0;
        case 3:
            return f.underline ? 1 : 0;
        case 4:
            return f.strikeOut ? 1 : 0;
        case 5:
            return f.pixelSize();
        default:
            return -1;
    }
}

std::string fontFaceName(const layout::Font& f) {
    return f.faceName;
}

bool setFontPart(layout::Font& f, int part, const Value& v) {
    const std::int32_t n = intOf(v);
    switch (part) {
        case 0:
            f.escapement = f.orientation = n % 3600;
            return true;
        case 1:
            f.weight = n ? 700 : 400;
            return true;
        case 2:
            f.italic = n ? 1 : 0;
            return true;
        case 3:
            f.underline = n ? 1 : 0;
            return true;
        case 4:
            f.strikeOut = n ? 1 : 0;
            return true;
        case 5:
            f.height = -std::abs(n);
            return true;
        case 6: {
            std::string face = textOf(v);
            f.faceName = (face.empty() || face.size() > 31) ? std::string() : face;
            return true;
        }
        default:
            return false;
    }
}

QColor toQColor(std::uint32_t colour, const QPalette& palette) {
    if (colour == layout::kButtonFace) return palette.color(QPalette::Button);
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

}  // namespace vesperon::ui
