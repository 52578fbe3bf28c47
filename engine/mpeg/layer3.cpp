#include "engine/mpeg/layer3.h"

#include <algorithm>
#include <cstring>

#include "engine/mpeg/bit_reader.h"
#include "engine/mpeg/huffman_tables.h"
#include "engine/mpeg/layer3_hybrid.h"
#include "engine/mpeg/layer3_tables.h"
#include "engine/mpeg/synthesis.h"

namespace vesperon::mpeg {
namespace {

using l3::BandTable;

// Main data larger than this makes a frame bad; the reservoir compacts once it holds this many.
constexpr int kMaxMainData = 8192;
constexpr int kCompactAt = 6693;
constexpr int kReservoirSize = kCompactAt + kMaxMainData;
constexpr int kPadding = 8;  // zero bytes after the fill, so whole-word reads stay in bounds

struct GranuleInfo {
    int part23 = 0;
    int bigValues = 0;
    int globalGain = 0;
    int sfCompress = 0;
    int windowSwitching = 0;
    int blockType = 0;
    int mixed = 0;
    int tableSelect[3] = {};
    int subblockGain[3] = {};
    int region0 = 0;
    int region1 = 0;
    int preflag = 0;
    int sfScale = 0;
    int count1Table = 0;
};

struct SideInfo {
    int mainDataBegin = 0;
    int scfsi[2][4] = {};
    GranuleInfo gr[2][2];
};

// Bit reader over the reservoir; bits beyond `sizeBits` read as zero.
struct MainReader {
    const uint8_t* data;
    std::size_t sizeBits;
    std::size_t pos;

    // n from 0 to 24.
    uint32_t bits(int n) {
        if (n == 0) return 0;
        if (pos >= sizeBits) {
            pos += static_cast<std::size_t>(n);
            return 0;
        }
        // The buffer is zero-padded past sizeBits, so four bytes from any position inside are
        // readable, and the bits past the end are zero.
        const uint8_t* p = data + (pos >> 3);
        uint32_t w = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
        w <<= (pos & 7);
        pos += static_cast<std::size_t>(n);
        return w >> (32 - n);
    }
};

// The next 64 bits from r.pos, first bit at the top: at least 57 of them are the stream's (or
// the zeros past its end). Loads 8 bytes from inside the reservoir, which the padding covers.
inline uint64_t peek64(const MainReader& r) {
    if (r.pos >= r.sizeBits) return 0;
    const uint8_t* p = r.data + (r.pos >> 3);
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v << (r.pos & 7);
}

// One code of a pair or quad table read from the window w, whose first `used` bits are taken;
// advances used past the code.
inline int walkWindow(const int16_t* nodes, const uint16_t* lookup, uint64_t w, int& used) {
    uint32_t e = lookup[(w << used) >> (64 - huffman::kLookupBits)];
    if (e & 0x8000u) {
        used += static_cast<int>((e >> 8) & 15u);
        return static_cast<int>(e & 0xFFu);
    }
    used += huffman::kLookupBits;
    int n = static_cast<int>(e);
    for (;;) {
        // The longest code has 19 bits, so the walk stays inside the window's sure bits.
        int16_t c = nodes[2 * n + static_cast<int>((w << used) >> 63)];
        ++used;
        if (c < 0) return ~c;
        n = c;
    }
}

// The bits of v, negated when negative is 1.
inline uint32_t signedPower(float v, uint32_t negative) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits ^ (negative << 31);
}

}  // namespace

struct Layer3Decoder::State {
    bool prepared = false;
    FrameHeader header;
    int frameLength = 0;
    bool lsf = false;  // MPEG-2 or 2.5: one granule, the low-sampling-frequency coding
    int channels = 0;
    int granules = 0;
    int sampleRate = 0;
    int samplesPerFrame = 0;
    int bandLimitLines = 558;
    int bandLimitSubbands = 31;
    const BandTable* bands = nullptr;

    alignas(16) uint8_t reservoir[kReservoirSize + kPadding] = {};
    int fill = 0;

