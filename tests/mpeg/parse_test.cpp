// Frame headers, the probe, Xing headers, stream information, seeking and resynchronisation.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/header.h"
#include "engine/mpeg/stream_decoder.h"
#include "engine/mpeg/vbr_info.h"
#include "tests/support/vectors.h"

using namespace vesperon::mpeg;

namespace {

using Bytes = std::vector<uint8_t>;

struct HeaderFields {
    int syncKind = 1;  // 2 = MPEG 2.5
    int versionBit = 1;
    int layerField = kLayerFieldIII;
    int bitrateIndex = 9;
    int samplingIndex = 0;
    int padding = 0;
    int mode = kModeJointStereo;
    int protection = 1;
};

void putHeader(uint8_t* p, const HeaderFields& s) {
    p[0] = 0xFF;
    p[1] = static_cast<uint8_t>((s.syncKind == 1 ? 0xF0 : 0xE0) | (s.versionBit << 3) | (s.layerField << 1) |
                                s.protection);
    p[2] = static_cast<uint8_t>((s.bitrateIndex << 4) | (s.samplingIndex << 2) | (s.padding << 1));
    p[3] = static_cast<uint8_t>(s.mode << 6);
}

Bytes header(const HeaderFields& s) {
    Bytes b(4);
    putHeader(b.data(), s);
    return b;
}

int lengthOf(const HeaderFields& s) {
    Bytes b = header(s);
    FrameHeader h;
    return parseHeader(b.data(), b.size(), &h);
}

// Frames of zero payload (the parser never looks inside), one header per frame.
Bytes framesOf(const std::vector<HeaderFields>& headers) {
    Bytes out;
    for (const HeaderFields& s : headers) {
        const int len = lengthOf(s) + s.padding;
        EXPECT_GT(len, 4);
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(len), 0);
        putHeader(out.data() + at, s);
    }
    return out;
}

Bytes repeat(const HeaderFields& s, int count) {
    return framesOf(std::vector<HeaderFields>(count, s));
}

