#include "app/routines.h"

#include <array>

#include "app/logic.h"

namespace vesperon::app {
namespace {

using R = layout::Routine;

struct Binding {
    R routine;
    Routine function;
};

// Each routine the layout can name, with the function that runs it.
constexpr Binding kBindings[] = {
    {R::StartUp, StartUp},
    {R::ShutDown, ShutDown},
    {R::ExpandCollapse, ExpandCollapse},
    {R::PlayPauseToggle, PlayPauseToggle},
    {R::PlayNext, PlayNext},
    {R::PlayPrevious, PlayPrevious},
    {R::StopPlayback, StopPlayback},
    {R::SeekToSlider, SeekToSlider},
    {R::FeedbackDispatch, FeedbackDispatch},
    {R::PlaySelected, PlaySelected},
    {R::PlaylistMouseDown, PlaylistMouseDown},
    {R::PlaylistKeyDown, PlaylistKeyDown},
    {R::RandomOrderSwitch, RandomOrderSwitch},
    {R::LoopTrackSwitch, LoopTrackSwitch},
    {R::AddFilesByDialog, AddFilesByDialog},
    {R::RemoveSelected, RemoveSelected},
    {R::ResetPlaylist, ResetPlaylist},
    {R::VolumeBarChanged, VolumeBarChanged},
    {R::MuteClicked, MuteClicked},
    {R::FilesDropped, FilesDropped},
    {R::ScheduleSwitch, ScheduleSwitch},
    {R::CheckSchedule, CheckSchedule},
    {R::ClearPeriods, ClearPeriods},
};

// Indexed by the routine's number for the lookup; 0 is never a routine.
constexpr std::array<Routine, layout::kRoutineCount + 1> kTable = [] {
    std::array<Routine, layout::kRoutineCount + 1> table{};
    for (const Binding& b : kBindings) table[static_cast<std::uint32_t>(b.routine)] = b.function;
    return table;
}();

// By numbers, not by the function pointers: a sanitizer build cannot compare those at compile time.
constexpr bool everyRoutineBound() {
    for (std::uint32_t n = 1; n <= layout::kRoutineCount; ++n) {
        int times = 0;
        for (const Binding& b : kBindings) times += static_cast<std::uint32_t>(b.routine) == n;
        if (times != 1) return false;
    }
    return std::size(kBindings) == layout::kRoutineCount;
}
static_assert(everyRoutineBound(), "every routine is bound exactly once");

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
