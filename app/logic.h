#pragma once
// The player logic's functions: what the controller's operations run, on the main window's
// widgets. The state they act on is the controller's (app/player_controller.h).

#include <ctime>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/port/notice.h"
#include "app/player_controller.h"
#include "ui/form.h"

namespace vesperon::volume {
class SysVolumeWidget;
}
namespace vesperon::ui {
class ListBox;
class Timer;
}
namespace vesperon::desktop {
class DropTarget;
}

namespace vesperon::app {

// The window decodes the engine's notices with the engine's own decoder.
using engine::Notice;
using engine::decodeNotice;

// The controller's parts, as the logic's functions reach them.
inline PlayerController& controller() { return PlayerController::current(); }
inline PlayerState& state() { return controller().state; }
inline LogicServices& services() { return controller().services; }

// The main window's widgets the logic acts on, looked up by name once, when the window starts
// (the way a designer-generated form class holds its widgets); a missing one stops the program.
struct MainWidgets {
    ui::Widget& playButton;      // 按钮_播放
    ui::Widget& nextButton;      // 按钮_下一曲
    ui::Widget& expandButton;    // 按钮_展开
    ui::Widget& feedbackLabel;   // 标签1: the engine's notices and the hot keys arrive here
    ui::ListBox& playlist;       // 列表框1
    volume::SysVolumeWidget& sysVolume;  // 系统音量1
    ui::Widget& progressSlider;  // 滑块条_播放进度
    ui::Widget& volumeBar;       // 纵向滚动条_音量
    ui::Widget& muteBox;         // 选择框_静音
    ui::Widget& randomOrderBox;  // 选择框_随机播放
    ui::Widget& loopTrackBox;    // 选择框_单曲循环
    ui::Widget& scheduleSwitch;  // 选择框_开始计划
    ui::Widget& hourBox;         // 编辑框_时: the clock's boxes
    ui::Widget& minuteBox;       // 编辑框_分
    ui::Widget& secondBox;       // 编辑框_秒
    ui::Widget& firstPeriodBox;  // 编辑框_从时1
    ui::Widget& clearPeriodsButton;   // 按钮_清空时间段
    desktop::DropTarget* dropTarget;  // 拖放对象1; null where it could not be made
    ui::Timer* clock;                 // 时钟1; likewise
};
MainWidgets resolveMainWidgets(const ui::Form& form);

// The window the routines act on: set by the start-up, cleared when it is destroyed.
inline ui::Form& mainForm() { return *controller().form(); }
inline bool hasMainForm() { return PlayerController::exists() && controller().form() != nullptr; }
// The widgets of the window set last (only while there is one).
inline const MainWidgets& widgets() { return controller().widgets(); }

// A widget named at run time (the schedule's period boxes, whose names the player state keeps);
// a missing one stops the program.
ui::Widget& widget(const std::string& name);
ui::ListBox& playlistBox();
volume::SysVolumeWidget& sysVolume();

// Shared helpers.
void ShowWindowCaption(const std::string& prefix, const std::string& path);
void setButtonCaption(ui::Widget& button, const std::string& caption);
void setSliderPosition(int position);
int sliderPosition();
int rowCount();
// The playlist's entry of the current track ("" for none).
const std::string& currentEntry();

// Playlist.
void RebuildPlaylistView();
void AddFilesByDialog();
// Where the open dialog starts: the folder last used while it is there, else the XDG music
// folder, else home (never the program's own folder).
std::string DialogStartFolder(const std::string& lastUsed);
void ChooseNextTrack();
void RemoveSelectedEntry();
// Asks first when the list has rows.
void ResetPlaylistAsked();
// Appends these paths to the playlist and selects the last row, as a drop does.
void AppendTracks(const std::vector<std::string>& paths);

// Transport: these run at once; the controller's operations queue them behind a fade.
void PlayNext();
void PlayPrevious();
void PlayPauseToggle();
void StopPlayback();
void PlayRow(int row);  // 0-based, as the list box counts
// Restarts the playing track at percent of it, or at a time from its beginning when
// atMicroseconds is positive (percent is then what the slider shows).
void SeekTo(int percent, std::int64_t atMicroseconds = 0);
void TrackEnded();
void dispatchNotice(const Notice& notice);

// Volume: reads the mixer into the bar and the mute box (and tells the fader what it read).
void SyncVolumeWidgets();
// A volume the user sets (the bar, MPRIS): written, and the one the fades come back to.
void SetUserVolume(int level);

// Schedule.
void CheckSchedule();
// The switch's click: toggles the schedule, locks or unlocks the boxes, sets the caption.
void SwitchSchedule();
// What someone did to the music (a stop or pause, a play or resume), kept for a restart inside a
// period; the player's own moves and the schedule's are not theirs.
void NoteTransport(LogEvent event, LogBy by);
// Writes period `index` of the model into its six boxes.
void ShowPeriod(int index);
// The boxes follow the model from here on, and the model follows what is typed.
void WatchPeriodBoxes();
// A right-click on a period's row opens its days menu (locked while the schedule runs), whose
// choices and rest days go into the model.
void AttachPeriodDaysMenus();

// Quitting: closing the window becomes the controller's quit; the program also
// quits so on SIGTERM, SIGINT, SIGHUP and the session's log-out. catchQuitSignals() comes first
// in main (no Qt needed): from then on those signals are caught and held, so that none ends the
// start-up unhandled; installSignalQuit(), once the application exists, turns them into the quit.
void catchQuitSignals();
void installSignalQuit();
void installCloseQuit(ui::Form& form);
inline void RequestQuit(LogBy by = LogBy::None) { controller().requestQuit(by); }
inline bool quitRequested() { return controller().quitting(); }

}  // namespace vesperon::app
