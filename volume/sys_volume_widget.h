#pragma once
// The SysVolume widget of a form (library 2, type 1): a hidden window and the mixer binding
// behind the six commands; mixer changes raise events 0 (VolumeChanged) and 1 (MuteChanged).

#include <QWidget>  // ui/widget.h needs the complete type

#include "ui/widget_types.h"
#include "volume/sys_volume.h"

namespace vesperon::volume {

class SysVolumeWidget : public ui::NonVisualWidget {
    Q_OBJECT
public:
    SysVolumeWidget(ui::Form& form, const layout::Unit& unit);

    int SelectLine(int componentType) { return mixer_.SelectLine(componentType); }
    int GetMaxVolume() const { return mixer_.GetMaxVolume(); }
    int GetVolume(int& left, int& right) { return mixer_.GetVolume(left, right); }
    int SetVolume(int left, int right) { return mixer_.SetVolume(left, right); }
    int GetMute() { return mixer_.GetMute(); }
    int SetMute(int value) { return mixer_.SetMute(value); }

    SysVolume& mixer() { return mixer_; }

protected:
    void liveDestroying() override;

private:
    SysVolume mixer_;
};

// Makes forms build SysVolume units as SysVolumeWidget. Call before loading a window.
void registerSysVolumeType();

}  // namespace vesperon::volume
