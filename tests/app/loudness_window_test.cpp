// Even loudness on the real window: a session in track mode has its list measured in the
// background and the engine given each track's gain; a row's tool tip tells what was measured;
// the mode and a period's level are saved with the session, and a period plays at its level from
// its start to its end.
#include <QtTest/QTest>
#include <cmath>

#include "app/loudness_control.h"
#include "engine/loudness/measure.h"
#include "engine/player/play_gain.h"
#include "tests/app/player_window.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/wait.h"

namespace vesperon::app::test {
namespace {

using vesperon::test::writeFile;

class LoudnessWindow : public PlayerWindow {
protected:
    void SetUp() override {}  // the test writes its session first
    SessionData saved() {
        const auto read = ReadSessionFile(path);
        EXPECT_TRUE(read && read.value) << read.error;
        return read && read.value ? *read.value : SessionData{};
    }

    vesperon::test::TempDir dir;
    const std::string path = dir.file("session.json");
};

TEST_F(LoudnessWindow, TrackGainsFollowTheMeasurementAndAPeriodPlaysAtItsLevel) {
    const std::string mp3 = vesperon::test::encodedTone({2, 44100, 2, {"sine", "440", "vol", "0.05"}},
                                                        vesperon::test::kLame128, dir.file("quiet.mp3"));
    ASSERT_FALSE(mp3.empty());
    SessionData d;
    d.playlist = {mp3};
    d.periods[1] = {{"8", "0", "0"}, {"9", "0", "0"}};
    d.loudness.settings = {loudness::Mode::Track, -18};
    d.loudness.levels[1] = 50;
    writeFile(path, FormatSession(d));
    LoudnessControl control(dir.file("cache/loudness.json"));
    controller = std::make_unique<PlayerController>();
    UseSessionFile(path);
    openWindow();

    ASSERT_TRUE(vesperon::test::waitFor([&] { return engine::playGainFactor(mp3) != 1.0f; }, 30000))
        << "no gain handed to the engine";
    const auto measured = loudness::measureFile(mp3);
    ASSERT_TRUE(measured);
    EXPECT_NEAR(20 * std::log10(engine::playGainFactor(mp3)), loudness::gainFor(*measured, -18), 0.01);
    EXPECT_NE(PlaylistRowTip(0).find("LUFS"), std::string::npos) << PlaylistRowTip(0);

    SetLoudnessSettings({loudness::Mode::Off, -18});
    EXPECT_TRUE(vesperon::test::waitFor([&] { return engine::playGainFactor(mp3) == 1.0f; }));
    EXPECT_EQ(saved().loudness.settings.mode, loudness::Mode::Off);
    SetPeriodLevel(2, 70);
    EXPECT_EQ(saved().loudness.levels, (std::array<int, 5>{100, 50, 70, 100, 100}));

    QTest::mouseClick(w("选择框_开始计划").live(), Qt::LeftButton);
    tickAt(8, 0, 0);
    EXPECT_EQ(engine::streamLevel(), 50);
    tickAt(9, 0, 0);
    EXPECT_EQ(engine::streamLevel(), 100);
    closeWindow();
}

}  // namespace
}  // namespace vesperon::app::test
