#pragma once
// For code outside the framework that follows what the user types: a call after every change of
// an edit box's content, typed or written (the box's content-changed notification).

#include <functional>

namespace vesperon::ui {

class Widget;

// Nothing happens for a widget that is not an edit box. The call lives as long as the box.
void watchContent(Widget& box, std::function<void()> changed);

}  // namespace vesperon::ui
