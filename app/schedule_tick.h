#pragma once
// When the schedule's clock ticks: just after each wall-clock second begins, so that the check
// of second S and the current-time boxes follow the start of S by a millisecond or two. The
// timer is re-armed before every tick, so a clock step, a time-zone change or a resume from
// suspend puts the ticks back on the second by the next tick (WeekSchedule decides which of
// the seconds in between are checked).

#include <cstdint>

namespace vesperon::app {

// How far past the boundary a tick is aimed, so that it never lands just before it.
inline constexpr int kTickMarginMs = 1;

// Milliseconds to wait, `nsIntoSecond` nanoseconds after a second began, for the tick of the
// next second: always 1 to 1000 + kTickMarginMs.
int MsToNextSecond(std::int64_t nsIntoSecond);

// The same, from the system's wall clock now.
int MsToNextScheduleTick();

}  // namespace vesperon::app
