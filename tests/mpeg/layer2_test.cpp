// Layer II frame decoding: table choice, requantisation, and hand-made frames that isolate one
// feature each (joint stereo bound, band limit, frame consumption, damaged frames).

#include "engine/mpeg/layer2.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "engine/mpeg/frame_decoder.h"
#include "engine/mpeg/layer2_tables.h"

using namespace vesperon::mpeg;
using namespace vesperon::mpeg::layer2;

namespace {

FrameHeader layer2Header(int versionBit, int samplingIndex, int bitrateIndex, int mode) {
    FrameHeader h;
    h.syncKind = 1;
    h.versionBit = versionBit;
    h.layerField = kLayerFieldII;
    h.protectionBit = 1;
    h.bitrateIndex = bitrateIndex;
    h.samplingIndex = samplingIndex;
    h.mode = mode;
    return h;
}

int kbpsIndex(int kbps) {
    for (int i = 1; i < 15; ++i)
        if (kBitrateKbps[1][kLayerFieldII][i] == kbps) return i;
    return -1;
}

// The table each MPEG-1 combination must get, written out from the standard's table headings
// (bit rate per channel and sampling frequency); '-' where the standard forbids the combination.
char expectedTable(int rateHz, int kbps, bool single) {
    const std::set<int> forbiddenSingle = {224, 256, 320, 384};
    const std::set<int> forbiddenTwo = {32, 48, 56, 80};
    if (single ? forbiddenSingle.count(kbps) : forbiddenTwo.count(kbps)) return '-';
    const int perChannel = single ? kbps : kbps / 2;
    if (perChannel == 32 || perChannel == 48) return rateHz == 32000 ? 'd' : 'c';
    if (rateHz == 48000) return 'a';
    return (perChannel == 56 || perChannel == 64 || perChannel == 80) ? 'a' : 'b';
}

TEST(Layer2Tables, AllocationTableFollowsRateModeAndSamplingFrequency) {
    const int rates[3] = {44100, 48000, 32000};
    for (int sf = 0; sf < 3; ++sf) {
        for (int kbps : {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}) {
            for (int mode : {kModeStereo, kModeJointStereo, kModeDualChannel, kModeSingleChannel}) {
                SCOPED_TRACE(::testing::Message() << rates[sf] << " Hz " << kbps << " kbit/s mode " << mode);
                const AllocationTable* t = selectAllocationTable(layer2Header(1, sf, kbpsIndex(kbps), mode));
                const char want = expectedTable(rates[sf], kbps, mode == kModeSingleChannel);
                EXPECT_EQ(t ? t->name : '-', want);
            }
        }
        // Free format: the high-rate table of each sampling frequency.
        const AllocationTable* free = selectAllocationTable(layer2Header(1, sf, 0, kModeStereo));
        ASSERT_NE(free, nullptr);
        EXPECT_EQ(free->name, sf == 1 ? 'a' : 'b');
    }
    // The low sampling frequencies have one table for every rate and mode.
    for (int sf = 0; sf < 3; ++sf)
        for (int br = 0; br < 15; ++br)
            for (int mode = 0; mode < 4; ++mode) {
                const AllocationTable* t = selectAllocationTable(layer2Header(0, sf, br, mode));
                ASSERT_NE(t, nullptr);
                EXPECT_EQ(t->name, 'm');
            }
    EXPECT_EQ(selectAllocationTable(layer2Header(1, 3, 10, kModeStereo)), nullptr);
    EXPECT_EQ(selectAllocationTable(layer2Header(1, 1, 15, kModeStereo)), nullptr);

    std::map<char, int> limits;
    for (auto [sf, br, mode, v] : std::vector<std::array<int, 4>>{
             {1, 10, 0, 1}, {0, 10, 0, 1}, {0, 4, 0, 1}, {2, 4, 0, 1}, {1, 8, 0, 0}}) {
        const AllocationTable* t = selectAllocationTable(layer2Header(v, sf, br, mode));
        ASSERT_NE(t, nullptr);
        limits[t->name] = subbandLimitOf(*t);
    }
    EXPECT_EQ(limits, (std::map<char, int>{{'a', 27}, {'b', 30}, {'c', 8}, {'d', 12}, {'m', 30}}));
}

// Requantisation must equal the standard's s'' = C * (s''' + D), s''' being the code read as a
// two's complement fraction with its most significant bit inverted; C and D are the standard's.
TEST(Layer2Tables, RequantisationEqualsTheStandardsFormula) {
    struct Row {
        int steps;
        double c;
        double d;
        int bits;  // per value (after degrouping for the grouped classes)
    };
    const Row rows[kClassCount] = {
        {3, 1.33333333333, 0.5, 2},
        {5, 1.6, 0.5, 3},
        {7, 1.14285714286, 0.25, 3},
        {9, 1.77777777777, 0.5, 4},
        {15, 1.06666666666, 0.125, 4},
        {31, 1.03225806452, 0.0625, 5},
        {63, 1.01587301587, 0.03125, 6},
        {127, 1.00787401575, 0.015625, 7},
        {255, 1.00392156863, 0.0078125, 8},
        {511, 1.00195694716, 0.00390625, 9},
        {1023, 1.00097751711, 0.001953125, 10},
        {2047, 1.00048851979, 0.0009765625, 11},
        {4095, 1.00024420024, 0.00048828125, 12},
        {8191, 1.00012208522, 0.00024414063, 13},
        {16383, 1.00006103888, 0.00012207031, 14},
        {32767, 1.00003051851, 0.00006103516, 15},
        {65535, 1.00001525902, 0.00003051758, 16},
    };
    const ScaleTables& t = scaleTables();
    for (int k = 0; k < kClassCount; ++k) {
        const Row& r = rows[k];
        ASSERT_EQ(kQuantClasses[k].steps, r.steps);
        const int middle = (r.steps - 1) / 2;
        for (int v = 0; v < r.steps; v += (r.steps > 600 ? 37 : 1)) {
            const int msb = 1 << (r.bits - 1);
            int inverted = v ^ msb;
            if (inverted & msb) inverted -= 2 * msb;  // two's complement
            const double standard = r.c * (static_cast<double>(inverted) / msb + r.d);
            EXPECT_NEAR(t.requantFactor[k] * (v - middle), standard, 2e-6) << r.steps << " steps, code " << v;
        }
    }
    for (int i = 0; i < kScaleFactorCount; ++i)
        EXPECT_NEAR(t.scaleMultiplier[i], 32768.0 * 2.0 * std::pow(2.0, -i / 3.0), 65536.0 * 1e-6);
}

TEST(Layer2Tables, DegroupingSplitsEveryCodeIntoThreeDigits) {
    auto check = [](const auto& table, int levels) {
        const int middle = (levels - 1) / 2;
        for (int code = 0; code < static_cast<int>(table.size()); ++code) {
            const auto& d = table[code];
            if (code < levels * levels * levels) {
                for (int i = 0; i < 3; ++i) {
                    EXPECT_GE(d[i], -middle);
                    EXPECT_LE(d[i], middle);
                }
                EXPECT_EQ((d[0] + middle) + levels * (d[1] + middle) + levels * levels * (d[2] + middle),
                          code);
            } else {
                // Codes no encoder emits still give small values.
                for (int i = 0; i < 3; ++i) EXPECT_LE(std::abs(d[i]), 8);
            }
        }
    };
    check(kDegroup3, 3);
    check(kDegroup5, 5);
    check(kDegroup9, 9);
}

// Writes Layer II frames bit by bit for table a (48 kHz, 192 kbit/s two channels, 27 subbands)
// or the table of the low sampling frequencies.
class FrameWriter {
public:
    explicit FrameWriter(std::size_t bytes) : data_(bytes, 0) {}
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (pos_ / 8 < data_.size() && ((value >> i) & 1u))
                data_[pos_ / 8] |= static_cast<uint8_t>(0x80u >> (pos_ % 8));
            ++pos_;
        }
    }
    std::vector<uint8_t>& data() { return data_; }

