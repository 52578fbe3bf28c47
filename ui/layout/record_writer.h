// Writes a FormLayout as the binary record: little-endian, texts in GBK. Used by the build-time
// generator and by tests that need records of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/layout/form_layout.h"

namespace vesperon::layout {

// On failure the error names a text GBK cannot hold, a face name too long, ...
using EncodeResult = Result<std::vector<std::uint8_t>>;

// Units are written in order with their stored block version (the fields that version holds);
// refused units are not written. The header's unit count and sizes are computed.
EncodeResult encode(const FormLayout& layout);

}  // namespace vesperon::layout
