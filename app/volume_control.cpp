// Volume and mute: the bar and the box drive the system mixer and follow it every second; what
// they read and set is also the volume the fades come back to (app/fader.h).

#include "app/logic.h"
#include "app/routines.h"
#include "ui/check_box.h"
#include "ui/scroll_bar.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

ui::Widget& volumeBar() { return widgets().volumeBar; }

}  // namespace

void SyncVolumeWidgets() {
    int v = 0;
    const bool live = sysVolume().GetVolume(v, v) == 1 && v >= 0;
    // Another program's change shows here first; a fade must come back to it.
    controller().fader().observe(live ? std::optional<int>(v) : std::nullopt);
    const int max = sysVolume().GetMaxVolume();
    // A mixer without a range cannot place the bar: leave it where it is.
    if (max != 0) {
        const double position = 100.0 - (static_cast<double>(v) * 100.0 / max);
        volumeBar().setProperty(ui::kScrollPosition, static_cast<std::int32_t>(position));
    }
    widgets().muteBox.setProperty(ui::kCheckChecked, sysVolume().GetMute() == 1 ? 1 : 0);
}

void SetUserVolume(int level) {
    // A volume the mixer did not take (it is away) is no volume to come back to.
    if (sysVolume().SetVolume(level, level) == 1) controller().fader().setTarget(level);
}

RoutineResult VolumeBarChanged(const ui::EventCall&) {
    const double p = volumeBar().intProperty(ui::kScrollPosition);
    const double max = sysVolume().GetMaxVolume();
    SetUserVolume(static_cast<int>((100.0 - p) * max / 100.0));
    return std::nullopt;
}

RoutineResult MuteClicked(const ui::EventCall&) {
    sysVolume().SetMute(widgets().muteBox.intProperty(ui::kCheckChecked) != 0 ? 1 : 0);
    return std::nullopt;
}

}  // namespace vesperon::app
