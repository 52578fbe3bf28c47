#include "app/schedule_box.h"

#include <clocale>
#include <cstdlib>
#include <string>

namespace vesperon::app {

namespace {

// U+FF0B '+', U+FF0D '-', U+FF0E '.', U+FF10..U+FF19 digits: UTF-8 EF BC 8B..99.
std::string ToHalfWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBC) {
            unsigned char t = static_cast<unsigned char>(text[i + 2]);
            if (t >= 0x90 && t <= 0x99) {
                out.push_back(static_cast<char>('0' + (t - 0x90)));
                i += 2;
                continue;
            }
            if (t == 0x8B || t == 0x8D || t == 0x8E) {
                out.push_back(t == 0x8B ? '+' : t == 0x8D ? '-' : '.');
                i += 2;
                continue;
            }
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace

double ReadBoxValue(std::string_view text) {
    // strtod in the "C" locale is atof; the logic never changes the locale, Qt may.
    std::string ascii = ToHalfWidth(text);
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    double v = c ? strtod_l(ascii.c_str(), nullptr, c) : std::strtod(ascii.c_str(), nullptr);
    if (c) freelocale(c);
    return v;
}

}  // namespace vesperon::app
