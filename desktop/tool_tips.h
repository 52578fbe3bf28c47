#pragma once
// Tool tips: a text shown when the mouse rests over a window. All tips share one style, fixed by
// the first call; line breaks in the text start new lines and long lines are not wrapped.

#include <string>

#include "ui/handle_registry.h"

namespace vesperon::desktop {

struct ToolTipControl {
    bool created = false;
    bool balloon = false;  // fixed by the first call
    int maxWidth = -1;
};
const ToolTipControl& toolTipControl();

// Window handle 0: nothing happens, result 0. Otherwise the tip is set and the result is the
// previous maximum tip width (of no use to callers).
int AddToolTip(ui::WindowHandle window, const std::string& text, bool balloon, bool centred);

}  // namespace vesperon::desktop
