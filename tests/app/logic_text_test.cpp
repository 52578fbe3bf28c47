#include <gtest/gtest.h>

#include "app/crt_random.h"
#include "app/playlist_text.h"
#include "app/schedule_box.h"
#include "app/schedule_model.h"
#include "engine/port/notice.h"

namespace vesperon::app {

TEST(Notice, TheLabelsNumberDecodesToOneMeaningAndARefusedKeyNeverTakesProgress) {
    using engine::decodeNotice;
    using engine::Notice;
    using K = Notice::Kind;
    const std::array<std::int32_t, 2> both{33001, 33002}, refused{0, 33001};
    EXPECT_EQ(decodeNotice(0, both).kind, K::Progress);
    EXPECT_EQ(decodeNotice(99, both).percent, 99);
    EXPECT_EQ(decodeNotice(100, both).kind, K::TrackEnded);
    EXPECT_EQ(decodeNotice(33002, both).key, Notice::Key::PageDown);
    EXPECT_EQ(decodeNotice(33001, both).key, Notice::Key::Pause);
    EXPECT_EQ(decodeNotice(0, refused).kind, K::Progress);  // not a press of the refused Pause
    EXPECT_EQ(decodeNotice(33001, refused).key, Notice::Key::PageDown);
    for (std::int64_t other : {-1LL, 101LL, 33000LL, 33003LL})
        EXPECT_EQ(decodeNotice(other, both).kind, K::Unknown) << other;
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

}  // namespace vesperon::app
