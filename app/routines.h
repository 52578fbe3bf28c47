#pragma once
// The routine table: what each routine named by the layout's event bindings runs. Every routine
// gets the event's call (the form, the widget, the event number and its arguments) and returns
// a value only where the event uses one (no value lets input through unchanged).

#include <cstdint>
#include <optional>
#include <string>

#include "app/routine_ids.h"
#include "ui/form.h"
#include "ui/layout/form_layout.h"

namespace vesperon::app {

using RoutineResult = std::optional<std::int64_t>;
using RoutineFunction = RoutineResult (*)(const ui::EventCall& call);

// The routine of a binding; null for a number outside the table.
RoutineFunction routineOf(layout::RoutineId id);
// Runs the routine of a binding (nothing for an unknown one).
RoutineResult callRoutine(layout::RoutineId id, const ui::EventCall& call);
// The dispatcher the window framework calls bound routines through.
ui::RoutineDispatcher routineDispatcher();

// The event's argument i as a number (0 for a text or none) or as a text ("" for a number or none).
std::int64_t intArg(const ui::EventCall& call, std::size_t i);
std::string textArg(const ui::EventCall& call, std::size_t i);

// The routines, one per routine::Id.
RoutineResult StartUp(const ui::EventCall& call);
RoutineResult ShutDown(const ui::EventCall& call);
RoutineResult ExpandCollapse(const ui::EventCall& call);
RoutineResult PlayPauseToggle(const ui::EventCall& call);
RoutineResult PlayNext(const ui::EventCall& call);
RoutineResult PlayPrevious(const ui::EventCall& call);
RoutineResult StopPlayback(const ui::EventCall& call);
RoutineResult SeekToSlider(const ui::EventCall& call);
RoutineResult FeedbackDispatch(const ui::EventCall& call);
RoutineResult PlaySelected(const ui::EventCall& call);
RoutineResult PlaylistMouseDown(const ui::EventCall& call);
RoutineResult PlaylistKeyDown(const ui::EventCall& call);
RoutineResult RandomOrderSwitch(const ui::EventCall& call);
RoutineResult LoopTrackSwitch(const ui::EventCall& call);
RoutineResult AddFilesByDialog(const ui::EventCall& call);
RoutineResult RemoveSelected(const ui::EventCall& call);
RoutineResult ResetPlaylist(const ui::EventCall& call);
RoutineResult VolumeBarChanged(const ui::EventCall& call);
RoutineResult MuteClicked(const ui::EventCall& call);
RoutineResult FilesDropped(const ui::EventCall& call);
RoutineResult ScheduleSwitch(const ui::EventCall& call);
RoutineResult CheckSchedule(const ui::EventCall& call);
RoutineResult ClearPeriods(const ui::EventCall& call);

}  // namespace vesperon::app
