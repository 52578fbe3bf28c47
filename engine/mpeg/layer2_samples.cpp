#include "engine/mpeg/layer2_samples.h"

#include <cstring>

namespace vesperon::mpeg::layer2 {
namespace {

// Reads a copy of the frame's last bytes followed by zero bytes, so that every read is one
// 8-byte load without a bounds check.
struct PaddedReader {
    const uint8_t* data;
    std::size_t pos;
    // The next 64 bits, at least 57 of them the stream's.
    uint64_t peek() const {
        uint64_t v;
        std::memcpy(&v, data + (pos >> 3), sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        v = __builtin_bswap64(v);
#endif
        return v << (pos & 7);
    }
    // n from 1 to 24.
    uint32_t read(int n) {
        const uint64_t v = peek();
        pos += static_cast<std::size_t>(n);
        return static_cast<uint32_t>(v >> (64 - n));
    }
    // Three codes of n (1 to 16) bits from one load.
    void read3(int n, uint32_t* a, uint32_t* b, uint32_t* c) {
        const uint64_t v = peek();
        pos += static_cast<std::size_t>(3 * n);
        *a = static_cast<uint32_t>(v >> (64 - n));
        *b = static_cast<uint32_t>((v << n) >> (64 - n));
        *c = static_cast<uint32_t>((v << (2 * n)) >> (64 - n));
    }
};

inline void read3(BitReader& br, int n, uint32_t* a, uint32_t* b, uint32_t* c) {
    *a = br.read(n);
    *b = br.read(n);
    *c = br.read(n);
}

inline void read3(PaddedReader& br, int n, uint32_t* a, uint32_t* b, uint32_t* c) {
    br.read3(n, a, b, c);
}

template <typename Reader>
[[gnu::always_inline]] inline void readWith(Reader& br, const SampleRead* reads, int readCount, int channels,
                                            const float (*scale)[3][kSubbands], float (*samples)[kBlocks][kSubbands]) {
    // Each granule's values by channel, sample and subband, zero where nothing is read (the
    // silent subbands' values go to a third channel that is never used); then scaled a whole
    // row of subbands at a time.
    alignas(16) int32_t values[(kSilent + 1) * kValueRow] = {};
    for (int gr = 0; gr < kGranules; ++gr) {
        for (int i = 0; i < readCount; ++i) {
            const SampleRead& r = reads[i];
            int v0, v1, v2;
            if (r.degroup != nullptr) {
                const DegroupTriple& d = r.degroup[br.read(r.codeBits)];
                v0 = d[0];
                v1 = d[1];
                v2 = d[2];
            } else {
                uint32_t c0, c1, c2;
                read3(br, r.codeBits, &c0, &c1, &c2);
                v0 = static_cast<int>(c0) - r.middle;
                v1 = static_cast<int>(c1) - r.middle;
                v2 = static_cast<int>(c2) - r.middle;
            }
            int32_t* first = values + r.first;
            int32_t* second = values + r.second;
            first[0] = v0;
            first[kSubbands] = v1;
            first[2 * kSubbands] = v2;
            second[0] = v0;
            second[kSubbands] = v1;
            second[2 * kSubbands] = v2;
        }
        const int part = gr >> 2;
        for (int c = 0; c < channels; ++c)
            for (int k = 0; k < 3; ++k) {
                float* row = samples[c][gr * 3 + k];
                const int32_t* v = values + c * kValueRow + k * kSubbands;
                const float* f = scale[c][part];
                for (int sb = 0; sb < kSubbands; ++sb) row[sb] = static_cast<float>(v[sb]) * f[sb];
            }
    }
}

}  // namespace

void readSamples(BitReader& br, const SampleRead* reads, int readCount, int channels,
                 const float (*scale)[3][kSubbands], float (*samples)[kBlocks][kSubbands]) {
    // Larger than any frame of a standard bit rate; anything longer takes the checked reader.
    constexpr std::size_t kMaxBytes = 4096;
    const std::size_t start = br.position();
    const std::size_t first = start >> 3;
    const std::size_t end = br.sizeBits() >> 3;
    if (br.overrun() || start > br.sizeBits() || end - first > kMaxBytes) {
        readWith(br, reads, readCount, channels, scale, samples);
        return;
    }
    alignas(8) uint8_t copy[kMaxBytes + 8];
    std::memcpy(copy, br.data() + first, end - first);
    std::memset(copy + (end - first), 0, 8);
    PaddedReader r{copy, start & 7};
    readWith(r, reads, readCount, channels, scale, samples);
    br.skip(r.pos - (start & 7));
}

}  // namespace vesperon::mpeg::layer2
