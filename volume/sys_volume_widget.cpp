#include "volume/sys_volume_widget.h"

namespace vesperon::volume {

SysVolumeWidget::SysVolumeWidget(ui::Form& form, const layout::Unit& unit) : ui::NonVisualWidget(form, unit) {
    mixer_.setEventSink([this](int event) {
        // Mixer news for a widget whose window is gone are dropped.
        if (live()) raiseEvent(event);
    });
}

void SysVolumeWidget::liveDestroying() {
    mixer_.closeAll();
}

void registerSysVolumeType() {
    ui::registerWidgetType(layout::codeOf(layout::Kind::SysVolume),
                           [](ui::Form& form, const layout::Unit& unit) -> std::unique_ptr<ui::Widget> {
                               return std::make_unique<SysVolumeWidget>(form, unit);
                           });
}

}  // namespace vesperon::volume