    // Per channel: spectrum, overlap, scale factors.
    alignas(32) float xr[2][576];
    alignas(32) float reordered[576];
    alignas(32) float overlap[2][576];  // [time slot][subband]
    int overlapSubbands[2] = {};
    int extent[2] = {};  // lines that may be non-zero
    int scfL[2][23];
    int scfS[2][13][3];
    // Largest intensity position per band of the right channel (low sampling frequencies): that
    // value marks a band without intensity coding.
    int isMaxL[23];
    int isMaxS[13];
    int intensityScale = 0;
    alignas(32) float subbandSamples[2][18][32];
    Synthesis synth;
    uint64_t silenced = 0;

    void readSideInfo(BitReader& br, int nch, SideInfo& si) const;
    void readScaleFactors(MainReader& r, const SideInfo& si, int gr, int ch, bool intensityRight);
    void readScaleFactorsLsf(MainReader& r, const GranuleInfo& g, int ch, bool intensityRight);
    void huffman(MainReader& r, const GranuleInfo& g, std::size_t end, int ch);
    void requantise(const GranuleInfo& g, int ch);
    void stereo(const GranuleInfo& g1, bool ms, bool intensity);
    void intensityLong(bool ms);
    void intensityShort(const GranuleInfo& g1, bool ms);
    void msLines(int from, int to);
    bool applyIntensity(int i0, int i1, int pos, int maxPos);
    void topBandPosition(int belowPos, int belowMax, bool startsHere, int* pos, int* maxPos) const;
    int decodeFrame(const uint8_t* frame, std::size_t available, int16_t* out, bool* silenced);
    void hybrid(const GranuleInfo& g, int ch);
};

void Layer3Decoder::State::readSideInfo(BitReader& br, int nch, SideInfo& si) const {
    if (!lsf) {
        si.mainDataBegin = static_cast<int>(br.read(9));
        br.read(nch == 1 ? 5 : 3);
        for (int ch = 0; ch < nch; ++ch)
            for (int b = 0; b < 4; ++b) si.scfsi[ch][b] = static_cast<int>(br.read(1));
    } else {
        si.mainDataBegin = static_cast<int>(br.read(8));
        br.read(nch == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            GranuleInfo& g = si.gr[gr][ch];
            g.part23 = static_cast<int>(br.read(12));
            // More than 288 pairs would run past the 576 lines.
            g.bigValues = std::min(static_cast<int>(br.read(9)), 288);
            g.globalGain = static_cast<int>(br.read(8));
            g.sfCompress = static_cast<int>(br.read(lsf ? 9 : 4));
            g.windowSwitching = static_cast<int>(br.read(1));
            if (g.windowSwitching) {
                g.blockType = static_cast<int>(br.read(2));
                g.mixed = static_cast<int>(br.read(1));
                for (int i = 0; i < 2; ++i) g.tableSelect[i] = static_cast<int>(br.read(5));
                for (int i = 0; i < 3; ++i) g.subblockGain[i] = static_cast<int>(br.read(3));
                // Block type 0 is forbidden with window switching; it decodes as a long block.
                // The mixed flag stays as sent on start and stop blocks too: it gives their
                // two lowest subbands the normal window.
                g.region0 = (g.blockType == 2 && !g.mixed) ? 8 : 7;
                g.region1 = 20 - g.region0;
            } else {
                for (int i = 0; i < 3; ++i) g.tableSelect[i] = static_cast<int>(br.read(5));
                g.region0 = static_cast<int>(br.read(4));
                g.region1 = static_cast<int>(br.read(3));
            }
            if (!lsf) g.preflag = static_cast<int>(br.read(1));
            g.sfScale = static_cast<int>(br.read(1));
            g.count1Table = static_cast<int>(br.read(1));
        }
    }
}

