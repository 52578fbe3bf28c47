// Layer II files made by twolame at test time, decoded by the player's decoding path and by
// mpg123 (float output, truncated to 16 bits the way this system's output stage does).

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/mpeg/layer2_test_util.h"
#include "tests/support/audio_compare.h"
#include "tests/support/encoded_tone.h"
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

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.label;
}

class Layer2Peer : public testing::TestWithParam<Case> {};

TEST_P(Layer2Peer, TwolameFileMatchesMpg123WithinHalfAnLsb) {
    for (const char* tool : {"sox", "twolame", "mpg123"})
        if (!haveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    const Case& c = GetParam();
    // Swept tones (a different sweep per channel) over pink noise: every subband gets work.
    ToneRecipe source{4, c.rate, c.channels};
    source.mixed = {{"sine", "220-" + std::to_string(c.rate * 2 / 5), "sine",
                     "330-" + std::to_string(c.rate / 6), "gain", "-6"},
                    {"pinknoise", "gain", "-12"}};
    const std::string mp2 =
        encodedTone(source, {"twolame", "--quiet", "-b", std::to_string(c.kbps), "-m", c.mode});
    ASSERT_NE(mp2, "");
    const std::vector<int16_t> peer = peerDecoded(mp2, {"--no-gapless"});

    DecodedStream d = decodeFile(mp2);
    ASSERT_EQ(d.startStatus, mpeg::Status::Ok);
    EXPECT_EQ(d.channels, c.channels);
    EXPECT_EQ(d.sampleRate, c.rate);
    EXPECT_EQ(d.resyncs, 0);
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
