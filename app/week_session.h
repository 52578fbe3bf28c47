#pragma once
// The session file's keys for the week: a period's days and the top level's rest days.
//
//   {"version": 2, ...,
//    "periods": [{"from": ["8", "0", "0"], "to": ["17", "0", "0"], "days": [1, 2, 3, 4, 5]}, ...],
//    "rest": ["2026-12-25", {"from": "2027-01-01", "to": "2027-01-03"}]}
//
// `days` holds ISO weekdays, 1 = Monday ... 7 = Sunday, in any order; missing means every day,
// an empty list never. `rest` holds inclusive dates, YYYY-MM-DD, a single day as a string and a
// range as an object. Both are read whatever the file's version says. A file that uses either is
// written as version 2, so that a program that knows only version 1 sets it aside instead of
// ringing on a rest day; one that uses neither stays version 1.
//
// Bad values are refused with a one-line reason naming the key, in the session file's words:
// "periods"[0].days[2] is 8, not a day from 1 to 7.

#include <QJsonObject>
#include <array>
#include <string>
#include <vector>

#include "app/week_schedule.h"

namespace vesperon::app {

inline constexpr int kSessionVersionWeek = 2;

// `period` is one object of "periods"; `where` names it in errors, e.g. "periods"[0].
bool ReadPeriodDays(const QJsonObject& period, const std::string& where, DayMask& out, std::string& error);
// Writes `days` in order, or removes the key for every day.
void WritePeriodDays(QJsonObject& period, DayMask days);

// `root` is the whole file's object.
bool ReadRestDays(const QJsonObject& root, std::vector<DateRange>& out, std::string& error);
// Writes the list as given, or removes the key when it is empty.
void WriteRestDays(QJsonObject& root, const std::vector<DateRange>& rest);

// YYYY-MM-DD.
std::string IsoDateText(std::chrono::sys_days d);

// 2 when some period has days other than every day or there are rest days, else 1.
int SessionVersionFor(const std::array<DayMask, kPeriodCount>& days, const std::vector<DateRange>& rest);

}  // namespace vesperon::app
