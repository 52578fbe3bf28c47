#include "ui/widget_types.h"

#include <QWidget>
#include <map>

#include "ui/button.h"
#include "ui/check_box.h"
#include "ui/edit_box.h"
#include "ui/group_box.h"
#include "ui/label.h"
#include "ui/list_box.h"
#include "ui/scroll_bar.h"
#include "ui/slider_bar.h"
#include "ui/timer.h"

namespace vesperon::ui {
namespace {

std::uint32_t keyOf(layout::TypeCode c) {
    return std::uint32_t(c.library) << 16 | c.type;
}

template <class T>
WidgetFactory factoryOf() {
    return [](Form& form, const layout::Unit& unit) -> std::unique_ptr<Widget> {
        return std::make_unique<T>(form, unit);
    };
}

std::map<std::uint32_t, WidgetFactory>& factories() {
    static std::map<std::uint32_t, WidgetFactory> f = [] {
        std::map<std::uint32_t, WidgetFactory> m;
        auto add = [&](std::uint16_t type, WidgetFactory w) { m[keyOf({type, 1})] = std::move(w); };
        add(5, factoryOf<EditBox>());
        add(9, factoryOf<GroupBox>());
        add(10, factoryOf<Label>());
        add(11, factoryOf<Button>());
        add(12, factoryOf<CheckBox>());
        add(15, factoryOf<ListBox>());
        add(18, factoryOf<VScrollBar>());
        add(20, factoryOf<SliderBar>());
        add(32, factoryOf<Timer>());
        return m;
    }();
    return f;
}

}  // namespace

void registerWidgetType(layout::TypeCode code, WidgetFactory factory) {
    factories()[keyOf(code)] = std::move(factory);
}

WidgetFactory widgetFactory(layout::TypeCode code) {
    auto it = factories().find(keyOf(code));
    return it == factories().end() ? WidgetFactory{} : it->second;
}

std::unique_ptr<Widget> makeWidget(Form& form, const layout::Unit& unit) {
    if (auto f = widgetFactory(layout::codeOf(unit.kind))) return f(form, unit);
    return std::make_unique<NonVisualWidget>(form, unit);
}

NonVisualWidget::NonVisualWidget(Form& form, const layout::Unit& unit) : Widget(form, unit) {}

QWidget* NonVisualWidget::createLive(QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setFocusPolicy(Qt::NoFocus);
    w->setAttribute(Qt::WA_TransparentForMouseEvents);
    return w;
}

bool NonVisualWidget::setProperty(int number, const Value& value, int part) {
    if (number != kVisible) return Widget::setProperty(number, value, part);
    storedVisible_ = intOf(value) != 0;  // remembered, never shown
    return true;
}

bool NonVisualWidget::setTypeProperty(int, const Value&) {
    return false;
}

}  // namespace vesperon::ui
