// The Layer II conformance streams through the player's decoding path, against their reference
// decodings; the Layer I streams, which the probe refuses.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/mpeg/header.h"
#include "tests/mpeg/layer2_test_util.h"
#include "tests/support/audio_compare.h"
#include "tests/support/process.h"

using namespace vesperon;
using namespace vesperon::test;

namespace {

struct Vector {
    const char* name;
    int channels;
    int sampleRate;
};

// Every Layer II stream of the collection that has a reference decoding.
const Vector kVectors[] = {
    {"l2-fl10", 2, 32000}, {"l2-fl11", 2, 44100}, {"l2-fl12", 2, 48000}, {"l2-fl13", 1, 32000},
    {"l2-fl14", 2, 48000}, {"l2-fl15", 2, 48000}, {"l2-fl16", 2, 48000}, {"l2-test32", 2, 24000},
};

TEST(Layer2Conformance, VectorsMatchTheirReferencesWithinOneLsb) {
    std::string table = "\nLayer II conformance (decoding path; reference index = decoded index + offset)\n";
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        const std::string bit = vectorPath(std::string(v.name) + ".bit");
        DecodedStream d = decodeFile(bit);
        ASSERT_EQ(d.startStatus, mpeg::Status::Ok);
        EXPECT_EQ(d.endStatus, mpeg::Status::EndOfData);
        EXPECT_EQ(d.channels, v.channels);
        EXPECT_EQ(d.sampleRate, v.sampleRate);
        EXPECT_EQ(d.resyncs, 0);

        // Streams that switch between stereo and joint stereo in their first frames lose the
        // frames before three of one mode follow each other (the probe wants one mode), so the
        // output starts a whole frame or more into the reference.
        const std::vector<int16_t> ref = readPcm16(vectorPath(std::string(v.name) + ".pcm"));
        PcmComparison c;
        int64_t skipped = 0;
        for (int k = 0; k < 4; ++k) {
            PcmComparison t = comparePcm(d.pcm, ref, v.channels, k * 1152L);
            if (k == 0 || t.rms < c.rms) {
                c = t;
                skipped = k;
            }
        }
        // After a skipped frame the synthesis starts from silence where the reference decoder had
        // the skipped frame in its history: judge from the second decoded frame on.
        PcmComparison judged = c;
        if (skipped > 0) {
            const std::vector<int16_t> warm(d.pcm.begin() + 1152 * v.channels, d.pcm.end());
            judged = comparePcm(warm, ref, v.channels, (skipped + 1) * 1152L);
        }
        // Every whole frame of the file is decoded, the last ones included.
        const std::string bytes = readFile(bit);
        int64_t streamFrames = 0;
        mpeg::FrameHeader h;
        for (std::size_t at = 0, n; at + 4 <= bytes.size(); at += n, ++streamFrames) {
            const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
            n = static_cast<std::size_t>(mpeg::parseHeader(p, bytes.size() - at, &h)) + h.paddingBit;
            if (n <= 1 || at + n > bytes.size()) break;
        }
        const int64_t expectedFrames = streamFrames - skipped;
        EXPECT_EQ(d.frames, expectedFrames);
        ASSERT_EQ(d.pcm.size(), static_cast<std::size_t>(d.frames) * 1152 * v.channels);

        table += formatComparison(v.name, judged) + "\n";
        if (skipped > 0) table += formatComparison("  (with its cold first frame)", c) + "\n";
        char line[240];
        std::snprintf(
            line, sizeof line,
            "    frames %lld..%lld of %lld decoded (%lld skipped by the probe, %lld not decoded); "
            "reference %zu samples per channel, whole stream %lld\n",
            static_cast<long long>(skipped), static_cast<long long>(skipped + d.frames - 1),
            static_cast<long long>(streamFrames), static_cast<long long>(skipped),
            static_cast<long long>(streamFrames - skipped - d.frames), ref.size() / v.channels,
            static_cast<long long>(streamFrames * 1152));
        table += line;
        EXPECT_EQ(c.compared, d.pcm.size() / v.channels);
        EXPECT_LE(judged.rms, 0.8);
        EXPECT_LE(judged.maxError, 2);
    }
    std::printf("%s", table.c_str());
}

// The Layer I streams fail the probe: a second Layer I header fails its layer test.
class LayerOneStream : public testing::TestWithParam<const char*> {};

TEST_P(LayerOneStream, IsRefusedWithoutOutput) {
    DecodedStream d = decodeFile(vectorPath(std::string(GetParam()) + ".bit"));
    EXPECT_TRUE(d.startStatus == mpeg::Status::NoStreamFound || d.startStatus == mpeg::Status::EndOfData)
        << d.startStatus;
    EXPECT_TRUE(d.pcm.empty());
}

INSTANTIATE_TEST_SUITE_P(Layer2Conformance, LayerOneStream,
                         testing::Values("l1-fl1", "l1-fl2", "l1-fl3", "l1-fl4", "l1-fl5", "l1-fl6", "l1-fl7",
                                         "l1-fl8"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

// The same refusal as the user of the command-line tool meets it.
TEST(Layer2Conformance, DecodeToolRefusesLayerOneWithAMessage) {
#ifdef VESPERON_DECODE_TOOL
    const std::string tool = VESPERON_DECODE_TOOL;
#else
    GTEST_SKIP() << "vesperon-decode is not built";
    const std::string tool;
#endif
    TempDir dir;
    const std::string out = dir.file("out.wav");
    CommandResult r = runCommand({tool, vectorPath("l1-fl1.bit"), out}, 60);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_FALSE(r.err.empty()) << "no message for the refused stream";
    std::printf("vesperon-decode l1-fl1.bit: exit %d, message: %s", r.exitCode, r.err.c_str());
    if (std::filesystem::exists(out)) {
        // A header-only WAV at most: no samples.
        EXPECT_LE(std::filesystem::file_size(out), 44u);
    }
}

}  // namespace
