#pragma once
// The DropTarget widget of a form (library 5, type 1): registered once on a window, it turns
// drops on that window into events 0 TextDropped, 1 HtmlDropped, 2 UrlDropped, 3 FilesDropped,
// each with one text. Its properties 0-3 are the accept switches (text, HTML, URL, files).

#include "desktop/drop_sink.h"
#include "ui/widget_types.h"

namespace vesperon::desktop {

class DropTarget : public ui::NonVisualWidget {
    Q_OBJECT
public:
    enum Property { kAcceptText = 0, kAcceptHtml = 1, kAcceptUrl = 2, kAcceptFiles = 3 };

    DropTarget(ui::Form& form, const layout::Unit& unit);

    // Once per widget: a second call returns false, even after a failed first one.
    bool RegisterDropWindow(ui::WindowHandle window);

    ui::Value property(int number, int part = -1) override;
    bool setProperty(int number, const ui::Value& value, int part = -1) override;

    DropSink& sink() { return sink_; }
    ui::WindowHandle registeredWindow() const { return registered_; }

protected:
    void liveDestroying() override;

private:
    std::int32_t* switchValue(int number);
    void copySwitches();

    ui::WindowHandle registered_ = 0;
    bool attempted_ = false;  // a handle of 0 still counts as the one registration
    std::int32_t accept_[4] = {0, 0, 0, 0};
    DropSink sink_;
};

// Makes forms build DropTarget units as DropTarget. Call before loading a window.
void registerDropTargetType();

}  // namespace vesperon::desktop
