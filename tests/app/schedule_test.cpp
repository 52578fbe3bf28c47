// The schedule on the real window with an injected clock. With an empty playlist a start shows up
// as one request for files (PlayNext asks for them); an end as the fade, the stop and the restore.
#include <QTimer>
#include <random>
#include <QtTest/QTest>

#include "tests/app/player_window.h"

namespace vesperon::app::test {
namespace {

class Schedule : public PlayerWindow {
protected:
    // Slot i (1..5): start and end as texts of the six boxes.
    void setSlot(int i, const std::string& h1, const std::string& m1, const std::string& s1,
                 const std::string& h2 = "99", const std::string& m2 = "99", const std::string& s2 = "99") {
        const std::string n = std::to_string(i);
        setBox(("编辑框_从时" + n).c_str(), h1);
        setBox(("编辑框_从分" + n).c_str(), m1);
        setBox(("编辑框_从秒" + n).c_str(), s1);
        setBox(("编辑框_到时" + n).c_str(), h2);
        setBox(("编辑框_到分" + n).c_str(), m2);
        setBox(("编辑框_到秒" + n).c_str(), s2);
    }
    // Every slot that no test sets never matches.
    void neverMatching() {
        for (int i = 1; i <= 5; ++i) setSlot(i, "99", "99", "99");
    }
    void switchOn() { QTest::mouseClick(w("选择框_开始计划").live(), Qt::LeftButton); }
    int starts() const { return static_cast<int>(dialogTitles.size()); }
};

TEST_F(Schedule, CurrentTimeBoxesAndTheSwitch) {
    tickAt(0, 5, 9);
    EXPECT_EQ(w("编辑框_时").textProperty(ui::kEditContent), "0");
    EXPECT_EQ(w("编辑框_分").textProperty(ui::kEditContent), "5");
    EXPECT_EQ(w("编辑框_秒").textProperty(ui::kEditContent), "9");

    switchOn();
    EXPECT_EQ(controller->schedule.on, true);
    EXPECT_EQ(w("选择框_开始计划").textProperty(ui::kCheckCaption), "取消计划");
    EXPECT_EQ(w("按钮_清空时间段").intProperty(ui::kDisabled), 1);
    for (const std::string& box : state().scheduleBoxes)
        EXPECT_EQ(w(box.c_str()).intProperty(ui::kDisabled), 1) << box;

    switchOn();
    EXPECT_EQ(controller->schedule.on, false);
    EXPECT_EQ(w("选择框_开始计划").textProperty(ui::kCheckCaption), "开始计划");
    EXPECT_EQ(w("按钮_清空时间段").intProperty(ui::kDisabled), 0);
    for (const std::string& box : state().scheduleBoxes)
        EXPECT_EQ(w(box.c_str()).intProperty(ui::kDisabled), 0) << box;

    setSlot(3, "1", "2", "3", "4", "5", "6");
    QTest::mouseClick(w("按钮_清空时间段").live(), Qt::LeftButton);
    for (const std::string& box : state().scheduleBoxes)
        EXPECT_EQ(w(box.c_str()).textProperty(ui::kEditContent), "") << box;
}

TEST_F(Schedule, StartsFireOnceOnTheirExactSecondAndOnlyWhileSwitchedOn) {
    neverMatching();
    setSlot(2, "08", "30", "15");
    setSlot(4, "8", "30", "15");  // the same second: still one start
    switchOn();
    tickAt(8, 30, 14);
    EXPECT_EQ(starts(), 0);
    tickAt(8, 30, 15);
    EXPECT_EQ(starts(), 1);
    tickAt(8, 30, 15);  // a second tick within the same second
    EXPECT_EQ(starts(), 1);
    tickAt(8, 30, 16);
    EXPECT_EQ(starts(), 1);

    // A lone "-" reads as 0; 75 never matches a minute.
    setSlot(1, "-", "-", "5");
    setSlot(3, "9", "75", "0");
    tickAt(0, 0, 5);
    EXPECT_EQ(starts(), 2);
    tickAt(9, 15, 0);
    EXPECT_EQ(starts(), 2);

    switchOn();  // off again
    setSlot(1, "9", "20", "0");
    tickAt(9, 20, 0);
    EXPECT_EQ(starts(), 2);
}

TEST_F(Schedule, EmptyRowsAreUnusedEmptyBoxesMeanZeroAndTheStartWinsOverAnEqualEnd) {
    addFiles({"/nowhere/a.mp3", "/nowhere/b.mp3"});
    switchOn();  // every slot empty: none is used
    mixer->calls.clear();
    const int before = state().currentTrack;
    tickAt(0, 0, 0);
    EXPECT_EQ(state().currentTrack, before);
    EXPECT_TRUE(volumeWrites().empty()) << "an end ran";
    setSlot(1, "", "", "1", "", "", "1");  // boxes typed: the empty ones read 0, 00:00:01 to 00:00:01
    tickAt(0, 0, 1);
    EXPECT_EQ(state().currentTrack, 2);
    EXPECT_EQ(caption(), "播放:b.mp3");
    EXPECT_TRUE(volumeWrites().empty()) << "an end ran too";
    tickAt(0, 0, 2);
    EXPECT_EQ(state().currentTrack, 2);

    neverMatching();
    setSlot(1, "9", "0", "0");
    setSlot(5, "7", "0", "0", "9", "0", "0");
    tickAt(9, 0, 0);
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(caption(), "播放:a.mp3");
    EXPECT_TRUE(volumeWrites().empty());
}

TEST_F(Schedule, LateTicksCatchUpTenSecondsAndLargerJumpsOnlyTheCurrentOne) {
    neverMatching();
    switchOn();
    setSlot(1, "10", "0", "5");
    tickAt(10, 0, 0);
    tickAt(10, 0, 8);  // 1..7 skipped: 5 is caught up
    EXPECT_EQ(starts(), 1);
    tickAt(10, 0, 8);
    EXPECT_EQ(starts(), 1);

    setSlot(1, "10", "2", "1");
    tickAt(10, 2, 0);
    tickAt(10, 2, 11);  // 1..10 skipped: 1 is the oldest caught up
    EXPECT_EQ(starts(), 2);

    setSlot(1, "10", "3", "1");
    setSlot(2, "10", "3", "12");
    tickAt(10, 3, 0);
    tickAt(10, 3, 12);  // eleven skipped: only the current second counts
    EXPECT_EQ(starts(), 3);
}

TEST_F(Schedule, EndFadesStopsAndRestoresEvenWhenNothingPlays) {
    neverMatching();
    setSlot(1, "99", "99", "99", "18", "0", "0");
    switchOn();
    mixer->calls.clear();
    tickAt(18, 0, 0);
    std::vector<std::string> writes = volumeWrites();
    ASSERT_EQ(writes.size(), 52u);
    EXPECT_EQ(writes[0], "29400 29400");
    EXPECT_EQ(writes[49], "0 0");
    EXPECT_EQ(writes[50], "0 0");
    EXPECT_EQ(writes[51], "30000 30000");
    EXPECT_EQ(caption(), "Vesperon");
    EXPECT_EQ(playButton(), "播放");
}

TEST_F(Schedule, AStartAndAnEndCaughtUpInOneGapRunInTheirOrderWithTheRealEngine) {
    const std::string a = Tones::make("sched_a.mp3", 3.0);
    ASSERT_FALSE(a.empty()) << "sox/lame";
    addFiles({a});
    neverMatching();
    setSlot(1, "20", "0", "3", "20", "0", "6");
    switchOn();
    tickAt(20, 0, 0);
    // One late tick catches up both: the start at 3 plays, then the end at 6 fades it out while
    // the engine still plays, and stops.
    int stateMidFade = 99;
    std::string captionMidFade;
    QTimer::singleShot(300, [&] {
        stateMidFade = engine::QueryPlayState();
        captionMidFade = caption();
    });
    mixer->calls.clear();
    tickAt(20, 0, 8);
    EXPECT_EQ(stateMidFade, 1);
    EXPECT_EQ(captionMidFade, "播放:sched_a.mp3");
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(caption(), "停止:sched_a.mp3");
    EXPECT_EQ(slider(), 0);
    std::vector<std::string> writes = volumeWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "30000 30000");
    EXPECT_EQ(mixer->lines[0].volume, (std::vector<uint32_t>{30000, 30000}));
}


// A whole day as a busy machine ticks it: every tick a little early or late (some land in the
// second before), some ticks lost for up to 8 s, some doubled, and one step back of the clock by
// 7 s across an end. Every start and end fires exactly once and in order; two periods that share
// a start second start once.
TEST_F(Schedule, ASimulatedDayFiresEveryStartAndEndOnceInOrder) {
    setSlot(1, "0", "0", "0", "6", "30", "0");
    setSlot(2, "8", "0", "0", "11", "59", "59");
    setSlot(3, "8", "0", "0", "12", "0", "5");
    setSlot(4, "18", "0", "0", "23", "59", "59");
    setSlot(5, "22", "30", "15", "23", "0", "0");
    switchOn();
    const auto sec = [](int h, int m, int s) { return h * 3600 + m * 60 + s; };
    const std::vector<std::pair<char, int>> expected{
        {'S', sec(0, 0, 0)},   {'E', sec(6, 30, 0)},   {'S', sec(8, 0, 0)},
        {'E', sec(11, 59, 59)}, {'E', sec(12, 0, 5)},  {'S', sec(18, 0, 0)},
        {'S', sec(22, 30, 15)}, {'E', sec(23, 0, 0)},  {'E', sec(23, 59, 59)},
    };
    const int stepBackAt = sec(12, 0, 8), stepBack = 7;

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> jitterMs(-4, 18), roll(0, 999), lost(2, 8);
    std::vector<std::pair<char, int>> fired;  // kind and the second of day the tick saw
    int ticks = 0, doubled = 0, early = 0, late = 0;
    const auto tickAtSecond = [&](int second) {
        ++ticks;
        mixer->calls.clear();
        const int startsBefore = starts();
        tickAt(second / 3600, second / 60 % 60, second % 60);
        if (starts() > startsBefore) fired.push_back({'S', second});
        if (!volumeWrites().empty()) fired.push_back({'E', second});
    };
    // `wall` runs over the real seconds; the clock shows them, less the step once it happened.
    for (int wall = 0; wall < 86400 + stepBack; ++wall) {
        const int shown = wall >= stepBackAt ? wall - stepBack : wall;
        const bool edge = shown == 0 || shown >= 86399;  // the day's first and last ticks are on time
        if (!edge && roll(random) < 2) {
            const int skip = lost(random) - 1;  // this tick and the next ones come as one late tick
            wall += skip;
            ++late;
            continue;
        }
        // Aimed 2 ms after the second: an early one lands in the second before.
        const int at = edge || 2 + jitterMs(random) >= 0 ? shown : shown - 1;
        early += at != shown;
        tickAtSecond(at);
        if (!edge && roll(random) < 3) {
            ++doubled;
            tickAtSecond(at);
        }
    }
    EXPECT_EQ(fired, expected);
    EXPECT_GT(ticks, 85000);  // a tick for nearly every second; the lost ones are caught up
    EXPECT_GT(early, 100);
    EXPECT_GT(late, 50);
    EXPECT_GT(doubled, 100);
}

}  // namespace
}  // namespace vesperon::app::test
