#include "engine/mpeg/layer2.h"

#include <algorithm>
#include <cstring>

#include "engine/mpeg/bit_reader.h"
#include "engine/mpeg/layer2_samples.h"
#include "engine/mpeg/layer2_tables.h"
#include "engine/mpeg/synthesis.h"

namespace vesperon::mpeg {

using namespace layer2;

namespace {

constexpr int kSamplesPerFrame = kBlocks * kSubbands;

}  // namespace

struct Layer2Decoder::State {
    bool prepared = false;
    FrameHeader header;
    int frameLength = 0;  // without padding
    int channels = 0;
    int sampleRate = 0;
    int subbandLimit = 0;
    int bandLimit = 0;
    const AllocationTable* table = nullptr;
    // The table expanded per subband: field width and class per allocation value.
    int8_t allocBits[kSubbands] = {};
    const int8_t* classes[kSubbands] = {};

    Synthesis synthesis;
    alignas(32) float samples[2][kBlocks][kSubbands] = {};
};

Layer2Decoder::Layer2Decoder() : s_(new State) {}
Layer2Decoder::~Layer2Decoder() {
    delete s_;
}

engine::Status Layer2Decoder::prepare(const FrameHeader& header, int frameLength, int frequencyLimit) {
    State& s = *s_;
    s.prepared = false;
    if (header.samplingIndex == 3 || frameLength <= 0) return engine::Status::CannotDecode;
    const int rate = sampleRateOf(header);
    const AllocationTable* table = selectAllocationTable(header);
    if (rate <= 0 || table == nullptr) return engine::Status::CannotDecode;

    s.header = header;
    s.frameLength = frameLength;
    s.table = table;
    s.sampleRate = rate;
    s.channels = channelsOf(header);
    s.subbandLimit = subbandLimitOf(*table);
    int sb = 0;
    for (int g = 0; g < table->groupCount; ++g) {
        for (int i = 0; i < table->groups[g].subbands; ++i, ++sb) {
            s.allocBits[sb] = table->groups[g].bits;
            s.classes[sb] = table->groups[g].classes;
        }
    }
    const long limitHz = std::max(frequencyLimit, 1000);
    const long band = (64 * limitHz + rate / 2) / rate;
    s.bandLimit = static_cast<int>(std::min<long>({band, 31, s.subbandLimit}));

    std::memset(s.samples, 0, sizeof s.samples);
    s.synthesis.reset();
    s.prepared = true;
    return engine::Status::Ok;
}

PcmFormat Layer2Decoder::describe() const {
    const State& s = *s_;
    if (!s.prepared) return PcmFormat{0, 0, 0, 0};
    return PcmFormat::pcm16(s.channels, s.sampleRate, kSamplesPerFrame);  // 1152 per channel, MPEG-2 included
}

DecodeResult Layer2Decoder::decode(const uint8_t* frame, std::size_t available, int16_t* out) {
    State& s = *s_;
    if (!s.prepared || frame == nullptr || out == nullptr || available < 4) return {};

    const int padding = (frame[2] >> 1) & 1;
    const std::size_t length = static_cast<std::size_t>(s.frameLength) + static_cast<std::size_t>(padding);
    // A frame cut short is damaged data: report it bad rather than claim bytes that are not there.
    if (available < length) return {};

    BitReader br(frame, length);
    const uint32_t sync = br.read(12);
    // MPEG 2.5 streams carry the 11-bit sync followed by a 0 bit.
    const uint32_t expected = isMpeg25(s.header) ? 0xFFEu : 0xFFFu;
    if (sync != expected) return {};
    br.read(1);  // version bit
    br.read(2);  // layer field
    const int protection = static_cast<int>(br.read(1));
    br.read(4);  // bit-rate index: the prepared table and length hold for every frame
    br.read(2);  // sampling-frequency index
    br.read(1);  // padding, taken above
    br.read(1);  // private bit
    const int mode = static_cast<int>(br.read(2));
    const int modeExtension = static_cast<int>(br.read(2));
    br.read(4);                        // copyright, original, emphasis
    if (protection == 0) br.read(16);  // CRC, not verified

    const int channels = s.channels;
    const int sblimit = s.subbandLimit;
    int bound = sblimit;
    if (channels == 2 && mode == kModeJointStereo) bound = std::min(4 * (modeExtension + 1), sblimit);

    // Bit allocation: per channel below the bound, shared above it.
    uint8_t alloc[2][kSubbands] = {};
    for (int sb = 0; sb < sblimit; ++sb) {
        const int bits = s.allocBits[sb];
        if (sb < bound) {
            for (int ch = 0; ch < channels; ++ch) alloc[ch][sb] = static_cast<uint8_t>(br.read(bits));
        } else {
            const uint8_t a = static_cast<uint8_t>(br.read(bits));
            alloc[0][sb] = a;
            alloc[1][sb] = a;
        }
    }

    uint8_t scfsi[2][kSubbands] = {};
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (alloc[ch][sb] != 0) scfsi[ch][sb] = static_cast<uint8_t>(br.read(2));

    // Scale factors for the three thirds of the frame, each already times the class's factor.
    const ScaleTables& t = scaleTables();
    float scale[2][3][kSubbands] = {};
    for (int sb = 0; sb < sblimit; ++sb) {
        for (int ch = 0; ch < channels; ++ch) {
            const int a = alloc[ch][sb];
            if (a == 0) continue;
            int i0 = 0, i1 = 0, i2 = 0;
            switch (scfsi[ch][sb]) {
                case 0:
                    i0 = static_cast<int>(br.read(6));
                    i1 = static_cast<int>(br.read(6));
                    i2 = static_cast<int>(br.read(6));
                    break;
                case 1:
                    i0 = i1 = static_cast<int>(br.read(6));
                    i2 = static_cast<int>(br.read(6));
                    break;
                case 2:
                    i0 = i1 = i2 = static_cast<int>(br.read(6));
                    break;
                default:
                    i0 = static_cast<int>(br.read(6));
                    i1 = i2 = static_cast<int>(br.read(6));
                    break;
            }
            const float factor = t.requantFactor[s.classes[sb][a]];
            scale[ch][0][sb] = t.scaleMultiplier[i0] * factor;
            scale[ch][1][sb] = t.scaleMultiplier[i1] * factor;
            scale[ch][2][sb] = t.scaleMultiplier[i2] * factor;
        }
    }

    // What to read for each allocated subband, in the order of the bitstream; the frame's
    // unallocated subbands stay zero.
    SampleRead reads[2 * kSubbands];
    int readCount = 0;
    for (int sb = 0; sb < sblimit; ++sb) {
        const int readChannels = sb < bound ? channels : 1;
        for (int ch = 0; ch < readChannels; ++ch) {
            const int a = alloc[ch][sb];
            if (a == 0) continue;
            const QuantClass& q = kQuantClasses[s.classes[sb][a]];
            SampleRead& r = reads[readCount++];
            const bool audible = sb < s.bandLimit;
            const int first = audible ? ch : kSilent, second = audible ? (sb < bound ? ch : channels - 1) : kSilent;
            r.first = static_cast<int16_t>(first * kValueRow + sb);
            r.second = static_cast<int16_t>(second * kValueRow + sb);
            r.codeBits = q.codeBits;
            r.middle = (q.steps - 1) / 2;
            r.degroup = !q.grouped     ? nullptr
                        : q.steps == 3 ? kDegroup3.data()
                        : q.steps == 5 ? kDegroup5.data()
                                       : kDegroup9.data();
        }
    }
    // A frame shorter than its own allocation needs is no frame: what would be read past its
    // end is not audio, and taking it would turn a few bytes into a whole frame of output.
    // Checked before the samples are read, so that a bad frame costs little.
    std::size_t sampleBits = 0;
    for (int i = 0; i < readCount; ++i)
        sampleBits += static_cast<std::size_t>(reads[i].codeBits) * (reads[i].degroup != nullptr ? 1 : 3);
    if (br.overrun() || sampleBits * kGranules > br.remaining()) return {};
    readSamples(br, reads, readCount, channels, scale, s.samples);

    if (br.overrun()) return {};  // cannot happen after the check above; kept as a guard

    const float(*blocks[2])[kSubbands] = {s.samples[0], s.samples[1]};
    s.synthesis.synthesizeBlocks(blocks, channels, kBlocks, out);

    DecodeResult r;
    r.bytesUsed = static_cast<int32_t>(length);
    r.bytesProduced = kSamplesPerFrame * channels * 2;
    return r;
}

}  // namespace vesperon::mpeg
