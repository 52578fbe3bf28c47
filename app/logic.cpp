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
int sliderPosition() { return widgets().progressSlider.intProperty(ui::kSliderPosition); }
int rowCount() { return playlistBox().itemCount(); }

const std::string& currentEntry() {
    static const std::string none;
    const PlayerState& s = state();
    if (s.currentTrack < 1 || s.currentTrack > static_cast<int>(s.playlist.size())) return none;
    return s.playlist[static_cast<std::size_t>(s.currentTrack - 1)];
}

}  // namespace vesperon::app
