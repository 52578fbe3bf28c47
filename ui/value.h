#pragma once
// The values that widget properties and event arguments carry.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ui/layout/form_layout.h"

class QColor;
class QFont;
class QPalette;

namespace vesperon::ui {

using Bytes = std::vector<std::uint8_t>;

// Integers, booleans (0/1) and colours (0x00BBGGRR) are int32; texts are UTF-8; fonts (the 60-byte
// logical-font record), pictures and mouse pointers are bytes.
using Value = std::variant<std::int32_t, std::string, Bytes>;

// An integer value; a text reads as its leading decimal number, bytes as 0.
std::int32_t intOf(const Value& v);
// A text value; an integer reads as its decimal form.
std::string textOf(const Value& v);
Bytes bytesOf(const Value& v);

// Event arguments: the plain form carries int32; the typed form also 64-bit integers, doubles and
// texts (the drop target's file list).
using EventArg = std::variant<std::int32_t, std::int64_t, double, std::string>;

struct EventResult {
    bool called = false;                // a routine was bound and ran
    std::optional<std::int64_t> value;  // what it returned, if anything
};

// Font records.
Bytes encodeFont(const layout::Font& f);
std::optional<layout::Font> decodeFont(const Bytes& b);  // nullopt unless exactly 60 bytes
QFont toQFont(const std::optional<layout::Font>& f, const QFont& systemFont);
// One attribute of a font record by part selector (0 angle .. 6 face name); -1 = whole value.
std::int32_t fontPart(const layout::Font& f, int part);
std::string fontFaceName(const layout::Font& f);
// Writes one attribute; false for an unknown part.
bool setFontPart(layout::Font& f, int part, const Value& v);

// 0x00BBGGRR, or kButtonFace for the palette's button colour.
QColor toQColor(std::uint32_t colour, const QPalette& palette);

inline std::int32_t clampInt(std::int64_t v, std::int64_t lo, std::int64_t hi) {
    return static_cast<std::int32_t>(v < lo ? lo : v > hi ? hi : v);
}

}  // namespace vesperon::ui
