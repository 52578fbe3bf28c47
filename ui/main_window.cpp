#include "ui/main_window.h"

#include "ui/layout/form_layout.h"

namespace vesperon::ui {

Result<std::unique_ptr<Form>> loadMainWindow(RoutineDispatcher dispatcher,
                                             const layout::RoutineCatalog& routines, LoadOptions options) {
    layout::ParseResult parsed = layout::loadMainWindow(routines);
    if (!parsed)
        return Result<std::unique_ptr<Form>>::failed("the built-in window layout does not load: " +
                                                     parsed.error);
    if (parsed.value.units.empty() || parsed.value.units.front().kind != layout::Kind::Window)
        return Result<std::unique_ptr<Form>>::failed("the built-in window layout has no window");
    return Form::load(parsed.value, std::move(dispatcher), options);
}

}  // namespace vesperon::ui
