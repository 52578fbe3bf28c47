// Writes a FormLayout as the binary record: little-endian, texts in GBK. Used by the build-time
// generator and by tests that need records of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/layout/form_layout.h"

namespace vesperon::layout {

struct EncodeResult {
    std::vector<std::uint8_t> bytes;
    std::string error;  // a text GBK cannot hold, a face name too long, ...
    explicit operator bool() const { return error.empty(); }
};

// Units are written in order with their stored block version (the fields that version holds);
// refused units are not written. The header's unit count and sizes are computed.
EncodeResult encode(const FormLayout& layout);

}  // namespace vesperon::layout
