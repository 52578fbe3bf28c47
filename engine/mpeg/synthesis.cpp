#include "engine/mpeg/synthesis.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "engine/mpeg/vector_path.h"

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

// The rings hold twice what one block's windowing reads, so that up to eight blocks'
// transforms can be written ahead of their windowing. The first half of each ring is repeated
// after its end, so that the windowing reads from any position without wrapping.
constexpr int kRingMask = Synthesis::kRing - 1;
constexpr int kRepeated = Synthesis::kRing / 2;

// Where block values written at `at` are also kept, or null.
inline float* repeatOf(float* ring, int at) {
    return at < kRepeated ? ring + Synthesis::kRing + at : nullptr;
}

inline int16_t toPcm(float v) {
    // Truncation toward zero; out-of-range values clip instead of wrapping.
    if (v < 32767.0f && v > -32768.0f) return static_cast<int16_t>(static_cast<int32_t>(v));
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    return 0;  // NaN
}

// The windowed sums of one block: for each output j, over the eight steps i,
// sum[j] += w[i][j] * even_i[j] + w[i][32 + j] * odd_i[j], in that order, so that every
// variant below gives the same bits. even_i / odd_i start at history + pos + 64 i (+ 32).
// Each writes 32 truncated, clipped samples to pcm.
using WindowFn = void (*)(const float* even, const float* odd, int pos, const float (*w)[64], int16_t* pcm);

void windowPortable(const float* even, const float* odd, int pos, const float (*w)[64],
                                     int16_t* pcm) {
    alignas(32) float sum[32] = {};
    for (int i = 0; i < 8; ++i) {
        const float* e = even + pos + 64 * i;
        const float* o = odd + pos + 64 * i + 32;
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
        const float* e = even + pos + 64 * i;
        const float* o = odd + pos + 64 * i + 32;
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
        const float* e = even + pos + 64 * i;
        const float* o = odd + pos + 64 * i + 32;
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

struct Tables {
    // Window in reading order: for step i, the 32 coefficients applied to the even-aged block
    // (D[64i + j]) followed by the 32 applied to the odd-aged block (D[64i + 32 + j]).
    alignas(32) float window[8][64];
    // 1 / (2 cos(pi (2k + 1) / (2N))) for the butterflies of each transform size.
    alignas(16) float cos32[16];
    alignas(16) float cos16[8];
    alignas(16) float cos8[4];
    float cos4[2], cos2[1];

    Tables() {
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
// (even and odd outputs) until one point remains. T is a float or a vector of floats, one
// block per lane: every lane takes the same operations in the same order, so all give the
// same bits.
template <int N, typename T>
[[gnu::always_inline]] inline void dct(const T* x, T* out, const Tables& t) {
    if constexpr (N == 1) {
        out[0] = x[0];
    } else {
        constexpr int H = N / 2;
        const float* c = cosFor<N>(t);
        T a[H], b[H], A[H], B[H];
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

// The matrixing values V of one block, from its transform output x: V[0..31] feeds the blocks
// that are an even number of blocks old, V[32..63] the odd ones, so both halves are kept.
// even[j] = x[16 + j] for j < 16, then 0 and -x[48 - j]; odd[j] = -x[16 - j], then -x[j - 16].
// The vector paths form the same values lane-wise, where they are whole registers.
template <typename T>
[[gnu::always_inline]] inline void matrixing(const T* x, T* even, T* odd) {
    for (int j = 0; j < 16; ++j) even[j] = x[16 + j];
    even[16] = T{};
    for (int j = 17; j < 32; ++j) even[j] = -x[48 - j];
    for (int j = 0; j < 16; ++j) odd[j] = -x[16 - j];
    for (int j = 0; j < 16; ++j) odd[16 + j] = -x[j];
}

// Transforms up to `count` blocks and writes block l's history at (pos - 32 l) & kRingMask of
// even and odd; returns the blocks done.
using TransformFn = int (*)(const float (*blocks)[32], int count, float* even, float* odd, int pos,
                            const Tables& t);

int transformPortable(const float (*blocks)[32], int, float* even, float* odd, int pos, const Tables& t) {
    float x[32];
    dct<32>(blocks[0], x, t);
    matrixing(x, even + pos, odd + pos);
    if (float* r = repeatOf(even, pos)) std::memcpy(r, even + pos, 32 * sizeof(float));
    if (float* r = repeatOf(odd, pos)) std::memcpy(r, odd + pos, 32 * sizeof(float));
    return 1;
}

#if defined(__SSE2__)
// Up to four blocks side by side, one per lane: transposed into lanes, transformed, and the
// history rows transposed back.
int transformSse2(const float (*blocks)[32], int count, float* even, float* odd, int pos, const Tables& t) {
    const int done = count < 4 ? count : 4;
    __m128 v[32], X[32], E[32], O[32];
    // Lanes without a block transform zeros.
    auto row = [&](int l, int q) { return l < done ? _mm_loadu_ps(blocks[l] + 4 * q) : _mm_setzero_ps(); };
    for (int q = 0; q < 8; ++q) {
        __m128 r0 = row(0, q), r1 = row(1, q), r2 = row(2, q), r3 = row(3, q);
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        v[4 * q] = r0;
        v[4 * q + 1] = r1;
        v[4 * q + 2] = r2;
        v[4 * q + 3] = r3;
    }
    dct<32>(v, X, t);
    matrixing(X, E, O);
    float* rows[4][2];
    float* repeats[4][2];
    for (int l = 0; l < 4; ++l) {
        const int at = (pos - 32 * l) & kRingMask;
        rows[l][0] = even + at;
        rows[l][1] = odd + at;
        repeats[l][0] = repeatOf(even, at);
        repeats[l][1] = repeatOf(odd, at);
    }
    for (int h = 0; h < 2; ++h) {
        const __m128* src = h ? O : E;
        for (int q = 0; q < 8; ++q) {
            __m128 r[4] = {src[4 * q], src[4 * q + 1], src[4 * q + 2], src[4 * q + 3]};
            _MM_TRANSPOSE4_PS(r[0], r[1], r[2], r[3]);
            for (int l = 0; l < done; ++l) {
                _mm_store_ps(rows[l][h] + 4 * q, r[l]);
                if (repeats[l][h]) _mm_store_ps(repeats[l][h] + 4 * q, r[l]);
            }
        }
    }
    return done;
}

#if defined(__x86_64__) || defined(__i386__)
// r[i] becomes column i of the 8 x 8 matrix whose rows were r[0..7].
__attribute__((target("avx2"), always_inline)) inline void transpose8(__m256* r) {
    __m256 t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(1, 0, 1, 0));
        u[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(3, 2, 3, 2));
        u[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(1, 0, 1, 0));
        u[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(3, 2, 3, 2));
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm256_permute2f128_ps(u[i], u[i + 4], 0x20);
        r[i + 4] = _mm256_permute2f128_ps(u[i], u[i + 4], 0x31);
    }
}

// Eight blocks side by side; fewer go four at a time.
__attribute__((target("avx2"))) int transformAvx2(const float (*blocks)[32], int count, float* even, float* odd,
                                                  int pos, const Tables& t) {
    if (count < 8) return transformSse2(blocks, count, even, odd, pos, t);
    __m256 v[32], X[32], H[2][32];
    for (int q = 0; q < 4; ++q) {
        __m256* r = v + 8 * q;
        for (int l = 0; l < 8; ++l) r[l] = _mm256_loadu_ps(blocks[l] + 8 * q);
        transpose8(r);
    }
    dct<32>(v, X, t);
    matrixing(X, H[0], H[1]);
    for (int h = 0; h < 2; ++h) {
        float* ring = h ? odd : even;
        for (int q = 0; q < 4; ++q) {
            __m256* r = H[h] + 8 * q;
            transpose8(r);
            for (int l = 0; l < 8; ++l) {
                const int at = (pos - 32 * l) & kRingMask;
                _mm256_store_ps(ring + at + 8 * q, r[l]);
                if (float* repeat = repeatOf(ring, at)) _mm256_store_ps(repeat + 8 * q, r[l]);
            }
        }
    }
    return 8;
}
#endif
#endif

// Interleaves two channels' 32 samples into out.
void interleave(const int16_t* left, const int16_t* right, int16_t* out, VectorPath path) {
#if defined(__SSE2__)
    if (path != VectorPath::Portable) {
        for (int q = 0; q < 4; ++q) {
            const __m128i l = _mm_load_si128(reinterpret_cast<const __m128i*>(left + 8 * q));
            const __m128i r = _mm_load_si128(reinterpret_cast<const __m128i*>(right + 8 * q));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * q), _mm_unpacklo_epi16(l, r));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * q + 8), _mm_unpackhi_epi16(l, r));
        }
        return;
    }
#else
    (void)path;
#endif
    for (int j = 0; j < 32; ++j) {
        out[2 * j] = left[j];
        out[2 * j + 1] = right[j];
    }
}

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
    const float(*blocks[2])[32] = {nullptr, nullptr};
    blocks[0] = reinterpret_cast<const float(*)[32]>(subbands);
    // One channel at a time: run it as the first of a single-channel call on its own state.
    alignas(32) int16_t pcm[32];
    ch &= 1;
    run(ch, blocks, 1, 1, pcm);
    for (int j = 0; j < 32; ++j) out[j * stride] = pcm[j];
}

