// Even loudness heard through a real sound server (a private PulseAudio at 100 % sink volume,
// recorded from its monitor and measured with libebur128): five tracks from -30 to -8 LUFS come
// out at the target in track mode and as they are with the gain off; two tracks cut from one
// recording keep their seam and their difference in album mode; a stream level of 50 % is 6 dB
// below 100 %.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <unordered_map>

#include "engine/loudness/measure.h"
#include "engine/loudness/track_gain.h"
#include "engine/player/playback.h"
#include "tests/support/audio_compare.h"
#include "tests/support/e2e_sound.h"

using namespace vesperon;
using namespace vesperon::loudness;
using namespace vesperon::test;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 44100;
constexpr long kFrameMs = kRate / 1000;

using Stretch = SoundStretch;
std::vector<Stretch> stretchesOf(const std::vector<int16_t>& pcm) {
    return soundStretches(pcm, kRate, 2);
}

Loudness measured(const std::vector<int16_t>& pcm, long fromMs, long toMs) {
    const auto l =
        measurePcm(pcm.data() + fromMs * kFrameMs * 2, std::size_t((toMs - fromMs) * kFrameMs), 2, kRate);
    return l.value_or(Loudness{-99, -99, 0});
}

class LoudnessE2e : public SoundServerTest {
protected:
    void SetUp() override {
        SoundServerTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(server_->pactl({"set-sink-volume", server_->sink(), "100%"}).exitCode, 0);
        engine::Playback::setStreamLevel(100);
    }
    void TearDown() override {
        engine::Playback::setTrackGains({});
        engine::Playback::setStreamLevel(100);
        SoundServerTest::TearDown();
    }

    // Two sines (one a channel) at `lufs`, then 0.6 s of silence, encoded; "" when a tool failed.
    std::string track(const std::string& name, double lufs, double seconds = 2.5) {
        const std::string base = dir_.file(name + ".base.wav"), wav = dir_.file(name + ".wav");
        if (runCommand({"sox", "-D", "-R", "-n", "-r", "44100", "-c", "2", "-b", "16", base, "synth",
                        std::to_string(seconds), "sine", "440", "sine", "660", "vol", "0.1"})
                .exitCode != 0)
            return "";
        int rate = 0, channels = 0;
        const auto pcm = readWav16(base, &rate, &channels);
        const auto l = measurePcm(pcm.data(), pcm.size() / 2, 2, rate);
        if (!l) return "";
        const std::string gain = std::to_string(lufs - l->lufs);
        if (runCommand({"sox", "-D", "-R", base, wav, "gain", gain, "pad", "0", "0.6"}).exitCode != 0)
            return "";
        return lame(wav, dir_.file(name + ".mp3"));
    }
    static std::string lame(const std::string& wav, const std::string& mp3) {
        return runCommand({"lame", "--quiet", "-b", "192", wav, mp3}).exitCode == 0 ? mp3 : "";
    }

    // Plays the list through once while recording the monitor; the recording's samples once
    // `sounds` stretches of sound have been heard and ended.
    std::vector<int16_t> playAndRecord(const std::vector<std::string>& files, std::size_t sounds) {
        const std::string raw = dir_.file("recording" + std::to_string(++recordings_) + ".raw");
        MonitorRecording recording(*server_, raw, kRate, 2, 20);
        engine::Playback playback(files, 1);
        EXPECT_EQ(playback.play(), engine::Status::Ok);
        std::vector<int16_t> pcm;
        std::vector<Stretch> seen;
        for (int i = 0; i < 600; ++i) {
            std::this_thread::sleep_for(100ms);
            pcm = readPcm16(raw);
            seen = stretchesOf(pcm);
            const long recordedMs = long(pcm.size()) / (2 * kFrameMs);
            if (playback.state() == engine::PlayState::Stopped && seen.size() >= sounds &&
                recordedMs - seen.back().end > 400)
                break;
        }
        EXPECT_EQ(seen.size(), sounds) << "stretches of sound heard";
        return pcm;
    }

    int recordings_ = 0;
};

}  // namespace

// Track mode brings each to -18 LUFS (true peak at most -1 dBTP); off plays each as its file
// measures. One recording per mode.
TEST_F(LoudnessE2e, FiveTracksComeOutAtTheTargetAndAsTheyAreWithTheGainOff) {
    const std::vector<double> levels{-30, -24, -18, -12, -8};
    std::vector<std::string> files;
    for (std::size_t i = 0; i < levels.size(); ++i)
        files.push_back(track("t" + std::to_string(i), levels[i]));
    for (const std::string& f : files) ASSERT_FALSE(f.empty());
    const Lookup lookup = [](const std::string& p) { return measureFile(p); };

    for (Mode mode : {Mode::Track, Mode::Off}) {
        const auto gains = gainsFor(files, {mode, -18}, lookup);
        std::unordered_map<std::string, double> table;
        for (std::size_t i = 0; i < files.size(); ++i)
            if (gains[i]) table[files[i]] = *gains[i];
        engine::Playback::setTrackGains(table);
        const auto pcm = playAndRecord(files, files.size());
        const auto heard = stretchesOf(pcm);
        ASSERT_EQ(heard.size(), files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            const Loudness file = *measureFile(files[i]);
            const Loudness rec = measured(pcm, heard[i].start, heard[i].end);
            std::printf("%s: file %.2f LUFS %.2f dBTP, heard %.2f LUFS %.2f dBTP\n", modeName(mode),
                        file.lufs, file.peakDb, rec.lufs, rec.peakDb);
            const double want = mode == Mode::Off ? file.lufs : -18.0;
            EXPECT_NEAR(rec.lufs, want, mode == Mode::Off ? 0.5 : 1.0) << modeName(mode) << " track " << i;
            if (mode == Mode::Track) EXPECT_LE(rec.peakDb, kPeakCeiling + 0.1) << "track " << i;
        }
    }
}