Bytes readVector(const std::string& name) {
    std::ifstream f(vesperon::test::vectorPath(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

struct LengthCase {
    HeaderFields fields;
    int length;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.length << " bytes";
}

class FrameLength : public testing::TestWithParam<LengthCase> {};

TEST_P(FrameLength, FollowsLayerVersionAndRate) {
    const LengthCase& c = GetParam();
    EXPECT_EQ(lengthOf(c.fields), c.length);
    HeaderFields padded = c.fields;
    padded.padding = 1;
    // The padding bit is not part of the returned length but is recorded.
    Bytes b = header(padded);
    FrameHeader h;
    EXPECT_EQ(parseHeader(b.data(), 4, &h), c.length);
    EXPECT_EQ(h.paddingBit, 1);
    EXPECT_EQ(paddingBytes(h), 1);
}

INSTANTIATE_TEST_SUITE_P(
    FrameHeader, FrameLength,
    testing::Values(
        LengthCase{{1, 1, kLayerFieldIII, 9, 0}, 417},   // MPEG-1 III 128 kbit/s 44.1 kHz
        LengthCase{{1, 1, kLayerFieldIII, 14, 1}, 960},  // 320 kbit/s 48 kHz
        LengthCase{{1, 1, kLayerFieldIII, 1, 2}, 144},   // 32 kbit/s 32 kHz
        LengthCase{{1, 1, kLayerFieldII, 10, 2}, 864},   // MPEG-1 II 192 kbit/s 32 kHz
        LengthCase{{1, 1, kLayerFieldI, 1, 0}, 32},      // MPEG-1 I: whole 4-byte slots, 32 kbit/s 44.1 kHz
        LengthCase{{1, 1, kLayerFieldI, 14, 1}, 448},    // 448 kbit/s 48 kHz
        LengthCase{{1, 1, kLayerFieldI, 2, 0}, 68},      // 64 kbit/s 44.1 kHz: 17.4 slots -> 17
        LengthCase{{1, 0, kLayerFieldIII, 8, 0}, 208},   // MPEG-2 III 64 kbit/s 22.05 kHz: half the samples
        LengthCase{{1, 0, kLayerFieldIII, 1, 2}, 36},    // 8 kbit/s 16 kHz
        LengthCase{{1, 0, kLayerFieldII, 8, 1}, 384},    // MPEG-2 II 64 kbit/s 24 kHz: 1152 samples
        LengthCase{{2, 0, kLayerFieldIII, 1, 0}, 52},    // MPEG 2.5 III 8 kbit/s 11.025 kHz
        LengthCase{{2, 0, kLayerFieldIII, 8, 2}, 576}),  // 64 kbit/s 8 kHz
    [](const testing::TestParamInfo<LengthCase>& info) {
        const HeaderFields& f = info.param.fields;
        return "Layer" + std::to_string(4 - f.layerField) + "Sync" + std::to_string(f.syncKind) + "Version" +
               std::to_string(f.versionBit) + "Bitrate" + std::to_string(f.bitrateIndex) + "Rate" +
               std::to_string(f.samplingIndex);
    });

TEST(FrameHeader, RecordFieldsAndBitRates) {
    const uint8_t bytes[4] = {0xFF, 0xFA, 0x92, 0x6D};  // MPEG-1 III, CRC, 128k 44.1, pad, private
    FrameHeader h;
    ASSERT_EQ(parseHeader(bytes, 4, &h), 417);
    EXPECT_EQ(h.syncKind, 1);
    EXPECT_EQ(h.versionBit, 1);
    EXPECT_EQ(h.layerField, kLayerFieldIII);
    EXPECT_EQ(h.protectionBit, 0);
    EXPECT_EQ(h.bitrateIndex, 9);
    EXPECT_EQ(h.samplingIndex, 0);
    EXPECT_EQ(h.paddingBit, 1);
    EXPECT_EQ(h.privateBit, 0);
    EXPECT_EQ(h.mode, kModeJointStereo);
    EXPECT_EQ(h.modeExtension, 2);
    EXPECT_EQ(h.copyrightBit, 1);
    EXPECT_EQ(h.originalBit, 1);
    EXPECT_EQ(h.emphasis, 1);
    EXPECT_EQ(bitrateOf(h, 417), 128000);
    EXPECT_EQ(sampleRateOf(h), 44100);

    const uint8_t mpeg25[4] = {0xFF, 0xE3, 0x18, 0xC0};  // MPEG 2.5 III 8 kbit/s 8 kHz mono
    ASSERT_GT(parseHeader(mpeg25, 4, &h), 0);
    EXPECT_EQ(h.syncKind, 2);
    EXPECT_EQ(sampleRateOf(h), 8000);
    EXPECT_EQ(channelsOf(h), 1);
}

TEST(FrameHeader, InvalidHeadersHaveNoLength) {
    EXPECT_EQ(lengthOf({1, 1, kLayerFieldIII, 15, 0}), 0);  // invalid bit-rate index
    EXPECT_EQ(lengthOf({1, 1, kLayerFieldIII, 9, 3}), 0);   // reserved rate
    EXPECT_EQ(lengthOf({1, 1, 0, 9, 0}), 0);                // reserved layer
    const uint8_t noSync[4] = {0xFF, 0xDB, 0x90, 0x64};
    FrameHeader h;
    EXPECT_EQ(parseHeader(noSync, 4, &h), 0);
    EXPECT_EQ(h.syncKind, 0);
    const uint8_t shortWindow[3] = {0xFF, 0xFB, 0x90};
    EXPECT_EQ(parseHeader(shortWindow, 3, &h), 0);
    // A free-format header with the reserved rate is not measured either.
    Bytes ff = repeat({1, 1, kLayerFieldIII, 9, 0}, 1);
    Bytes w(3000, 0);
    for (std::size_t at = 0; at + 4 < w.size(); at += 500)
        putHeader(w.data() + at, {1, 1, kLayerFieldIII, 0, 3});
    EXPECT_EQ(parseHeader(w.data(), w.size(), &h), 0);
}

TEST(FrameHeader, FreeFormatLengthFromRepeatedHeaders) {
    const HeaderFields ff{1, 1, kLayerFieldIII, 0, 0};
    // Frames of 600 bytes, the second one padded to 601.
    auto build = [&](std::size_t size, const std::vector<int>& paddings) {
        Bytes w(size, 0x11);
        std::size_t at = 0;
        for (int pad : paddings) {
            if (at + 4 > w.size()) break;
            HeaderFields s = ff;
            s.padding = pad;
            putHeader(w.data() + at, s);
            at += 600 + static_cast<std::size_t>(pad);
        }
        return w;
    };
    FrameHeader h;
    Bytes w = build(4323, {0, 1, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(parseHeader(w.data(), w.size(), &h), 600);
    EXPECT_EQ(bitrateOf(h, 600), 600 * 882 * 1000 / 2880);  // the length solved for the rate

    // A padded first frame: the distance less the padding byte.
    w = build(4323, {1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(parseHeader(w.data(), w.size(), &h), 600);

    // A frame at the wrong distance refutes the candidate, and so it does for its multiples.
    w.assign(4323, 0x11);
    for (std::size_t at : {0, 600, 1200, 1805, 2405, 3005, 3605, 4205}) putHeader(w.data() + at, ff);
    EXPECT_EQ(parseHeader(w.data(), w.size(), &h), 0);
    // Where every multiple fits, a multiple is accepted: the search cannot tell.
    w.assign(4323, 0x11);
    for (std::size_t at : {0, 600, 1200, 1805, 2400, 3600}) putHeader(w.data() + at, ff);
    EXPECT_EQ(parseHeader(w.data(), w.size(), &h), 1200);

    // No repetition within the search range.
    Bytes lone(4000, 0x11);
    putHeader(lone.data(), ff);
    putHeader(lone.data() + 2100, ff);
    EXPECT_EQ(parseHeader(lone.data(), lone.size(), &h), 0);

    // The conformance stream in free format is measured.
    Bytes he = readVector("l3-he_free.bit");
    ASSERT_GT(he.size(), 4323u);
    FoundHeader f = findHeader(he.data(), 4323);
    EXPECT_EQ(f.header.bitrateIndex, 0);
    EXPECT_GT(f.frameLength, 0);
    EXPECT_GT(f.bitrate, 0);
}

TEST(FrameHeader, FindHeaderParsesOnlyTheFirstSyncPattern) {
    Bytes w(2000, 0);
    putHeader(w.data() + 100, {1, 1, kLayerFieldIII, 9, 0});
    FoundHeader f = findHeader(w.data(), w.size());
    EXPECT_EQ(f.offset, 100u);
    EXPECT_EQ(f.frameLength, 417);
    EXPECT_EQ(f.bitrate, 128000);
    // An invalid header at the first sync pattern ends the search there.
    w[50] = 0xFF;
    w[51] = 0xFF;
    w[52] = 0xF0;
    f = findHeader(w.data(), w.size());
    EXPECT_EQ(f.offset, 50u);
    EXPECT_EQ(f.frameLength, 0);
    Bytes none(100, 0x12);
    EXPECT_EQ(findHeader(none.data(), none.size()).frameLength, 0);
}

namespace {

// Runs the probe alone over bytes in memory; returns the code and where it left the position.
struct ProbeRun {
    Status code;
    std::size_t position;
    StreamInfo info;
};

ProbeRun probeOf(const Bytes& data) {
    MemoryByteSource source(data.data(), data.size(), static_cast<int64_t>(data.size()));
    StreamDecoder d(source);
    ProbeRun r;
    r.code = d.probe();
    r.position = source.position();
    r.info = d.info();
    return r;
}

}  // namespace

TEST(Probe, AcceptsThreeConsistentFramesWithoutConsuming) {
    const HeaderFields l3{1, 1, kLayerFieldIII, 9, 0};
    Bytes data = repeat(l3, 20);
    HeaderFields third = l3;
    third.bitrateIndex = 10;  // the bit rate may change; the third frame's is kept
    Bytes mixed = framesOf({l3, l3, third, l3, l3, l3, l3, l3, l3, l3, l3, l3});
    ProbeRun r = probeOf(data);
    EXPECT_EQ(r.code, Status::Ok);
    EXPECT_EQ(r.position, 0u);
    EXPECT_EQ(r.info.frameLength, 417);
    r = probeOf(mixed);
    EXPECT_EQ(r.code, Status::Ok);
    EXPECT_EQ(r.info.frameLength, 522);
    EXPECT_EQ(r.info.bitrate, 160000);

    // Layer II passes; MPEG-2 and MPEG 2.5 Layer III too.
    EXPECT_EQ(probeOf(repeat({1, 1, kLayerFieldII, 10, 2}, 10)).code, Status::Ok);
    EXPECT_EQ(probeOf(repeat({1, 0, kLayerFieldIII, 8, 0}, 30)).code, Status::Ok);
    EXPECT_EQ(probeOf(repeat({2, 0, kLayerFieldIII, 8, 2}, 30)).code, Status::Ok);
}

TEST(Probe, RefusesLayerOne) {
    EXPECT_NE(probeOf(repeat({1, 1, kLayerFieldI, 14, 0}, 200)).code, Status::Ok);
    for (int i = 1; i <= 8; ++i) {
        const std::string name = "l1-fl" + std::to_string(i) + ".bit";
        SCOPED_TRACE(name);
        Bytes v = readVector(name);
        ASSERT_FALSE(v.empty());
        const Status code = probeOf(v).code;
        EXPECT_TRUE(code == Status::NoStreamFound || code == Status::EndOfData) << statusName(code);
    }
}

TEST(Probe, RefusesInconsistentFramesAndResynchronises) {
    const HeaderFields at44{1, 1, kLayerFieldIII, 9, 0};
    HeaderFields at48 = at44;
    at48.samplingIndex = 1;
    // 44.1, 44.1, 48, 48...: the attempts at the 44.1 kHz frames fail, the stream starts at 48 kHz.
    std::vector<HeaderFields> headers(20, at48);
    headers[0] = headers[1] = at44;
    Bytes data = framesOf(headers);
    ProbeRun r = probeOf(data);
    EXPECT_EQ(r.code, Status::Ok);
    EXPECT_EQ(r.info.header.samplingIndex, 1);
    EXPECT_EQ(r.position, 2u * 417);

    // A mode change is refused the same way.
    HeaderFields mono = at44;
    mono.mode = kModeSingleChannel;
    r = probeOf(framesOf({at44, mono, mono, mono, mono, mono, mono, mono, mono, mono, mono, mono}));
    EXPECT_EQ(r.code, Status::Ok);
    EXPECT_EQ(r.info.header.mode, kModeSingleChannel);
    EXPECT_EQ(r.position, 417u);

    // Frames longer than 1440 bytes never make a stream (Layer II 384 kbit/s at 32 kHz: 1728).
    EXPECT_NE(probeOf(repeat({1, 1, kLayerFieldII, 14, 2}, 40)).code, Status::Ok);
}

TEST(Probe, AtTheEndFewerFramesSufficeWhenTheyRunToIt) {
    const HeaderFields l3{1, 1, kLayerFieldIII, 9, 0};
    Bytes partial = repeat(l3, 2);
    partial.resize(partial.size() + 100, 0);  // a final partial frame
    std::memcpy(partial.data() + 2 * 417, header(l3).data(), 4);
    Bytes junk = repeat(l3, 2);
    junk.resize(junk.size() + 100, 0x55);  // not a frame: not a stream
    Bytes junkFirst(300, 0x55);  // junk before the frames is searched through
    Bytes two = repeat(l3, 2);
    junkFirst.insert(junkFirst.end(), two.begin(), two.end());
    struct Case {
        Bytes data;
        Status code;
    } cases[] = {
        {repeat(l3, 1), Status::Ok},  {repeat(l3, 10), Status::Ok}, {partial, Status::Ok},
        {junkFirst, Status::Ok},      {junk, Status::EndOfData},    {Bytes(200, 0), Status::EndOfData},
        {Bytes(), Status::EndOfData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        EXPECT_EQ(probeOf(c.data).code, c.code);
    }
}

TEST(Probe, FailureCodes) {
    // Lone headers that never chain: 32 attempts, then no stream.
    Bytes lone(200000, 0);
    for (std::size_t at = 0; at + 4 < lone.size(); at += 997)
        putHeader(lone.data() + at, {1, 1, kLayerFieldI, 1, 0});
    EXPECT_EQ(probeOf(lone).code, Status::NoStreamFound);
    // No sync pattern at all: the resynchronisation runs to the end.
    EXPECT_EQ(probeOf(Bytes(100000, 0x55)).code, Status::EndOfData);
}

TEST(Probe, WaitsForInputThatIsStillArriving) {
    Bytes data = repeat({1, 1, kLayerFieldIII, 9, 0}, 20);
    MemoryByteSource source(data.data(), data.size(), static_cast<int64_t>(data.size()), 1000);
    StreamDecoder d(source);
    EXPECT_EQ(d.probe(), Status::Ok);
    EXPECT_GE(source.waits(), 5);
    EXPECT_EQ(source.position(), 0u);
}

TEST(Resynchronise, SearchesOffsetsOneTo1440) {
    for (std::size_t at : {2u, 1440u, 1443u}) {
        SCOPED_TRACE(at);
        Bytes data(5000, 0);
        data[at] = 0xFF;
        data[at + 1] = 0xFB;
        MemoryByteSource source(data.data(), data.size(), static_cast<int64_t>(data.size()));
        StreamDecoder d(source);
        EXPECT_EQ(d.resynchronise(), Status::Ok);
        EXPECT_EQ(source.position(), at);
    }
}

TEST(Resynchronise, PassesOverTheReadPositionAndAPatternRightBehindIt) {
    Bytes data(5000, 0);
    data[0] = 0xFF;
    data[1] = 0xFF;  // sync patterns at 0 and 1: both passed over
    data[2] = 0xFB;
    data[7] = 0xFF;
    data[8] = 0xF3;
    MemoryByteSource source(data.data(), data.size(), static_cast<int64_t>(data.size()));
    StreamDecoder d(source);
    EXPECT_EQ(d.resynchronise(), Status::Ok);
    EXPECT_EQ(source.position(), 7u);
    // From 7 the pattern there is passed over; nothing else follows before the end.
    EXPECT_EQ(d.resynchronise(), Status::EndOfData);
    // A pattern at offset 1 alone is never accepted.
    Bytes one(5000, 0);
    one[1] = 0xFF;
    one[2] = 0xE2;
    MemoryByteSource s2(one.data(), one.size(), static_cast<int64_t>(one.size()));
    StreamDecoder d2(s2);
    EXPECT_EQ(d2.resynchronise(), Status::EndOfData);
}

namespace {

// A MPEG-1 Layer III first frame (128 kbit/s, 44.1 kHz, joint stereo) carrying a Xing header.
Bytes xingFrame(uint32_t flags, uint32_t frames, uint32_t bytes, int quality, int mode = kModeJointStereo,
                int versionBit = 1) {
    HeaderFields s{1, versionBit, kLayerFieldIII, 9, 0};
    s.mode = mode;
    Bytes f = repeat(s, 1);
    std::size_t pos =
        versionBit == 1 ? (mode == kModeSingleChannel ? 21 : 36) : (mode == kModeSingleChannel ? 13 : 21);
    auto put32 = [&](uint32_t v) {
        for (int i = 3; i >= 0; --i) f[pos++] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(f.data() + pos, "Xing", 4);
    pos += 4;
    put32(flags);
    if (flags & kXingFrames) put32(frames);
    if (flags & kXingBytes) put32(bytes);
    if (flags & kXingSeekTable) {
        for (int i = 0; i < 100; ++i) f[pos++] = static_cast<uint8_t>(i * 256 / 100);
    }
    if (flags & kXingQuality) put32(static_cast<uint32_t>(quality));
    return f;
}

}  // namespace

TEST(Xing, FieldsByFlagAndPosition) {
    Bytes f = xingFrame(15, 5000, 2000000, 57);
    auto v = parseVbrInfo(f.data(), f.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->versionBit, 1);
    EXPECT_EQ(v->sampleRate, 44100);
    EXPECT_EQ(v->flags, 15u);
    EXPECT_EQ(v->frameCount, 5000u);
    EXPECT_EQ(v->byteCount, 2000000u);
    EXPECT_EQ(v->quality, 57);
    EXPECT_EQ(v->seekTable[50], 128);

    // Only the announced fields follow, in order.
    f = xingFrame(kXingBytes | kXingQuality, 0, 1234, 9);
    v = parseVbrInfo(f.data(), f.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->frameCount, 0u);
    EXPECT_EQ(v->byteCount, 1234u);
    EXPECT_EQ(v->quality, 9);
    EXPECT_EQ(v->seekTable[99], 0);

    f = xingFrame(0, 0, 0, 0);
    v = parseVbrInfo(f.data(), f.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->quality, -1);

    // The tag's offset follows version and channel count.
    for (int version : {0, 1}) {
        for (int mode : {kModeStereo, kModeSingleChannel}) {
            f = xingFrame(kXingFrames, 77, 0, 0, mode, version);
            v = parseVbrInfo(f.data(), f.size());
            ASSERT_TRUE(v) << version << " " << mode;
            EXPECT_EQ(v->frameCount, 77u);
            EXPECT_EQ(v->sampleRate, version == 1 ? 44100 : 22050);
        }
    }
    // Misplaced: not found.
    f = xingFrame(kXingFrames, 77, 0, 0, kModeStereo, 1);
    f[3] = static_cast<uint8_t>(kModeSingleChannel << 6);
    EXPECT_FALSE(parseVbrInfo(f.data(), f.size()));
}

TEST(Xing, RealTagsAndTruncation) {
    // lame's tag for constant-rate files says "Info"; every field lands where the encoder put it.
    Bytes only = readVector("l3-nonstandard-vbrtag-only.bit");
    ASSERT_GT(only.size(), 200u);
    ASSERT_EQ(0, std::memcmp(only.data() + 36, "Info", 4));
    auto v = parseVbrInfo(only.data(), only.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->flags, 15u);
    EXPECT_EQ(v->frameCount, 316u);
    EXPECT_EQ(v->seekTable[0], 0);
    EXPECT_GT(v->seekTable[99], v->seekTable[1]);
    // Its LAME tag: lame's usual delay of 576 samples, and some padding.
    ASSERT_TRUE(v->hasLameTag());
    EXPECT_EQ(v->encoderDelay, 576);
    EXPECT_GE(v->encoderPadding, 0);
    std::memcpy(only.data() + 36, "Xing", 4);
    EXPECT_TRUE(parseVbrInfo(only.data(), only.size()));
    // Without the encoder's name there is no LAME tag to trust.
    only[36 + 120] = 'X';
    v = parseVbrInfo(only.data(), only.size());
    ASSERT_TRUE(v);
    EXPECT_FALSE(v->hasLameTag());
    // A header cut short never reads beyond its bytes.
    for (std::size_t n = 0; n < 160; ++n) {
        Bytes cut(only.begin(), only.begin() + static_cast<std::ptrdiff_t>(n));
        auto r = parseVbrInfo(cut.data(), cut.size());
        if (n < 36 + 4 + 4 + 4 + 4 + 100 + 4) {
            EXPECT_FALSE(r) << n;
        }
    }
    Bytes oob = readVector("l3-nonstandard-vbrtag-oob-read.bit");
    std::memcpy(oob.data() + 36, "Xing", 4);
    EXPECT_FALSE(parseVbrInfo(oob.data(), oob.size()));
}

namespace {

void probeAndMeasure(const Bytes&, StreamDecoder& d) {
    ASSERT_EQ(d.probe(), Status::Ok);
    d.computeStreamInfo();
}

}  // namespace

TEST(StreamInfo, TotalFrameCount) {
    const HeaderFields l3{1, 1, kLayerFieldIII, 9, 0};
    Bytes plain = repeat(l3, 30);
    {
        MemoryByteSource source(plain.data(), plain.size(), 30 * 417 + 100);
        StreamDecoder d(source);
        probeAndMeasure(plain, d);
        EXPECT_EQ(d.info().totalFrames, 30);
        EXPECT_EQ(d.info().frameMilliseconds, 26);
        EXPECT_FALSE(d.info().vbr);
    }
    {
        MemoryByteSource source(plain.data(), plain.size(), 0);
        StreamDecoder d(source);
        probeAndMeasure(plain, d);
        EXPECT_EQ(d.info().totalFrames, -1);
        EXPECT_EQ(d.progress(), 0);
    }
    // The Xing count is taken while the data can hold it in frames of the lowest bit rate
    // (104 bytes here); a larger one gives way to the estimate.
    Bytes rest = repeat(l3, 30);
    for (uint32_t count : {100u, 125u, 126u, 1000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        Bytes vbr = xingFrame(15, count, 0, 0);
        vbr.insert(vbr.end(), rest.begin(), rest.end());
        MemoryByteSource source(vbr.data(), vbr.size(), static_cast<int64_t>(vbr.size()));
        StreamDecoder d(source);
        probeAndMeasure(vbr, d);
        ASSERT_TRUE(d.info().vbr);
        EXPECT_EQ(d.info().totalFrames, count <= 125 ? count : 31);
    }
    // A Xing header without a frame count leaves the estimate from the length.
    Bytes noCount = xingFrame(kXingSeekTable, 0, 0, 0);
    noCount.insert(noCount.end(), rest.begin(), rest.end());
    {
        MemoryByteSource source(noCount.data(), noCount.size(), static_cast<int64_t>(noCount.size()));
        StreamDecoder d(source);
        probeAndMeasure(noCount, d);
        ASSERT_TRUE(d.info().vbr);
        EXPECT_EQ(d.info().totalFrames, static_cast<int64_t>(noCount.size()) / 417);
    }
}

TEST(Seek, WithoutSeekTable) {
    const HeaderFields l3{1, 1, kLayerFieldIII, 9, 0};
    Bytes data = repeat(l3, 200);
    const int64_t length = static_cast<int64_t>(data.size());
    for (int p : {0, 1, 37, 50, 99, 100, 150, -5}) {
        SCOPED_TRACE(p);
        MemoryByteSource source(data.data(), data.size(), length);
        StreamDecoder d(source);
        probeAndMeasure(data, d);
        ASSERT_EQ(d.seekToPercent(p), Status::Ok);
        const int64_t c = std::clamp(p, 0, 100);
        const int64_t counter = c * length / 417 / 100;
        EXPECT_EQ(d.frameCounter(), counter);
        EXPECT_EQ(static_cast<int64_t>(source.position()), std::min<int64_t>(417 * counter, length));
        EXPECT_EQ(d.progress(), std::min<int>(99, static_cast<int>(counter * 100.0 / 200)));
    }
}

TEST(Seek, WithSeekTable) {
    const HeaderFields l3{1, 1, kLayerFieldIII, 9, 0};
    Bytes data = xingFrame(kXingFrames | kXingSeekTable, 400, 0, 0);
    Bytes rest = repeat(l3, 199);
    data.insert(data.end(), rest.begin(), rest.end());
    const int64_t length = static_cast<int64_t>(data.size());
    for (int p : {1, 50, 99, 100}) {
        SCOPED_TRACE(p);
        MemoryByteSource source(data.data(), data.size(), length);
        StreamDecoder d(source);
        probeAndMeasure(data, d);
        ASSERT_EQ(d.seekToPercent(p), Status::Ok);
        EXPECT_EQ(d.frameCounter(), p * 400 / 100);
        const int64_t expected =
            p == 100 ? length : static_cast<int64_t>((p * 256 / 100) * static_cast<double>(length) / 256.0);
        EXPECT_EQ(static_cast<int64_t>(source.position()), expected);
        if (p == 100) {
            int16_t pcm[4608];
            EXPECT_EQ(d.decodeFrame(pcm).status, Status::EndOfData);
        }
    }
}

// A start given as a time lands on the frame that holds it, not on a whole percent: the counter
// names that frame and the first frame decoded after the resynchronisation is that one (with a
// seek table, the byte offset is interpolated between its whole percents).
TEST(Seek, ToATimeLandsOnItsFrame) {
    const HeaderFields l3{1, 1, kLayerFieldIII, 9, 0};  // 417-byte frames of 1152 samples at 44.1 kHz
    const Bytes plain = repeat(l3, 200);
    Bytes table = xingFrame(kXingFrames | kXingSeekTable, 199, 0, 0);
    const Bytes rest = repeat(l3, 199);
    table.insert(table.end(), rest.begin(), rest.end());
    struct Case {
        const Bytes* data;
        int64_t microseconds;
        int64_t frame;  // the frame that holds the sample at that time
    } cases[] = {{&plain, 1, 0},           {&plain, 26'123, 1},     {&plain, 2'560'000, 98},
                 {&plain, 5'200'000, 199}, {&table, 1'000'000, 38}, {&table, 3'000'000, 114}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.microseconds);
        MemoryByteSource source(c.data->data(), c.data->size(), static_cast<int64_t>(c.data->size()));
        StreamDecoder d(source);
        ASSERT_EQ(d.start(0, c.microseconds), Status::Ok);
        EXPECT_EQ(d.frameCounter(), c.frame);
        std::vector<int16_t> pcm(d.pcmFrameBytes() / 2);
        FrameStep step;
        while ((step = d.decodeFrame(pcm.data())).status == Status::Ok && !step.decoded) {
        }
        ASSERT_TRUE(step.decoded) << step.status;
        // Past the frame decoded: where the next one begins (after the Xing frame, with a table,
        // whose whole bytes per percent are good to a frame).
        const bool withTable = c.data == &table;
        EXPECT_NEAR(static_cast<double>(source.position()) - (withTable ? 417 : 0), 417.0 * (c.frame + 1),
                    withTable ? 417 : 0);
    }
}

TEST(Seek, StartAtTheEndEndsAtOnce) {
    // Without a seek table the last whole frame is the target; less than a read window remains.
    Bytes data = readVector("l2-test32.bit");
    ASSERT_FALSE(data.empty());
    MemoryByteSource source(data.data(), data.size(), static_cast<int64_t>(data.size()));
    StreamDecoder d(source);
    ASSERT_EQ(d.start(100), Status::Ok);
    std::vector<int16_t> pcm(d.pcmFrameBytes() / 2);
    EXPECT_EQ(d.decodeFrame(pcm.data()).status, Status::EndOfData);
}