void Layer3Decoder::State::readScaleFactors(MainReader& r, const SideInfo& si, int gr, int ch,
                                            bool intensityRight) {
    const GranuleInfo& g = si.gr[gr][ch];
    if (lsf) {
        readScaleFactorsLsf(r, g, ch, intensityRight);
        return;
    }
    int slen1 = l3::kSlen1[g.sfCompress & 15];
    int slen2 = l3::kSlen2[g.sfCompress & 15];
    if (g.blockType == 2 && g.windowSwitching) {
        int firstShort = 0;
        if (g.mixed) {
            for (int b = 0; b < 8; ++b) scfL[ch][b] = static_cast<int>(r.bits(slen1));
            firstShort = 3;
        }
        for (int b = firstShort; b < 12; ++b)
            for (int w = 0; w < 3; ++w) scfS[ch][b][w] = static_cast<int>(r.bits(b < 6 ? slen1 : slen2));
        for (int w = 0; w < 3; ++w) scfS[ch][12][w] = 0;
        return;
    }
    static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
    for (int grp = 0; grp < 4; ++grp) {
        // The second granule may reuse the first one's factors for a whole group.
        if (gr == 1 && si.scfsi[ch][grp]) continue;
        for (int b = kGroupStart[grp]; b < kGroupStart[grp + 1]; ++b)
            scfL[ch][b] = static_cast<int>(r.bits(grp < 2 ? slen1 : slen2));
    }
    scfL[ch][21] = scfL[ch][22] = 0;
}

void Layer3Decoder::State::readScaleFactorsLsf(MainReader& r, const GranuleInfo& g, int ch,
                                               bool intensityRight) {
    int slen[4] = {};
    int row = 0;
    int sfc = g.sfCompress;
    int preflag = 0;
    if (!intensityRight) {
        if (sfc < 400) {
            slen[0] = (sfc >> 4) / 5;
            slen[1] = (sfc >> 4) % 5;
            slen[2] = (sfc & 15) >> 2;
            slen[3] = sfc & 3;
            row = 0;
        } else if (sfc < 500) {
            int s = sfc - 400;
            slen[0] = (s >> 2) / 5;
            slen[1] = (s >> 2) % 5;
            slen[2] = s & 3;
            row = 1;
        } else {
            int s = sfc - 500;
            slen[0] = s / 3;
            slen[1] = s % 3;
            preflag = 1;
            row = 2;
        }
    } else {
        int s = sfc >> 1;
        if (s < 180) {
            slen[0] = s / 36;
            slen[1] = (s % 36) / 6;
            slen[2] = (s % 36) % 6;
            row = 3;
        } else if (s < 244) {
            s -= 180;
            slen[0] = (s & 63) >> 4;
            slen[1] = (s & 15) >> 2;
            slen[2] = s & 3;
            row = 4;
        } else {
            s -= 244;
            slen[0] = s / 3;
            slen[1] = s % 3;
            row = 5;
        }
    }
    // Values out of the table (sfc 500..511 give slen up to 3) stay small; cap anyway so that a
    // hostile field never asks for more bits than a factor can hold.
    for (int& s : slen) s = std::min(s, 15);
    const_cast<GranuleInfo&>(g).preflag = preflag;

    bool shortBlocks = g.windowSwitching && g.blockType == 2;
    int kind = shortBlocks ? (g.mixed ? 2 : 1) : 0;
    const uint8_t* nr = l3::kBandsPerGroup[row][kind];
    int maxL[23], maxS[13];
    for (int& m : maxL) m = -1;
    for (int& m : maxS) m = -1;

    if (!shortBlocks) {
        int b = 0;
        for (int grp = 0; grp < 4; ++grp)
            for (int i = 0; i < nr[grp] && b < 22; ++i, ++b) {
                scfL[ch][b] = static_cast<int>(r.bits(slen[grp]));
                maxL[b] = (1 << slen[grp]) - 1;
            }
        for (; b < 23; ++b) scfL[ch][b] = 0;
    } else {
        int k = 0;  // index over the values read
        int longBands = g.mixed ? nr[0] : 0;
        int b = 0;
        for (int grp = 0; grp < 4; ++grp)
            for (int i = 0; i < nr[grp]; ++i, ++k) {
                uint32_t v = r.bits(slen[grp]);
                if (k < longBands) {
                    if (b < 23) {
                        scfL[ch][b] = static_cast<int>(v);
                        maxL[b] = (1 << slen[grp]) - 1;
                    }
                    ++b;
                    continue;
                }
                int s = k - longBands;
                int band = (g.mixed ? 3 : 0) + s / 3;
                if (band < 13) {
                    scfS[ch][band][s % 3] = static_cast<int>(v);
                    maxS[band] = (1 << slen[grp]) - 1;
                }
            }
        int firstUnread = (g.mixed ? 3 : 0) + (k - longBands) / 3;
        for (int band = std::max(firstUnread, 0); band < 13; ++band)
            for (int w = 0; w < 3; ++w) scfS[ch][band][w] = 0;
    }
    if (intensityRight) {
        intensityScale = sfc & 1;
        for (int b = 0; b < 23; ++b) isMaxL[b] = maxL[b];
        for (int b = 0; b < 13; ++b) isMaxS[b] = maxS[b];
    }
}

