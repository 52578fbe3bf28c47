#include <gtest/gtest.h>

#include "app/crt_random.h"
#include "app/notice.h"
#include "app/playlist_text.h"
#include "app/schedule_box.h"
#include "app/schedule_seconds.h"
#include "app/schedule_model.h"

namespace vesperon::app {

TEST(Notice, TheLabelsNumberDecodesToOneMeaningAndARefusedKeyNeverTakesProgress) {
    using K = Notice::Kind;
    const std::array<std::int32_t, 2> both{33001, 33002}, refused{0, 33001};
    EXPECT_EQ(decodeNotice(0, both).kind, K::Progress);
    EXPECT_EQ(decodeNotice(99, both).percent, 99);
    EXPECT_EQ(decodeNotice(100, both).kind, K::TrackEnded);
    EXPECT_EQ(decodeNotice(101, both).kind, K::FirstSoundHeard);
    EXPECT_EQ(decodeNotice(33002, both).key, Notice::Key::PageDown);
    EXPECT_EQ(decodeNotice(33001, both).key, Notice::Key::Pause);
    EXPECT_EQ(decodeNotice(0, refused).kind, K::Progress);  // not a press of the refused Pause
    EXPECT_EQ(decodeNotice(33001, refused).key, Notice::Key::PageDown);
    for (std::int64_t other : {-1LL, 102LL, 33000LL, 33003LL}) EXPECT_EQ(decodeNotice(other, both).kind, K::Unknown) << other;
}

TEST(PlaylistText, RowLabelsAlignFileNamesForRowsUpTo999) {
    EXPECT_EQ(TrackLabel(1, "/music/a.mp3"), "1:   a.mp3");
    EXPECT_EQ(TrackLabel(10, "/music/b.mp3"), "10:  b.mp3");
    EXPECT_EQ(TrackLabel(100, "c.mp3"), "100: c.mp3");
    EXPECT_EQ(TrackLabel(1000, "/d.mp3"), "1000: d.mp3");
    EXPECT_EQ(FileNameOf("/音乐/晚会/开场.mp3"), "开场.mp3");
    EXPECT_EQ(FileNameOf("/dir/"), "");
}

TEST(PlaylistText, DroppedTextSplitsAtEverySeparatorAndKeepsOnlyLowerCaseMp3) {
    EXPECT_EQ(SplitDroppedText("/a.mp3"), (std::vector<std::string>{"/a.mp3"}));
    EXPECT_EQ(SplitDroppedText("/A.MP3\r\n/b.mp3\r\n/dir\r\n"),
              (std::vector<std::string>{"/A.MP3", "/b.mp3", "/dir"}));
    EXPECT_EQ(SplitDroppedText("x\r\n\r\ny"), (std::vector<std::string>{"x", "", "y"}));
    EXPECT_TRUE(SplitDroppedText("").empty());
    EXPECT_TRUE(HasMp3Extension("/b.mp3"));
    EXPECT_TRUE(HasMp3Extension(".mp3"));
    EXPECT_FALSE(HasMp3Extension("/A.MP3"));
    EXPECT_FALSE(HasMp3Extension("/a.Mp3"));
    EXPECT_FALSE(HasMp3Extension("mp3"));
    EXPECT_FALSE(HasMp3Extension("/dir"));
}

TEST(ScheduleBox, ReadsTheLeadingNumberWithFullWidthForms) {
    EXPECT_EQ(ReadBoxValue(""), 0);
    EXPECT_EQ(ReadBoxValue("-"), 0);
    EXPECT_EQ(ReadBoxValue("08"), 8);
    EXPECT_EQ(ReadBoxValue("7abc"), 7);
    EXPECT_EQ(ReadBoxValue("8.5"), 8.5);
    EXPECT_EQ(ReadBoxValue("-5"), -5);
    EXPECT_EQ(ReadBoxValue("１２"), 12);    // full-width digits
    EXPECT_EQ(ReadBoxValue("－３"), -3);    // full-width minus
    EXPECT_EQ(ReadBoxValue("８．５"), 8.5);  // full-width point
    EXPECT_TRUE(BoxEquals(ReadBoxValue("08"), 8));
    EXPECT_FALSE(BoxEquals(ReadBoxValue("8.5"), 8));
    EXPECT_FALSE(BoxEquals(ReadBoxValue("75"), 15));
}

TEST(CrtRandom, GivesTheSameSequenceFromTheSameSeedWithinRange) {
    CrtRandom random;
    // The classic sequence for seed 1 (the start).
    EXPECT_EQ(random.next(), 41);
    EXPECT_EQ(random.next(), 18467);
    EXPECT_EQ(random.next(), 6334);
    random.seed(12345);
    for (int i = 0; i < 100000; ++i) {
        int r = random.next();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST(ScheduleSeconds, EverySecondIsCheckedOnceAndLateTicksCatchUpToTenSeconds) {
    ScheduleSeconds s;
    auto check = [&](int64_t now) {
        auto due = s.due(now);
        for (auto sec : due) s.markChecked(sec);
        return due;
    };
    EXPECT_EQ(check(100), (std::vector<int64_t>{100}));
    EXPECT_TRUE(check(100).empty());  // a second tick within the same second
    EXPECT_EQ(check(101), (std::vector<int64_t>{101}));
    EXPECT_EQ(check(104), (std::vector<int64_t>{102, 103, 104}));
    EXPECT_EQ(check(115).size(), 11u);  // ten skipped seconds and the current one
    EXPECT_EQ(check(127), (std::vector<int64_t>{127}));  // eleven skipped: only the current one
    EXPECT_TRUE(check(120).empty());  // the clock stepped back a little: those seconds were checked
    EXPECT_EQ(check(128), (std::vector<int64_t>{128}));
    EXPECT_EQ(check(50), (std::vector<int64_t>{50}));  // set back far: start afresh
    EXPECT_EQ(check(51), (std::vector<int64_t>{51}));
}

// What fires is the model's alone: no window, no clock.
TEST(ScheduleModel, WhatFiresAtASecondDependsOnlyOnTheTexts) {
    ScheduleModel m;
    m.periods[1] = {{"8", "0", "0"}, {"8", "45", "30"}};
    m.periods[3] = {{"９", "４５", "３０．０"}, {"8", "0", "0"}};  // full-width text
    const auto at = [&](int h, int mi, int s) {
        std::tm t{};
        t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
        return scheduleActionAt(m, t);
    };
    EXPECT_EQ(at(8, 0, 0), ScheduleAction::None) << "the schedule is off";
    m.on = true;
    const struct {
        int h, m, s;
        ScheduleAction want;
    } cases[] = {
        {8, 0, 0, ScheduleAction::Start},  // also an end: the start wins
        {9, 45, 30, ScheduleAction::Start}, {8, 45, 30, ScheduleAction::End},
        {0, 0, 0, ScheduleAction::Start},  // the empty periods: empty boxes read as 0
        {8, 0, 1, ScheduleAction::None},   {8, 45, 29, ScheduleAction::None},
    };
    for (const auto& c : cases) EXPECT_EQ(at(c.h, c.m, c.s), c.want) << c.h << ":" << c.m << ":" << c.s;
}

}  // namespace vesperon::app
