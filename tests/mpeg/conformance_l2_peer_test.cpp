// Layer II files made by twolame at test time, decoded by the player's decoding path and by
// mpg123 (float output, truncated to 16 bits the way this system's output stage does).

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/mpeg/layer2_test_util.h"
#include "tests/support/audio_compare.h"
#include "tests/support/process.h"

using namespace vesperon;
using namespace vesperon::test;

namespace {

struct Case {
    const char* label;
    int rate;
    int channels;
    int kbps;
    const char* mode;  // twolame -m: s stereo, j joint stereo, m mono
};

// The first three are the ones the player must match; the last two reach the low-rate tables.
const Case kCases[] = {
    {"48 kHz 192 kbit/s stereo", 48000, 2, 192, "s"},
    {"44.1 kHz 256 kbit/s joint stereo", 44100, 2, 256, "j"},
    {"24 kHz 112 kbit/s joint stereo (MPEG-2)", 24000, 2, 112, "j"},
    {"48 kHz 96 kbit/s stereo (8 subbands)", 48000, 2, 96, "s"},
    {"32 kHz 48 kbit/s mono (12 subbands)", 32000, 1, 48, "m"},
};

bool run(const std::vector<std::string>& argv) {
    CommandResult r = runCommand(argv, 120);
    if (r.exitCode != 0) ADD_FAILURE() << argv[0] << " failed (" << r.exitCode << "): " << r.err;
    return r.exitCode == 0;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.label;
}

class Layer2Peer : public testing::TestWithParam<Case> {};

TEST_P(Layer2Peer, TwolameFileMatchesMpg123WithinHalfAnLsb) {
    for (const char* tool : {"sox", "twolame", "mpg123"})
        if (!haveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    const Case& c = GetParam();
    TempDir dir;
    // Every band passes but the 32nd: the player never decodes it.
    std::string eq;
    for (int band = 0; band < 32; ++band) eq += band < 31 ? "1 1\n" : "0 0\n";
    writeFile(dir.file("eq.txt"), eq);

    const std::string rate = std::to_string(c.rate);
    const std::string ch = std::to_string(c.channels);
    const std::string tone = dir.file("tone.wav"), noise = dir.file("noise.wav"), src = dir.file("src.wav");
    const std::string mp2 = dir.file("file.mp2"), ref = dir.file("ref.f32");
    // Swept tones (a different sweep per channel) over pink noise: every subband gets work.
    ASSERT_TRUE(run({"sox", "-n", "-r", rate, "-c", ch, "-b", "16", tone, "synth", "4", "sine",
                     "220-" + std::to_string(c.rate * 2 / 5), "sine", "330-" + std::to_string(c.rate / 6),
                     "gain", "-6"}));
    ASSERT_TRUE(run(
        {"sox", "-n", "-r", rate, "-c", ch, "-b", "16", noise, "synth", "4", "pinknoise", "gain", "-12"}));
    ASSERT_TRUE(run({"sox", "-m", tone, noise, src}));
    ASSERT_TRUE(run({"twolame", "--quiet", "-b", std::to_string(c.kbps), "-m", c.mode, src, mp2}));
    ASSERT_TRUE(run(
        {"mpg123", "-q", "-e", "f32", "--no-gapless", "--equalizer", dir.file("eq.txt"), "-O", ref, mp2}));

    DecodedStream d = decodeFile(mp2);
    ASSERT_EQ(d.startStatus, mpeg::Status::Ok);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.sampleRate, c.rate);
    EXPECT_EQ(d.resyncs, 0);
    const std::vector<int16_t> peer = readF32AsTruncated16(ref);
    ASSERT_FALSE(d.pcm.empty());
    ASSERT_FALSE(peer.empty());
    PcmComparison cmp = comparePcmAligned(d.pcm, peer, c.channels, 32);
    std::printf("Layer II against mpg123 -e f32 (reference index = decoded index + offset)\n%s\n",
                formatComparison(c.label, cmp).c_str());
    EXPECT_EQ(cmp.offset, 0);
    EXPECT_EQ(cmp.compared, d.pcm.size() / static_cast<std::size_t>(c.channels));
    EXPECT_LE(cmp.rms, 0.5);
    EXPECT_LE(cmp.maxError, 3);
}

INSTANTIATE_TEST_SUITE_P(Layer2, Layer2Peer, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::to_string(info.param.rate) + "Hz" + std::to_string(info.param.kbps) +
                                    "kbps" + (info.param.channels == 1 ? "Mono" : "Stereo") + info.param.mode;
                         });

}  // namespace
