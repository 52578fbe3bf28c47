// Volume and mute against the recording mixer: the bar's arithmetic, the once-a-second
// synchronisation, and the exact ramps of a pause and a resume of a really playing file.
#include <QScrollBar>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <functional>

#include "tests/app/player_window.h"

namespace vesperon::app::test {
namespace {

class Volume : public PlayerWindow {
protected:
    QScrollBar* bar() { return static_cast<QScrollBar*>(w("纵向滚动条_音量").live()); }
    // The user drags the thumb to `position` and lets go.
    void dragBar(int position) {
        bar()->setSliderPosition(position);
        bar()->triggerAction(QAbstractSlider::SliderMove);
    }
    static std::vector<std::string> ramp(int from, int step, int count) {
        std::vector<std::string> out;
        for (int i = 1; i <= count; ++i) {
            const std::string v = std::to_string(from + i * step);
            out.push_back(v + " " + v);
        }
        return out;
    }
};

TEST_F(Volume, BarPositionsBecomeLevelsOnBothChannelsAndTheTickShowsThemAgain) {
    mixer->calls.clear();
    dragBar(34);
    EXPECT_EQ(volumeWrites(), (std::vector<std::string>{"43253 43253"}));
    tickAt(12, 0, 1);
    EXPECT_EQ(volumeBar(), 34);

    mixer->calls.clear();
    bar()->triggerAction(QAbstractSlider::SliderToMaximum);
    bar()->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(volumeWrites(), (std::vector<std::string>{"0 0", "64879 64879"}));

    // Changes made elsewhere show within a tick; full level puts the bar at 0, above its range.
    mixer->changeFromOutside(0, {65535, 65535}, 1);
    tickAt(12, 0, 2);
    EXPECT_EQ(volumeBar(), 0);
    EXPECT_EQ(w("选择框_静音").intProperty(ui::kCheckChecked), 1);
    mixer->changeFromOutside(0, {6553, 6553}, 0);
    tickAt(12, 0, 3);
    EXPECT_EQ(volumeBar(), 90);  // 100 - 9.9992..., truncated
    EXPECT_EQ(w("选择框_静音").intProperty(ui::kCheckChecked), 0);
}

TEST_F(Volume, MuteBoxSetsTheSwitchAndAFailedQueryCountsAsNotMuted) {
    const std::string mutePrefix = "write " + std::to_string(volume::FakeMixer::muteId(0)) + " ";
    mixer->calls.clear();
    QTest::mouseClick(w("选择框_静音").live(), Qt::LeftButton);
    QTest::mouseClick(w("选择框_静音").live(), Qt::LeftButton);
    std::vector<std::string> muteWrites;
    for (const std::string& c : mixer->calls)
        if (c.rfind(mutePrefix, 0) == 0) muteWrites.push_back(c.substr(mutePrefix.size()));
    EXPECT_EQ(muteWrites, (std::vector<std::string>{"1", "0"}));

    mixer->changeFromOutside(0, {30000, 30000}, 1);
    tickAt(12, 0, 1);
    ASSERT_EQ(w("选择框_静音").intProperty(ui::kCheckChecked), 1);
    mixer->failReads = true;
    tickAt(12, 0, 2);
    EXPECT_EQ(w("选择框_静音").intProperty(ui::kCheckChecked), 0);
}

class VolumeWithoutRange : public Volume {
protected:
    void SetUp() override {
        mixerMaximum = 0;
        Volume::SetUp();
    }
};

TEST_F(VolumeWithoutRange, TheTickLeavesTheBarWhereItWas) {
    w("纵向滚动条_音量").setProperty(ui::kScrollPosition, 40);
    tickAt(12, 0, 1);
    EXPECT_EQ(volumeBar(), 40);
}

TEST_F(Volume, PauseFadesOutAndRestoresResumeFadesIn) {
    const std::string a = Tones::make("fade.mp3", 6.0);
    ASSERT_FALSE(a.empty()) << "sox/lame";
    addFiles({a});
    PlayPauseToggle();
    ASSERT_EQ(engine::QueryPlayState(), 1);

    mixer->calls.clear();
    QTest::mouseClick(w("按钮_播放").live(), Qt::LeftButton);
    ASSERT_TRUE(fadesDone());
    EXPECT_EQ(controller->fader().target(), 30000);
    EXPECT_EQ(controller->fader().step(), 600);
    // The volume is read before anything is written.
    const auto firstOf = [&](const std::string& prefix) {
        return std::find_if(mixer->calls.begin(), mixer->calls.end(),
                            [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    };
    EXPECT_LT(firstOf("read " + std::to_string(volume::FakeMixer::volumeId(0))), firstOf("write "));
    std::vector<std::string> expected = ramp(30000, -600, 50);
    expected.push_back("0 0");
    expected.push_back("30000 30000");
    EXPECT_EQ(volumeWrites(), expected);
    EXPECT_EQ(engine::QueryPlayState(), -1);
    EXPECT_EQ(playButton(), "继续");
    EXPECT_EQ(caption(), "暂停:fade.mp3");
    EXPECT_EQ(list().selectedIndex(), 0);

    mixer->calls.clear();
    QTest::mouseClick(w("按钮_播放").live(), Qt::LeftButton);
    ASSERT_TRUE(fadesDone());
    expected = {"0 0"};
    for (const std::string& v : ramp(0, 600, 50)) expected.push_back(v);
    expected.push_back("30000 30000");  // ends exactly on the saved volume
    EXPECT_EQ(volumeWrites(), expected);
    EXPECT_EQ(mixer->lines[0].volume, (std::vector<uint32_t>{30000, 30000}));
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(playButton(), "暂停");
    EXPECT_EQ(caption(), "播放:fade.mp3");
}

// What befalls the mixer around a fade, and the volume the device must end on: a fade writes only
// over its own steps, and never leaves one of them as the device's volume.
struct Mishap {
    const char* name;
    bool resume;  // a resume's fade, else a pause's
    int atMs;     // into the fade; -1: just before the command
    std::function<void(volume::FakeMixer&)> during;
    std::function<void(volume::FakeMixer&)> after;  // once the fade is over
    uint32_t endsOn;
    bool writesAfterIt;  // the fade may still write (to a lost mixer, or once it is back)
};

void setTo(volume::FakeMixer& m, uint32_t v) {
    m.changeFromOutside(0, {v, v}, 0);
}
void serverDies(volume::FakeMixer& m) {
    m.devices = 0;
    m.loseMixer();
}
// The new server starts with the value it restored as the device's own.
std::function<void(volume::FakeMixer&)> serverBackWith(uint32_t v) {
    return [v](volume::FakeMixer& m) {
        m.lines[0].volume = {v, v};
        m.devices = 1;
    };
}

class VolumeMishap : public Volume, public ::testing::WithParamInterface<Mishap> {};

TEST_P(VolumeMishap, TheFadeEndsOnTheVolumeItSavedOrTheOneSetSince) {
    const Mishap& c = GetParam();
    const std::string a = Tones::make("mishap.mp3", 6.0);
    ASSERT_FALSE(a.empty()) << "sox/lame";
    addFiles({a});
    PlayPauseToggle();
    if (c.resume) {
        QTest::mouseClick(w("按钮_播放").live(), Qt::LeftButton);
        ASSERT_TRUE(fadesDone());
    }
    mixer->calls.clear();
    std::size_t writesBefore = 0;
    if (c.atMs < 0) {
        c.during(*mixer);
    } else {
        QTimer::singleShot(c.atMs, [&] {
            writesBefore = volumeWrites().size();
            c.during(*mixer);
        });
    }
    QTest::mouseClick(w("按钮_播放").live(), Qt::LeftButton);
    ASSERT_TRUE(fadesDone());
    EXPECT_EQ(engine::QueryPlayState(), c.resume ? 1 : -1);
    if (c.after) c.after(*mixer);
    EXPECT_TRUE(waitFor(
        [&] { return !sysVolume().mixer().reopening() && mixer->lines[0].volume[0] == c.endsOn; }, 3000))
        << "the device is at " << mixer->lines[0].volume[0];
    EXPECT_EQ(mixer->lines[0].volume, (std::vector<uint32_t>{c.endsOn, c.endsOn}));
    tickAt(12, 0, 1);
    EXPECT_EQ(controller->fader().target(), int(c.endsOn));
    if (!c.writesAfterIt) {
        EXPECT_EQ(volumeWrites().size(), writesBefore) << "written over";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mishaps, VolumeMishap,
    ::testing::Values(
        Mishap{"AnotherProgramDuringAPause", false, 200, [](auto& m) { setTo(m, 12000); }, nullptr, 12000,
               false},
        Mishap{"AnotherProgramDuringAResume", true, 200, [](auto& m) { setTo(m, 12000); }, nullptr, 12000,
               false},
        // Seen only by the resume's own look (the clock's reading comes once a second).
        Mishap{"AnotherProgramWhilePausedJustBeforeTheResume", true, -1, [](auto& m) { setTo(m, 12000); },
               nullptr, 12000, true},
        // The restarted server restored one of the fade's steps (30000 - 5 x 600, 30 x 600).
        Mishap{"ServerRestartDuringAPause", false, 200, serverDies, serverBackWith(27000), 30000, true},
        Mishap{"ServerRestartDuringAResume", true, 200, serverDies, serverBackWith(18000), 30000, true},
        Mishap{"ServerRestartThenTheUsersVolume", false, 200, serverDies, serverBackWith(12345), 12345, true},
        // A server that does not answer gets no fade, and so no step to apply when it wakes.
        Mishap{"ServerStoppedBeforeAPause", false, -1, [](auto& m) { m.hold(); },
               [](auto& m) { m.release(); }, 30000, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vesperon::app::test
