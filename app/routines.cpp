#include "app/routines.h"

#include <array>


namespace vesperon::app {
namespace {

struct Binding {
    routine::Id routine;
    RoutineFunction function;
};

// Each routine the layout can name, with the function that runs it.
constexpr Binding kBindings[] = {
    {routine::StartUp, StartUp},
    {routine::ShutDown, ShutDown},
    {routine::ExpandCollapse, ExpandCollapse},
    {routine::PlayPauseToggle, PlayPauseToggle},
    {routine::PlayNext, PlayNext},
    {routine::PlayPrevious, PlayPrevious},
    {routine::StopPlayback, StopPlayback},
    {routine::SeekToSlider, SeekToSlider},
    {routine::FeedbackDispatch, FeedbackDispatch},
    {routine::PlaySelected, PlaySelected},
    {routine::PlaylistMouseDown, PlaylistMouseDown},
    {routine::PlaylistKeyDown, PlaylistKeyDown},
    {routine::RandomOrderSwitch, RandomOrderSwitch},
    {routine::LoopTrackSwitch, LoopTrackSwitch},
    {routine::AddFilesByDialog, AddFilesByDialog},
    {routine::RemoveSelected, RemoveSelected},
    {routine::ResetPlaylist, ResetPlaylist},
    {routine::VolumeBarChanged, VolumeBarChanged},
    {routine::MuteClicked, MuteClicked},
    {routine::FilesDropped, FilesDropped},
    {routine::ScheduleSwitch, ScheduleSwitch},
    {routine::CheckSchedule, CheckSchedule},
    {routine::ClearPeriods, ClearPeriods},
};

// Indexed by the routine's number for the lookup; 0 is never a routine.
constexpr std::array<RoutineFunction, kRoutineCount + 1> kTable = [] {
    std::array<RoutineFunction, kRoutineCount + 1> table{};
    for (const Binding& b : kBindings) table[b.routine] = b.function;
    return table;
}();

// By numbers, not by the function pointers: a sanitizer build cannot compare those at compile time.
constexpr bool everyRoutineBound() {
    for (std::uint32_t n = 1; n <= kRoutineCount; ++n) {
        int times = 0;
        for (const Binding& b : kBindings) times += b.routine == n;
        if (times != 1) return false;
    }
    return std::size(kBindings) == kRoutineCount;
}
static_assert(everyRoutineBound(), "every routine is bound exactly once");

}  // namespace

std::int64_t intArg(const ui::EventCall& call, std::size_t i) {
    if (i >= call.args.size()) return 0;
    return std::visit(
        [](auto&& v) -> std::int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>)
                return 0;
            else
                return static_cast<std::int64_t>(v);
        },
        call.args[i]);
}

std::string textArg(const ui::EventCall& call, std::size_t i) {
    if (i < call.args.size())
        if (auto* s = std::get_if<std::string>(&call.args[i])) return *s;
    return {};
}

RoutineFunction routineOf(layout::RoutineId id) {
    return id < kTable.size() ? kTable[id] : nullptr;
}

RoutineResult callRoutine(layout::RoutineId id, const ui::EventCall& call) {
    RoutineFunction r = routineOf(id);
    if (!r) return std::nullopt;
    return r(call);
}

ui::RoutineDispatcher routineDispatcher() {
    return &callRoutine;
}

}  // namespace vesperon::app
