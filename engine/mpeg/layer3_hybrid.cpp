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

inline void longImdct(const float* in, const float (*m)[20], const float* window, float* z) {
    // Four rows at a time; the compiler does not vectorise the plain loop at -O2.
    typedef float Quad __attribute__((vector_size(16)));
    Quad acc[5] = {};
    for (int k = 0; k < 18; ++k) {
        const float v = in[k];
        const Quad vv = {v, v, v, v};
        for (int j = 0; j < 5; ++j) {
            Quad row;
            __builtin_memcpy(&row, &m[k][4 * j], sizeof row);
            acc[j] += row * vv;
        }
    }
    alignas(16) float y[20];
    __builtin_memcpy(y, acc, sizeof y);
    for (int i = 0; i < 9; ++i) {
        z[i] = y[i] * window[i];
        z[17 - i] = -y[i] * window[17 - i];
        z[18 + i] = y[9 + i] * window[18 + i];
        z[35 - i] = y[9 + i] * window[35 - i];
    }
}

inline void shortImdct(const float* in, float* z) {
    const Tables& t = tables();
    for (int i = 0; i < 36; ++i) z[i] = 0.0f;
    for (int w = 0; w < 3; ++w) {
        const float* X = in + 6 * w;
        for (int i = 0; i < 12; ++i) {
            float acc = 0.0f;
            for (int k = 0; k < 6; ++k) acc += t.shortImdct[i][k] * X[k];
            z[6 + 6 * w + i] += acc;
        }
    }
}

}  // namespace

void hybridFilter(const float* x, float* overlap, int subbands, int blockType, int longSubbands, float (*out)[32]) {
    const Tables& t = tables();
    alignas(32) float z[36];
    for (int sb = 0; sb < subbands; ++sb) {
        bool lowMixed = sb < longSubbands;
        if (blockType != 2 || lowMixed) {
            longImdct(x + 18 * sb, t.longImdct, t.longWindow[lowMixed ? 0 : blockType], z);
        } else {
            shortImdct(x + 18 * sb, z);
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

}  // namespace vesperon::mpeg::l3
