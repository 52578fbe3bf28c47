#pragma once
// Reading a period box: full-width digits, signs and points become their ASCII forms, then the
// longest leading decimal number is read as the C library's atof reads it.

#include <string_view>

namespace vesperon::app {

double ReadBoxValue(std::string_view text);

// A box value equals a clock value when they differ by at most 0.0000001.
inline bool BoxEquals(double box, int clock) {
    double d = box - clock;
    return d <= 0.0000001 && d >= -0.0000001;
}

}  // namespace vesperon::app
