// The SysVolume widget of a form against a real PulseAudio server reached through ALSA's
// `default` mixer: values land in the sink, changes made from outside come back as events.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <regex>

#include "tests/desktop/test_form.h"
#include "tests/support/servers.h"
#include "tests/support/wait.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::volume {
namespace {

using test::TestForm;

// The raw per-channel values `pactl get-sink-volume` prints ("front-left: 32768 / 50% ...").
std::vector<long> sinkVolumes(const test::PulseServer& ps) {
    auto r = ps.pactl({"get-sink-volume", ps.sink()});
    std::vector<long> values;
    static const std::regex channel(R"(front-(left|right):\s*(\d+))");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), channel), end; it != end; ++it)
        values.push_back(std::stol((*it)[2]));
    return values;
}

TEST(MixerE2E, SysVolumeDrivesAndFollowsThePulseSink) {
    test::PulseServer ps;
    ASSERT_TRUE(ps.ok());
    registerSysVolumeType();
    TestForm f;
    ASSERT_TRUE(f.form) << f.error;
    auto* sv = f.as<SysVolumeWidget>("系统音量1");
    ASSERT_NE(sv, nullptr);

    EXPECT_EQ(sv->SelectLine(4), 1);
    EXPECT_EQ(sv->GetMaxVolume(), 65536);

    EXPECT_EQ(sv->SetVolume(32768, 16384), 1);
    EXPECT_TRUE(test::waitFor([&] {
        return sinkVolumes(ps) == std::vector<long>{32768, 16384};
    })) << ps.pactl({"get-sink-volume", ps.sink()}).out;
    int left = 0, right = 0;
    EXPECT_EQ(sv->GetVolume(left, right), 1);
    EXPECT_EQ(left, 32768);
    EXPECT_EQ(right, 16384);
    int both = 0;
    EXPECT_EQ(sv->GetVolume(both, both), 1);
    EXPECT_EQ(both, 16384);
    // A value beyond the control's range is refused rather than silently dropped.
    EXPECT_EQ(sv->SetVolume(70000, 70000), 0);

    test::pump(300);  // let the echo of our own change pass
    const int volumeBefore = f.rec.count("系统音量1", 0);
    ASSERT_EQ(ps.pactl({"set-sink-volume", ps.sink(), "20000"}).exitCode, 0);
    EXPECT_TRUE(test::waitFor([&] { return f.rec.count("系统音量1", 0) > volumeBefore; }, 1000));
    EXPECT_EQ(sv->GetVolume(left, right), 1);
    EXPECT_EQ(left, 20000);
    EXPECT_EQ(right, 20000);
    // A write that must not go over another's change: refused while the sink shows that change.
    std::optional<int> seen;
    EXPECT_EQ(sv->mixer().SetVolumeIf({30000}, 10000, &seen), 0);
    EXPECT_EQ(seen, 20000);
    EXPECT_EQ(sinkVolumes(ps), (std::vector<long>{20000, 20000}));
    EXPECT_EQ(sv->mixer().SetVolumeIf({30000, 20000}, 10000, &seen), 1);
    EXPECT_EQ(seen, std::nullopt);
    EXPECT_EQ(sinkVolumes(ps), (std::vector<long>{10000, 10000}));

    const int muteBefore = f.rec.count("系统音量1", 1);
    ASSERT_EQ(ps.pactl({"set-sink-mute", ps.sink(), "1"}).exitCode, 0);
    EXPECT_TRUE(test::waitFor([&] { return f.rec.count("系统音量1", 1) > muteBefore; }, 1000));
    EXPECT_EQ(sv->GetMute(), 1);

    EXPECT_EQ(sv->SetMute(0), 1);
    EXPECT_TRUE(test::waitFor([&] {
        return ps.pactl({"get-sink-mute", ps.sink()}).out.find("no") != std::string::npos;
    }));
    EXPECT_EQ(sv->GetMute(), 0);
}

TEST(MixerE2E, CommandsFailOnceTheServerIsGone) {
    auto ps = std::make_unique<test::PulseServer>();
    ASSERT_TRUE(ps->ok());
    SysVolume vol;
    ASSERT_EQ(vol.SelectLine(4), 1);
    ps.reset();
    test::pump(500);
    // The element cache still holds the old values; they must not be reported as current.
    int left = 5, right = 5;
    EXPECT_EQ(vol.GetVolume(left, right), -1);
    EXPECT_EQ(vol.SetVolume(100, 100), 0);
    EXPECT_EQ(vol.GetMute(), -1);
}

TEST(MixerE2E, TheMixerIsReopenedWhenAKilledServerComesBack) {
    test::PulseServer ps;
    ASSERT_TRUE(ps.ok());
    registerSysVolumeType();
    TestForm f;
    ASSERT_TRUE(f.form) << f.error;
    auto* sv = f.as<SysVolumeWidget>("系统音量1");
    ASSERT_EQ(sv->SelectLine(4), 1);
    EXPECT_EQ(sv->SetVolume(30000, 30000), 1);

    // The reopened mixer announces both values again.
    const int volumeEvents = f.rec.count("系统音量1", 0), muteEvents = f.rec.count("系统音量1", 1);
    ps.kill();
    EXPECT_TRUE(test::waitFor([&] { return sv->mixer().reopening(); }, 3000)) << "the loss went unnoticed";
    int left = 5, right = 5;
    EXPECT_EQ(sv->GetVolume(left, right), -1);
    EXPECT_EQ(sv->SetVolume(100, 100), 0);
    EXPECT_EQ(sv->GetMute(), -1);
    test::pump(1200);  // retries while it is away fail quietly
    EXPECT_EQ(sv->GetVolume(left, right), -1);

    ASSERT_TRUE(ps.restart()) << "pulseaudio did not start again";
    ASSERT_EQ(ps.pactl({"set-sink-volume", ps.sink(), "20000"}).exitCode, 0);
    ASSERT_EQ(ps.pactl({"set-sink-mute", ps.sink(), "1"}).exitCode, 0);
    QElapsedTimer back;
    back.start();
    // The mixer may come back before or after these changes reach the server: wait for both.
    const bool caughtUp = test::waitFor(
        [&] {
            return !sv->mixer().reopening() && sv->GetVolume(left, right) == 1 && left == 20000 &&
                   sv->GetMute() == 1;
        },
        10000);
    std::printf("mixer reopened and showing the new server's values %lld ms after it answered again\n",
                static_cast<long long>(back.elapsed()));
    EXPECT_TRUE(caughtUp) << "reopening " << sv->mixer().reopening() << ", volume " << left << ", mute "
                          << sv->GetMute();
    EXPECT_GT(f.rec.count("系统音量1", 0), volumeEvents);
    EXPECT_GT(f.rec.count("系统音量1", 1), muteEvents);
    EXPECT_EQ(sv->SetVolume(25000, 25000), 1);
    EXPECT_TRUE(test::waitFor([&] { return sinkVolumes(ps) == std::vector<long>{25000, 25000}; }));
}

}  // namespace
}  // namespace vesperon::volume
