// The output against a real sound server (PulseAudio with a null sink, reached through the
// output e2eAudioOutput() names): what the sink's monitor records must be the decoded PCM.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <thread>

#include "engine/player/entry_points.h"
#include "tests/player/engine_fixtures.h"
#include "tests/support/audio_compare.h"
#include "tests/support/e2e_sound.h"

using namespace vesperon::engine;
using namespace vesperon::test;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 44100;

// Where decoded frame 0 lies in the recording, from a quarter second of noisy signal.
long locate(const std::vector<int16_t>& decoded, const std::vector<int16_t>& recorded, double* correlation) {
    const long from = kRate / 5, length = kRate / 4;
    std::vector<int16_t> probe(decoded.begin() + 2 * from, decoded.begin() + 2 * (from + length));
    long lag = 0;
    // The play starts about half a second into the recording.
    long maxLag = std::min<long>(static_cast<long>(recorded.size() / 2) - length, 3 * kRate);
    *correlation = bestCorrelation(probe, recorded, 2, maxLag, &lag);
    return lag - from;
}

std::vector<int16_t> slice(const std::vector<int16_t>& v, long fromFrame, long frames) {
    fromFrame = std::max(0L, fromFrame);
    long end = std::min<long>(static_cast<long>(v.size() / 2), fromFrame + frames);
    if (end <= fromFrame) return {};
    return std::vector<int16_t>(v.begin() + 2 * fromFrame, v.begin() + 2 * end);
}

class AlsaE2e : public SoundServerTest {
protected:
    // Plays the file through the player while recording the monitor; `during` runs while playing.
    std::vector<int16_t> playAndRecord(const std::string& file,
                                       const std::function<void(PlayerHandle)>& during) {
        std::string raw = dir_.file("monitor.raw");
        {
            MonitorRecording recording(*server_, raw, kRate, 2);
            std::this_thread::sleep_for(500ms);
            WindowHandle w = NotifyRecorder::instance().open();
            PlayerHandle p = CreatePlayer(playList({file}).c_str(), 1);
            const auto t = std::chrono::steady_clock::now();
            NewPlay(p, w, nullptr, 0);
            newPlayCall_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
            EXPECT_EQ(GetPlayState(p), 1);
            if (during) during(p);
            EXPECT_TRUE(NotifyRecorder::instance().waitForEnds(w, 1, 30s));
            RemovePlayer(p);
            // The end is reported while the kept device still plays the last of it.
            OutputKeeper::instance().playOutAndClose(5.0);
            std::this_thread::sleep_for(500ms);
            recording.stop();
        }
        return readPcm16(raw);
    }

    double newPlayCall_ = 0;  // seconds
};

}  // namespace

TEST_F(AlsaE2e, TheSinkReceivesTheDecodedPcmWithoutGaps) {
    std::string file = makeMp3(dir_, "tone", Mp3Recipe{4});
    std::vector<int16_t> decoded = samples(referencePcm(dir_, file));
    ASSERT_GT(decoded.size(), 300000u);
    std::vector<int16_t> recorded = playAndRecord(file, nullptr);
    long frames = static_cast<long>(decoded.size() / 2);
    ASSERT_GT(static_cast<long>(recorded.size() / 2), frames);

    double correlation = 0;
    long lag = locate(decoded, recorded, &correlation);
    EXPECT_GE(correlation, 0.99);
    // Every decoded frame is there, the first one too, in one piece, at that one offset.
    PcmComparison c = comparePcm(decoded, recorded, 2, lag);
    std::cout << formatComparison("alsa->pulse", c) << "\n";
    EXPECT_EQ(static_cast<long>(c.compared), frames);
    EXPECT_GT(c.snrDb, 40.0);
}

