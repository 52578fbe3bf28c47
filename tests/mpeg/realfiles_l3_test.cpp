// MP3 files made by an encoder at test time, decoded through the player's decoding path and by
// the peer decoder (float output, its highest subband turned off to match the band limit,
// truncated to 16 bits the way this decoder's output stage does).

#include <gtest/gtest.h>

#include <cctype>
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

// Tones, sweeps in both directions and bursts of noise, mixed: enough to switch block types,
// stereo modes and Huffman tables the way music does.
ToneRecipe source(int rate) {
    ToneRecipe tone{4, rate, 2};
    tone.mixed = {{"sine", "220", "sine", "331", "gain", "-10"},
                  {"sine", "100-9000", "sine", "9000-100", "gain", "-14"},
                  {"pinknoise", "pinknoise", "tremolo", "2", "100", "gain", "-16"},
                  {"square", "60", "square", "90", "tremolo", "1", "100", "gain", "-20"}};
    return tone;
}

struct Encoding {
    const char* name;
    int sourceRate;
    std::vector<std::string> lameArgs;
    int channels;
    int rate;
};

void PrintTo(const Encoding& e, std::ostream* os) {
    *os << e.name;
}

class Layer3RealFiles : public testing::TestWithParam<Encoding> {};

TEST_P(Layer3RealFiles, EncodedFileMatchesThePeerDecoder) {
    for (const char* tool : {"sox", "lame", "mpg123"})
        if (!haveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    const Encoding& e = GetParam();
    Encoder lame{"lame", "--silent"};
    lame.insert(lame.end(), e.lameArgs.begin(), e.lameArgs.end());
    const std::string mp3 = encodedTone(source(e.sourceRate), lame);
    ASSERT_NE(mp3, "");

    DecodedStream d = decodeFile(mp3);
    ASSERT_EQ(d.startStatus, mpeg::Status::Ok);
    EXPECT_EQ(d.channels, e.channels);
    EXPECT_EQ(d.sampleRate, e.rate);
    EXPECT_EQ(d.resyncs, 0);
    const std::vector<int16_t> peer = peerDecoded(mp3);
    ASSERT_FALSE(peer.empty());

    // Both skip the Xing frame and trim what the LAME tag says; where a file has no tag,
    // align on whole frames.
    const int spf = e.rate >= 32000 ? 1152 : 576;
    PcmComparison best;
    bool have = false;
    for (int k = -3; k <= 3; ++k) {
        PcmComparison c = comparePcm(d.pcm, peer, e.channels, static_cast<long>(k) * spf);
        if (c.compared == 0) continue;
        if (!have || c.rms < best.rms) best = c;
        have = true;
    }
    ASSERT_TRUE(have);
    EXPECT_EQ(d.pcm.size(), peer.size());  // the same samples kept, the LAME tag read alike
    std::printf("Layer III real file against the peer decoder (its 32nd subband off)\n%s\n",
                formatComparison(e.name, best).c_str());
    EXPECT_GT(best.compared, peer.size() / static_cast<std::size_t>(e.channels) * 3 / 4);
    EXPECT_LE(best.rms, 0.5);
    EXPECT_LE(best.maxError, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Layer3, Layer3RealFiles,
    testing::Values(
        Encoding{"44.1 kHz 128 kbit/s joint stereo", 44100, {"-b", "128", "-m", "j"}, 2, 44100},
        Encoding{"48 kHz 160 kbit/s stereo", 48000, {"-b", "160", "-m", "s"}, 2, 48000},
        Encoding{
            "22.05 kHz MPEG-2 64 kbit/s", 44100, {"--resample", "22.05", "-b", "64", "-m", "j"}, 2, 22050},
        Encoding{"11.025 kHz MPEG 2.5 32 kbit/s",
                 44100,
                 {"--resample", "11.025", "-b", "32", "-m", "j"},
                 2,
                 11025},
        Encoding{"44.1 kHz mono 96 kbit/s", 44100, {"-b", "96", "-m", "m"}, 1, 44100},
        Encoding{"44.1 kHz VBR with Xing header", 44100, {"-V", "4"}, 2, 44100},
        Encoding{"44.1 kHz free format 200 kbit/s", 44100, {"--freeformat", "-b", "200"}, 2, 44100}),
    [](const testing::TestParamInfo<Encoding>& info) {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
        return name;
    });

}  // namespace
