#include "app/routines.h"

#include <array>

#include "app/logic.h"

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
    if (!r) return std::nullopt;
    // Counted so that a quit waits until the routine has returned.
    struct Running {
        Running() { enterRoutine(); }
        ~Running() { leaveRoutine(); }
    } running;
    return r(call);
}

ui::RoutineDispatcher routineDispatcher() {
    return &callRoutine;
}

}  // namespace vesperon::app