private:
    std::vector<uint8_t> data_;
    std::size_t pos_ = 0;
};

struct ToneFrame {
    int syncBits = 0xFFF;
    int versionBit = 1;
    int samplingIndex = 1;  // 48 kHz
    int bitrateIndex = 10;  // 192 kbit/s
    int padding = 0;
    int mode = kModeStereo;
    int modeExtension = 0;
    int subband = 6;     // the one subband with samples
    int allocation = 5;  // class 4 of table a here: 15 steps, 4-bit codes
    int swing = 7;       // samples run middle + swing, middle, middle - swing, middle, ...
    int code = -1;       // when set: every sample's code instead
    int scaleLeft = 6;
    int scaleRight = 12;
};

// One frame with samples in one subband only. The samples repeat every four, +1 0 -1 0, which
// puts a tone at the subband's centre frequency, (subband + 1/2) / 64 of the sampling frequency.
std::vector<uint8_t> makeFrame(const ToneFrame& f, std::size_t bytes) {
    const AllocationTable* table =
        selectAllocationTable(layer2Header(f.versionBit, f.samplingIndex, f.bitrateIndex, f.mode));
    std::vector<int> widths;
    for (int g = 0; g < table->groupCount; ++g)
        for (int i = 0; i < table->groups[g].subbands; ++i) widths.push_back(table->groups[g].bits);
    const int sblimit = static_cast<int>(widths.size());
    const int channels = f.mode == kModeSingleChannel ? 1 : 2;
    const int bound = f.mode == kModeJointStereo ? 4 * (f.modeExtension + 1) : sblimit;
    int cls = -1;
    for (int g = 0, sb = 0; g < table->groupCount; sb += table->groups[g].subbands, ++g)
        if (f.subband >= sb && f.subband < sb + table->groups[g].subbands)
            cls = table->groups[g].classes[f.allocation];
    const QuantClass& q = kQuantClasses[cls];

    FrameWriter w(bytes);
    w.put(static_cast<uint32_t>(f.syncBits), 12);
    w.put(static_cast<uint32_t>(f.versionBit), 1);
    w.put(kLayerFieldII, 2);
    w.put(1, 1);  // no CRC
    w.put(static_cast<uint32_t>(f.bitrateIndex), 4);
    w.put(static_cast<uint32_t>(f.samplingIndex), 2);
    w.put(static_cast<uint32_t>(f.padding), 1);
    w.put(0, 1);
    w.put(static_cast<uint32_t>(f.mode), 2);
    w.put(static_cast<uint32_t>(f.modeExtension), 2);
    w.put(0, 4);
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < (sb < bound ? channels : 1); ++ch)
            w.put(sb == f.subband ? static_cast<uint32_t>(f.allocation) : 0u, widths[sb]);
    for (int ch = 0; ch < channels; ++ch) w.put(2, 2);  // one scale factor for the frame
    w.put(static_cast<uint32_t>(f.scaleLeft), 6);
    if (channels == 2) w.put(static_cast<uint32_t>(f.scaleRight), 6);
    const int reads = f.subband < bound ? channels : 1;
    const int pattern[4] = {1, 0, -1, 0};
    for (int gr = 0; gr < 12; ++gr)
        for (int ch = 0; ch < reads; ++ch)
            for (int i = 0; i < (q.grouped ? 1 : 3); ++i) {
                const int code =
                    f.code >= 0 ? f.code : (q.steps - 1) / 2 + f.swing * pattern[(gr * 3 + i) % 4];
                w.put(static_cast<uint32_t>(code), q.codeBits);
            }
    return w.data();
}

