#pragma once
// The numbers and names of the player's routines, as the layout's event bindings name them.
// Plain C++ without Qt: the layout generator reads the layout description with this catalog too.

#include <array>
#include <cstdint>
#include <string_view>

#include "ui/layout/form_layout.h"

namespace vesperon::app {

// Unscoped inside their own namespace so that a routine passes to the window framework as the
// plain number the framework stores (routine::PlayNext, not a cast).
namespace routine {
enum Id : layout::RoutineId {
    StartUp = 1,        // window created
    ShutDown,           // window being destroyed
    ExpandCollapse,     // 按钮_展开 clicked
    PlayPauseToggle,    // 按钮_播放 clicked
    PlayNext,           // 按钮_下一曲 clicked
    PlayPrevious,       // 按钮_上一曲 clicked
    StopPlayback,       // 按钮_停止 clicked
    SeekToSlider,       // 滑块条_播放进度 moved by the user
    FeedbackDispatch,   // 标签1 feedback (progress, end of file, hot keys)
    PlaySelected,       // 列表框1 item double-clicked
    PlaylistMouseDown,  // 列表框1 left button pressed
    PlaylistKeyDown,    // 列表框1 key pressed
    RandomOrderSwitch,  // 选择框_随机播放 clicked
    LoopTrackSwitch,    // 选择框_单曲循环 clicked
    AddFilesByDialog,   // 按钮_添加列表 clicked
    RemoveSelected,     // 按钮_删除列表 clicked
    ResetPlaylist,      // 按钮_重置列表 clicked
    VolumeBarChanged,   // 纵向滚动条_音量 moved by the user
    MuteClicked,        // 选择框_静音 clicked
    FilesDropped,       // 拖放对象1 FilesDropped
    ScheduleSwitch,     // 选择框_开始计划 clicked
    CheckSchedule,      // 时钟1 tick
    ClearPeriods,       // 按钮_清空时间段 clicked
};
}  // namespace routine

inline constexpr layout::RoutineId kRoutineCount = routine::ClearPeriods;

// Indexed by routine number - 1: the names the layout description uses.
inline constexpr std::array<std::string_view, kRoutineCount> kRoutineNames = {
    "StartUp",           "ShutDown",        "ExpandCollapse",    "PlayPauseToggle",  "PlayNext",
    "PlayPrevious",      "StopPlayback",    "SeekToSlider",      "FeedbackDispatch", "PlaySelected",
    "PlaylistMouseDown", "PlaylistKeyDown", "RandomOrderSwitch", "LoopTrackSwitch",  "AddFilesByDialog",
    "RemoveSelected",    "ResetPlaylist",   "VolumeBarChanged",  "MuteClicked",      "FilesDropped",
    "ScheduleSwitch",    "CheckSchedule",   "ClearPeriods",
};

// The catalog the layout readers take.
inline const layout::RoutineCatalog& routineCatalog() {
    static const layout::RoutineCatalog catalog{kRoutineNames};
    return catalog;
}

}  // namespace vesperon::app
