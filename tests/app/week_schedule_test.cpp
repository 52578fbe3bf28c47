// The week's schedule on a simulated clock: days, rest days, both daylight-saving changes in two
// zones, jumps and step-backs. Each case lists every event it must see, with the local time it
// fires at; anything missed, doubled or extra fails the case.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "app/schedule_model.h"
#include "app/week_schedule.h"

namespace vesperon::app {
namespace {

using namespace std::chrono;

struct Step {
    enum Op { Run, Jump, Back, Late, Twice, Resume, SwitchOn } op;
    const char* when = "";  // Run: tick every second up to this local time; Jump: one tick there
    int seconds = 0;        // Back, Late: one tick this far back or forward
};

struct Case {
    const char* name;
    const char* zone;
    std::array<WeekPeriod, kPeriodCount> periods;
    std::vector<DateRange> rest;
    const char* begin;
    std::vector<Step> steps;
    std::vector<std::string> expected;  // "YYYY-MM-DD HH:MM:SS ZONE start|end N [missed]"
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

WeekPeriod P(const char* from, const char* to, DayMask days = kEveryDay) {
    auto seconds = [](const char* hms) -> std::optional<int> {
        int h, m, s;
        if (std::sscanf(hms, "%d:%d:%d", &h, &m, &s) != 3) return std::nullopt;
        return h * 3600 + m * 60 + s;
    };
    return {seconds(from), seconds(to), days};
}

// The five rows as typed in the window's six boxes each, "H,M,S,H,M,S" with empty boxes left
// empty (",,,,," for a row nobody typed in).
std::array<WeekPeriod, kPeriodCount> Typed(std::array<const char*, kPeriodCount> rows) {
    ScheduleModel model;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string_view row = rows[i];
        for (int box = 0; box < 6; ++box) {
            const auto comma = row.find(',');
            (box < 3 ? model.periods[i].from : model.periods[i].to)[box % 3] =
                std::string(row.substr(0, comma));
            row.remove_prefix(comma == std::string_view::npos ? row.size() : comma + 1);
        }
    }
    return weekPeriodsOf(model);
}

// `times` ("HH:MM:SS ZONE start|end N") on each of `days` days from `first`, in order.
std::vector<std::string> Daily(year_month_day first, int days, const std::vector<std::string>& times) {
    std::vector<std::string> out;
    for (sys_days d{first}; d < sys_days{first} + std::chrono::days{days}; d += std::chrono::days{1}) {
        const year_month_day ymd{d};
        char date[16];
        std::snprintf(date, sizeof date, "%04d-%02u-%02u ", static_cast<int>(ymd.year()),
                      static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
        for (const std::string& t : times) out.push_back(date + t);
    }
    return out;
}

DateRange Days(year_month_day from, year_month_day to) { return {sys_days{from}, sys_days{to}}; }

std::time_t parseLocal(const char* text) {
    std::tm tm{};
    EXPECT_NE(strptime(text, "%Y-%m-%d %H:%M:%S", &tm), nullptr) << text;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string describe(std::time_t t, const ScheduleEvent& e) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char when[64];
    std::strftime(when, sizeof when, "%F %T %Z", &tm);
    return std::string(when) + (e.kind == ScheduleEvent::Kind::Start ? " start " : " end ") +
           std::to_string(e.period) + (e.missed ? " missed" : "");
}

class WeekScheduleTest : public testing::TestWithParam<Case> {};

TEST_P(WeekScheduleTest, FiresEveryEventOnceAtItsTime) {
    const Case& c = GetParam();
    setenv("TZ", c.zone, 1);
    tzset();
    WeekSchedule schedule;
    schedule.setPeriods(c.periods);
    schedule.setRestDays(c.rest);
    std::vector<std::string> seen;
    std::time_t t = parseLocal(c.begin);
    auto tick = [&] {
        for (const ScheduleEvent& e : schedule.observe(t)) seen.push_back(describe(t, e));
    };
    for (const Step& step : c.steps) {
        switch (step.op) {
        case Step::Run:
            for (const std::time_t end = parseLocal(step.when); t < end;) {
                ++t;
                tick();
            }
            break;
        case Step::Jump: t = parseLocal(step.when); tick(); break;
        case Step::Back: t -= step.seconds; tick(); break;
        case Step::Late: t += step.seconds; tick(); break;
        case Step::Twice: tick(); tick(); break;
        case Step::Resume: schedule.resumeAtStartUp(); break;
        case Step::SwitchOn: schedule.switchOn(true); break;
        }
    }
    EXPECT_EQ(seen, c.expected);
}

const WeekPeriod kNone{};
// 02:30-02:45 lies in the spring gap of both zones and, in Berlin, in the repeated autumn hour;
// 01:30-01:40 lies in New York's repeated autumn hour.
const std::array<WeekPeriod, kPeriodCount> kDst{P("02:30:00", "02:45:00"), P("01:30:00", "01:40:00"), kNone,
                                                 kNone, kNone};
const std::array<WeekPeriod, kPeriodCount> kShop{P("08:00:00", "17:00:00"), kNone, kNone, kNone, kNone};

INSTANTIATE_TEST_SUITE_P(
    Week, WeekScheduleTest,
    testing::Values(
        // Mon 7 .. Sun 13 December 2026, with Wednesday a rest day: a daily period, a work-day
        // one, a Saturday night crossing midnight and a weekend start whose end never matches.
        Case{"DaysAndRestDays",
             "Europe/Berlin",
             {P("08:00:00", "08:45:00"), P("10:00:00", "10:00:30", kWorkDays), P("22:00:00", "02:00:00", DayBit(6)),
              P("12:00:00", "", kWeekend), kNone},
             {Days(2026y / 12 / 9, 2026y / 12 / 9)},
             "2026-12-07 00:00:00",
             {{Step::SwitchOn}, {Step::Run, "2026-12-14 00:00:00"}},
             {"2026-12-07 08:00:00 CET start 0", "2026-12-07 08:45:00 CET end 0", "2026-12-07 10:00:00 CET start 1",
              "2026-12-07 10:00:30 CET end 1", "2026-12-08 08:00:00 CET start 0", "2026-12-08 08:45:00 CET end 0",
              "2026-12-08 10:00:00 CET start 1", "2026-12-08 10:00:30 CET end 1", "2026-12-10 08:00:00 CET start 0",
              "2026-12-10 08:45:00 CET end 0", "2026-12-10 10:00:00 CET start 1", "2026-12-10 10:00:30 CET end 1",
              "2026-12-11 08:00:00 CET start 0", "2026-12-11 08:45:00 CET end 0", "2026-12-11 10:00:00 CET start 1",
              "2026-12-11 10:00:30 CET end 1", "2026-12-12 08:00:00 CET start 0", "2026-12-12 08:45:00 CET end 0",
              "2026-12-12 12:00:00 CET start 3", "2026-12-12 22:00:00 CET start 2", "2026-12-13 02:00:00 CET end 2",
              "2026-12-13 08:00:00 CET start 0", "2026-12-13 08:45:00 CET end 0", "2026-12-13 12:00:00 CET start 3"}},
        // Rest days over a new year, given in pieces and out of order; the night before them still
        // ends in the morning.
        Case{"RestRange",
             "Europe/Berlin",
             {P("22:00:00", "06:00:00"), kNone, kNone, kNone, kNone},
             {Days(2027y / 6 / 1, 2027y / 6 / 30), Days(2027y / 1 / 2, 2027y / 1 / 2), Days(2027y / 1 / 1, 2027y / 1 / 1),
              Days(2026y / 1 / 1, 2026y / 12 / 30)},
             "2026-12-31 12:00:00",
             {{Step::SwitchOn}, {Step::Run, "2027-01-04 00:00:00"}},
             {"2026-12-31 22:00:00 CET start 0", "2027-01-01 06:00:00 CET end 0", "2027-01-03 22:00:00 CET start 0"}},
        Case{"BerlinSpring",
             "Europe/Berlin",
             kDst,
             {},
             "2026-03-29 00:00:00",
             {{Step::SwitchOn}, {Step::Run, "2026-03-29 06:00:00"}},
             {"2026-03-29 01:30:00 CET start 1", "2026-03-29 01:40:00 CET end 1", "2026-03-29 03:00:00 CEST start 0",
              "2026-03-29 03:00:00 CEST end 0"}},
        Case{"BerlinAutumn",
             "Europe/Berlin",
             kDst,
             {},
             "2026-10-25 00:00:00",
             {{Step::SwitchOn}, {Step::Run, "2026-10-25 06:00:00"}},
             {"2026-10-25 01:30:00 CEST start 1", "2026-10-25 01:40:00 CEST end 1", "2026-10-25 02:30:00 CEST start 0",
              "2026-10-25 02:45:00 CEST end 0"}},
        Case{"NewYorkSpring",
             "America/New_York",
             kDst,
             {},
             "2026-03-08 00:00:00",
             {{Step::SwitchOn}, {Step::Run, "2026-03-08 06:00:00"}},
             {"2026-03-08 01:30:00 EST start 1", "2026-03-08 01:40:00 EST end 1", "2026-03-08 03:00:00 EDT start 0",
              "2026-03-08 03:00:00 EDT end 0"}},
        Case{"NewYorkAutumn",
             "America/New_York",
             kDst,
             {},
             "2026-11-01 00:00:00",
             {{Step::SwitchOn}, {Step::Run, "2026-11-01 06:00:00"}},
             {"2026-11-01 01:30:00 EDT start 1", "2026-11-01 01:40:00 EDT end 1", "2026-11-01 02:30:00 EST start 0",
              "2026-11-01 02:45:00 EST end 0"}},
        // A suspend within one occurrence takes nothing; one past its end takes the end; one
        // into the next day's period takes its start; one over a whole day takes both.
        Case{"SuspendAcrossAnEnd",
             "Europe/Berlin",
             kShop,
             {},
             "2026-12-08 07:59:50",
             {{Step::SwitchOn},
              {Step::Run, "2026-12-08 09:00:00"},
              {Step::Jump, "2026-12-08 10:00:00"},
              {Step::Jump, "2026-12-08 18:00:00"},
              {Step::Run, "2026-12-08 18:00:30"},
              {Step::Jump, "2026-12-09 09:00:00"},
              {Step::Jump, "2026-12-10 09:00:00"},
              {Step::Run, "2026-12-10 09:00:30"}},
             {"2026-12-08 08:00:00 CET start 0", "2026-12-08 18:00:00 CET end 0 missed",
              "2026-12-09 09:00:00 CET start 0 missed", "2026-12-10 09:00:00 CET end 0 missed",
              "2026-12-10 09:00:00 CET start 0 missed"}},
        // Start-up inside a period takes its start once; the user's switch takes nothing.
        Case{"StartUpInsideAPeriod",
             "Europe/Berlin",
             kShop,
             {},
             "2026-12-08 10:05:00",
             {{Step::Resume}, {Step::Jump, "2026-12-08 10:05:00"}, {Step::Run, "2026-12-08 17:00:10"}},
             {"2026-12-08 10:05:00 CET start 0 missed", "2026-12-08 17:00:00 CET end 0"}},
        Case{"SwitchedOnInsideAPeriod",
             "Europe/Berlin",
             kShop,
             {},
             "2026-12-08 10:05:00",
             {{Step::Jump, "2026-12-08 10:05:00"}, {Step::SwitchOn}, {Step::Run, "2026-12-09 08:00:00"}},
             {"2026-12-08 17:00:00 CET end 0", "2026-12-09 08:00:00 CET start 0"}},
        // At 01:00 on Sunday, inside Saturday's night; on a rest day nothing is taken.
        Case{"StartUpInsideANight",
             "Europe/Berlin",
             {kNone, P("22:00:00", "02:00:00", DayBit(6)), kNone, kNone, kNone},
             {},
             "2026-12-13 01:00:00",
             {{Step::Resume}, {Step::Jump, "2026-12-13 01:00:00"}, {Step::Run, "2026-12-13 02:00:00"}},
             {"2026-12-13 01:00:00 CET start 1 missed", "2026-12-13 02:00:00 CET end 1"}},
        // Inside two periods, the one that began last is taken.
        Case{"StartUpInsideTwoPeriods",
             "Europe/Berlin",
             {P("08:00:00", "17:00:00"), P("12:00:00", "13:00:00"), kNone, kNone, kNone},
             {},
             "2026-12-08 12:30:00",
             {{Step::Resume}, {Step::Jump, "2026-12-08 12:30:00"}, {Step::Run, "2026-12-08 13:00:10"}},
             {"2026-12-08 12:30:00 CET start 1 missed", "2026-12-08 13:00:00 CET end 1"}},
        Case{"StartUpOnARestDay",
             "Europe/Berlin",
             kShop,
             {Days(2026y / 12 / 8, 2026y / 12 / 8)},
             "2026-12-08 10:05:00",
             {{Step::Resume}, {Step::Jump, "2026-12-08 10:05:00"}, {Step::Run, "2026-12-08 17:00:10"}},
             {}},
        // A late tick catches up its skipped seconds; a second tick in one second, a step back
        // by time synchronisation and the seconds after it fire nothing twice; a clock set back
        // by a day is a new day.
        Case{"LateTicksAndStepBacks",
             "America/New_York",
             kShop,
             {},
             "2026-12-08 07:59:55",
             {{Step::SwitchOn},
              {Step::Jump, "2026-12-08 07:59:55"},
              {Step::Late, "", 7},
              {Step::Twice},
              {Step::Run, "2026-12-08 08:00:10"},
              {Step::Back, "", 40},
              {Step::Run, "2026-12-08 08:00:20"},
              {Step::Back, "", 86430},
              {Step::Run, "2026-12-07 08:00:01"}},
             {"2026-12-08 08:00:02 EST start 0", "2026-12-07 08:00:00 EST start 0"}},
        // One period's end is the next one's start: the start wins, the end is not fired.
        Case{"AStartWinsOverAnEndInItsSecond",
             "Europe/Berlin",
             {P("07:00:00", "08:00:00"), P("08:00:00", "09:00:00"), kNone, kNone, kNone},
             {},
             "2026-12-08 07:59:58",
             {{Step::SwitchOn}, {Step::Run, "2026-12-08 08:00:02"}},
             {"2026-12-08 08:00:00 CET start 1"}},
        // Rows nobody typed in fire nothing, so the midnight end of a night row still fires.
        Case{"EmptyRowsFireNothing",
             "Europe/Berlin",
             Typed({"10,0,0,11,0,0", "23,0,0,0,0,0", ",,,,,", ",,,,,", ",,,,,"}),
             {},
             "2026-12-06 23:59:55",
             {{Step::SwitchOn}, {Step::Run, "2026-12-13 23:59:59"}},
             Daily(2026y / 12 / 7, 7,
                   {"00:00:00 CET end 1", "10:00:00 CET start 0", "11:00:00 CET end 0",
                    "23:00:00 CET start 1"})},
        // A row with only its start typed reads its empty end as 00:00:00: it plays until
        // midnight, and a restart inside it takes its start late.
        Case{"AStartOnlyRowEndsAtMidnight",
             "Europe/Berlin",
             Typed({"10,4,0,,,", ",,,,,", ",,,,,", ",,,,,", ",,,,,"}),
             {},
             "2026-12-08 10:05:00",
             {{Step::Resume}, {Step::Jump, "2026-12-08 10:05:00"}, {Step::Run, "2026-12-09 10:05:00"}},
             {"2026-12-08 10:05:00 CET start 0 missed", "2026-12-09 00:00:00 CET end 0",
              "2026-12-09 10:04:00 CET start 0"}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(WeekSchedule, BoxesBecomeSecondsAsTheClockComparesThem) {
    EXPECT_EQ(BoxSecondOfDay("8", "0", "0"), 8 * 3600);
    EXPECT_EQ(BoxSecondOfDay("", "", ""), 0);  // an empty box reads as 0
    EXPECT_EQ(BoxSecondOfDay("２３", "59.00000001", "-0"), 23 * 3600 + 59 * 60);
    for (const char* bad : {"24", "8.5", "-1", "nan", "inf", "1e300"})
        EXPECT_EQ(BoxSecondOfDay(bad, "0", "0"), std::nullopt) << bad;
    EXPECT_EQ(BoxSecondOfDay("0", "60", "0"), std::nullopt);
    // A row with one box typed keeps its empty boxes as 0; a row with none is not used.
    ScheduleModel model;
    model.periods[0].to[2] = "0";
    const auto rows = weekPeriodsOf(model);
    EXPECT_EQ(rows[0], (WeekPeriod{0, 0}));
    EXPECT_EQ(rows[1], (WeekPeriod{}));
}

}  // namespace
}  // namespace vesperon::app