struct Decoded {
    vesperon::engine::Status prepared = vesperon::engine::Status::CannotDecode;
    PcmFormat description;
    std::vector<DecodeResult> results;
    std::vector<int16_t> lastFrame;
};

// Prepares from the first frame's header with the given length, then decodes each frame.
Decoded decodeFrames(const std::vector<std::vector<uint8_t>>& frames, int frameLength,
                     int frequencyLimit = kFrequencyLimitHz, const FrameHeader* header = nullptr) {
    Decoded d;
    FrameHeader h;
    if (header) {
        h = *header;
    } else {
        const uint8_t* p = frames[0].data();
        h = layer2Header((p[1] >> 3) & 1, (p[2] >> 2) & 3, p[2] >> 4, p[3] >> 6);
        h.syncKind = (p[1] & 0x10) ? 1 : 2;
    }
    Layer2Decoder dec;
    d.prepared = dec.prepare(h, frameLength, frequencyLimit);
    d.description = dec.describe();
    std::vector<int16_t> out(kMaxFrameOutputBytes / 2, 0x5555);
    for (const auto& f : frames) {
        d.results.push_back(dec.decode(f.data(), f.size(), out.data()));
        d.lastFrame.assign(out.begin(), out.begin() + d.results.back().bytesProduced / 2);
    }
    return d;
}

