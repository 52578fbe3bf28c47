// Files as encoders write them: a large ID3v2.4 tag before the first frame, lame's Xing header
// and seeking through it.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/source_file.h"
#include "engine/mpeg/stream_decoder.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"

using namespace vesperon::mpeg;
using namespace vesperon::test;

namespace {

struct Decoded {
    std::optional<Status> startCode;  // empty when the file did not open
    std::string pcm;
    StreamInfo info;
    StreamCounters counters;
    int64_t firstCounter = 0;
    int lastProgress = -1;
};

Decoded decodeFile(const std::string& path, int startPercent = 0) {
    Decoded out;
    SourceFile file;
    if (file.open(path) != Status::Ok) return out;
    FileByteSource source(file);
    StreamDecoder d(source);
    out.startCode = d.start(startPercent);
    if (out.startCode != Status::Ok) return out;
    out.info = d.info();
    out.firstCounter = d.frameCounter();
    std::vector<int16_t> block(d.pcmFrameBytes() / 2);
    while (true) {
        const FrameStep s = d.decodeFrame(block.data());
        if (s.status != Status::Ok) break;
        out.pcm.append(reinterpret_cast<const char*>(block.data()),
                       static_cast<std::size_t>(s.bytesProduced));
        out.lastProgress = d.progress();
    }
    out.counters = d.counters();
    return out;
}

std::string syncsafe(uint32_t v) {
    return {static_cast<char>((v >> 21) & 0x7F), static_cast<char>((v >> 14) & 0x7F),
            static_cast<char>((v >> 7) & 0x7F), static_cast<char>(v & 0x7F)};
}

// An ID3v2.4 tag holding one picture of `pictureBytes` noisy bytes (full of sync patterns).
std::string id3v4WithPicture(std::size_t pictureBytes, bool footer) {
    std::string picture;
    picture += '\0';
    picture += "image/jpeg";
    picture += '\0';
    picture += '\3';
    picture += '\0';
    uint32_t seed = 99;
    for (std::size_t i = 0; i < pictureBytes; ++i) {
        seed = seed * 1103515245u + 12345u;
        // Every 50th byte pair is an MPEG sync pattern with a plausible header after it.
        picture += static_cast<char>(i % 50 == 0 ? 0xFF : i % 50 == 1 ? 0xFB : (seed >> 16) & 0xFF);
    }
    std::string frame =
        "APIC" + syncsafe(static_cast<uint32_t>(picture.size())) + std::string(2, '\0') + picture;
    const std::string size = syncsafe(static_cast<uint32_t>(frame.size()));
    const char flags = footer ? 0x10 : 0x00;
    std::string tag = std::string("ID3\x04\x00", 5) + flags + size + frame;
    if (footer) tag += std::string("3DI\x04\x00", 5) + flags + size;
    return tag;
}

class EncodedFiles : public EncodedFilesSuite<EncodedFiles> {
public:
    static std::string make(TempDir& dir) {
        if (!haveProgram("sox") || !haveProgram("lame")) return "sox and lame are needed";
        const ToneRecipe tone{6, 44100, 2, {"sine", "300-3000", "sine", "500"}};
        EXPECT_NE(encodedTone(tone, kLame128, dir.file("cbr.mp3")), "");
        EXPECT_NE(encodedTone(tone, {"lame", "--quiet", "-V", "2"}, dir.file("vbr.mp3")), "");
        return "";
    }
};

}  // namespace

TEST_F(EncodedFiles, LargeId3v24TagIsSkipped) {
    const std::string mp3 = readFile(file("cbr.mp3"));
    const Decoded plain = decodeFile(file("cbr.mp3"));
    ASSERT_EQ(plain.startCode, Status::Ok);
    ASSERT_GT(plain.pcm.size(), 100000u);
    for (bool footer : {false, true}) {
        SCOPED_TRACE(footer ? "with footer" : "without footer");
        const std::string tag = id3v4WithPicture(300 * 1024, footer);
        const std::string path = file(footer ? "footer.mp3" : "tagged.mp3");
        writeFile(path, tag + mp3);
        SourceFile f;
        ASSERT_EQ(f.open(path), Status::Ok);
        EXPECT_EQ(f.audioStart(), static_cast<int64_t>(tag.size()));
        // Playback starts at the first frame: the same PCM, with no resynchronisation.
        const Decoded tagged = decodeFile(path);
        ASSERT_EQ(tagged.startCode, Status::Ok);
        EXPECT_EQ(tagged.counters.resynchronisations, 0);
        EXPECT_EQ(tagged.pcm, plain.pcm);
    }
}

TEST_F(EncodedFiles, XingHeaderGivesFrameCountAndSeekTable) {
    const Decoded vbr = decodeFile(file("vbr.mp3"));
    ASSERT_EQ(vbr.startCode, Status::Ok);
    ASSERT_TRUE(vbr.info.vbr);
    EXPECT_TRUE(vbr.info.vbr->hasFrameCount());
    EXPECT_TRUE(vbr.info.vbr->hasSeekTable());
    EXPECT_EQ(vbr.info.totalFrames, vbr.info.vbr->frameCount);
    // 6 s at 44.1 kHz is about 230 frames, every one of them decoded; the Xing frame is not.
    EXPECT_NEAR(static_cast<double>(vbr.info.totalFrames), 6 * 44100 / 1152.0, 4);
    EXPECT_EQ(vbr.counters.framesDecoded, vbr.info.totalFrames);
    EXPECT_GE(vbr.lastProgress, 95);

    // A seek through the table lands near the middle, and the counter says where.
    const Decoded half = decodeFile(file("vbr.mp3"), 50);
    ASSERT_EQ(half.startCode, Status::Ok);
    EXPECT_EQ(half.firstCounter, 50 * vbr.info.totalFrames / 100);
    EXPECT_NEAR(static_cast<double>(half.pcm.size()) / static_cast<double>(vbr.pcm.size()), 0.5, 0.08);
    EXPECT_GE(half.lastProgress, 95);
    // The last frames decoded are the same as in the full play, bar the reservoir's first frame.
    const std::size_t tail = 50 * 4608;
    ASSERT_GT(half.pcm.size(), tail);
    EXPECT_EQ(half.pcm.substr(half.pcm.size() - tail), vbr.pcm.substr(vbr.pcm.size() - tail));

    // The constant-rate file has lame's "Info" tag, read the same way.
    const Decoded cbr = decodeFile(file("cbr.mp3"));
    ASSERT_EQ(cbr.startCode, Status::Ok);
    ASSERT_TRUE(cbr.info.vbr);
    EXPECT_EQ(cbr.counters.framesDecoded, cbr.info.totalFrames);
    const Decoded cbrHalf = decodeFile(file("cbr.mp3"), 50);
    ASSERT_EQ(cbrHalf.startCode, Status::Ok);
    EXPECT_NEAR(static_cast<double>(cbrHalf.pcm.size()) / static_cast<double>(cbr.pcm.size()), 0.5, 0.05);
    // Where the seek lands inside a frame, a few resynchronisations (false sync patterns in the
    // frame data among them) find the next one.
    EXPECT_LE(cbrHalf.counters.resynchronisations, 8);
    EXPECT_EQ(cbrHalf.pcm.substr(cbrHalf.pcm.size() - tail), cbr.pcm.substr(cbr.pcm.size() - tail));
}
