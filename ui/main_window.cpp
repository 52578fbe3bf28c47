#include "ui/main_window.h"

#include "ui/layout/form_layout.h"

namespace vesperon::ui {

std::unique_ptr<Form> loadMainWindow(RoutineDispatcher dispatcher, const layout::RoutineCatalog& routines,
                                     LoadOptions options, std::string* error) {
    layout::ParseResult parsed = layout::loadMainWindow(routines);
    if (!parsed) {
        if (error) *error = "the built-in window layout does not load: " + parsed.error;
        return nullptr;
    }
    if (parsed.layout.units.empty() || parsed.layout.units.front().kind != layout::Kind::Window) {
        if (error) *error = "the built-in window layout has no window";
        return nullptr;
    }
    return Form::load(parsed.layout, std::move(dispatcher), options);
}

}  // namespace vesperon::ui
