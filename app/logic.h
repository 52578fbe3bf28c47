#pragma once
// What the player logic's routines share: the one PlayerState, the main window they act on,
// the services outside the window (replaceable in tests), and the routines they call by name.

#include <ctime>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/notice.h"
#include "app/player_state.h"
#include "app/schedule_seconds.h"
#include "desktop/file_dialog.h"
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

// Everything the logic asks of the desktop and the clock; defaults are the real ones.
struct LogicServices {
    std::function<std::vector<std::string>(const desktop::OpenFileDialogArgs&)> openFileDialog;
    std::function<int(const std::string& text, std::int64_t flags, const std::string& caption)> messageBox;
    std::function<std::tm()> localTime;
    // Ends the event loop once the window is closed for a quit (the program's exit status 0).
    std::function<void()> endProgram;
};
LogicServices& services();

PlayerState& state();
// The seconds of the day the schedule has checked.
ScheduleSeconds& scheduleSeconds();
// A fresh PlayerState and no window (tests; the program has one of each).
void resetPlayerLogic();

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
ui::Form& mainForm();
bool hasMainForm();
void setMainForm(ui::Form* form);
// The widgets of the window set last (only while there is one).
const MainWidgets& widgets();

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
void PlayRow(int row);  // 0-based, as the list box counts
void SeekToSlider();
void SeekTo(int percent);
void dispatchNotice(const Notice& notice);

// Volume.
void SyncVolumeWidgets();
void FadeOut();
void FadeIn();
// Waits at least n ms of the 1/64 s tick count while the window keeps handling its events.
void WaitProcessingEvents(int ms);
// After a pause: waits (at most a second, handling events) until the sound the device still
// held has been heard, so that the volume put back after the fade-out is not heard on it.
void WaitUntilPauseHeard();

// Schedule.
void CheckSchedule();
// The schedule's actions at a period's start and end, gated like the transport's commands.
void ScheduleStart();
void ScheduleEnd();

// One fade at a time. A fade, and the command it belongs to, runs inside a FadeScope; a command
// that arrives meanwhile (it comes in through the fade's event processing) waits and runs once
// the outermost scope closes, in the order the commands came. Two toggles waiting in a row
// cancel each other out: the end state is the one asked for last.
class FadeScope {
public:
    FadeScope();
    ~FadeScope();
    FadeScope(const FadeScope&) = delete;
    FadeScope& operator=(const FadeScope&) = delete;
};
bool fadeRunning();
enum class CommandKind { Toggle, Other };
// Runs the command now, or after the running fade; while quitting it is dropped.
void whenIdle(std::function<void()> command, CommandKind kind = CommandKind::Other);

// Quitting. Every way of ending (window close, SIGTERM, SIGINT, SIGHUP, log-out) asks here: a
// running fade stops, open dialogs close, and once the routine that ran them has returned,
// playback stops, the saved volume is put back and the window closes (which releases the hot
// keys through the shut-down routine).
void RequestQuit();
bool quitRequested();
// Routines are counted so that a quit never pulls the window away under one that runs.
void enterRoutine();
void leaveRoutine();
// Takes the window's close requests through RequestQuit while a routine runs, and SIGTERM,
// SIGINT and SIGHUP always (the program; tests call it for the window only with withSignals = false).
void installQuitHandling(ui::Form& form, bool withSignals = true);
// The switch's click: toggles scheduleOn, locks or unlocks the boxes, sets the caption.
void SwitchSchedule();

}  // namespace vesperon::app