TEST_F(AlsaE2e, PausingForASecondLeavesASecondOfSilenceAndLosesNothing) {
    std::string file = makeMp3(dir_, "tone", Mp3Recipe{5});
    std::vector<int16_t> decoded = samples(referencePcm(dir_, file));
    // The pause returns at once; the sound the device held is heard afterwards, and
    // GetPauseHeard tells when (the app puts the volume back only then).
    double pauseCall = 0, resumeCall = 0, heardAfter = -1;
    int heardAtOnce = -1;
    std::vector<int16_t> recorded = playAndRecord(file, [&](PlayerHandle p) {
        std::this_thread::sleep_for(1500ms);
        const auto t = std::chrono::steady_clock::now();
        SetPauseState(p, 1);
        pauseCall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
        heardAtOnce = GetPauseHeard(p);
        while (heardAfter < 0 && std::chrono::steady_clock::now() - t < 3s) {
            if (GetPauseHeard(p)) heardAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
            std::this_thread::sleep_for(2ms);
        }
        EXPECT_GE(heardAfter, 0) << "the held sound was never reported heard";
        EXPECT_EQ(GetPlayState(p), -1);
        std::this_thread::sleep_for(1000ms);
        const auto r = std::chrono::steady_clock::now();
        SetPauseState(p, 0);
        resumeCall = std::chrono::duration<double>(std::chrono::steady_clock::now() - r).count();
    });
    long recordedFrames = static_cast<long>(recorded.size() / 2);

    // Where the first second of the file starts in the recording.
    double c0 = 0;
    long lag0 = locate(decoded, recorded, &c0);
    ASSERT_GE(c0, 0.99);

    // The first run of at least 0.3 s of silence after that.
    auto silent = [&](long f) {
        return std::abs(recorded[2 * f]) <= 2 && std::abs(recorded[2 * f + 1]) <= 2;
    };
    long start = -1, end = -1;
    for (long f = lag0; f < recordedFrames; ++f) {
        if (!silent(f)) continue;
        long g = f;
        while (g < recordedFrames && silent(g)) ++g;
        if (g - f >= kRate * 3 / 10) {
            start = f;
            end = g;
            break;
        }
        f = g;
    }
    ASSERT_GE(start, 0) << "no pause in the recording";
    double pauseSeconds = double(end - start) / kRate;
    std::cout << "heard before the pause " << double(start - lag0) / kRate << " s, silence " << pauseSeconds
              << " s; the pause call took " << pauseCall * 1000 << " ms, the held sound heard "
              << heardAfter * 1000 << " ms after it (reported heard at once: " << heardAtOnce << "); NewPlay took "
              << newPlayCall_ * 1000 << " ms, the resume " << resumeCall * 1000 << " ms\n";
    // The second waited after "heard", plus the margin that report keeps (0.1 s) and the silence
    // the device had queued ahead of the resumed sound (up to its 0.25-s buffer).
    EXPECT_GE(pauseSeconds, 0.9);
    EXPECT_LE(pauseSeconds, 1.6);

    // After the silence the file goes on exactly where it stopped.
    long heard = start - lag0;
    long resumedAt = 0;
    const long window = kRate / 2;  // searched on either side of where it should go on
    double cr = bestCorrelation(slice(recorded, end + kRate / 10, kRate / 4),
                                slice(decoded, heard - window, 3 * window), 2, 2 * window, &resumedAt);
    resumedAt += heard - window - kRate / 10;
    std::cout << "paused after decoded frame " << heard << ", resumed at decoded frame " << resumedAt
              << " (correlation " << cr << ")\n";
    EXPECT_GE(cr, 0.99);
    // Exact through either output: ALSA's stream never stops, a corked one goes on from the next frame.
    std::cout << "the resume goes on " << double(resumedAt - heard) * 1000 / kRate
              << " ms from where the sound stopped\n";
    EXPECT_EQ(resumedAt, heard);
    long after = static_cast<long>(decoded.size() / 2) - resumedAt;
    ASSERT_GT(after, kRate);
    PcmComparison before = comparePcm(slice(decoded, 0, heard), slice(recorded, lag0, heard), 2, 0);
    PcmComparison rest = comparePcm(slice(decoded, resumedAt, after), slice(recorded, end, after), 2, 0);
    std::cout << formatComparison("before pause", before) << "\n"
              << formatComparison("after pause", rest) << "\n";
    {
        std::vector<int16_t> d = slice(decoded, resumedAt, after), r = slice(recorded, end, after);
        long bad = -1, count = 0;
        for (long i = 0; i < static_cast<long>(std::min(d.size(), r.size())); ++i)
            if (std::abs(d[i] - r[i]) > 4) {
                if (bad < 0) bad = i / 2;
                ++count;
            }
        std::cout << "first differing frame after the pause " << bad << " of " << after << ", " << count
                  << " samples differ\n";
    }
    EXPECT_GT(before.snrDb, 40.0);
    EXPECT_GT(rest.snrDb, 40.0);
    EXPECT_EQ(static_cast<long>(rest.compared), after);
}
