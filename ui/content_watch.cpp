#include "ui/content_watch.h"

#include "ui/edit_box.h"

namespace vesperon::ui {

void watchContent(Widget& box, std::function<void()> changed) {
    if (auto* edit = dynamic_cast<EditBox*>(&box))
        QObject::connect(edit, &EditBox::contentChanged, edit, std::move(changed));
}

}  // namespace vesperon::ui
