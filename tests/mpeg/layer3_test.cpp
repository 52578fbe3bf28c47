// Layer III frame decoding on its own: output sizes, the reservoir rules, bad frames and hostile
// side information.

#include "engine/mpeg/layer3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/mpeg/header.h"
#include "engine/mpeg/huffman_tables.h"
#include "tests/mpeg/layer2_test_util.h"
#include "tests/support/audio_compare.h"

namespace vesperon::mpeg {
namespace {

using test::readBytes;
using test::vectorPath;

struct Frame {
    std::size_t offset;
    int length;  // with padding
};

// The frames of a clean stream, by walking header to header from the first one.
std::vector<Frame> framesOf(const std::vector<uint8_t>& bytes, FrameHeader* first, int* preparedLength) {
    std::vector<Frame> frames;
    FoundHeader f = findHeader(bytes.data(), bytes.size());
    if (f.frameLength <= 0) return frames;
    *first = f.header;
    *preparedLength = f.frameLength;
    std::size_t pos = f.offset;
    while (pos + 4 <= bytes.size()) {
        FrameHeader h;
        unpackHeader(&bytes[pos], &h);
        int len = h.bitrateIndex ? tableFrameLength(h) : f.frameLength;
        if (!isSyncPattern(&bytes[pos]) || len <= 0) break;
        len += paddingBytes(h);
        if (pos + static_cast<std::size_t>(len) > bytes.size()) break;
        frames.push_back({pos, len});
        pos += static_cast<std::size_t>(len);
    }
    return frames;
}

// A conformance vector read whole, with its first header and frames.
struct VectorFrames {
    std::vector<uint8_t> bytes;
    FrameHeader h;
    int len = 0;
    std::vector<Frame> frames;
};
VectorFrames loadVector(const char* name) {
    VectorFrames v;
    v.bytes = readBytes(vectorPath(name));
    v.frames = framesOf(v.bytes, &v.h, &v.len);
    return v;
}

// Decodes one frame from an exact-size copy, so that any read beyond it is caught by ASan.
DecodeResult decodeCopy(Layer3Decoder& d, const uint8_t* p, std::size_t n, std::vector<int16_t>& out) {
    std::vector<uint8_t> copy(p, p + n);
    out.assign(kMaxFrameOutputBytes / 2 + 8, 12345);  // with a guard zone after the largest frame
    return d.decode(copy.data(), copy.size(), out.data());
}

int mainDataBegin(const std::vector<uint8_t>& bytes, const Frame& f, const FrameHeader& h) {
    std::size_t side = f.offset + 4 + (h.protectionBit == 0 ? 2 : 0);
    if (h.versionBit == 1) return (bytes[side] << 1) | (bytes[side + 1] >> 7);
    return bytes[side];
}

TEST(Layer3, HuffmanTablesAreCompletePrefixCodes) {
    // A mistyped code word leaves a gap or an overlap in its table.
    EXPECT_TRUE(huffman::tablesComplete());
    EXPECT_EQ(huffman::pairTable(0).nodes, nullptr);
    EXPECT_EQ(huffman::pairTable(4).nodes, nullptr);
    EXPECT_EQ(huffman::pairTable(14).nodes, nullptr);
    EXPECT_EQ(huffman::pairTable(23).linbits, 13);
    EXPECT_EQ(huffman::pairTable(24).linbits, 4);
    EXPECT_EQ(huffman::pairTable(32).nodes, nullptr);
}

// Output size per frame for every kind of stream: MPEG-1 1152 samples, MPEG-2 576, per channel,
// stereo interleaved, and describe() agreeing with what decode() produces.
struct OutputCase {
    const char* name;
    int channels, samples, rate;
};

void PrintTo(const OutputCase& c, std::ostream* os) {
    *os << c.name;
}

class Layer3Output : public testing::TestWithParam<OutputCase> {};

TEST_P(Layer3Output, SizesFollowVersionAndChannels) {
    const OutputCase& c = GetParam();
    auto [bytes, h, len, frames] = loadVector(c.name);
    ASSERT_GT(frames.size(), 10u);
    Layer3Decoder d;
    ASSERT_EQ(d.prepare(h, len, 24000), engine::Status::Ok);
    PcmFormat o = d.describe();
    EXPECT_EQ(o.channels, c.channels);
    EXPECT_EQ(o.samplesPerFrame, c.samples);
    EXPECT_EQ(o.sampleRate, c.rate);
    EXPECT_EQ(o.bitsPerSample, 16);
    std::vector<int16_t> out;
    bool sawSound = false;
    for (std::size_t i = 0; i < 10; ++i) {
        DecodeResult r = decodeCopy(d, &bytes[frames[i].offset], bytes.size() - frames[i].offset, out);
        EXPECT_EQ(r.bytesUsed, frames[i].length);
        ASSERT_EQ(r.bytesProduced, c.samples * c.channels * 2);
        // Nothing is written past the frame's output.
        EXPECT_EQ(out[static_cast<std::size_t>(r.bytesProduced / 2)], 12345);
        sawSound = sawSound || std::any_of(out.begin(), out.begin() + r.bytesProduced / 2,
                                           [](int16_t v) { return v != 0; });
    }
    EXPECT_TRUE(sawSound);
}

INSTANTIATE_TEST_SUITE_P(Layer3, Layer3Output,
                         testing::Values(OutputCase{"l3-compl.bit", 1, 1152, 48000},
                                         OutputCase{"l3-he_free.bit", 2, 1152, 44100},
                                         OutputCase{"M2L3_bitrate_16_all.bit", 1, 576, 16000},
                                         OutputCase{"M2L3_noise.bit", 2, 576, 22050}),
                         [](const testing::TestParamInfo<OutputCase>& info) {
                             std::string name = info.param.name;
                             name = name.substr(0, name.find('.'));
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// Starting in the middle of a stream (as after a seek), a frame whose main data begins in the
// previous frames cannot be decoded: exactly one frame of silence, consumed; the next decodes.
TEST(Layer3, ShortReservoirGivesOneFrameOfSilence) {
    auto [bytes, h, len, frames] = loadVector("l3-he_44khz.bit");
    ASSERT_GT(frames.size(), 100u);
    // A frame that borrows from its predecessors, followed by five whose borrowing stays within
    // the main data decoded from frame k on.
    const int overhead = 4 + (h.protectionBit == 0 ? 2 : 0) + (h.mode == kModeSingleChannel ? 17 : 32);
    auto fitsFrom = [&](std::size_t k) {
        if (mainDataBegin(bytes, frames[k], h) == 0) return false;
        int held = frames[k].length - overhead;
        for (std::size_t i = k + 1; i < k + 6; ++i) {
            if (mainDataBegin(bytes, frames[i], h) > held) return false;
            held += frames[i].length - overhead;
        }
        return true;
    };
    std::size_t k = 20;
    while (k + 6 < frames.size() && !fitsFrom(k)) ++k;
    ASSERT_LT(k + 6, frames.size());

    Layer3Decoder d;
    ASSERT_EQ(d.prepare(h, len, 24000), engine::Status::Ok);
    std::vector<int16_t> out;
    DecodeResult r = decodeCopy(d, &bytes[frames[k].offset], frames[k].length, out);
    EXPECT_EQ(r.bytesUsed, frames[k].length);
    ASSERT_EQ(r.bytesProduced, 1152 * 2);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 1152, [](int16_t v) { return v == 0; }));
    EXPECT_EQ(d.silencedFrames(), 1u);

    // The frames after it find their data and play again.
    bool sound = false;
    for (std::size_t i = k + 1; i < k + 6; ++i) {
        r = decodeCopy(d, &bytes[frames[i].offset], frames[i].length, out);
        EXPECT_EQ(r.bytesUsed, frames[i].length);
        sound = sound || std::any_of(out.begin(), out.begin() + 1152, [](int16_t v) { return v != 0; });
    }
    EXPECT_EQ(d.silencedFrames(), 1u);
    EXPECT_TRUE(sound);

    // Preparing again (after a resynchronisation) empties the reservoir.
    ASSERT_EQ(d.prepare(h, len, 24000), engine::Status::Ok);
    r = decodeCopy(d, &bytes[frames[k].offset], frames[k].length, out);
    EXPECT_EQ(r.bytesUsed, frames[k].length);
    EXPECT_EQ(d.silencedFrames(), 2u);
}

TEST(Layer3, BadFramesAreNotConsumed) {
    auto [bytes, h, len, frames] = loadVector("l3-he_48khz.bit");
    ASSERT_GT(frames.size(), 3u);
    Layer3Decoder d;
    ASSERT_EQ(d.prepare(h, len, 24000), engine::Status::Ok);
    std::vector<int16_t> out;
    const Frame& f = frames[1];
    std::vector<uint8_t> frame(bytes.begin() + static_cast<long>(f.offset),
                               bytes.begin() + static_cast<long>(f.offset) + f.length);

    std::vector<uint8_t> bad = frame;
    bad[1] &= 0x0F;  // broken sync
    EXPECT_EQ(decodeCopy(d, bad.data(), bad.size(), out).bytesUsed, 0);
    // Fewer bytes than the frame needs.
    EXPECT_EQ(decodeCopy(d, frame.data(), frame.size() - 1, out).bytesUsed, 0);
    EXPECT_EQ(decodeCopy(d, frame.data(), 3, out).bytesUsed, 0);
    bad = frame;
    bad[2] |= 0xF0;  // invalid bit-rate index
    EXPECT_EQ(decodeCopy(d, bad.data(), bad.size(), out).bytesUsed, 0);
    bad = frame;
    bad[2] ^= 0x0C;  // another sampling frequency than the prepared stream's tables
    EXPECT_EQ(decodeCopy(d, bad.data(), bad.size(), out).bytesUsed, 0);
    bad = frame;
    bad[1] = static_cast<uint8_t>((bad[1] & ~0x06) | 0x04);  // Layer II
    EXPECT_EQ(decodeCopy(d, bad.data(), bad.size(), out).bytesUsed, 0);
    // The intact frame still decodes.
    EXPECT_EQ(decodeCopy(d, frame.data(), frame.size(), out).bytesUsed, f.length);

    // Free format: a frame shorter than its header and side information (4 + 32 bytes here) is
    // bad; one that just holds them is a frame.
    FrameHeader free;
    const std::vector<uint8_t> freeHeader = {0xFF, 0xFB, 0x04, 0x00};
    unpackHeader(freeHeader.data(), &free);
    for (int length : {20, 35, 36}) {
        Layer3Decoder dl;
        ASSERT_EQ(dl.prepare(free, length, 24000), engine::Status::Ok);
        std::vector<uint8_t> shortFrame(static_cast<std::size_t>(length), 0);
        std::copy(freeHeader.begin(), freeHeader.end(), shortFrame.begin());
        EXPECT_EQ(decodeCopy(dl, shortFrame.data(), shortFrame.size(), out).bytesUsed, length < 36 ? 0 : 36) << length;
    }

    // Unprepared, or prepared with something that is not Layer III: nothing.
    Layer3Decoder fresh;
    EXPECT_EQ(decodeCopy(fresh, frame.data(), frame.size(), out).bytesUsed, 0);
    FrameHeader l2 = h;
    l2.layerField = kLayerFieldII;
    EXPECT_EQ(fresh.prepare(l2, len, 24000), engine::Status::CannotDecode);
    FrameHeader reserved = h;
    reserved.samplingIndex = 3;
    EXPECT_EQ(fresh.prepare(reserved, len, 24000), engine::Status::CannotDecode);
}

// Side information from a hostile stream: every field at its extremes and random bytes over the
// side information and main data of real frames. Nothing may read outside the frame, loop, or
// produce anything but one frame of output.
class HostileLayer3 : public testing::TestWithParam<const char*> {};

TEST_P(HostileLayer3, SideInformationIsContained) {
    const char* name = GetParam();
    auto [bytes, h, len, frames] = loadVector(name);
    ASSERT_GT(frames.size(), 20u);
    Layer3Decoder d;
    ASSERT_EQ(d.prepare(h, len, 24000), engine::Status::Ok);
    const int expected = d.describe().bytesPerFrame();
    std::mt19937 rng(11);
    std::vector<int16_t> out;
    int decoded = 0;
    for (int round = 0; round < 600; ++round) {
        const Frame& f = frames[static_cast<std::size_t>(round) % frames.size()];
        std::vector<uint8_t> frame(bytes.begin() + static_cast<long>(f.offset),
                                   bytes.begin() + static_cast<long>(f.offset) + f.length);
        const std::size_t sideStart = 4 + (h.protectionBit == 0 ? 2 : 0);
        switch (round % 4) {
            case 0:  // all ones: maximal lengths, tables, counts, gains
                std::fill(frame.begin() + static_cast<long>(sideStart), frame.end(), 0xFF);
                break;
            case 1:  // random side information only
                for (std::size_t i = sideStart; i < std::min<std::size_t>(sideStart + 32, frame.size()); ++i)
                    frame[i] = static_cast<uint8_t>(rng());
                break;
            case 2:  // random everything after the header
                for (std::size_t i = sideStart; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(rng());
                break;
            default:  // a few flipped bits anywhere after the header
                for (int k = 0; k < 8; ++k) {
                    std::size_t i = sideStart + rng() % (frame.size() - sideStart);
                    frame[i] ^= static_cast<uint8_t>(1u << (rng() % 8));
                }
        }
        DecodeResult r = decodeCopy(d, frame.data(), frame.size(), out);
        if (r.bytesUsed == 0) continue;
        ++decoded;
        EXPECT_EQ(r.bytesUsed, f.length);
        EXPECT_EQ(r.bytesProduced, expected);
        EXPECT_EQ(out[static_cast<std::size_t>(expected / 2)], 12345);
    }
    // The header is intact, so every frame is consumed.
    EXPECT_EQ(decoded, 600);
    // And the decoder still decodes the real stream afterwards.
    ASSERT_EQ(d.prepare(h, len, 24000), engine::Status::Ok);
    for (int i = 0; i < 5; ++i) {
        DecodeResult r = decodeCopy(d, &bytes[frames[static_cast<std::size_t>(i)].offset],
                                    frames[static_cast<std::size_t>(i)].length, out);
        EXPECT_EQ(r.bytesUsed, frames[static_cast<std::size_t>(i)].length);
    }
}

INSTANTIATE_TEST_SUITE_P(Layer3, HostileLayer3,
                         testing::Values("l3-si_block.bit", "l3-he_free.bit", "M2L3_noise.bit",
                                         "M2L3_compl24.bit"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             name = name.substr(0, name.find('.'));
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// Power of channel 0 at frequency f (Hz) over the whole signal, by the Goertzel recurrence.
double powerAt(const std::vector<int16_t>& pcm, int channels, double rate, double f) {
    const double pi = 3.14159265358979323846;
    const double c = 2 * std::cos(2 * pi * f / rate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < pcm.size(); i += static_cast<std::size_t>(channels)) {
        double s0 = pcm[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// The highest of the 32 subbands is never decoded: a stream with strong content there (noise
// over the whole band) comes out with next to nothing above 31/32 of the Nyquist frequency,
// where its reference decoding has plenty.
TEST(Layer3, TopSubbandStaysSilent) {
    auto [bytes, h, len, frames] = loadVector("M2L3_noise.bit");
    ASSERT_GT(frames.size(), 100u);
    Layer3Decoder d;
    ASSERT_EQ(d.prepare(h, len, 24000), engine::Status::Ok);
    std::vector<int16_t> pcm, out;
    for (std::size_t i = 0; i < 100; ++i) {
        DecodeResult r = decodeCopy(d, &bytes[frames[i].offset], frames[i].length, out);
        ASSERT_GT(r.bytesUsed, 0);
        pcm.insert(pcm.end(), out.begin(), out.begin() + r.bytesProduced / 2);
    }
    std::vector<int16_t> ref = test::readPcm16(vectorPath("M2L3_noise.pcm"));
    ref.resize(pcm.size());
    const double rate = 22050, nyquist = rate / 2;
    double topOurs = 0, topRef = 0, midOurs = 0, midRef = 0;
    for (int k = 0; k < 8; ++k) {
        // Inside the top subband, clear of the transition band of the filter bank.
        double f = nyquist * (31.45 + 0.06 * k) / 32;
        topOurs += powerAt(pcm, 2, rate, f);
        topRef += powerAt(ref, 2, rate, f);
        double g = nyquist * (12.3 + 0.08 * k) / 32;
        midOurs += powerAt(pcm, 2, rate, g);
        midRef += powerAt(ref, 2, rate, g);
    }
    ASSERT_GT(topRef, 0);
    // The decoded part of the band carries the same energy as the reference...
    EXPECT_NEAR(midOurs / midRef, 1.0, 0.2);
    // ...the top subband at least 30 dB less.
    EXPECT_LT(topOurs / topRef, 1e-3) << topOurs / topRef;
    std::printf("top subband power against the reference: %.2g; subband 12: %.3f\n", topOurs / topRef,
                midOurs / midRef);
}

// Low-sampling-frequency Layer III frames written bit by bit: no scale-factor bits (compression
// 0), no big values, every line in the count1 region with the fixed 4-bit code table, so each
// line is -1, 0 or +1 at the global gain.
struct LsfGranule {
    int blockType = 0;  // 0, or 2 with window switching
    bool mixed = false;
    std::vector<int> lines;  // values of lines 0.., each -1, 0 or 1; a multiple of four long
};

std::vector<uint8_t> lsfFrame(int samplingIndex, bool mpeg25, int bitrateIndex, int mode, int modeExtension,
                              const std::vector<LsfGranule>& channels) {
    FrameHeader h;
    std::vector<uint8_t> hb = {0xFF, static_cast<uint8_t>(mpeg25 ? 0xE3 : 0xF3),
                               static_cast<uint8_t>(bitrateIndex << 4 | samplingIndex << 2),
                               static_cast<uint8_t>(mode << 6 | modeExtension << 4)};
    unpackHeader(hb.data(), &h);
    std::vector<uint8_t> f(static_cast<std::size_t>(tableFrameLength(h)), 0);
    std::copy(hb.begin(), hb.end(), f.begin());
    std::size_t pos = 32;
    auto put = [&](uint32_t v, int bits) {
        for (int i = bits - 1; i >= 0; --i, ++pos)
            if ((v >> i) & 1u) f[pos / 8] |= static_cast<uint8_t>(0x80u >> (pos % 8));
    };
    const int nch = static_cast<int>(channels.size());
    put(0, 8);                      // main data begins here
    put(0, nch == 1 ? 1 : 2);       // private bits
    std::vector<int> part23;
    for (const LsfGranule& g : channels) {
        int bits = 0;  // a 4-bit code per quadruple and a sign bit per non-zero line
        for (std::size_t i = 0; i < g.lines.size(); i += 4) {
            bits += 4;
            for (std::size_t k = 0; k < 4; ++k) bits += g.lines[i + k] != 0;
        }
        part23.push_back(bits);
    }
    for (int ch = 0; ch < nch; ++ch) {
        const LsfGranule& g = channels[static_cast<std::size_t>(ch)];
        put(static_cast<uint32_t>(part23[static_cast<std::size_t>(ch)]), 12);
        put(0, 9);    // big values
        put(178, 8);  // global gain: each line 2^-8 of full scale, far from clipping
        put(0, 9);    // scale-factor compression 0: no factor bits, every factor 0
        put(g.blockType != 0, 1);
        if (g.blockType != 0) {
            put(static_cast<uint32_t>(g.blockType), 2);
            put(g.mixed, 1);
            put(0, 10);  // table selects
            put(0, 9);   // subblock gains
        } else {
            put(0, 15);  // table selects
            put(0, 7);   // region counts
        }
        put(0, 1);  // scale-factor scale
        put(1, 1);  // the fixed-length count1 table
    }
    pos = 32 + 8 * static_cast<std::size_t>(nch == 1 ? 9 : 17);
    for (const LsfGranule& g : channels)
        for (std::size_t i = 0; i < g.lines.size(); i += 4) {
            uint32_t v = 0;
            for (std::size_t k = 0; k < 4; ++k) v = v << 1 | (g.lines[i + k] != 0);
            put(v ^ 15u, 4);
            for (std::size_t k = 0; k < 4; ++k)
                if (g.lines[i + k] != 0) put(g.lines[i + k] < 0, 1);
        }
    EXPECT_LE(pos, f.size() * 8) << "the test frame does not fit";
    return f;
}

std::vector<int16_t> decodeOne(const std::vector<uint8_t>& frame) {
    FrameHeader h;
    unpackHeader(frame.data(), &h);
    Layer3Decoder d;
    EXPECT_EQ(d.prepare(h, tableFrameLength(h), kFrequencyLimitHz), engine::Status::Ok);
    std::vector<int16_t> out;
    DecodeResult r = decodeCopy(d, frame.data(), frame.size(), out);
    EXPECT_EQ(r.bytesUsed, static_cast<int>(frame.size()));
    out.resize(static_cast<std::size_t>(r.bytesProduced / 2));
    return out;
}

// A pseudo-random pattern of -1, 0 and 1 over lines [from, to), zero elsewhere up to `size`.
std::vector<int> pattern(int from, int to, int size, unsigned seed) {
    std::vector<int> v(static_cast<std::size_t>(size), 0);
    std::mt19937 rng(seed);
    for (int i = from; i < to; ++i) v[static_cast<std::size_t>(i)] = static_cast<int>(rng() % 3) - 1;
    return v;
}

// At low sampling frequencies, intensity coding that starts at the top scale-factor band (the
// right channel silent only there) gives that band position 0: both channels carry the left
// channel's values, exactly as a plain stereo frame that sends them twice. Its own factor is
// absent and the band below carries a scale factor, not a position, so neither can be used.
TEST(Layer3, IntensityCodingFromTheTopBandAtLowSamplingFrequencies) {
    struct Kind {
        const char* name;
        int blockType;
        bool mixed;
    };
    // At 22.05 kHz the top band starts at line 522, long or short (3 x 174).
    constexpr int kTopStart = 522;
    for (const Kind& k : {Kind{"long", 0, false}, Kind{"short", 2, false}, Kind{"mixed", 2, true}}) {
        SCOPED_TRACE(k.name);
        LsfGranule left{k.blockType, k.mixed, pattern(0, 576, 576, 1)};
        LsfGranule right{k.blockType, k.mixed, pattern(0, kTopStart, 576, 2)};
        // The right channel's top band: nothing (intensity) or the left channel's values.
        LsfGranule both = right;
        std::copy(left.lines.begin() + kTopStart, left.lines.end(), both.lines.begin() + kTopStart);
        // 22.05 kHz, 160 kbit/s: room for two channels of 576 lines.
        const std::vector<int16_t> intensity = decodeOne(lsfFrame(0, false, 14, kModeJointStereo, 1, {left, right}));
        const std::vector<int16_t> plain = decodeOne(lsfFrame(0, false, 14, kModeStereo, 0, {left, both}));
        ASSERT_EQ(intensity.size(), plain.size());
        int differ = 0;
        for (std::size_t i = 0; i < plain.size(); ++i) differ += std::abs(intensity[i] - plain[i]) > 1;
        EXPECT_EQ(differ, 0);
        EXPECT_GT(test::comparePcm(plain, std::vector<int16_t>(plain.size(), 0), 2).rms, 100.0);
    }
}

// A mixed block's long part is what its long scale-factor bands cover: at 8 kHz (MPEG 2.5) they
// reach line 72, four subbands, where the short bands start. Content in subband 2 then decodes
// exactly as the same content in a long block.
TEST(Layer3, MixedBlockLongPartAt8kHzCoversFourSubbands) {
    const std::vector<int> lines = pattern(36, 54, 56, 3);
    // 8 kHz, 32 kbit/s, single channel.
    const std::vector<int16_t> mixed = decodeOne(lsfFrame(2, true, 4, kModeSingleChannel, 0, {{2, true, lines}}));
    const std::vector<int16_t> normal = decodeOne(lsfFrame(2, true, 4, kModeSingleChannel, 0, {{0, false, lines}}));
    ASSERT_EQ(mixed.size(), normal.size());
    int differ = 0;
    for (std::size_t i = 0; i < normal.size(); ++i) differ += std::abs(mixed[i] - normal[i]) > 1;
    EXPECT_EQ(differ, 0);
    EXPECT_GT(test::comparePcm(normal, std::vector<int16_t>(normal.size(), 0), 1).rms, 10.0);
}

}  // namespace
}  // namespace vesperon::mpeg
