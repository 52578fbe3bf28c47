#include "engine/mpeg/synthesis.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vesperon::mpeg {
namespace {

// Synthesis window D of ISO/IEC 11172-3 (Table 3-B.3) for i = 0..256, in units of 2^-16 (the
// standard's nine-decimal values are these multiples). The rest follows from the symmetry of
// the prototype filter: D[512 - i] = -D[i], except at multiples of 64 where D[512 - i] = D[i].
// clang-format off
constexpr int32_t kWindowHalf[257] = {
         0,     -1,     -1,     -1,     -1,     -1,     -1,     -2,     -2,     -2,     -2,     -3,
        -3,     -4,     -4,     -5,     -5,     -6,     -7,     -7,     -8,     -9,    -10,    -11,
       -13,    -14,    -16,    -17,    -19,    -21,    -24,    -26,    -29,    -31,    -35,    -38,
       -41,    -45,    -49,    -53,    -58,    -63,    -68,    -73,    -79,    -85,    -91,    -97,
      -104,   -111,   -117,   -125,   -132,   -139,   -147,   -154,   -161,   -169,   -176,   -183,
      -190,   -196,   -202,   -208,    213,    218,    222,    225,    227,    228,    228,    227,
       224,    221,    215,    208,    200,    189,    177,    163,    146,    127,    106,     83,
        57,     29,     -2,    -36,    -72,   -111,   -153,   -197,   -244,   -294,   -347,   -401,
      -459,   -519,   -581,   -645,   -711,   -779,   -848,   -919,   -991,  -1064,  -1137,  -1210,
     -1283,  -1356,  -1428,  -1498,  -1567,  -1634,  -1698,  -1759,  -1817,  -1870,  -1919,  -1962,
     -2001,  -2032,  -2057,  -2075,  -2085,  -2087,  -2080,  -2063,   2037,   2000,   1952,   1893,
      1822,   1739,   1644,   1535,   1414,   1280,   1131,    970,    794,    605,    402,    185,
       -45,   -288,   -545,   -814,  -1095,  -1388,  -1692,  -2006,  -2330,  -2663,  -3004,  -3351,
     -3705,  -4063,  -4425,  -4788,  -5153,  -5517,  -5879,  -6237,  -6589,  -6935,  -7271,  -7597,
     -7910,  -8209,  -8491,  -8755,  -8998,  -9219,  -9416,  -9585,  -9727,  -9838,  -9916,  -9959,
     -9966,  -9935,  -9863,  -9750,  -9592,  -9389,  -9139,  -8840,  -8492,  -8092,  -7640,  -7134,
      6574,   5959,   5288,   4561,   3776,   2935,   2037,   1082,     70,   -998,  -2122,  -3300,
     -4533,  -5818,  -7154,  -8540,  -9975, -11455, -12980, -14548, -16155, -17799, -19478, -21189,
    -22929, -24694, -26482, -28289, -30112, -31947, -33791, -35640, -37489, -39336, -41176, -43006,
    -44821, -46617, -48390, -50137, -51853, -53534, -55178, -56778, -58333, -59838, -61289, -62684,
    -64019, -65290, -66494, -67629, -68692, -69679, -70590, -71420, -72169, -72835, -73415, -73908,
    -74313, -74630, -74856, -74992,  75038,
};
// clang-format on

inline int16_t toPcm(float v) {
    // Truncation toward zero; out-of-range values clip instead of wrapping.
    if (v < 32767.0f && v > -32768.0f) return static_cast<int16_t>(static_cast<int32_t>(v));
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    return 0;  // NaN
}

// The windowed sums of one block: for each output j, over the eight steps i,
// sum[j] += w[i][j] * even_i[j] + w[i][32 + j] * odd_i[j], in that order, so that every
// variant below gives the same bits. even_i / odd_i start at history + ((pos + 64 i (+ 32)) & 511).
// Each writes 32 truncated, clipped samples to pcm.
using WindowFn = void (*)(const float* even, const float* odd, int pos, const float (*w)[64], int16_t* pcm);

[[maybe_unused]] void windowPortable(const float* even, const float* odd, int pos, const float (*w)[64],
                                     int16_t* pcm) {
    alignas(32) float sum[32] = {};
    for (int i = 0; i < 8; ++i) {
        const float* e = even + ((pos + 64 * i) & 511);
        const float* o = odd + ((pos + 64 * i + 32) & 511);
        for (int j = 0; j < 32; ++j) sum[j] += w[i][j] * e[j] + w[i][32 + j] * o[j];
    }
    for (int j = 0; j < 32; ++j) pcm[j] = toPcm(sum[j]);
}

#if defined(__SSE2__)
// Clamp, then truncate; NaN (unordered) becomes 0 as in toPcm.
inline __m128i toPcm4(__m128 v) {
    __m128 ordered = _mm_cmpord_ps(v, v);
    v = _mm_min_ps(_mm_max_ps(v, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    return _mm_cvttps_epi32(_mm_and_ps(v, ordered));
}

void windowSse2(const float* even, const float* odd, int pos, const float (*w)[64], int16_t* pcm) {
    __m128 s[8];
    for (int q = 0; q < 8; ++q) s[q] = _mm_setzero_ps();
    for (int i = 0; i < 8; ++i) {
        const float* e = even + ((pos + 64 * i) & 511);
        const float* o = odd + ((pos + 64 * i + 32) & 511);
        for (int q = 0; q < 8; ++q) {
            __m128 a = _mm_mul_ps(_mm_load_ps(w[i] + 4 * q), _mm_load_ps(e + 4 * q));
            __m128 b = _mm_mul_ps(_mm_load_ps(w[i] + 32 + 4 * q), _mm_load_ps(o + 4 * q));
            s[q] = _mm_add_ps(s[q], _mm_add_ps(a, b));
        }
    }
    for (int q = 0; q < 8; q += 2) {
        __m128i v = _mm_packs_epi32(toPcm4(s[q]), toPcm4(s[q + 1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 4 * q), v);
    }
}

// No FMA: a fused multiply-add would round differently from the other variants.
__attribute__((target("avx2"))) void windowAvx2(const float* even, const float* odd, int pos,
                                                const float (*w)[64], int16_t* pcm) {
    __m256 s[4];
    for (int q = 0; q < 4; ++q) s[q] = _mm256_setzero_ps();
    for (int i = 0; i < 8; ++i) {
        const float* e = even + ((pos + 64 * i) & 511);
        const float* o = odd + ((pos + 64 * i + 32) & 511);
        for (int q = 0; q < 4; ++q) {
            __m256 a = _mm256_mul_ps(_mm256_load_ps(w[i] + 8 * q), _mm256_load_ps(e + 8 * q));
            __m256 b = _mm256_mul_ps(_mm256_load_ps(w[i] + 32 + 8 * q), _mm256_load_ps(o + 8 * q));
            s[q] = _mm256_add_ps(s[q], _mm256_add_ps(a, b));
        }
    }
    const __m256 lo = _mm256_set1_ps(-32768.0f), hi = _mm256_set1_ps(32767.0f);
    for (int q = 0; q < 4; q += 2) {
        __m256i r[2];
        for (int k = 0; k < 2; ++k) {
            __m256 v = s[q + k];
            __m256 ordered = _mm256_cmp_ps(v, v, _CMP_ORD_Q);
            v = _mm256_min_ps(_mm256_max_ps(v, lo), hi);
            r[k] = _mm256_cvttps_epi32(_mm256_and_ps(v, ordered));
        }
        // packs works within 128-bit lanes; put the 16 values back in order.
        __m256i p = _mm256_permute4x64_epi64(_mm256_packs_epi32(r[0], r[1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pcm + 8 * q), p);
    }
}
#endif

WindowFn chooseWindow() {
#if defined(__SSE2__)
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) return windowAvx2;
#endif
    return windowSse2;
#else
    return windowPortable;
#endif
}

struct Tables {
    // Window in reading order: for step i, the 32 coefficients applied to the even-aged block
    // (D[64i + j]) followed by the 32 applied to the odd-aged block (D[64i + 32 + j]).
    alignas(32) float window[8][64];
    // 1 / (2 cos(pi (2k + 1) / (2N))) for the butterflies of each transform size.
    alignas(16) float cos32[16];
    alignas(16) float cos16[8];
    alignas(16) float cos8[4];
    float cos4[2], cos2[1];
    // The windowing for this processor, chosen once.
    WindowFn windowFn;

    Tables() {
        windowFn = chooseWindow();
        double d[512];
        for (int i = 0; i < 512; ++i) d[i] = synthesisWindow(i);
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 32; ++j) {
                window[i][j] = static_cast<float>(d[64 * i + j]);
                window[i][32 + j] = static_cast<float>(d[64 * i + 32 + j]);
            }
        fill(cos32, 32);
        fill(cos16, 16);
        fill(cos8, 8);
        fill(cos4, 4);
        fill(cos2, 2);
    }
    static void fill(float* c, int n) {
        const double pi = 3.14159265358979323846;
        for (int k = 0; k < n / 2; ++k)
            c[k] = static_cast<float>(0.5 / std::cos(pi * (2 * k + 1) / (2.0 * n)));
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

template <int N>
const float* cosFor(const Tables& t) {
    if constexpr (N == 32) return t.cos32;
    if constexpr (N == 16) return t.cos16;
    if constexpr (N == 8) return t.cos8;
    if constexpr (N == 4) return t.cos4;
    return t.cos2;
}

// X[m] = sum_k x[k] cos(pi (2k + 1) m / (2N)), by splitting into sums and scaled differences
// (even and odd outputs) until one point remains.
template <int N>
[[gnu::always_inline]] inline void dct(const float* x, float* out, const Tables& t) {
    if constexpr (N == 1) {
        out[0] = x[0];
    } else {
        constexpr int H = N / 2;
        const float* c = cosFor<N>(t);
        float a[H], b[H], A[H], B[H];
        for (int k = 0; k < H; ++k) {
            a[k] = x[k] + x[N - 1 - k];
            b[k] = (x[k] - x[N - 1 - k]) * c[k];
        }
        dct<H>(a, A, t);
        dct<H>(b, B, t);
        for (int m = 0; m < H - 1; ++m) {
            out[2 * m] = A[m];
            out[2 * m + 1] = B[m] + B[m + 1];
        }
        out[N - 2] = A[H - 1];
        out[N - 1] = B[H - 1];
    }
}

#if defined(__SSE2__)
// The same butterflies as dct<32>, four values at a time, each value computed by the same
// operations in the same order (so the output bits match). The two outer stages work on runs of
// the input; the 8- and 4-point stages run four transforms side by side, one per lane.
inline __m128 reversed(__m128 q) {
    return _mm_shuffle_ps(q, q, _MM_SHUFFLE(0, 1, 2, 3));
}

// Writes X[0..31] as out[j] = X[4j..4j+3].
[[gnu::always_inline]] inline void dct32Sse2(const float* x, __m128* out, const Tables& t) {
    __m128 X[8];
    for (int q = 0; q < 8; ++q) X[q] = _mm_loadu_ps(x + 4 * q);
    // 32 points: sums a and scaled differences b, four quads each.
    __m128 a[4], b[4];
    for (int q = 0; q < 4; ++q) {
        __m128 r = reversed(X[7 - q]);
        a[q] = _mm_add_ps(X[q], r);
        b[q] = _mm_mul_ps(_mm_sub_ps(X[q], r), _mm_load_ps(t.cos32 + 4 * q));
    }
    // 16 points on a and on b: four 8-point sequences aa, ab, ba, bb of two quads each.
    __m128 s8[4][2];
    const __m128* in16[2] = {a, b};
    for (int h = 0; h < 2; ++h) {
        const __m128* v = in16[h];
        for (int q = 0; q < 2; ++q) {
            __m128 r = reversed(v[3 - q]);
            s8[2 * h][q] = _mm_add_ps(v[q], r);  // h = 0: aa, h = 1: ba
            s8[2 * h + 1][q] = _mm_mul_ps(_mm_sub_ps(v[q], r), _mm_load_ps(t.cos16 + 4 * q));
        }
    }
    // 8 points; lanes in the order aa, ba, ab, bb so that later stages pair lanes 0/2 and 1/3.
    static constexpr int kLane[4] = {0, 2, 1, 3};
    __m128 ga[4], gb[4];
    const __m128 c8 = _mm_load_ps(t.cos8);
    for (int l = 0; l < 4; ++l) {
        const __m128* v = s8[kLane[l]];
        __m128 r = reversed(v[1]);
        ga[l] = _mm_add_ps(v[0], r);
        gb[l] = _mm_mul_ps(_mm_sub_ps(v[0], r), c8);
    }
    _MM_TRANSPOSE4_PS(ga[0], ga[1], ga[2], ga[3]);
    _MM_TRANSPOSE4_PS(gb[0], gb[1], gb[2], gb[3]);
    // 4 and 2 points, lane-wise.
    const __m128 c40 = _mm_set1_ps(t.cos4[0]), c41 = _mm_set1_ps(t.cos4[1]), c2 = _mm_set1_ps(t.cos2[0]);
    auto dct4 = [&](const __m128* y, __m128* o) {
        __m128 a0 = _mm_add_ps(y[0], y[3]), a1 = _mm_add_ps(y[1], y[2]);
        __m128 b0 = _mm_mul_ps(_mm_sub_ps(y[0], y[3]), c40), b1 = _mm_mul_ps(_mm_sub_ps(y[1], y[2]), c41);
        __m128 B0 = _mm_add_ps(b0, b1), B1 = _mm_mul_ps(_mm_sub_ps(b0, b1), c2);
        o[0] = _mm_add_ps(a0, a1);
        o[1] = _mm_add_ps(B0, B1);
        o[2] = _mm_mul_ps(_mm_sub_ps(a0, a1), c2);
        o[3] = B1;
    };
    __m128 A[4], B[4];
    dct4(ga, A);
    dct4(gb, B);
    // 8-point outputs, lanes aa, ba, ab, bb.
    __m128 O[8] = {A[0], _mm_add_ps(B[0], B[1]), A[1], _mm_add_ps(B[1], B[2]),
                   A[2], _mm_add_ps(B[2], B[3]), A[3], B[3]};
    // 16-point outputs: Q[m] = {a16[2m], b16[2m], a16[2m + 1], b16[2m + 1]}.
    __m128 Q[8];
    for (int m = 0; m < 7; ++m) Q[m] = _mm_shuffle_ps(O[m], _mm_add_ps(O[m], O[m + 1]), _MM_SHUFFLE(3, 2, 1, 0));
    Q[7] = O[7];
    // 32 points: out[2k] = a16[k], out[2k + 1] = b16[k] + b16[k + 1] (b16[16] taken as 0).
    __m128 a16[4], b16[5];
    for (int j = 0; j < 4; ++j) {
        a16[j] = _mm_shuffle_ps(Q[2 * j], Q[2 * j + 1], _MM_SHUFFLE(2, 0, 2, 0));
        b16[j] = _mm_shuffle_ps(Q[2 * j], Q[2 * j + 1], _MM_SHUFFLE(3, 1, 3, 1));
    }
    b16[4] = _mm_setzero_ps();
    for (int j = 0; j < 4; ++j) {
        __m128 t0 = _mm_shuffle_ps(b16[j], b16[j + 1], _MM_SHUFFLE(0, 0, 3, 3));
        __m128 next = _mm_shuffle_ps(b16[j], t0, _MM_SHUFFLE(2, 0, 2, 1));
        __m128 odd = _mm_add_ps(b16[j], next);
        out[2 * j] = _mm_unpacklo_ps(a16[j], odd);
        out[2 * j + 1] = _mm_unpackhi_ps(a16[j], odd);
    }
}
#endif

}  // namespace

double synthesisWindow(int i) {
    i &= 511;
    if (i <= 256) return kWindowHalf[i] / 65536.0;
    return (i % 64 == 0 ? 1 : -1) * kWindowHalf[512 - i] / 65536.0;
}

Synthesis::Synthesis() {
    tables();
    reset();
}

void Synthesis::reset() {
    std::memset(history_, 0, sizeof(history_));
    position_[0] = position_[1] = 0;
}

void Synthesis::synthesize(int ch, const float* subbands, int16_t* out, int stride) {
    const Tables& t = tables();
    ch &= 1;
    // The 64-value matrixing output V is X rearranged with signs: V[0..31] feeds the blocks that
    // are an even number of blocks old, V[32..63] the odd ones, so both halves are kept.
    int pos = position_[ch];
    float* even = &history_[ch][0][pos];
    float* odd = &history_[ch][1][pos];
#if defined(__SSE2__)
    __m128 q[9];
    dct32Sse2(subbands, q, t);
    q[8] = _mm_setzero_ps();
    // even[j] = X[16 + j] for j < 16, then 0 and -X[48 - j]; odd[j] = -X[16 - j], then -X[j - 16].
    // In quads: with S[j] = X[4j + 1 .. 4j + 4] (X[32] = 0), the reversed parts are -rev(S[j]).
    const __m128 sign = _mm_set1_ps(-0.0f);
    auto negRevShifted = [&](int j) {
        __m128 t0 = _mm_shuffle_ps(q[j], q[j + 1], _MM_SHUFFLE(0, 0, 3, 3));
        __m128 shifted = _mm_shuffle_ps(q[j], t0, _MM_SHUFFLE(2, 0, 2, 1));
        return _mm_xor_ps(reversed(shifted), sign);
    };
    for (int k = 0; k < 4; ++k) {
        _mm_store_ps(even + 4 * k, q[4 + k]);
        _mm_store_ps(even + 16 + 4 * k, negRevShifted(7 - k));
        _mm_store_ps(odd + 4 * k, negRevShifted(3 - k));
        _mm_store_ps(odd + 16 + 4 * k, _mm_xor_ps(q[k], sign));
    }
    even[16] = 0.0f;
#else
    float x[32];
    dct<32>(subbands, x, t);
    for (int j = 0; j < 16; ++j) even[j] = x[16 + j];
    even[16] = 0.0f;
    for (int j = 17; j < 32; ++j) even[j] = -x[48 - j];
    for (int j = 0; j < 16; ++j) odd[j] = -x[16 - j];
    for (int j = 0; j < 16; ++j) odd[16 + j] = -x[j];
#endif

    if (stride == 1) {
        t.windowFn(history_[ch][0], history_[ch][1], pos, t.window, out);
    } else {
        alignas(32) int16_t pcm[32];
        t.windowFn(history_[ch][0], history_[ch][1], pos, t.window, pcm);
        for (int j = 0; j < 32; ++j) out[j * stride] = pcm[j];
    }
    position_[ch] = (pos - 32) & 511;
}

}  // namespace vesperon::mpeg