void Synthesis::synthesizeBlocks(const float (*const blocks[2])[32], int channels, int count, int16_t* out) {
    run(0, blocks, channels < 2 ? 1 : 2, count, out);
}

void Synthesis::run(int firstCh, const float (*const blocks[2])[32], int channels, int count, int16_t* out) {
    const Tables& t = tables();
    TransformFn transform = transformPortable;
    WindowFn window = windowPortable;
    const VectorPath path = vectorPath();
#if defined(__SSE2__)
    switch (path) {
        case VectorPath::Portable:
            break;
#if defined(__x86_64__) || defined(__i386__)
        case VectorPath::Avx2:
            transform = transformAvx2;
            window = windowAvx2;
            break;
#endif
        default:
            transform = transformSse2;
            window = windowSse2;
            break;
    }
#endif
    alignas(32) int16_t pcm[2][32];
    for (int b = 0; b < count;) {
        int done = 0;
        for (int c = 0; c < channels; ++c) {
            const int ch = firstCh + c;
            done = transform(blocks[c] + b, count - b, history_[ch][0], history_[ch][1], position_[ch], t);
        }
        for (int k = 0; k < done; ++k, ++b) {
            int16_t* o = out + static_cast<std::ptrdiff_t>(b) * 32 * channels;
            for (int c = 0; c < channels; ++c) {
                const int ch = firstCh + c;
                const int pos = position_[ch];
                window(history_[ch][0], history_[ch][1], pos, t.window, channels == 1 ? o : pcm[c]);
                position_[ch] = (pos - 32) & kRingMask;
            }
            if (channels == 2) interleave(pcm[0], pcm[1], o, path);
        }
    }
}

}  // namespace vesperon::mpeg