// Two tracks cut from one recording (a quiet half and a loud half) in one folder: in album mode
// they get one gain, so they join with no silence at the seam and keep their 10 LU difference.
TEST_F(LoudnessE2e, AlbumModeKeepsTheSeamAndTheDifferenceOfTracksCutFromOneRecording) {
    const std::string quiet = dir_.file("quiet.wav"), loud = dir_.file("loud.wav"),
                      whole = dir_.file("whole.wav");
    for (const auto& [wav, vol] : {std::pair{quiet, "0.05"}, std::pair{loud, "0.158"}})
        ASSERT_EQ(runCommand({"sox", "-D", "-R", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth",
                              "3", "sine", "440", "sine", "660", "vol", vol})
                      .exitCode,
                  0);
    ASSERT_EQ(runCommand({"sox", "-D", "-R", quiet, loud, whole}).exitCode, 0);
    // Cut at 3.1 s, inside the loud half and away from any frame boundary.
    const std::string a = dir_.file("a.wav"), b = dir_.file("b.wav");
    ASSERT_EQ(runCommand({"sox", "-D", "-R", whole, a, "trim", "0", "3.1"}).exitCode, 0);
    ASSERT_EQ(runCommand({"sox", "-D", "-R", whole, b, "trim", "3.1"}).exitCode, 0);
    const std::vector<std::string> files{lame(a, dir_.file("a.mp3")), lame(b, dir_.file("b.mp3"))};
    ASSERT_FALSE(files[0].empty() || files[1].empty());
    const auto gains =
        gainsFor(files, {Mode::Album, -18}, [](const std::string& p) { return measureFile(p); });
    ASSERT_TRUE(gains[0] && gains[1]);
    EXPECT_EQ(*gains[0], *gains[1]);
    engine::Playback::setTrackGains({{files[0], *gains[0]}, {files[1], *gains[1]}});

    const auto pcm = playAndRecord(files, 1);
    const auto heard = stretchesOf(pcm);
    ASSERT_EQ(heard.size(), 1u);
    const Stretch& s = heard[0];
    const Loudness first = measured(pcm, s.start + 200, s.start + 2800),
                   second = measured(pcm, s.end - 2800, s.end - 200);
    const auto wavLoudness = [](const std::string& w) {
        const auto p = readWav16(w);
        return *measurePcm(p.data(), p.size() / 2, 2, kRate);
    };
    const double fileDifference = wavLoudness(loud).lufs - wavLoudness(quiet).lufs;
    std::printf(
        "album: gain %+.2f dB; heard %.2f and %.2f LUFS (difference %.2f, in the files %.2f); longest "
        "quiet inside %ld ms over %ld ms\n",
        *gains[0], first.lufs, second.lufs, second.lufs - first.lufs, fileDifference, s.longestQuiet,
        s.end - s.start);
    EXPECT_EQ(s.longestQuiet, 0) << "silence at the seam";
    EXPECT_NEAR(s.end - s.start, 6000, 60);
    EXPECT_NEAR(second.lufs - first.lufs, fileDifference, 0.5);
    EXPECT_LE(second.peakDb, kPeakCeiling + 0.1);
}

// The same track at a stream level of 100 % and of 50 %, in one recording: 6.02 dB apart.
TEST_F(LoudnessE2e, AStreamLevelOfHalfIsSixDecibelsDown) {
    const std::string file = track("level", -20);
    ASSERT_FALSE(file.empty());
    const std::string raw = dir_.file("levels.raw");
    {
        MonitorRecording recording(*server_, raw, kRate, 2, 20);
        std::size_t played = 0;
        for (int level : {100, 50}) {
            engine::Playback::setStreamLevel(level);
            engine::Playback playback({file}, 1);
            ASSERT_EQ(playback.play(), engine::Status::Ok);
            ++played;
            // The end is told with up to 0.8 s still to be heard; the recording shows when it has been.
            for (int i = 0; i < 300; ++i) {
                std::this_thread::sleep_for(100ms);
                const auto pcm = readPcm16(raw);
                const auto s = stretchesOf(pcm);
                if (playback.state() == engine::PlayState::Stopped && s.size() == played &&
                    long(pcm.size()) / (2 * kFrameMs) - s.back().end > 400)
                    break;
            }
        }
    }
    const auto pcm = readPcm16(raw);
    const auto heard = stretchesOf(pcm);
    ASSERT_EQ(heard.size(), 2u);
    const double full = measured(pcm, heard[0].start, heard[0].end).lufs;
    const double half = measured(pcm, heard[1].start, heard[1].end).lufs;
    std::printf("level: 100 %% %.2f LUFS, 50 %% %.2f LUFS, %.2f dB apart\n", full, half, full - half);
    EXPECT_NEAR(full - half, 6.02, 0.5);
}
