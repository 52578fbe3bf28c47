// Even loudness through the whole program: `vesperon --session FILE` on a private Xvfb and a
// PulseAudio null sink at 100 %, a session in track mode whose one period (level 50 %) starts a
// few seconds ahead, two tracks 20 LU apart in the list. The tracks are measured at start-up and
// recorded from the sink's monitor: both come out at the target, 6 dB down.

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "engine/loudness/measure.h"
#include "tests/support/audio_compare.h"
#include "tests/support/e2e_program.h"
#include "tests/support/process.h"

namespace vesperon::test {
namespace {

constexpr int kRate = 44100;

// Two sines (one a channel) at `vol`, then 0.6 s of silence, encoded.
std::string track(const TempDir& dir, const std::string& name, const std::string& vol) {
    const std::string wav = dir.file(name + ".wav"), mp3 = dir.file(name + ".mp3");
    if (runCommand({"sox",   "-D",  "-R",   "-n",  "-r",   "44100", "-c",  "2", "-b",  "16", wav,
                    "synth", "2.5", "sine", "440", "sine", "660",   "vol", vol, "pad", "0",  "0.6"})
                .exitCode != 0 ||
        runCommand({"lame", "--quiet", "-b", "192", wav, mp3}).exitCode != 0)
        return "";
    return mp3;
}

TEST(LoudnessE2E, ASessionInTrackModePlaysEachTrackAtTheTargetAndAPeriodAtItsLevel) {
    TempDir dir;
    const std::string quiet = track(dir, "quiet", "0.02"), loud = track(dir, "loud", "0.2");
    ASSERT_FALSE(quiet.empty() || loud.empty());
    ASSERT_EQ(e2ePulse().pactl({"set-sink-volume", e2ePulse().sink(), "100%"}).exitCode, 0);

    const std::time_t start = std::time(nullptr) + 8, end = start + 12;
    std::tm from{}, to{};
    localtime_r(&start, &from);
    localtime_r(&end, &to);
    const auto texts = [](const std::tm& t) {
        return "[\"" + std::to_string(t.tm_hour) + "\", \"" + std::to_string(t.tm_min) + "\", \"" +
               std::to_string(t.tm_sec) + "\"]";
    };
    std::string periods = "{\"from\": " + texts(from) + ", \"to\": " + texts(to) + ", \"level\": 50}";
    for (int i = 0; i < 4; ++i) periods += R"(, {"from": ["", "", ""], "to": ["", "", ""]})";
    const std::string session = dir.file("session.json");
    writeFile(session, "{\"version\": 1, \"playlist\": [\"" + quiet + "\", \"" + loud +
                           "\"], \"periods\": [" + periods +
                           "], \"random\": false, \"loop\": false, \"schedule\": true,\n"
                           " \"loudness\": {\"target\": -18, \"mode\": \"track\"}}\n");

    const std::string raw = dir.file("program.raw");
    MonitorRecording recording(e2ePulse(), raw, kRate, 2);
    BackgroundProcess program({vesperonPath(), "--session", session},
                              {"QT_QPA_PLATFORM=xcb", "VESPERON_AUDIO_OUTPUT=" + e2eAudioOutput(),
                               "XDG_CACHE_HOME=" + dir.file("cache")});
    ASSERT_FALSE(findWindow("^Vesperon$", 8).empty()) << "the window did not appear";
    // Both tracks heard and ended (the list goes round again while the period lasts).
    std::vector<SoundStretch> heard;
    const double waited = secondsUntil(
        [&] {
            heard = soundStretches(readPcm16(raw), kRate, 2);
            return heard.size() >= 3;
        },
        30);
    ASSERT_GE(waited, 0) << "heard " << heard.size() << " stretches of sound";
    program.stop();
    const std::vector<int16_t> pcm = readPcm16(raw);
    for (int i = 0; i < 2; ++i) {
        const std::string& file = i == 0 ? quiet : loud;
        const auto own = loudness::measureFile(file);
        const auto rec =
            loudness::measurePcm(pcm.data() + heard[i].start * kRate / 1000 * 2,
                                 std::size_t((heard[i].end - heard[i].start) * kRate / 1000), 2, kRate);
        ASSERT_TRUE(own && rec);
        std::printf("%s: file %.2f LUFS, heard %.2f LUFS %.2f dBTP (target -18, level 50 %%: -24.02)\n",
                    i == 0 ? "quiet" : "loud", own->lufs, rec->lufs, rec->peakDb);
        EXPECT_NEAR(rec->lufs, -18 - 6.02, 1.0) << file;
        EXPECT_LE(rec->peakDb, -1.0);
    }
    EXPECT_NE(readFile(dir.file("cache/vesperon/loudness.json")).find(quiet), std::string::npos)
        << "the measurements were not kept";
}

}  // namespace
}  // namespace vesperon::test

int main(int argc, char** argv) {
    return vesperon::test::runProgramE2eMain(
        argc, argv, {"Xvfb", "xdotool", "pulseaudio", "pactl", "parec", "sox", "lame"});
}
