#include "desktop/drop_target.h"

namespace vesperon::desktop {

DropTarget::DropTarget(ui::Form& form, const layout::Unit& unit) : ui::NonVisualWidget(form, unit) {
    if (const auto* p = unit.as<layout::DropTargetProps>()) {
        accept_[kAcceptText] = p->acceptText;
        accept_[kAcceptHtml] = p->acceptHtml;
        accept_[kAcceptUrl] = p->acceptUrl;
        accept_[kAcceptFiles] = p->acceptFiles;
    }
    copySwitches();
    sink_.setRaise([this](int event, const std::string& text) { raiseEvent(event, {ui::EventArg(text)}); });
}

void DropTarget::copySwitches() {
    sink_.switches = {accept_[kAcceptText] != 0, accept_[kAcceptHtml] != 0, accept_[kAcceptUrl] != 0,
                      accept_[kAcceptFiles] != 0};
}

std::int32_t* DropTarget::switchValue(int number) {
    return number >= kAcceptText && number <= kAcceptFiles ? &accept_[number] : nullptr;
}

ui::Value DropTarget::property(int number, int part) {
    if (std::int32_t* v = switchValue(number)) return *v;
    return NonVisualWidget::property(number, part);
}

bool DropTarget::setProperty(int number, const ui::Value& value, int part) {
    if (std::int32_t* v = switchValue(number)) {
        *v = ui::intOf(value);
        copySwitches();
        return true;
    }
    return NonVisualWidget::setProperty(number, value, part);
}

bool DropTarget::RegisterDropWindow(ui::WindowHandle window) {
    if (registered_ != 0 || attempted_) return false;
    attempted_ = true;
    registered_ = window;
    return sink_.attach(ui::widgetOfHandle(window));
}

void DropTarget::liveDestroying() {
    sink_.detach();
}

void registerDropTargetType() {
    ui::registerWidgetType(layout::codeOf(layout::Kind::DropTarget),
                           [](ui::Form& form, const layout::Unit& unit) -> std::unique_ptr<ui::Widget> {
                               return std::make_unique<DropTarget>(form, unit);
                           });
}

}  // namespace vesperon::desktop