void Layer3Decoder::State::huffman(MainReader& r, const GranuleInfo& g, std::size_t end, int ch) {
    // Values go out as sign x |value|^(4/3); requantise() then applies the gains.
    float* out = xr[ch];
    const float* pow43 = l3::tables().pow43;
    bool shortBlocks = g.windowSwitching && g.blockType == 2;
    // Long blocks stop at the band limit; short blocks interleave windows, so their top
    // subband is dropped later in the hybrid filter instead.
    int limit = shortBlocks ? 576 : bandLimitLines;

    int region1, region2;
    if (g.windowSwitching) {
        region1 = (g.blockType == 2 && !g.mixed) ? bands->shortStart[3] * 3 : bands->longStart[8];
        region2 = 576;
    } else {
        region1 = bands->longStart[std::min(g.region0 + 1, 22)];
        region2 = bands->longStart[std::min(g.region0 + g.region1 + 2, 22)];
    }
    int bigEnd = std::min(g.bigValues * 2, limit);
    int i = 0;
    for (int region = 0; region < 3 && i < bigEnd; ++region) {
        int regionEnd = std::min(region == 0 ? region1 : region == 1 ? region2 : 576, bigEnd);
        if (regionEnd <= i) continue;
        int tableSelect = g.tableSelect[region < 3 ? region : 2];
        huffman::PairTable t = huffman::pairTable(tableSelect);
        if (!t.nodes) {
            for (; i < regionEnd; ++i) out[i] = 0.0f;
            continue;
        }
        const int linbits = t.linbits;
        for (; i < regionEnd; i += 2) {
            // A whole pair fits in one window: code (19) + 2 x (linbits (13) + sign) = 47 bits.
            uint64_t w = peek64(r);
            int used = 0;
            int v = walkWindow(t.nodes, t.lookup, w, used);
            int x = v >> 4, y = v & 15;
            if (linbits && x == 15) {
                x += static_cast<int>((w << used) >> (64 - linbits));
                used += linbits;
            }
            // At most 15 + 2^13 - 1, inside the power table. A non-zero value takes the next
            // bit as its sign, applied by flipping the sign bit: the signs are random, so no
            // branches on them.
            const int nx = x != 0;
            uint32_t fx = signedPower(pow43[x], static_cast<uint32_t>((w << used) >> 63) & nx);
            used += nx;
            if (linbits && y == 15) {
                y += static_cast<int>((w << used) >> (64 - linbits));
                used += linbits;
            }
            const int ny = y != 0;
            uint32_t fy = signedPower(pow43[y], static_cast<uint32_t>((w << used) >> 63) & ny);
            used += ny;
            r.pos += static_cast<std::size_t>(used);
            std::memcpy(&out[i], &fx, sizeof fx);
            if (i + 1 < 576) std::memcpy(&out[i + 1], &fy, sizeof fy);
        }
    }
    if (i > bigEnd) i = bigEnd;  // an odd limit can leave the last pair half outside

    // Count1 region: quadruples until the channel's bits are used up.
    if (bigEnd == g.bigValues * 2) {
        const int16_t* quadA = huffman::quadTableA();
        const uint16_t* quadLookup = huffman::quadLookupA();
        const float(*count1)[16][4] = l3::tables().count1;
        static constexpr uint8_t kOnes[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
        while (i < limit && r.pos < end) {
            uint64_t w = peek64(r);
            int used = 0;
            int v;
            if (g.count1Table) {
                v = static_cast<int>((w >> 60) ^ 15u);
                used = 4;
            } else {
                v = walkWindow(quadA, quadLookup, w, used);
            }
            // Each non-zero value takes the next bit as its sign: the values with their signs
            // come from one table, without branches on the data.
            const float* q = count1[v][(w << used) >> 60];
            used += kOnes[v];
            r.pos += static_cast<std::size_t>(used);
            // A quadruple that runs past the channel's bits was never sent.
            if (r.pos > end) break;
            if (i + 4 <= limit) {
                std::memcpy(out + i, q, 4 * sizeof(float));
                i += 4;
            } else {
                for (int k = 0; k < 4 && i < limit; ++k) out[i++] = q[k];
            }
        }
    }
    extent[ch] = i;
    std::memset(out + i, 0, sizeof(float) * static_cast<std::size_t>(576 - i));
}

void Layer3Decoder::State::requantise(const GranuleInfo& g, int ch) {
    const l3::Tables& t = l3::tables();
    float* x = xr[ch];
    int n = extent[ch];
    int shift = 1 + g.sfScale;
    auto factor = [&](int quarter) {
        int idx = quarter + l3::Tables::kGainBias;
        idx = std::clamp(idx, 0, l3::Tables::kGainBias + 127);
        return t.gain[idx];
    };
    int base = g.globalGain - 210;
    bool shortBlocks = g.windowSwitching && g.blockType == 2;
    int i = 0;
    if (!shortBlocks || g.mixed) {
        int lastLong = shortBlocks ? (lsf ? 6 : 8) : 22;
        for (int b = 0; b < lastLong && i < n; ++b) {
            int pre = g.preflag ? l3::kPretab[b] : 0;
            float f = factor(base - ((scfL[ch][b] + pre) << shift));
            int e = std::min<int>(bands->longStart[b + 1], n);
            for (; i < e; ++i) x[i] *= f;
        }
    }
    if (shortBlocks) {
        for (int b = g.mixed ? 3 : 0; b < 13 && i < n; ++b) {
            int width = bands->shortStart[b + 1] - bands->shortStart[b];
            for (int w = 0; w < 3 && i < n; ++w) {
                float f = factor(base - 8 * g.subblockGain[w] - (scfS[ch][b][w] << shift));
                int e = std::min(i + width, n);
                for (; i < e; ++i) x[i] *= f;
            }
        }
    }
    for (; i < 576; ++i) x[i] = 0.0f;
}

void Layer3Decoder::State::msLines(int from, int to) {
    constexpr float kInvSqrt2 = 0.70710678118654752f;
    float* l = xr[0];
    float* r = xr[1];
    for (int i = from; i < to; ++i) {
        float m = l[i], s = r[i];
        l[i] = (m + s) * kInvSqrt2;
        r[i] = (m - s) * kInvSqrt2;
    }
}

bool Layer3Decoder::State::applyIntensity(int i0, int i1, int pos, int maxPos) {
    const l3::Tables& t = l3::tables();
    float* l = xr[0];
    float* r = xr[1];
    if (!lsf) {
        // Position 7 (and anything a hostile stream might produce) means no intensity coding.
        if (pos < 0 || pos > 6) return false;
        float kl = t.isLeft[pos], kr = t.isRight[pos];
        for (int i = i0; i < i1; ++i) {
            float v = l[i];
            l[i] = v * kl;
            r[i] = v * kr;
        }
        return true;
    }
    if (pos < 0 || pos == maxPos || pos > 63) return false;
    float k = t.lsfIs[intensityScale][pos];
    // Odd positions attenuate the left channel, even ones the right.
    float kl = (pos & 1) ? k : 1.0f, kr = (pos & 1) ? 1.0f : k;
    for (int i = i0; i < i1; ++i) {
        float v = l[i];
        l[i] = v * kl;
        r[i] = v * kr;
    }
    return true;
}

// The top band sends no factor of its own. It takes the position of the band below it, except
// at low sampling frequencies when intensity coding starts at the top band: the band below then
// carries a scale factor, not a position, and the top band's position is 0 (both channels equal).
void Layer3Decoder::State::topBandPosition(int belowPos, int belowMax, bool startsHere, int* pos,
                                           int* maxPos) const {
    *pos = belowPos;
    *maxPos = belowMax;
    if (lsf && startsHere) {
        *pos = 0;
        *maxPos = -1;
    }
}

void Layer3Decoder::State::intensityLong(bool ms) {
    const float* q = xr[1];
    int last = -1;
    for (int i = extent[1] - 1; i >= 0; --i)
        if (q[i] != 0.0f) {
            last = i;
            break;
        }
    int n = std::max(extent[0], extent[1]);
    int start = 0;  // first band coded in intensity
    while (start < 22 && bands->longStart[start + 1] <= last) ++start;
    if (last >= 0) ++start;
    int msEnd = std::min<int>(bands->longStart[start], n);
    if (ms) msLines(0, msEnd);
    for (int b = start; b < 22; ++b) {
        int i0 = bands->longStart[b], i1 = std::min<int>(bands->longStart[b + 1], n);
        if (i0 >= i1) break;
        int pos = scfL[1][b], maxPos = lsf ? isMaxL[b] : 7;
        if (b == 21) topBandPosition(scfL[1][20], lsf ? isMaxL[20] : 7, start == 21, &pos, &maxPos);
        bool coded = applyIntensity(i0, i1, pos, maxPos);
        if (!coded && ms) msLines(i0, i1);
    }
}

void Layer3Decoder::State::intensityShort(const GranuleInfo& g1, bool ms) {
    const float* q = xr[1];
    int n = std::max(extent[0], extent[1]);
    int firstShort = g1.mixed ? 3 : 0;
    int longEnd = g1.mixed ? bands->shortStart[3] * 3 : 0;
    // The long part of a mixed block stays below the intensity bound.
    if (ms) msLines(0, std::min(longEnd, n));
    for (int w = 0; w < 3; ++w) {
        int start = firstShort;
        for (int b = 12; b >= firstShort; --b) {
            int width = bands->shortStart[b + 1] - bands->shortStart[b];
            int i0 = bands->shortStart[b] * 3 + w * width;
            bool nonZero = false;
            for (int i = i0; i < i0 + width && i < 576; ++i)
                if (q[i] != 0.0f) {
                    nonZero = true;
                    break;
                }
            if (nonZero) {
                start = b + 1;
                break;
            }
        }
        for (int b = firstShort; b < 13; ++b) {
            int width = bands->shortStart[b + 1] - bands->shortStart[b];
            int i0 = bands->shortStart[b] * 3 + w * width;
            int i1 = std::min(i0 + width, n);
            if (i0 >= i1) continue;
            if (b < start) {
                if (ms) msLines(i0, i1);
                continue;
            }
            int pos = scfS[1][b][w], maxPos = lsf ? isMaxS[b] : 7;
            if (b == 12) topBandPosition(scfS[1][11][w], lsf ? isMaxS[11] : 7, start == 12, &pos, &maxPos);
            bool coded = applyIntensity(i0, i1, pos, maxPos);
            if (!coded && ms) msLines(i0, i1);
        }
    }
}

void Layer3Decoder::State::stereo(const GranuleInfo& g1, bool ms, bool intensity) {
    int n = std::max(extent[0], extent[1]);
    if (intensity) {
        if (g1.windowSwitching && g1.blockType == 2)
            intensityShort(g1, ms);
        else
            intensityLong(ms);
    } else if (ms) {
        msLines(0, n);
    }
    extent[0] = extent[1] = n;
}

void Layer3Decoder::State::hybrid(const GranuleInfo& g, int ch) {
    bool shortBlocks = g.windowSwitching && g.blockType == 2;
    int n = extent[ch];
    const float* spectrum = xr[ch];
    // A mixed block's long part: two subbands, but at 8 kHz the long scale-factor bands it sends
    // reach up to the fourth short band, 72 lines, and the transform follows the coding.
    int longSubbands = !g.mixed ? 0 : shortBlocks ? bands->shortStart[3] * 3 / 18 : 2;
    if (shortBlocks) {
        // Huffman order is band, window, line; the transform wants subband, window, line.
        float* ro = reordered;
        int i = 0;
        if (g.mixed) {
            i = longSubbands * 18;
            std::memcpy(ro, spectrum, sizeof(float) * static_cast<std::size_t>(i));
        }
        std::memset(ro + i, 0, sizeof(float) * static_cast<std::size_t>(576 - i));
        int last = std::min(n, 576) - 1;
        while (last >= i && spectrum[last] == 0.0f) --last;
        for (int k = i; k <= last; ++k) ro[bands->shortOrder[k]] = spectrum[k];
        int top = last >= i ? bands->shortTop[last] : 0;
        if (g.mixed) {
            l3::reduceAliasing(ro, longSubbands - 1);
            top = std::max(top, longSubbands);
        }
        n = top * 18;
        spectrum = ro;
    } else {
        int sbs = std::min((n + 17) / 18, bandLimitSubbands);
        l3::reduceAliasing(xr[ch], sbs);
        if (sbs > 0) n = std::max(n, std::min(18 * sbs + 8, 576));
    }
    int subbands = std::min(std::max((n + 17) / 18, overlapSubbands[ch]), bandLimitSubbands);
    int blockType = g.windowSwitching ? g.blockType : 0;
    l3::hybridFilter(spectrum, overlap[ch], subbands, blockType, longSubbands, subbandSamples[ch]);
    overlapSubbands[ch] = subbands;
}

// Returns the bytes used (0 for a bad frame).
int Layer3Decoder::State::decodeFrame(const uint8_t* f, std::size_t available, int16_t* out,
                                      bool* silencedFrame) {
    *silencedFrame = false;
    if (available < 4 || f[0] != 0xFF) return 0;
    int syncKind = (f[1] & 0xF0) == 0xF0 ? 1 : ((f[1] & 0xF0) == 0xE0 && !(f[1] & 0x08)) ? 2 : 0;
    if (syncKind == 0 || (syncKind == 2 && !isMpeg25(header))) return 0;
    int versionBit = (f[1] >> 3) & 1;
    int layerField = (f[1] >> 1) & 3;
    int protection = f[1] & 1;
    int bitrateIndex = f[2] >> 4;
    int samplingIndex = (f[2] >> 2) & 3;
    int padding = (f[2] >> 1) & 1;
    int mode = f[3] >> 6;
    int modeExtension = (f[3] >> 4) & 3;
    // A frame of another kind than the prepared stream cannot use its tables.
    if (syncKind != header.syncKind || versionBit != header.versionBit || layerField != kLayerFieldIII ||
        samplingIndex != header.samplingIndex || bitrateIndex == 15)
        return 0;
    int length = frameLength;
    if (bitrateIndex != 0) {
        int kbps = kBitrateKbps[versionBit][kLayerFieldIII][bitrateIndex];
        int units = kRateUnits50[versionBit][samplingIndex];
        length = (versionBit == 0 && syncKind == 1 ? 1440 : 2880) * kbps / units;
    }
    int total = length + padding;
    if (total <= 0 || static_cast<std::size_t>(total) > available) return 0;
    int nch = mode == kModeSingleChannel ? 1 : 2;
    int sideSize = lsf ? (nch == 1 ? 9 : 17) : (nch == 1 ? 17 : 32);
    int crcSize = protection == 0 ? 2 : 0;
    int mainLength = total - 4 - crcSize - sideSize;
    if (mainLength < 0 || mainLength > kMaxMainData) return 0;

    SideInfo si;
    BitReader br(f + 4 + crcSize, static_cast<std::size_t>(sideSize));
    readSideInfo(br, nch, si);

    if (fill >= kCompactAt) {
        std::memmove(reservoir, reservoir + fill - si.mainDataBegin,
                     static_cast<std::size_t>(si.mainDataBegin));
        fill = si.mainDataBegin;
    }
    int held = fill;
    std::memcpy(reservoir + fill, f + 4 + crcSize + sideSize, static_cast<std::size_t>(mainLength));
    fill += mainLength;
    std::memset(reservoir + fill, 0, kPadding);
    int outChannels = channels;
    std::size_t outValues = static_cast<std::size_t>(samplesPerFrame) * static_cast<std::size_t>(outChannels);
    if (held < si.mainDataBegin) {
        // The data this frame starts with came before what we have (after a seek or a resync).
        std::memset(out, 0, outValues * sizeof(int16_t));
        *silencedFrame = true;
        return total;
    }
    MainReader r{reservoir, static_cast<std::size_t>(fill) * 8,
                 static_cast<std::size_t>(held - si.mainDataBegin) * 8};

    bool joint = mode == kModeJointStereo && nch == 2;
    bool ms = joint && (modeExtension & 2);
    bool intensity = joint && (modeExtension & 1);
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            const GranuleInfo& g = si.gr[gr][ch];
            std::size_t begin = r.pos;
            std::size_t end = begin + static_cast<std::size_t>(g.part23);
            readScaleFactors(r, si, gr, ch, intensity && ch == 1);
            huffman(r, g, end, ch);
            r.pos = end;
            requantise(g, ch);
        }
        if (nch == 2) stereo(si.gr[gr][1], ms, intensity);
        int16_t* granuleOut =
            out + static_cast<std::size_t>(gr) * 576 * static_cast<std::size_t>(outChannels);
        const int synthChannels = std::min(nch, outChannels);
        for (int ch = 0; ch < synthChannels; ++ch) hybrid(si.gr[gr][ch], ch);
        const float(*blocks[2])[32] = {subbandSamples[0], subbandSamples[1]};
        synth.synthesizeBlocks(blocks, synthChannels, 18, granuleOut);
        if (synthChannels < outChannels) {
            // A single-channel frame in a two-channel stream plays on both sides (spread from
            // the end, so that no sample is overwritten before it is read).
            for (int i = 575; i >= 0; --i) granuleOut[2 * i] = granuleOut[2 * i + 1] = granuleOut[i];
        }
    }
    return total;
}

