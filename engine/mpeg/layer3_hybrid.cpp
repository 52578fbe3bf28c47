#include "engine/mpeg/layer3_hybrid.h"

#include <cmath>
#include <cstring>

#include "engine/mpeg/layer3_tables.h"
#include "engine/mpeg/vector_path.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vesperon::mpeg::l3 {

void reduceAliasing(float* x, int lastBoundary) {
    const Tables& t = tables();
#if defined(__SSE2__)
    // Four butterflies at a time, each with the same operations as below.
    if (vectorPath() != VectorPath::Portable) {
        const __m128 cs0 = _mm_loadu_ps(t.aliasCs), cs1 = _mm_loadu_ps(t.aliasCs + 4);
        const __m128 ca0 = _mm_loadu_ps(t.aliasCa), ca1 = _mm_loadu_ps(t.aliasCa + 4);
        auto reversed = [](__m128 q) { return _mm_shuffle_ps(q, q, _MM_SHUFFLE(0, 1, 2, 3)); };
        for (int sb = 1; sb <= lastBoundary; ++sb) {
            float* h = x + 18 * sb;
            const __m128 bu0 = reversed(_mm_loadu_ps(h - 4)), bu1 = reversed(_mm_loadu_ps(h - 8));
            const __m128 bd0 = _mm_loadu_ps(h), bd1 = _mm_loadu_ps(h + 4);
            _mm_storeu_ps(h - 4, reversed(_mm_sub_ps(_mm_mul_ps(bu0, cs0), _mm_mul_ps(bd0, ca0))));
            _mm_storeu_ps(h - 8, reversed(_mm_sub_ps(_mm_mul_ps(bu1, cs1), _mm_mul_ps(bd1, ca1))));
            _mm_storeu_ps(h, _mm_add_ps(_mm_mul_ps(bd0, cs0), _mm_mul_ps(bu0, ca0)));
            _mm_storeu_ps(h + 4, _mm_add_ps(_mm_mul_ps(bd1, cs1), _mm_mul_ps(bu1, ca1)));
        }
        return;
    }
#endif
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

// The transforms' constants. The 18 distinct outputs of the 36-point IMDCT are, up to sign, a
// DCT-IV of 18 points, computed as a DCT-II of the pre-scaled input (C[j] = U[j] - C[j - 1]); the
// DCT-II splits into two 9-point ones, whose cosines are symmetric about the middle input. The
// 12-point transform's 6 distinct outputs are a 6-point DCT-IV, taken as a matrix product.
struct Constants {
    float pre[18];         // 2 cos(pi (2k + 1) / 72)
    float split[9];        // 1 / (2 cos(pi (2k + 1) / 36))
    float even9[4][4];     // cos(pi m (2k + 1) / 18) for m = 2, 4, 6, 8
    float odd9[4][4];      // the same for m = 1, 3, 5, 7
    float longWindow[4][36];  // the windows of block types 0, 1, 3, negated from output 9 on
    float dct6[6][6];      // cos(pi (2j + 1) (2k + 1) / 24)
    float shortWindow[12];  // with the sign of the output it multiplies
    Constants() {
        const double pi = 3.14159265358979323846;
        for (int k = 0; k < 18; ++k) pre[k] = static_cast<float>(2 * std::cos(pi * (2 * k + 1) / 72));
        for (int k = 0; k < 9; ++k) split[k] = static_cast<float>(0.5 / std::cos(pi * (2 * k + 1) / 36));
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k) {
                even9[r][k] = static_cast<float>(std::cos(pi * (2 * r + 2) * (2 * k + 1) / 18));
                odd9[r][k] = static_cast<float>(std::cos(pi * (2 * r + 1) * (2 * k + 1) / 18));
            }
        const Tables& t = tables();
        for (int b = 0; b < 4; ++b)
            for (int n = 0; n < 36; ++n) longWindow[b][n] = n < 9 ? t.longWindow[b][n] : -t.longWindow[b][n];
        for (int j = 0; j < 6; ++j)
            for (int k = 0; k < 6; ++k)
                dct6[j][k] = static_cast<float>(std::cos(pi * (2 * j + 1) * (2 * k + 1) / 24));
        for (int i = 0; i < 12; ++i) {
            const float w = static_cast<float>(std::sin(pi / 12 * (i + 0.5)));
            shortWindow[i] = i < 3 ? w : -w;
        }
    }
};

const Constants& constants() {
    static const Constants c;
    return c;
}

// Which DCT-IV output each short-window output takes (the sign is in shortWindow).
constexpr int kShortOutput[12] = {3, 4, 5, 5, 4, 3, 2, 1, 0, 0, 1, 2};

// W subbands side by side, one per lane of a vector of W floats (4 or 8). Every lane takes the
// same single-precision operations in the same order whatever W is, so each width gives the same
// bits. (Spelled out per width: a vector attribute on a dependent alias is ignored.)
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

// in[k], lane l = line k of subband l of x.
template <int W>
[[gnu::always_inline]] inline void gatherLines(const float* x, Vec<W>* in) {
    for (int k = 0; k < 18; ++k)
        for (int l = 0; l < W; ++l) in[k][l] = x[18 * l + k];
}

