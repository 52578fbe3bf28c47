#include "app/routines.h"

#include <array>

namespace vesperon::app {
namespace {

// Indexed by the routine's number; 0 is never a routine.
constexpr std::array<Routine, layout::kRoutineCount + 1> kTable{
    nullptr,          StartUp,           ShutDown,        ExpandCollapse,    PlayPauseToggle,
    PlayNext,         PlayPrevious,      StopPlayback,    SeekToSlider,      FeedbackDispatch,
    PlaySelected,     PlaylistMouseDown, PlaylistKeyDown, RandomOrderSwitch, LoopTrackSwitch,
    AddFilesByDialog, RemoveSelected,    ResetPlaylist,   VolumeBarChanged,  MuteClicked,
    FilesDropped,     ScheduleSwitch,    CheckSchedule,   ClearPeriods,
};
static_assert(static_cast<std::uint32_t>(layout::Routine::ClearPeriods) == kTable.size() - 1);

}  // namespace

Routine routineOf(layout::Routine id) {
    const auto n = static_cast<std::uint32_t>(id);
    return n < kTable.size() ? kTable[n] : nullptr;
}

RoutineResult callRoutine(layout::Routine id, const ui::EventCall& call) {
    Routine r = routineOf(id);
    return r ? r(call) : std::nullopt;
}

ui::RoutineDispatcher routineDispatcher() {
    return &callRoutine;
}

// Until the player logic fills them in, the routines do nothing and return no value.
RoutineResult StartUp(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult ShutDown(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult ExpandCollapse(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult PlayPauseToggle(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult PlayNext(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult PlayPrevious(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult StopPlayback(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult SeekToSlider(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult FeedbackDispatch(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult PlaySelected(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult PlaylistMouseDown(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult PlaylistKeyDown(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult RandomOrderSwitch(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult LoopTrackSwitch(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult AddFilesByDialog(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult RemoveSelected(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult ResetPlaylist(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult VolumeBarChanged(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult MuteClicked(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult FilesDropped(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult ScheduleSwitch(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult CheckSchedule(const ui::EventCall&) {
    return std::nullopt;
}
RoutineResult ClearPeriods(const ui::EventCall&) {
    return std::nullopt;
}

}  // namespace vesperon::app
