#include "app/week_schedule.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "app/schedule_box.h"

namespace vesperon::app {

namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// 1970-01-01, day 0, was a Thursday (ISO 4).
int isoWeekday(std::int64_t day) { return static_cast<int>(day + 3 - floorDiv(day + 3, 7) * 7) + 1; }

std::optional<int> wholeBelow(std::string_view text, int limit) {
    const double v = ReadBoxValue(text);
    if (!(v > -1 && v < limit + 1)) return std::nullopt;  // NaN and infinities too
    const int k = static_cast<int>(std::lround(v));
    if (k < 0 || k >= limit || !BoxEquals(v, k)) return std::nullopt;
    return k;
}

}  // namespace

std::optional<int> BoxSecondOfDay(std::string_view hour, std::string_view minute, std::string_view second) {
    const auto h = wholeBelow(hour, 24), m = wholeBelow(minute, 60), s = wholeBelow(second, 60);
    if (!h || !m || !s) return std::nullopt;
    return *h * 3600 + *m * 60 + *s;
}

void WeekSchedule::switchOn(bool on) {
    on_ = on;
    resumePending_ = false;
}

void WeekSchedule::resumeAtStartUp() {
    on_ = true;
    resumePending_ = true;
}

void WeekSchedule::setRestDays(std::vector<DateRange> rest) {
    rest_ = std::move(rest);
    restIndex_.clear();
    std::vector<DateRange> sorted;
    std::copy_if(rest_.begin(), rest_.end(), std::back_inserter(sorted), [](const DateRange& r) { return r.from <= r.to; });
    std::sort(sorted.begin(), sorted.end(), [](const DateRange& a, const DateRange& b) { return a.from < b.from; });
    for (const DateRange& r : sorted) {
        if (!restIndex_.empty() && r.from <= restIndex_.back().to + std::chrono::days{1})
            restIndex_.back().to = std::max(restIndex_.back().to, r.to);
        else
            restIndex_.push_back(r);
    }
}

bool WeekSchedule::isRestDay(std::int64_t day) const {
    const std::chrono::sys_days d{std::chrono::days{day}};
    // The first range ending on or after d is the only one that can hold it.
    const auto it = std::lower_bound(restIndex_.begin(), restIndex_.end(), d,
                                     [](const DateRange& r, std::chrono::sys_days x) { return r.to < x; });
    return it != restIndex_.end() && it->from <= d;
}

bool WeekSchedule::applies(int period, std::int64_t day) const {
    return (periods_[static_cast<std::size_t>(period)].days & DayBit(isoWeekday(day))) != 0 && !isRestDay(day);
}

std::optional<ScheduleEvent> WeekSchedule::at(std::int64_t second) const {
    const std::int64_t day = floorDiv(second, kSecondsPerDay);
    const int sod = static_cast<int>(second - day * kSecondsPerDay);
    for (int p = 0; p < kPeriodCount; ++p) {
        const WeekPeriod& w = periods_[static_cast<std::size_t>(p)];
        if (w.start == sod && applies(p, day))
            return ScheduleEvent{ScheduleEvent::Kind::Start, p, false, second};
    }
    for (int p = 0; p < kPeriodCount; ++p) {
        const WeekPeriod& w = periods_[static_cast<std::size_t>(p)];
        if (w.end != sod) continue;
        const bool overnight = w.start && *w.start > *w.end;
        if (applies(p, overnight ? day - 1 : day)) return ScheduleEvent{ScheduleEvent::Kind::End, p};
    }
    return std::nullopt;
}

std::optional<ScheduleEvent> WeekSchedule::insideSince(std::int64_t second, std::int64_t after) const {
    const std::int64_t day = floorDiv(second, kSecondsPerDay);
    const int sod = static_cast<int>(second - day * kSecondsPerDay);
    std::optional<ScheduleEvent> latest;
    for (int p = 0; p < kPeriodCount; ++p) {
        const WeekPeriod& w = periods_[static_cast<std::size_t>(p)];
        if (!w.start || !w.end || *w.start == *w.end) continue;
        std::int64_t occurrence;
        if (sod >= *w.start && (*w.start > *w.end || sod < *w.end))
            occurrence = day;
        else if (*w.start > *w.end && sod < *w.end)
            occurrence = day - 1;
        else
            continue;
        const std::int64_t began = occurrence * kSecondsPerDay + *w.start;
        if (applies(p, occurrence) && began > after && (!latest || began > latest->since))
            latest = ScheduleEvent{ScheduleEvent::Kind::Start, p, true, began};
    }
    return latest;
}

std::optional<int> WeekSchedule::endPassed(std::int64_t from, std::int64_t to) const {
    std::optional<int> latest;
    std::int64_t latestAt = std::numeric_limits<std::int64_t>::min();
    const std::int64_t lastDay = floorDiv(to, kSecondsPerDay);
    for (std::int64_t day = std::max(floorDiv(from, kSecondsPerDay), lastDay - kJumpLookBackDays); day <= lastDay;
         ++day) {
        for (const WeekPeriod& w : periods_) {
            if (!w.end) continue;
            const std::int64_t second = day * kSecondsPerDay + *w.end;
            if (second <= from || second >= to || second <= latestAt) continue;
            // Only an end that would have fired: a start in the same second wins over it.
            const auto event = at(second);
            if (event && event->kind == ScheduleEvent::Kind::End) {
                latest = event->period;
                latestAt = second;
            }
        }
    }
    return latest;
}

std::vector<ScheduleEvent> WeekSchedule::observe(const std::tm& local) {
    std::tm copy = local;
    const std::int64_t now = static_cast<std::int64_t>(timegm(&copy));  // local seconds as a count
    const std::int64_t utc = now - local.tm_gmtoff;
    std::vector<ScheduleEvent> events;
    auto check = [&](std::int64_t second) {
        if (!on_) return;
        if (auto e = at(second)) events.push_back(*e);
    };

    const std::int64_t from = checked_;
    bool jump = false;
    if (!seen_) {
        seen_ = true;
        checked_ = now;
        check(now);
    } else {
        const std::int64_t gap = now - checked_;
        const std::int64_t elapsed = utc - lastUtc_;
        // A timely tick across the spring change: the zone moved forward, the clock did not jump.
        const bool springGap = elapsed >= 0 && elapsed <= kMaxCatchUp + 1 && gap - elapsed <= kCronWindow;
        if (gap <= 0) {
            // Checked already; wait for the clock to pass the latest second checked. Further back
            // than the window is a clock set anew.
            if (gap < -kCronWindow) {
                checked_ = now;
                check(now);
            }
        } else if (gap <= kMaxCatchUp + 1 || springGap) {
            for (std::int64_t s = checked_ + 1; s <= now; ++s) check(s);
            checked_ = now;
        } else {
            jump = true;
            checked_ = now;
        }
    }
    lastUtc_ = utc;

    if (jump && on_) {
        if (auto p = endPassed(from, now)) events.push_back({ScheduleEvent::Kind::End, *p, true});
        const auto event = at(now);
        if (event && !(event->kind == ScheduleEvent::Kind::End && !events.empty()))
            events.push_back(*event);
        else if (!event)
            if (auto start = insideSince(now, from)) events.push_back(*start);
    }
    if (resumePending_ && on_) {
        resumePending_ = false;
        if (events.empty())
            if (auto start = insideSince(now, std::numeric_limits<std::int64_t>::min()))
                events.push_back(*start);
    }
    return events;
}

std::vector<ScheduleEvent> WeekSchedule::observe(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    return observe(local);
}

}  // namespace vesperon::app
