// The session file's week keys: what is read, what is refused (naming the key), what is written,
// and which version a file gets.
#include <gtest/gtest.h>

#include <QJsonDocument>

#include "app/week_session.h"

namespace vesperon::app {
namespace {

using namespace std::chrono;

QJsonObject object(const char* json) { return QJsonDocument::fromJson(json).object(); }

std::string compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

TEST(WeekSession, DaysReadWhatTheyMeanOrNameTheKey) {
    const std::pair<const char*, DayMask> good[] = {
        {"{}", kEveryDay}, {R"({"days": []})", 0}, {R"({"days": [1, 2, 3, 4, 5]})", kWorkDays},
        {R"({"days": [7, 6, 6]})", kWeekend}, {R"({"days": [1, 2, 3, 4, 5, 6, 7]})", kEveryDay}};
    for (const auto& [json, days] : good) {
        DayMask out = 0x55;
        std::string error;
        EXPECT_TRUE(ReadPeriodDays(object(json), "\"periods\"[3]", out, error)) << json << ": " << error;
        EXPECT_EQ(out, days) << json;
    }
    const std::pair<const char*, const char*> bad[] = {
        {R"({"days": [1, 0]})", "\"periods\"[3].days[1] is 0, not a day from 1 to 7"},
        {R"({"days": [8]})", "\"periods\"[3].days[0] is 8, not a day from 1 to 7"},
        {R"({"days": [1.5]})", "\"periods\"[3].days[0] is 1.5, not a day from 1 to 7"},
        {R"({"days": ["1"]})", "\"periods\"[3].days[0] is a string, not a number"},
        {R"({"days": 1})", "\"periods\"[3].days is a number, not a list"},
        {R"({"days": null})", "\"periods\"[3].days is null, not a list"},
    };
    for (const auto& [json, reason] : bad) {
        DayMask out = kWorkDays;
        std::string error;
        EXPECT_FALSE(ReadPeriodDays(object(json), "\"periods\"[3]", out, error)) << json;
        EXPECT_EQ(error, reason);
        EXPECT_EQ(out, kWorkDays) << "unchanged on refusal";
    }
}

TEST(WeekSession, RestDaysReadWhatTheyMeanOrNameTheKey) {
    std::vector<DateRange> rest;
    std::string error;
    ASSERT_TRUE(ReadRestDays(
        object(R"({"rest": ["2026-12-25", {"from": "2027-01-01", "to": "2027-01-03"}, "2028-02-29"]})"), rest, error))
        << error;
    const std::vector<DateRange> expected{{sys_days{2026y / 12 / 25}, sys_days{2026y / 12 / 25}},
                                          {sys_days{2027y / 1 / 1}, sys_days{2027y / 1 / 3}},
                                          {sys_days{2028y / 2 / 29}, sys_days{2028y / 2 / 29}}};
    EXPECT_EQ(rest, expected);
    ASSERT_TRUE(ReadRestDays(object("{}"), rest, error));
    EXPECT_TRUE(rest.empty());

    const std::pair<const char*, const char*> bad[] = {
        {R"({"rest": ["2027-02-29"]})", "\"rest\"[0] is \"2027-02-29\", not a date (YYYY-MM-DD)"},
        {R"({"rest": ["2026-12-24", "2026-13-01"]})", "\"rest\"[1] is \"2026-13-01\", not a date (YYYY-MM-DD)"},
        {R"({"rest": ["2026-1-05"]})", "\"rest\"[0] is \"2026-1-05\", not a date (YYYY-MM-DD)"},
        {R"({"rest": ["2026-12-25T00:00"]})", "\"rest\"[0] is \"2026-12-25T00:00\", not a date (YYYY-MM-DD)"},
        {R"({"rest": [20261225]})", "\"rest\"[0] is a number, not a date (YYYY-MM-DD)"},
        {R"({"rest": [{"from": "2027-01-03", "to": "2027-01-01"}]})",
         "\"rest\"[0] is a range whose \"from\" comes after its \"to\""},
        {R"({"rest": [{"from": "2027-01-01"}]})", "\"rest\"[0].to is missing, not a date (YYYY-MM-DD)"},
        {R"({"rest": [{"from": "2027-04-31", "to": "2027-05-01"}]})",
         "\"rest\"[0].from is \"2027-04-31\", not a date (YYYY-MM-DD)"},
        {R"({"rest": "2026-12-25"})", "\"rest\" is a string, not a list"},
    };
    for (const auto& [json, reason] : bad) {
        rest = expected;
        EXPECT_FALSE(ReadRestDays(object(json), rest, error)) << json;
        EXPECT_EQ(error, reason);
        EXPECT_EQ(rest, expected) << "unchanged on refusal";
    }
}

TEST(WeekSession, WrittenKeysReadBackAndOnlyAWeekMakesVersionTwo) {
    QJsonObject root, period = object(R"({"days": [3]})");
    const std::vector<DateRange> rest{{sys_days{2026y / 12 / 25}, sys_days{2026y / 12 / 25}},
                                      {sys_days{2027y / 1 / 1}, sys_days{2027y / 1 / 3}}};
    WriteRestDays(root, rest);
    WritePeriodDays(period, kWeekend | DayBit(1));
    EXPECT_EQ(compact(root), R"({"rest":["2026-12-25",{"from":"2027-01-01","to":"2027-01-03"}]})");
    EXPECT_EQ(compact(period), R"({"days":[1,6,7]})");
    std::vector<DateRange> back;
    DayMask days = 0;
    std::string error;
    ASSERT_TRUE(ReadRestDays(root, back, error) && ReadPeriodDays(period, "p", days, error)) << error;
    EXPECT_EQ(back, rest);
    EXPECT_EQ(days, kWeekend | DayBit(1));
    WritePeriodDays(period, 0);
    EXPECT_EQ(compact(period), R"({"days":[]})");
    WritePeriodDays(period, kEveryDay);
    WriteRestDays(root, {});
    EXPECT_EQ(compact(period) + compact(root), "{}{}");

    std::array<DayMask, kPeriodCount> all;
    all.fill(kEveryDay);
    EXPECT_EQ(SessionVersionFor(all, {}), 1);
    EXPECT_EQ(SessionVersionFor(all, rest), 2);
    all[4] = 0;
    EXPECT_EQ(SessionVersionFor(all, {}), 2);
}

}  // namespace
}  // namespace vesperon::app
