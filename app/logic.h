#pragma once
// What the player logic's routines share: the one PlayerState, the main window they act on,
// the services outside the window (replaceable in tests), and the routines they call by name.

#include <ctime>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/player_state.h"
#include "app/schedule_seconds.h"
#include "desktop/file_dialog.h"
#include "ui/form.h"

namespace vesperon::volume {
class SysVolumeWidget;
}
namespace vesperon::ui {
class ListBox;
}

namespace vesperon::app {

// Everything the logic asks of the desktop and the clock; defaults are the real ones.
struct LogicServices {
    std::function<std::vector<std::string>(const desktop::OpenFileDialogArgs&)> openFileDialog;
    std::function<int(const std::string& text, std::int64_t flags, const std::string& caption)> messageBox;
    std::function<std::tm()> localTime;
};
LogicServices& services();

PlayerState& state();
// The seconds of the day the schedule has checked.
ScheduleSeconds& scheduleSeconds();
// A fresh PlayerState and no window (tests; the program has one of each).
void resetPlayerLogic();

// The window the routines act on: set by the start-up, cleared when it is destroyed.
ui::Form& mainForm();
bool hasMainForm();
void setMainForm(ui::Form* form);

// Widgets of the main window by name.
ui::Widget& widget(const char* name);
ui::ListBox& playlistBox();
volume::SysVolumeWidget& sysVolume();

// Shared helpers.
void ShowWindowCaption(const std::string& prefix, const std::string& path);
void setButtonCaption(const char* name, const std::string& caption);
void setSliderPosition(int position);
int sliderPosition();
int rowCount();

// Playlist.
void RebuildPlaylistView();
void AddFilesByDialog();
void ChooseNextTrack();
void RemoveSelectedEntry();
// Appends these paths to the playlist and selects the last row, as a drop does.
void AppendTracks(const std::vector<std::string>& paths);

// Transport.
void PlayNext();
void PlayPrevious();
void PlayPauseToggle();
void StopPlayback();
void PlaySelected();
void SeekToSlider();
void FeedbackDispatch(std::int64_t value);

// Volume.
void SyncVolumeWidgets();
void FadeOut();
void FadeIn();
// Waits at least n ms of the 1/64 s tick count while the window keeps handling its events.
void WaitProcessingEvents(int ms);

// Schedule.
void CheckSchedule();

}  // namespace vesperon::app
