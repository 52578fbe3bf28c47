// MP3 files made by an encoder at test time, decoded through the player's decoding path and by
// the peer decoder (float output, its highest subband turned off to match the band limit,
// truncated to 16 bits the way this decoder's output stage does).

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/mpeg/layer2_test_util.h"
#include "tests/support/audio_compare.h"
#include "tests/support/process.h"

using namespace vesperon;
using namespace vesperon::test;

namespace {

// Tones, sweeps in both directions and bursts of noise, mixed: enough to switch block types,
// stereo modes and Huffman tables the way music does.
bool makeSource(const std::string& path, int rate, int channels, int seconds) {
    const std::string r = std::to_string(rate), c = std::to_string(channels), s = std::to_string(seconds);
    CommandResult res = runCommand(
        {"sox", "-m", "|sox -n -r " + r + " -c " + c + " -p synth " + s + " sine 220 sine 331 gain -10",
         "|sox -n -r " + r + " -c " + c + " -p synth " + s + " sine 100-9000 sine 9000-100 gain -14",
         "|sox -n -r " + r + " -c " + c + " -p synth " + s + " pinknoise pinknoise tremolo 2 100 gain -16",
         "|sox -n -r " + r + " -c " + c + " -p synth " + s + " square 60 square 90 tremolo 1 100 gain -20",
         "-b", "16", path},
        120);
    return res.exitCode == 0;
}

struct Encoding {
    const char* name;
    int sourceRate;
    std::vector<std::string> lameArgs;
    int channels;
    int rate;
};

TEST(Layer3RealFiles, EncodedFilesMatchThePeerDecoder) {
    for (const char* tool : {"sox", "lame", "mpg123"})
        if (!haveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
    TempDir dir;
    const std::string src44 = dir.file("src44.wav"), src48 = dir.file("src48.wav");
    ASSERT_TRUE(makeSource(src44, 44100, 2, 4));
    ASSERT_TRUE(makeSource(src48, 48000, 2, 4));
    // The peer's equalizer: one line per subband, left and right factor; the 32nd is off.
    const std::string eq = dir.file("eq.txt");
    {
        std::ofstream f(eq);
        for (int i = 0; i < 31; ++i) f << "1 1\n";
        f << "0 0\n";
    }

    const std::vector<Encoding> encodings = {
        {"44.1 kHz 128 kbit/s joint stereo", 44100, {"-b", "128", "-m", "j"}, 2, 44100},
        {"48 kHz 160 kbit/s stereo", 48000, {"-b", "160", "-m", "s"}, 2, 48000},
        {"22.05 kHz MPEG-2 64 kbit/s", 44100, {"--resample", "22.05", "-b", "64", "-m", "j"}, 2, 22050},
        {"11.025 kHz MPEG 2.5 32 kbit/s", 44100, {"--resample", "11.025", "-b", "32", "-m", "j"}, 2, 11025},
        {"44.1 kHz mono 96 kbit/s", 44100, {"-b", "96", "-m", "m"}, 1, 44100},
        {"44.1 kHz VBR with Xing header", 44100, {"-V", "4"}, 2, 44100},
        {"44.1 kHz free format 200 kbit/s", 44100, {"--freeformat", "-b", "200"}, 2, 44100},
    };
    std::string table = "\nLayer III real files against the peer decoder (its 32nd subband off)\n";
    int index = 0;
    for (const Encoding& e : encodings) {
        SCOPED_TRACE(e.name);
        const std::string mp3 = dir.file("f" + std::to_string(index) + ".mp3");
        const std::string f32 = dir.file("f" + std::to_string(index) + ".f32");
        ++index;
        std::vector<std::string> lame = {"lame", "--silent"};
        lame.insert(lame.end(), e.lameArgs.begin(), e.lameArgs.end());
        lame.push_back(e.sourceRate == 48000 ? src48 : src44);
        lame.push_back(mp3);
        ASSERT_EQ(runCommand(lame, 120).exitCode, 0);
        ASSERT_EQ(
            runCommand({"mpg123", "-q", "-e", "f32", "-E", eq, "-O", f32, mp3}, 120).exitCode,
            0);

        DecodedStream d = decodeFile(mp3);
        ASSERT_EQ(d.startStatus, mpeg::Status::Ok);
        EXPECT_EQ(d.channels, e.channels);
        EXPECT_EQ(d.sampleRate, e.rate);
        EXPECT_EQ(d.resyncs, 0);
        const std::vector<int16_t> peer = readF32AsTruncated16(f32);
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
        table += formatComparison(e.name, best) + "\n";
        EXPECT_GT(best.compared, peer.size() / static_cast<std::size_t>(e.channels) * 3 / 4);
        EXPECT_LE(best.rms, 0.5);
        EXPECT_LE(best.maxError, 3);
    }
    std::printf("%s", table.c_str());
}

}  // namespace
