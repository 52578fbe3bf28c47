#include "engine/mpeg/layer3_hybrid.h"

#include <cstring>

#include "engine/mpeg/layer3_tables.h"

namespace vesperon::mpeg::l3 {

void reduceAliasing(float* x, int lastBoundary) {
    const Tables& t = tables();
    for (int sb = 1; sb <= lastBoundary; ++sb) {
        float* lo = x + 18 * sb - 1;  // last line of the lower subband, walking down
        float* hi = x + 18 * sb;      // first line of the upper subband, walking up
        for (int i = 0; i < 8; ++i) {
            float bu = lo[-i], bd = hi[i];
            lo[-i] = bu * t.aliasCs[i] - bd * t.aliasCa[i];
            hi[i] = bd * t.aliasCs[i] + bu * t.aliasCa[i];
        }
    }
}

namespace {

// The transform tables laid out for vectors of up to eight floats: long rows padded to 24,
// short rows transposed to [input][output]. Built once from the shared tables.
struct Layout {
    alignas(32) float longRows[18][24] = {};
    alignas(32) float shortCols[6][12] = {};
    Layout() {
        const Tables& t = tables();
        for (int k = 0; k < 18; ++k)
            for (int r = 0; r < 18; ++r) longRows[k][r] = t.longImdct[k][r];
        for (int i = 0; i < 12; ++i)
            for (int k = 0; k < 6; ++k) shortCols[k][i] = t.shortImdct[i][k];
    }
};

const Layout& layout() {
    static const Layout l;
    return l;
}

// W floats per vector (4 or 8). Every output is the same chain of single-precision products and
// sums in input order whatever W is, so each width gives the same bits.
// (Spelled out per width: a vector attribute on a dependent alias is ignored.)
template <int W>
struct VecOf;
template <>
struct VecOf<4> {
    typedef float type __attribute__((vector_size(16)));
};
template <>
struct VecOf<8> {
    typedef float type __attribute__((vector_size(32)));
};
template <int W>
using Vec = typename VecOf<W>::type;

template <int W>
[[gnu::always_inline]] inline void longImdct(const float* in, const float (*m)[24], const float* window, float* z) {
    // Named accumulators stay in registers (an array of them went through the stack).
    constexpr int kVectors = (18 + W - 1) / W;
    Vec<W> a0 = {}, a1 = {}, a2 = {}, a3 = {}, a4 = {};
    for (int k = 0; k < 18; ++k) {
        const Vec<W> vv = in[k] - Vec<W>{};  // broadcast (x - 0 keeps x, even -0)
        Vec<W> r0, r1, r2;
        __builtin_memcpy(&r0, &m[k][0], sizeof r0);
        __builtin_memcpy(&r1, &m[k][W], sizeof r1);
        __builtin_memcpy(&r2, &m[k][2 * W], sizeof r2);
        a0 += r0 * vv;
        a1 += r1 * vv;
        a2 += r2 * vv;
        if constexpr (kVectors > 3) {
            Vec<W> r3, r4;
            __builtin_memcpy(&r3, &m[k][3 * W], sizeof r3);
            __builtin_memcpy(&r4, &m[k][4 * W], sizeof r4);
            a3 += r3 * vv;
            a4 += r4 * vv;
        }
    }
    alignas(32) float y[24];
    __builtin_memcpy(y, &a0, sizeof a0);
    __builtin_memcpy(y + W, &a1, sizeof a1);
    __builtin_memcpy(y + 2 * W, &a2, sizeof a2);
    if constexpr (kVectors > 3) {
        __builtin_memcpy(y + 3 * W, &a3, sizeof a3);
        __builtin_memcpy(y + 4 * W, &a4, sizeof a4);
    }
    for (int i = 0; i < 9; ++i) {
        z[i] = y[i] * window[i];
        z[17 - i] = -y[i] * window[17 - i];
        z[18 + i] = y[9 + i] * window[18 + i];
        z[35 - i] = y[9 + i] * window[35 - i];
    }
}

[[gnu::always_inline]] inline void shortImdct(const float* in, const float (*cols)[12], float* z) {
    // Three vectors of four outputs per window.
    typedef float Quad __attribute__((vector_size(16)));
    for (int i = 0; i < 36; ++i) z[i] = 0.0f;
    for (int w = 0; w < 3; ++w) {
        const float* X = in + 6 * w;
        Quad acc[3] = {};
        for (int k = 0; k < 6; ++k) {
            const Quad xx = {X[k], X[k], X[k], X[k]};
            for (int j = 0; j < 3; ++j) {
                Quad c;
                __builtin_memcpy(&c, &cols[k][4 * j], sizeof c);
                acc[j] += c * xx;
            }
        }
        float a[12];
        __builtin_memcpy(a, acc, sizeof a);
        for (int i = 0; i < 12; ++i) z[6 + 6 * w + i] += a[i];
    }
}

template <int W>
[[gnu::always_inline]] inline void hybridFilterWith(const float* x, float* overlap, int subbands, int blockType,
                                                    int longSubbands, float (*out)[32]) {
    const Tables& t = tables();
    const Layout& l = layout();
    alignas(32) float z[36];
    for (int sb = 0; sb < subbands; ++sb) {
        bool lowMixed = sb < longSubbands;
        if (blockType != 2 || lowMixed) {
            longImdct<W>(x + 18 * sb, l.longRows, t.longWindow[lowMixed ? 0 : blockType], z);
        } else {
            shortImdct(x + 18 * sb, l.shortCols, z);
        }
        float* ov = overlap + 18 * sb;
        float sign = (sb & 1) ? -1.0f : 1.0f;
        for (int i = 0; i < 18; ++i) {
            float v = z[i] + ov[i];
            // Odd time slots of odd subbands are inverted.
            out[i][sb] = (i & 1) ? v * sign : v;
            ov[i] = z[18 + i];
        }
    }
    for (int sb = subbands; sb < 32; ++sb) {
        for (int i = 0; i < 18; ++i) out[i][sb] = 0.0f;
        std::memset(overlap + 18 * sb, 0, 18 * sizeof(float));
    }
}

void hybridFilterPortable(const float* x, float* overlap, int subbands, int blockType, int longSubbands,
                          float (*out)[32]) {
    hybridFilterWith<4>(x, overlap, subbands, blockType, longSubbands, out);
}

#if defined(__x86_64__) || defined(__i386__)
// No FMA: a fused multiply-add would round differently from the portable path.
__attribute__((target("avx2"))) void hybridFilterAvx2(const float* x, float* overlap, int subbands, int blockType,
                                                      int longSubbands, float (*out)[32]) {
    hybridFilterWith<8>(x, overlap, subbands, blockType, longSubbands, out);
}
#endif

using HybridFn = void (*)(const float*, float*, int, int, int, float (*)[32]);

HybridFn chooseHybrid() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) return hybridFilterAvx2;
#endif
    return hybridFilterPortable;
}

}  // namespace

void hybridFilter(const float* x, float* overlap, int subbands, int blockType, int longSubbands, float (*out)[32]) {
    // Chosen once, on the processor that runs it.
    static const HybridFn fn = chooseHybrid();
    layout();
    fn(x, overlap, subbands, blockType, longSubbands, out);
}

}  // namespace vesperon::mpeg::l3
