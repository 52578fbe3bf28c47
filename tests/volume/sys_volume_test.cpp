// SysVolume over the recording mixer stand-in: line selection, the value exchange rules, the
// failure paths and the change notices.

#include "volume/sys_volume.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>

#include "tests/volume/fake_mixer.h"

namespace vesperon::volume {
namespace {

class SysVolumeTest : public ::testing::Test {
protected:
    FakeMixer mixer;
    SysVolume vol{&mixer};
    std::vector<int> events;

    void SetUp() override {
        vol.setEventSink([this](int e) { events.push_back(e); });
    }
    void pump(int ms = 200) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
};

TEST_F(SysVolumeTest, SelectLineCombinesTheTwoLookups) {
    EXPECT_EQ(vol.SelectLine(4), 1);
    EXPECT_EQ(vol.GetMaxVolume(), 65535);

    mixer.lines[0].hasMute = false;
    EXPECT_EQ(vol.SelectLine(4), -2);
    EXPECT_EQ(vol.GetMute(), -1);
    EXPECT_EQ(vol.SetMute(1), 0);
    int l = 7, r = 7;
    EXPECT_EQ(vol.GetVolume(l, r), 1);

    mixer.lines[0].hasMute = true;
    mixer.lines[0].hasVolume = false;
    EXPECT_EQ(vol.SelectLine(4), -1);
    l = r = 7;
    EXPECT_EQ(vol.GetVolume(l, r), -1);
    EXPECT_EQ(l, 7);
    EXPECT_EQ(r, 7);
    EXPECT_EQ(vol.SetVolume(1, 1), 0);
    // The last maximum found stays readable after a failed lookup.
    EXPECT_EQ(vol.GetMaxVolume(), 65535);
    EXPECT_EQ(vol.GetMute(), 0);
}

TEST_F(SysVolumeTest, NoMixerDeviceFailsEverythingAndLeavesTheOutputs) {
    mixer.devices = 0;
    EXPECT_EQ(vol.SelectLine(4), 0);
    int l = 11, r = 22;
    EXPECT_EQ(vol.GetVolume(l, r), -1);
    EXPECT_EQ(l, 11);
    EXPECT_EQ(r, 22);
    EXPECT_EQ(vol.SetVolume(5, 5), 0);
    EXPECT_EQ(vol.GetMaxVolume(), 0);
    EXPECT_EQ(vol.GetMute(), -1);
    EXPECT_EQ(vol.SetMute(1), 0);
    EXPECT_EQ(mixer.openHandles(), 0);
}

TEST_F(SysVolumeTest, WaveOutIsFoundAmongTheSpeakersSources) {
    FakeMixer::Line synth;
    synth.componentType = kSynthesizerSource;
    synth.name = "Synth";
    FakeMixer::Line pcm;
    pcm.componentType = kWaveOutSource;
    pcm.name = "PCM";
    pcm.maximum = 255;
    pcm.volume = {40};
    mixer.lines.push_back(synth);
    mixer.lines.push_back(pcm);
    EXPECT_EQ(vol.SelectLine(0x1008), 1);
    EXPECT_EQ(vol.GetMaxVolume(), 255);
    int l = 0, r = 0;
    EXPECT_EQ(vol.GetVolume(l, r), 1);
    EXPECT_EQ(l, 40);

    mixer.lines.pop_back();  // no wave-out source any more
    EXPECT_EQ(vol.SelectLine(0x1008), 0);
    EXPECT_FALSE(vol.volumeBound());
    EXPECT_FALSE(vol.muteBound());
    EXPECT_EQ(mixer.openHandles(), 0);
}

TEST_F(SysVolumeTest, UnknownTypeClosesBothBindingsButReportsTheFirstLookup) {
    mixer.lines[0].componentType = 0x7777;  // a "destination" of a type the table does not know
    EXPECT_EQ(vol.SelectLine(0x7777), 1);
    EXPECT_FALSE(vol.volumeBound());
    EXPECT_FALSE(vol.muteBound());
    EXPECT_EQ(mixer.openHandles(), 0);
    int l = 3, r = 4;
    EXPECT_EQ(vol.GetVolume(l, r), -1);
    EXPECT_EQ(l, 3);
}

TEST_F(SysVolumeTest, ChannelCountIsKeptWhenTheControlIsMissing) {
    mixer.lines[0].volume = {1, 2};
    ASSERT_EQ(vol.SelectLine(4), 1);
    mixer.lines[0].volume = {9};
    mixer.lines[0].hasVolume = false;
    EXPECT_EQ(vol.SelectLine(4), -1);
    EXPECT_EQ(vol.volumeChannels(), 1u);
}

TEST_F(SysVolumeTest, GetVolumeSetsMinusOneThenTheChannels) {
    mixer.lines[0].volume = {100, 200};
    ASSERT_EQ(vol.SelectLine(4), 1);
    int l = 0, r = 0;
    EXPECT_EQ(vol.GetVolume(l, r), 1);
    EXPECT_EQ(l, 100);
    EXPECT_EQ(r, 200);
    int both = 0;
    EXPECT_EQ(vol.GetVolume(both, both), 1);
    EXPECT_EQ(both, 200);  // the right channel of a stereo line

    mixer.failReads = true;
    l = r = 5;
    EXPECT_EQ(vol.GetVolume(l, r), -1);
    EXPECT_EQ(l, -1);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(vol.GetMute(), -1);
}

TEST_F(SysVolumeTest, MonoLineUsesLeftOnly) {
    mixer.lines[0].volume = {300};
    ASSERT_EQ(vol.SelectLine(4), 1);
    int l = 0, r = 0;
    EXPECT_EQ(vol.GetVolume(l, r), 1);
    EXPECT_EQ(l, 300);
    EXPECT_EQ(r, -1);
    int both = 0;
    EXPECT_EQ(vol.GetVolume(both, both), 1);
    EXPECT_EQ(both, 300);
    EXPECT_EQ(vol.SetVolume(50, 60000), 1);
    EXPECT_EQ(mixer.calls.back(), "write 1 50");
}

TEST_F(SysVolumeTest, SetVolumeAndMuteWriteUnchangedValues) {
    ASSERT_EQ(vol.SelectLine(4), 1);
    EXPECT_EQ(vol.SetVolume(10, 20), 1);
    EXPECT_EQ(mixer.calls.back(), "write 1 10 20");
    EXPECT_EQ(vol.SetMute(1), 1);
    EXPECT_EQ(vol.GetMute(), 1);
    EXPECT_EQ(vol.SetMute(0), 1);
    EXPECT_EQ(vol.GetMute(), 0);
    mixer.failWrites = true;
    EXPECT_EQ(vol.SetVolume(1, 1), 0);
    EXPECT_EQ(vol.SetMute(1), 0);
}

TEST_F(SysVolumeTest, SurroundLineGivesItsFirstTwoChannels) {
    mixer.lines[0].volume = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(vol.SelectLine(4), 1);
    int l = 0, r = 0;
    EXPECT_EQ(vol.GetVolume(l, r), 1);
    EXPECT_EQ(l, 1);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(vol.SetVolume(7, 8), 1);
    EXPECT_EQ(mixer.calls.back(), "write 1 7 8 7 8 7 8");
}

TEST_F(SysVolumeTest, ChangeNoticesRaiseTheMatchingEvent) {
    ASSERT_EQ(vol.SelectLine(4), 1);
    mixer.changeFromOutside(0, {5, 5}, 0);
    pump();
    EXPECT_EQ(events, (std::vector<int>{SysVolume::VolumeChanged}));
    events.clear();
    mixer.changeFromOutside(0, {5, 5}, 1);
    pump();
    EXPECT_EQ(events, (std::vector<int>{SysVolume::MuteChanged}));

    // After the bindings are gone nothing is reported.
    events.clear();
    mixer.devices = 0;
    EXPECT_EQ(vol.SelectLine(4), 0);
    mixer.changeFromOutside(0, {9, 9}, 0);
    pump(100);
    EXPECT_TRUE(events.empty());
}

TEST_F(SysVolumeTest, ALostMixerFailsTheCommandsUntilItIsReopened) {
    ASSERT_EQ(vol.SelectLine(4), 1);
    mixer.devices = 0;  // the server is away
    mixer.loseMixer();
    pump(300);
    // Each binding looks at its descriptor once, then stops watching it.
    EXPECT_EQ(std::count(mixer.calls.begin(), mixer.calls.end(), "take"), 2);
    EXPECT_TRUE(vol.reopening());
    for (int round = 0; round < 2; ++round) {
        int l = 1, r = 1;
        EXPECT_EQ(vol.GetVolume(l, r), -1);
        EXPECT_EQ(vol.SetVolume(1, 1), 0);
        EXPECT_EQ(vol.GetMute(), -1);
        EXPECT_EQ(vol.SetMute(0), 0);
        pump(SysVolume::kReopenIntervalMs + 200);  // a retry while still away changes nothing
    }
    EXPECT_TRUE(events.empty());

    // Back with other values: the line is bound again and both events say so.
    mixer.lines[0].volume = {1000, 2000};
    mixer.lines[0].muted = 1;
    mixer.devices = 1;
    QElapsedTimer t;
    t.start();
    while (vol.reopening() && t.elapsed() < 10000) pump(50);
    EXPECT_FALSE(vol.reopening()) << "still away after " << t.elapsed() << " ms";
    EXPECT_EQ(events, (std::vector<int>{SysVolume::VolumeChanged, SysVolume::MuteChanged}));
    int l = 0, r = 0;
    EXPECT_EQ(vol.GetVolume(l, r), 1);
    EXPECT_EQ(l, 1000);
    EXPECT_EQ(r, 2000);
    EXPECT_EQ(vol.GetMute(), 1);
    // Closing stops the retries for good.
    mixer.loseMixer();
    pump(100);
    vol.closeAll();
    EXPECT_FALSE(vol.reopening());
}

// A server that stops answering (stopped, not dead) holds up one command for the bound at most;
// meanwhile the mixer is away and every command fails at once; once it answers it is back.
TEST_F(SysVolumeTest, AMixerThatStopsAnsweringIsGivenUpOnAndReopenedOnceItAnswers) {
    int backs = 0;
    QObject::connect(&vol, &SysVolume::cameBack, [&] { ++backs; });
    ASSERT_EQ(vol.SelectLine(4), 1);
    mixer.hold();
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(vol.SetVolume(100, 100), 0);
    const qint64 givenUp = t.elapsed();
    EXPECT_TRUE(vol.reopening());
    int l = 1, r = 1;
    t.restart();
    EXPECT_EQ(vol.GetVolume(l, r), -1);
    EXPECT_EQ(vol.SetVolume(1, 1), 0);
    EXPECT_EQ(vol.GetMute(), -1);
    EXPECT_FALSE(vol.rebind());
    pump(SysVolume::kReopenIntervalMs + 100);  // retries while it hangs ask nothing of it
    const qint64 whileAway = t.elapsed() - SysVolume::kReopenIntervalMs - 100;
    std::printf(
        "a write to a mixer that does not answer gave up after %lld ms; four commands and a retry "
        "while it was away took %lld ms\n",
        static_cast<long long>(givenUp), static_cast<long long>(whileAway));
    EXPECT_LT(givenUp, 1000);
    EXPECT_LT(whileAway, 100);
    EXPECT_EQ(backs, 0);

    // The write given up on lands when the server wakes; the mixer is then bound again.
    mixer.release();
    t.restart();
    while (vol.reopening() && t.elapsed() < 5000) pump(50);
    EXPECT_FALSE(vol.reopening());
    EXPECT_EQ(backs, 1);
    EXPECT_EQ(vol.GetVolume(l, r), 1);
    EXPECT_EQ(l, 100);
    EXPECT_TRUE(vol.rebind());
    EXPECT_EQ(mixer.openHandles(), 2);
}

TEST_F(SysVolumeTest, ReselectingClosesThePreviousHandles) {
    ASSERT_EQ(vol.SelectLine(4), 1);
    EXPECT_EQ(mixer.openHandles(), 2);
    ASSERT_EQ(vol.SelectLine(4), 1);
    EXPECT_EQ(mixer.openHandles(), 2);
    vol.closeAll();
    EXPECT_EQ(mixer.openHandles(), 0);
}

}  // namespace
}  // namespace vesperon::volume

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
