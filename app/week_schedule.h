#pragma once
// What the schedule fires, as a pure function of the five periods, their days, the rest days and
// the wall clock seen once per tick. No widgets, no timers: the caller feeds observations and
// carries out the events it gets back, in order.
//
// Seconds. Every local second is checked exactly once while the program runs. A late tick also
// checks the seconds it skipped (up to kMaxCatchUp of them); a second tick within one second
// checks nothing. Within one second the starts are tested before the ends, and at most one event
// fires: the start of the first period starting then, else the end of the first period ending
// then.
//
// Daylight saving, as cron does it. When a timely tick finds the zone's offset moved forward (the
// skipped spring hour), every second of the gap is checked at once: a start or end in the gap
// fires at the first second after it. When the local clock goes back by up to kCronWindow (the
// repeated autumn hour, or a step back by time synchronisation), nothing is checked until the
// clock is past the latest second already checked, so nothing fires twice. A step back further
// than that is a new clock: checking goes on from the current second.
//
// Jumps. When the clock moves forward past the catch-up window (a resume from suspend, a clock set
// forward, a zone change of more than kCronWindow), the skipped seconds are not fired one by one.
// Instead: if an end that applied was passed over, one end is taken now; then, if now is inside a
// period that applies and whose start was passed over, its start is taken now. Both carry missed.
// The same start is taken at the first observation after ResumeAtStartUp(), when the program comes
// up with a session whose schedule is on. A user switching the schedule on inside a period takes
// nothing: the next start fires as usual. Where periods overlap, the one whose occurrence began
// last is the one taken.
//
// Days. A period fires its start on a day whose ISO weekday is in its mask and which is not a rest
// day. Its end fires when the occurrence it closes applies: the same day's, or for a period that
// crosses midnight (start later than end) the previous day's, so the morning end of a night that
// began before a rest day still fires. A period has an inside only when it has both a start and an
// end that differ: [start, end), across midnight when start > end (an end at 00:00:00 closes the
// day). A period without an end (one that can never equal the clock) has no inside: its start is
// never taken late. With every day in every mask and no rest days, the periods fire exactly when
// the plain daily schedule does.

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

namespace vesperon::app {

// Bit (d - 1) stands for ISO weekday d: 1 = Monday ... 7 = Sunday.
using DayMask = std::uint8_t;
inline constexpr DayMask kEveryDay = 0x7F;
inline constexpr DayMask kWorkDays = 0x1F;
inline constexpr DayMask kWeekend = 0x60;
constexpr DayMask DayBit(int isoWeekday) { return static_cast<DayMask>(1u << (isoWeekday - 1)); }

inline constexpr int kPeriodCount = 5;
inline constexpr int kSecondsPerDay = 86400;

struct WeekPeriod {
    std::optional<int> start, end;  // seconds of the day, 0 .. 86399; absent never fires
    DayMask days = kEveryDay;       // 0: never
    bool operator==(const WeekPeriod&) const = default;
};

// Inclusive; a single day has from == to.
struct DateRange {
    std::chrono::sys_days from, to;
    bool operator==(const DateRange&) const = default;
};

struct ScheduleEvent {
    enum class Kind { Start, End };
    Kind kind;
    int period;           // 0 .. 4
    bool missed = false;  // taken late, after a jump or at start-up
    // A start: the local second its occurrence began, counted as local seconds from 1970-01-01
    // (a late start names the second it should have fired at).
    std::int64_t since = 0;
    bool operator==(const ScheduleEvent&) const = default;
};

// The second of the day that a period's three boxes (hour, minute, second, as typed) stand for,
// or nothing when one of them can never equal the clock (not a whole number in range; an empty
// box reads as 0, as it always has).
std::optional<int> BoxSecondOfDay(std::string_view hour, std::string_view minute, std::string_view second);

class WeekSchedule {
public:
    static constexpr std::int64_t kMaxCatchUp = 10;
    static constexpr std::int64_t kCronWindow = 3 * 3600;
    // How far back a jump looks for an end it passed over.
    static constexpr int kJumpLookBackDays = 14;

    void setPeriods(const std::array<WeekPeriod, kPeriodCount>& periods) { periods_ = periods; }
    void setRestDays(std::vector<DateRange> rest);
    const std::array<WeekPeriod, kPeriodCount>& periods() const { return periods_; }
    const std::vector<DateRange>& restDays() const { return rest_; }

    // The user's switch: on or off, with nothing taken late.
    void switchOn(bool on);
    // The program started with a session whose schedule is on: switches on, and the next
    // observation takes the start of the period it is inside.
    void resumeAtStartUp();

    // Once per tick, whether on or off (seconds seen while off are not fired later). `local` is
    // what localtime_r gives, tm_gmtoff included. Returns the events to carry out, in order; none
    // while off.
    std::vector<ScheduleEvent> observe(const std::tm& local);
    // The same for an instant, read through localtime_r in the process's time zone.
    std::vector<ScheduleEvent> observe(std::time_t now);

    // Whether a period's occurrence starting on `day` applies (its weekday, not a rest day).
    bool applies(int period, std::int64_t day) const;

private:
    // The event that fires at local second `second` (a count of local seconds from 1970-01-01).
    std::optional<ScheduleEvent> at(std::int64_t second) const;
    // The start, taken late, of the period `second` is inside whose occurrence started after
    // `after` (of several, the one that started last).
    std::optional<ScheduleEvent> insideSince(std::int64_t second, std::int64_t after) const;
    // The period of the latest end that applied in (from, to), if any.
    std::optional<int> endPassed(std::int64_t from, std::int64_t to) const;
    bool isRestDay(std::int64_t day) const;

    std::array<WeekPeriod, kPeriodCount> periods_{};
    std::vector<DateRange> rest_;       // as given
    std::vector<DateRange> restIndex_;  // sorted and merged, for a binary search
    bool on_ = false;
    bool resumePending_ = false;
    bool seen_ = false;
    std::int64_t checked_ = 0;  // the latest local second checked (the high-water mark)
    std::int64_t lastUtc_ = 0;  // the instant of the previous observation
};

}  // namespace vesperon::app