// DCT-II of 9 points: A[m] = sum_k a[k] cos(pi m (2k + 1) / 18).
template <typename V>
[[gnu::always_inline]] inline void dct9(const V* a, V* A, const Constants& c) {
    V s[4], d[4];
    for (int k = 0; k < 4; ++k) {
        s[k] = a[k] + a[8 - k];
        d[k] = a[k] - a[8 - k];
    }
    A[0] = ((s[0] + s[1]) + (s[2] + s[3])) + a[4];
    for (int r = 0; r < 4; ++r) {
        const float* e = c.even9[r];
        const float* o = c.odd9[r];
        V even = (s[0] * e[0] + s[1] * e[1]) + (s[2] * e[2] + s[3] * e[3]);
        A[2 * r + 2] = (r & 1) ? even + a[4] : even - a[4];  // cos(pi m / 2) = -1 for m = 2, 6
        A[2 * r + 1] = (d[0] * o[0] + d[1] * o[1]) + (d[2] * o[2] + d[3] * o[3]);
    }
}

// The 36 windowed outputs of the long transform of in[0..17].
template <typename V>
[[gnu::always_inline]] inline void longTransform(const V* in, const float* window, V* z, const Constants& c) {
    V a[9], b[9], A[9], B[9];
    for (int k = 0; k < 9; ++k) {
        const V u = in[k] * c.pre[k], v = in[17 - k] * c.pre[17 - k];
        a[k] = u + v;
        b[k] = (u - v) * c.split[k];
    }
    dct9(a, A, c);
    dct9(b, B, c);
    // DCT-II outputs U[2m] = A[m], U[2m + 1] = B[m] + B[m + 1] (B[9] = 0), then the DCT-IV.
    V C[18];
    C[0] = A[0] * 0.5f;
    for (int m = 0; m < 9; ++m) {
        if (m > 0) C[2 * m] = A[m] - C[2 * m - 1];
        C[2 * m + 1] = (m < 8 ? B[m] + B[m + 1] : B[8]) - C[2 * m];
    }
    for (int i = 0; i < 9; ++i) {
        z[i] = C[9 + i] * window[i];
        z[17 - i] = C[9 + i] * window[17 - i];
        z[18 + i] = C[8 - i] * window[18 + i];
        z[35 - i] = C[8 - i] * window[35 - i];
    }
}

// The three overlapped short transforms of in[0..17] (windows of six lines), windowed.
template <typename V>
[[gnu::always_inline]] inline void shortTransform(const V* in, V* z, const Constants& c) {
    for (int i = 0; i < 6; ++i) z[i] = z[30 + i] = V{};
    for (int i = 6; i < 30; ++i) z[i] = V{};
    for (int w = 0; w < 3; ++w) {
        const V* X = in + 6 * w;
        V C[6];
        for (int j = 0; j < 6; ++j) {
            const float* m = c.dct6[j];
            C[j] = ((X[0] * m[0] + X[1] * m[1]) + (X[2] * m[2] + X[3] * m[3])) + (X[4] * m[4] + X[5] * m[5]);
        }
        for (int i = 0; i < 12; ++i) z[6 + 6 * w + i] += C[kShortOutput[i]] * c.shortWindow[i];
    }
}

// What a subband takes: 0, 1, 3 a long transform with that block type's window, 2 the short ones.
inline int kindOf(int sb, int blockType, int longSubbands) {
    return sb < longSubbands ? 0 : blockType;
}

template <int W>
[[gnu::always_inline]] inline void transformKind(const Vec<W>* in, int kind, Vec<W>* z, const Constants& c) {
    if (kind == 2)
        shortTransform(in, z, c);
    else
        longTransform(in, c.longWindow[kind], z, c);
}

template <int W>
[[gnu::always_inline]] inline void hybridFilterWith(const float* x, float* overlap, int subbands, int blockType,
                                                    int longSubbands, float (*out)[32]) {
    using V = Vec<W>;
    const Constants& c = constants();
    V sign;
    for (int l = 0; l < W; ++l) sign[l] = (l & 1) ? -1.0f : 1.0f;
    for (int sb0 = 0; sb0 < subbands; sb0 += W) {
        V in[18], z[36];
        gatherLines<W>(x + 18 * sb0, in);
        const int first = kindOf(sb0, blockType, longSubbands);
        const int last = kindOf(sb0 + W - 1, blockType, longSubbands);
        transformKind<W>(in, first, z, c);
        if (last != first) {
            // A mixed block's long part ends inside this group: its upper lanes take the other kind.
            V upper[36];
            transformKind<W>(in, last, upper, c);
            for (int l = longSubbands - sb0; l < W; ++l)
                for (int n = 0; n < 36; ++n) z[n][l] = upper[n][l];
        }
        for (int i = 0; i < 18; ++i) {
            float* ov = overlap + 32 * i + sb0;
            V v;
            __builtin_memcpy(&v, ov, sizeof v);
            v += z[i];
            // Odd time slots of odd subbands are inverted.
            if (i & 1) v *= sign;
            __builtin_memcpy(out[i] + sb0, &v, sizeof v);
            __builtin_memcpy(ov, &z[18 + i], sizeof v);
        }
    }
    for (int i = 0; i < 18; ++i)
        for (int sb = subbands; sb < 32; ++sb) out[i][sb] = overlap[32 * i + sb] = 0.0f;
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

}  // namespace

void hybridFilter(const float* x, float* overlap, int subbands, int blockType, int longSubbands, float (*out)[32]) {
#if defined(__x86_64__) || defined(__i386__)
    if (vectorPath() == VectorPath::Avx2) {
        hybridFilterAvx2(x, overlap, subbands, blockType, longSubbands, out);
        return;
    }
#endif
    hybridFilterPortable(x, overlap, subbands, blockType, longSubbands, out);
}

}  // namespace vesperon::mpeg::l3
