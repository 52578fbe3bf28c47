#pragma once
// Which class builds a widget of a given (library, type). The built-in types of library 1 are
// registered by the framework; other components register theirs (the system-volume widget,
// library 2 type 1; the drop target, library 5 type 1) before the window is loaded. A type with
// nothing registered gets a plain hidden non-visual widget, so the layout still loads whole.

#include <functional>
#include <memory>

#include "ui/layout/form_layout.h"
#include "ui/widget.h"

namespace vesperon::ui {

using WidgetFactory = std::function<std::unique_ptr<Widget>(Form& form, const layout::Unit& unit)>;

// Replaces any earlier registration of the same code. UI thread, before loading a window.
void registerWidgetType(layout::TypeCode code, WidgetFactory factory);
// The registered factory, or null.
WidgetFactory widgetFactory(layout::TypeCode code);
// Builds a unit: the registered factory, or a NonVisualWidget for a type nobody registered.
std::unique_ptr<Widget> makeWidget(Form& form, const layout::Unit& unit);

// A widget without anything to show: it owns a hidden window (so it has a handle and the common
// properties) and keeps it hidden whatever its visible property says.
class NonVisualWidget : public Widget {
    Q_OBJECT
public:
    NonVisualWidget(Form& form, const layout::Unit& unit);
    bool setProperty(int number, const Value& value, int part = -1) override;

protected:
    QWidget* createLive(QWidget* parent) override;
    bool showsLive() const override { return false; }
    bool setTypeProperty(int number, const Value& value) override;
};

}  // namespace vesperon::ui