double channelRms(const std::vector<int16_t>& pcm, int channels, int ch) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = static_cast<std::size_t>(ch); i < pcm.size();
         i += static_cast<std::size_t>(channels), ++n)
        sum += static_cast<double>(pcm[i]) * pcm[i];
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

// Power at one frequency (Goertzel), relative to the channel's total power.
double toneShare(const std::vector<int16_t>& pcm, int channels, int ch, double cyclesPerSample) {
    const double w = 2 * M_PI * cyclesPerSample;
    double s1 = 0, s2 = 0, total = 0;
    std::size_t n = 0;
    for (std::size_t i = static_cast<std::size_t>(ch); i < pcm.size();
         i += static_cast<std::size_t>(channels), ++n) {
        const double s0 = pcm[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += static_cast<double>(pcm[i]) * pcm[i];
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return total > 0 ? 2 * power / (static_cast<double>(n) * total) : 0.0;
}

TEST(Layer2Frames, OneSubbandBecomesATonePerChannelWithItsOwnScaleFactor) {
    ToneFrame f;  // stereo, subband 6, scale factors 6 and 12: the right channel 4 times quieter
    std::vector<uint8_t> frame = makeFrame(f, 576);
    Decoded d = decodeFrames({frame, frame, frame}, 576);
    ASSERT_EQ(d.prepared, vesperon::engine::Status::Ok);
    EXPECT_EQ(d.description.channels, 2);
    EXPECT_EQ(d.description.samplesPerFrame * d.description.channels, 2304);
    EXPECT_EQ(d.description.sampleRate, 48000);
    EXPECT_EQ(d.description.bitsPerSample, 16);
    for (const auto& r : d.results) {
        EXPECT_EQ(r.bytesUsed, 576);
        EXPECT_EQ(r.bytesProduced, 4608);
    }
    const double left = channelRms(d.lastFrame, 2, 0);
    const double right = channelRms(d.lastFrame, 2, 1);
    EXPECT_GT(left, 1000.0);
    EXPECT_NEAR(left / right, 4.0, 0.05);
    // The tone sits at the subband's centre, (6 + 1/2) / 64 of the sampling frequency.
    EXPECT_GT(toneShare(d.lastFrame, 2, 0, 6.5 / 64), 0.9);
    EXPECT_GT(toneShare(d.lastFrame, 2, 1, 6.5 / 64), 0.9);
}

TEST(Layer2Frames, JointStereoSharesSamplesAboveTheBound) {
    // Bound 4 (mode extension 0): subband 6 is read once and scaled per channel.
    ToneFrame f;
    f.mode = kModeJointStereo;
    std::vector<uint8_t> frame = makeFrame(f, 576);
    Decoded d = decodeFrames({frame, frame, frame}, 576);
    ASSERT_EQ(d.prepared, vesperon::engine::Status::Ok);
    EXPECT_NEAR(channelRms(d.lastFrame, 2, 0) / channelRms(d.lastFrame, 2, 1), 4.0, 0.05);
    EXPECT_GT(toneShare(d.lastFrame, 2, 1, 6.5 / 64), 0.9);

    // Bound 8 (mode extension 1): subband 6 is below it, so the same request reads two channels.
    f.modeExtension = 1;
    f.scaleRight = f.scaleLeft;
    std::vector<uint8_t> separate = makeFrame(f, 576);
    Decoded e = decodeFrames({separate, separate}, 576);
    EXPECT_NEAR(channelRms(e.lastFrame, 2, 0), channelRms(e.lastFrame, 2, 1), 1.0);
    EXPECT_GT(channelRms(e.lastFrame, 2, 1), 1000.0);
}

TEST(Layer2Frames, SubbandsAtOrAboveTheBandLimitStaySilent) {
    ToneFrame f;
    f.mode = kModeSingleChannel;
    f.bitrateIndex = 10;  // 192 kbit/s, one channel: table a at 48 kHz
    std::vector<uint8_t> frame = makeFrame(f, 576);
    // (64 * 4000 + 24000) / 48000 = 5 subbands decoded: subband 6 is read past.
    Decoded limited = decodeFrames({frame, frame}, 576, 4000);
    ASSERT_EQ(limited.prepared, vesperon::engine::Status::Ok);
    EXPECT_EQ(limited.description.samplesPerFrame * limited.description.channels, 1152);
    EXPECT_EQ(limited.results[1].bytesUsed, 576);
    EXPECT_EQ(channelRms(limited.lastFrame, 1, 0), 0.0);
    // (64 * 5000 + 24000) / 48000 = 7: subband 6 plays.
    Decoded open = decodeFrames({frame, frame}, 576, 5000);
    EXPECT_GT(channelRms(open.lastFrame, 1, 0), 1000.0);
}

TEST(Layer2Frames, LowSamplingFrequencyFramesGive1152SamplesPerChannel) {
    ToneFrame f;
    f.versionBit = 0;
    f.samplingIndex = 1;  // 24 kHz
    f.bitrateIndex = 8;   // 64 kbit/s: 64 * 2880 / 480 = 384 bytes
    f.allocation = 5;     // class 4 of the table's first group: 15 steps
    f.subband = 2;
    std::vector<uint8_t> frame = makeFrame(f, 384);
    Decoded d = decodeFrames({frame, frame}, 384);
    ASSERT_EQ(d.prepared, vesperon::engine::Status::Ok);
    EXPECT_EQ(d.description.sampleRate, 24000);
    EXPECT_EQ(d.description.samplesPerFrame * d.description.channels, 2 * 1152);
    EXPECT_EQ(d.results[1].bytesProduced, 2 * 1152 * 2);
    EXPECT_GT(toneShare(d.lastFrame, 2, 0, 2.5 / 64), 0.9);

    // MPEG 2.5 carries the 11-bit sync; its frames decode the same way at half the rate.
    f.syncBits = 0xFFE;
    std::vector<uint8_t> frame25 = makeFrame(f, 768);
    Decoded e = decodeFrames({frame25, frame25}, 768);
    ASSERT_EQ(e.prepared, vesperon::engine::Status::Ok);
    EXPECT_EQ(e.description.sampleRate, 12000);
    EXPECT_EQ(e.results[1].bytesUsed, 768);
    EXPECT_GT(toneShare(e.lastFrame, 2, 0, 2.5 / 64), 0.9);
}

TEST(Layer2Frames, EveryFrameIsConsumedWithThePreparedLengthPlusItsPadding) {
    ToneFrame f;
    std::vector<uint8_t> plain = makeFrame(f, 576);
    f.padding = 1;
    std::vector<uint8_t> padded = makeFrame(f, 577);
    f.padding = 0;
    f.bitrateIndex = 14;  // 384 kbit/s would be 1152 bytes; the prepared length still holds
    std::vector<uint8_t> other = makeFrame(f, 1152);
    Decoded d = decodeFrames({plain, padded, other}, 576);
    ASSERT_EQ(d.results.size(), 3u);
    EXPECT_EQ(d.results[0].bytesUsed, 576);
    EXPECT_EQ(d.results[1].bytesUsed, 577);
    EXPECT_EQ(d.results[2].bytesUsed, 576);
}

TEST(Layer2Frames, DamagedFramesAreRefusedOrDecodedWithinTheirBytes) {
    ToneFrame f;
    std::vector<uint8_t> good = makeFrame(f, 576);

    std::vector<uint8_t> badSync = good;
    badSync[1] &= 0xEF;  // 0xFFE: not this stream's sync
    // Cut short: fewer bytes than the frame's length; read through an exact-size copy.
    std::vector<uint8_t> cut(good.begin(), good.begin() + 300);
    std::vector<uint8_t> tiny(good.begin(), good.begin() + 3);
    const FrameHeader stereo = layer2Header(1, 1, 10, kModeStereo);
    Decoded d = decodeFrames({badSync, cut, tiny, good}, 576, kFrequencyLimitHz, &stereo);
    EXPECT_EQ(d.results[0].bytesUsed, 0);
    EXPECT_EQ(d.results[0].bytesProduced, 0);
    EXPECT_EQ(d.results[1].bytesUsed, 0);
    EXPECT_EQ(d.results[2].bytesUsed, 0);
    EXPECT_EQ(d.results[3].bytesUsed, 576);

    // Scale-factor index 63 (illegal) and an all-ones allocation stay bounded and finite.
    f.scaleLeft = 63;
    f.scaleRight = 63;
    f.allocation = 15;  // class 65535 steps, 16-bit codes
    f.code = 0xFFFF;
    std::vector<uint8_t> odd = makeFrame(f, 576);
    Decoded e = decodeFrames({odd}, 576);
    EXPECT_EQ(e.results[0].bytesUsed, 576);
    EXPECT_LT(channelRms(e.lastFrame, 2, 0), 1.0);

    // Allocation that needs more bits than the frame holds: a bad frame, nothing decoded.
    ToneFrame big;
    big.allocation = 15;  // 16-bit codes: 12 x 3 x 2 x 16 bits do not fit in 100 bytes
    std::vector<uint8_t> overfull = makeFrame(big, 100);
    Decoded h = decodeFrames({overfull}, 100);
    EXPECT_EQ(h.results[0].bytesUsed, 0);
    EXPECT_EQ(h.results[0].bytesProduced, 0);
    // Shorter than the header and the allocation alone.
    Decoded s = decodeFrames({std::vector<uint8_t>(good.begin(), good.begin() + 14)}, 14, kFrequencyLimitHz, &stereo);
    EXPECT_EQ(s.results[0].bytesUsed, 0);

    // A frame of nothing but ones: every field at its largest, the padding bit set; its
    // allocation asks for far more than it holds.
    std::vector<uint8_t> ones(577, 0xFF);
    Decoded g = decodeFrames({ones, ones}, 576, kFrequencyLimitHz, &stereo);
    EXPECT_EQ(g.results[1].bytesUsed, 0);
}

TEST(Layer2Frames, ForbiddenCombinationsAreRefusedAtPrepare) {
    Layer2Decoder dec;
    using vesperon::engine::Status;
    // 32 kbit/s stereo, 320 kbit/s mono, a reserved rate.
    EXPECT_EQ(dec.prepare(layer2Header(1, 1, 1, kModeStereo), 96, kFrequencyLimitHz), Status::CannotDecode);
    EXPECT_EQ(dec.prepare(layer2Header(1, 1, 13, kModeSingleChannel), 960, kFrequencyLimitHz),
              Status::CannotDecode);
    EXPECT_EQ(dec.prepare(layer2Header(1, 3, 10, kModeStereo), 576, kFrequencyLimitHz), Status::CannotDecode);
    EXPECT_EQ(dec.describe().samplesPerFrame * dec.describe().channels, 0);
    uint8_t frame[8] = {0xFF, 0xFD, 0x14, 0x00};
    int16_t out[2304];
    EXPECT_EQ(dec.decode(frame, sizeof frame, out).bytesUsed, 0);
    // Through the dispatcher too.
    MpegAudioDecoder mpeg;
    EXPECT_EQ(mpeg.prepare(layer2Header(1, 1, 5, kModeJointStereo), 240),
              vesperon::engine::Status::CannotDecode);  // 80 kbit/s joint stereo
    EXPECT_EQ(mpeg.prepare(layer2Header(1, 1, 10, kModeJointStereo), 576), vesperon::engine::Status::Ok);
    EXPECT_EQ(mpeg.describe().samplesPerFrame * mpeg.describe().channels, 2304);
}

}  // namespace
