#include <cstddef>
#include <cstdint>

#include "ui/layout/form_layout.h"

// Written by the layout generator from resources/main_window.layout.
namespace vesperon::layout::generated {
extern const std::uint8_t kMainWindowRecord[];
extern const std::size_t kMainWindowRecordSize;
}  // namespace vesperon::layout::generated

namespace vesperon::layout {

std::span<const std::uint8_t> mainWindowRecord() {
    return {generated::kMainWindowRecord, generated::kMainWindowRecordSize};
}

ParseResult loadMainWindow(const RoutineCatalog& routines) {
    return parse(mainWindowRecord(), routines);
}

}  // namespace vesperon::layout
