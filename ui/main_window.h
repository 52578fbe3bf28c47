#pragma once
// The program's one window, "Vesperon", built from the layout record embedded in the program.

#include <memory>
#include <string>

#include "ui/form.h"
#include "ui/result.h"

namespace vesperon::ui {

// Loads the main window from the embedded record: creates it and its widgets, raises events 0, 3
// and 4, then shows it (unless options say otherwise); fails when the record does not load.
Result<std::unique_ptr<Form>> loadMainWindow(RoutineDispatcher dispatcher,
                                             const layout::RoutineCatalog& routines, LoadOptions options);

// Heights of the folded and unfolded window (outer pixels).
inline constexpr int kMainWindowCollapsedHeight = 263;
inline constexpr int kMainWindowExpandedHeight = 500;

}  // namespace vesperon::ui
