// Checks the test support itself against the real servers: a test that passes because its
// fixture silently failed would prove nothing.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/audio_compare.h"
#include "tests/support/servers.h"

namespace vesperon::test {

TEST(Support, ComparisonFindsTheShiftAndMeasuresTheError) {
    std::vector<int16_t> ref(8000), dec;
    for (std::size_t i = 0; i < ref.size(); ++i) ref[i] = static_cast<int16_t>(8000 * std::sin(0.01 * i * i / 50.0));
    // Decoded output lags 7 frames behind and is off by one in every other sample.
    for (std::size_t i = 7; i < ref.size(); ++i) dec.push_back(static_cast<int16_t>(ref[i] + (i % 2)));
    PcmComparison c = comparePcmAligned(dec, ref, 1, 20);
    EXPECT_EQ(c.offset, 7);
    EXPECT_EQ(c.maxError, 1);
    EXPECT_NEAR(c.rms, std::sqrt(0.5), 0.01);
    long lag = -1;
    EXPECT_GT(bestCorrelation(ref, std::vector<int16_t>(20, 0), 1, 10, &lag), -2);
}

TEST(Support, PulseServerRecordsWhatIsPlayed) {
    PulseServer pulse;
    ASSERT_TRUE(pulse.ok());
    EXPECT_EQ(pulse.pactl({"get-default-sink"}).out, pulse.sink() + "\n");
    TempDir dir;
    auto tone = runCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", dir.file("t.wav"), "synth", "1", "sine", "200-3000"});
    ASSERT_EQ(tone.exitCode, 0) << tone.err;
    {
        MonitorRecording rec(pulse, dir.file("rec.raw"), 44100, 2);
        auto play = runCommand({"paplay", dir.file("t.wav")}, 20);
        ASSERT_EQ(play.exitCode, 0) << play.err;
    }
    auto ref = readWav16(dir.file("t.wav"));
    auto got = readPcm16(dir.file("rec.raw"));
    long lag = 0;
    // paplay may take a moment to start: allow for several seconds of lead-in.
    EXPECT_GT(bestCorrelation(ref, got, 2, 5 * 44100, &lag), 0.99);
}

TEST(Support, XServerAnswers) {
    XServer x;
    ASSERT_TRUE(x.ok());
    EXPECT_EQ(runCommand({"xdpyinfo"}, 10).exitCode, 0);
}

}  // namespace vesperon::test
