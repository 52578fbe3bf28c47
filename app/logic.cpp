#include "app/logic.h"

#include "ui/button.h"
#include "ui/list_box.h"
#include "ui/slider_bar.h"
#include "ui/window_widget.h"
#include "volume/sys_volume_widget.h"

#include "app/playlist_text.h"

namespace vesperon::app {

ui::ListBox& playlistBox() { return widgets().playlist; }
volume::SysVolumeWidget& sysVolume() { return widgets().sysVolume; }

void ShowWindowCaption(const std::string& prefix, const std::string& path) {
    mainForm().window().setProperty(ui::kWindowCaption, prefix + FileNameOf(path));
}

void setButtonCaption(ui::Widget& button, const std::string& caption) {
    button.setProperty(ui::kButtonCaption, caption);
}

void setSliderPosition(int position) { widgets().progressSlider.setProperty(ui::kSliderPosition, position); }
// The bar's leftmost place is the track's start. The layout's bar begins at 1 and shows 1 at
// launch: read as 1 %, the first play skipped that much of the track (and its Position counted
// it), while every play after a stop, which sets 0, began at the start.
int sliderPosition() {
    ui::Widget& bar = widgets().progressSlider;
    const int position = bar.intProperty(ui::kSliderPosition);
    return position <= bar.intProperty(ui::kSliderMinimum) ? 0 : position;
}
int rowCount() { return playlistBox().itemCount(); }

const std::string& currentEntry() {
    static const std::string none;
    const PlayerState& s = state();
    if (s.currentTrack < 1 || s.currentTrack > static_cast<int>(s.playlist.size())) return none;
    return s.playlist[static_cast<std::size_t>(s.currentTrack - 1)];
}

}  // namespace vesperon::app
