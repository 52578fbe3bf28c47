// The readable description of a form (resources/main_window.layout) read into the same structs as
// the binary record. One unit per paragraph:
//
//   header 8 0x52010001 0 0 0 0 0
//   Window "" 0x52010001
//     at 50 50 380 500
//     state visible
//     on 0 StartUp
//     block 6
//     caption "Vesperon"
//   Button 按钮_播放 0x16010004 in 分组框1
//     at 8 9 80 25
//     pointer hand            (default | arrow | hand | a number | custom "HEX")
//     state visible focusable (any of visible disabled focusable, or none)
//     tab 0
//     block 1                 (a block version, or empty for the type's defaults)
//     caption "播放"          (type fields by name, after the block line; unset ones keep defaults)
//
// Values: integers (decimal or 0x hex), "quoted text" (\" \\ \n escapes), binary as "HEX",
// font none | font "face" [height N] [weight N] [charSet N] ..., lists as several values.
// A group box's children are the units that name it with `in`, in the order they appear.
#pragma once

#include <string_view>

#include "ui/layout/form_layout.h"

namespace vesperon::layout {

// Errors name the line; `on` lines name routines of the catalog. The result is checked like a
// parsed record only by encoding it.
ParseResult readDescription(std::string_view text, const RoutineCatalog& routines);

}  // namespace vesperon::layout