Layer3Decoder::Layer3Decoder() : s_(new State) {}
Layer3Decoder::~Layer3Decoder() {
    delete s_;
}

engine::Status Layer3Decoder::prepare(const FrameHeader& header, int frameLength, int frequencyLimit) {
    State& s = *s_;
    s.prepared = false;
    s.fill = 0;
    if (header.layerField != kLayerFieldIII || header.samplingIndex < 0 || header.samplingIndex > 2 ||
        header.versionBit < 0 || header.versionBit > 1 || header.syncKind < 1 || header.syncKind > 2)
        return engine::Status::CannotDecode;
    if (isMpeg25(header) && header.versionBit != 0) return engine::Status::CannotDecode;
    s.header = header;
    s.frameLength = frameLength;
    s.lsf = header.versionBit == 0;
    s.sampleRate = sampleRateOf(header);
    int limit = std::max(frequencyLimit, 1000);
    s.bandLimitSubbands = std::min((64 * limit + s.sampleRate / 2) / s.sampleRate, 31);
    s.bandLimitLines = s.bandLimitSubbands * 18;
    s.channels = channelsOf(header);
    s.granules = s.lsf ? 1 : 2;
    s.samplesPerFrame = s.lsf ? 576 : 1152;
    int rateSet = (s.lsf ? (isMpeg25(header) ? 6 : 3) : 0) + header.samplingIndex;
    s.bands = &l3::bandTable(rateSet);
    l3::tables();
    std::memset(s.overlap, 0, sizeof(s.overlap));
    s.overlapSubbands[0] = s.overlapSubbands[1] = 0;
    std::memset(s.scfL, 0, sizeof(s.scfL));
    std::memset(s.scfS, 0, sizeof(s.scfS));
    s.synth.reset();
    s.prepared = true;
    return engine::Status::Ok;
}

PcmFormat Layer3Decoder::describe() const {
    const State& s = *s_;
    if (!s.prepared) return PcmFormat{0, 0, 0, 0};
    return PcmFormat::pcm16(s.channels, s.sampleRate, s.samplesPerFrame);
}

DecodeResult Layer3Decoder::decode(const uint8_t* frame, std::size_t available, int16_t* out) {
    State& s = *s_;
    if (!s.prepared || !frame || !out) return {};
    bool silenced = false;
    int used = s.decodeFrame(frame, available, out, &silenced);
    if (used == 0) return {};
    if (silenced) ++s.silenced;
    return {used, s.samplesPerFrame * s.channels * 2};
}

uint64_t Layer3Decoder::silencedFrames() const {
    return s_->silenced;
}

}  // namespace vesperon::mpeg
