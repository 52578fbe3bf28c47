#include "engine/mpeg/layer3_tables.h"

#include <cmath>

namespace vesperon::mpeg::l3 {
namespace {

// Band widths of ISO/IEC 11172-3 Table 3-B.8 and ISO/IEC 13818-3 (with the MPEG 2.5 rates).
constexpr int16_t kLongWidths[9][22] = {
    {4, 4, 4, 4, 4, 4, 6, 6, 8, 8, 10, 12, 16, 20, 24, 28, 34, 42, 50, 54, 76, 158},
    {4, 4, 4, 4, 4, 4, 6, 6, 6, 8, 10, 12, 16, 18, 22, 28, 34, 40, 46, 54, 54, 192},
    {4, 4, 4, 4, 4, 4, 6, 6, 8, 10, 12, 16, 20, 24, 30, 38, 46, 56, 68, 84, 102, 26},
    {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 20, 24, 28, 32, 38, 46, 52, 60, 68, 58, 54},
    {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 18, 22, 26, 32, 38, 46, 54, 62, 70, 76, 36},
    {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 20, 24, 28, 32, 38, 46, 52, 60, 68, 58, 54},
    {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 20, 24, 28, 32, 38, 46, 52, 60, 68, 58, 54},
    {6, 6, 6, 6, 6, 6, 8, 10, 12, 14, 16, 20, 24, 28, 32, 38, 46, 52, 60, 68, 58, 54},
    {12, 12, 12, 12, 12, 12, 16, 20, 24, 28, 32, 40, 48, 56, 64, 76, 90, 2, 2, 2, 2, 2},
};
constexpr int16_t kShortWidths[9][13] = {
    {4, 4, 4, 4, 6, 8, 10, 12, 14, 18, 22, 30, 56},  {4, 4, 4, 4, 6, 6, 10, 12, 14, 16, 20, 26, 66},
    {4, 4, 4, 4, 6, 8, 12, 16, 20, 26, 34, 42, 12},  {4, 4, 4, 6, 6, 8, 10, 14, 18, 26, 32, 42, 18},
    {4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 32, 44, 12}, {4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 30, 40, 18},
    {4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 30, 40, 18}, {4, 4, 4, 6, 8, 10, 12, 14, 18, 24, 30, 40, 18},
    {8, 8, 8, 12, 16, 20, 24, 28, 36, 2, 2, 2, 26},
};

struct BandTables {
    BandTable t[9];
    BandTables() {
        for (int r = 0; r < 9; ++r) {
            t[r].longStart[0] = 0;
            for (int b = 0; b < 22; ++b) t[r].longStart[b + 1] = t[r].longStart[b] + kLongWidths[r][b];
            t[r].shortStart[0] = 0;
            for (int b = 0; b < 13; ++b) t[r].shortStart[b + 1] = t[r].shortStart[b] + kShortWidths[r][b];
            int i = 0, top = 0;
            for (int b = 0; b < 13; ++b)
                for (int w = 0; w < 3; ++w)
                    for (int f = t[r].shortStart[b]; f < t[r].shortStart[b + 1]; ++f, ++i) {
                        t[r].shortOrder[i] = static_cast<int16_t>((f / 6) * 18 + w * 6 + f % 6);
                        top = f / 6 + 1 > top ? f / 6 + 1 : top;
                        t[r].shortTop[i] = static_cast<uint8_t>(top);
                    }
        }
    }
};

}  // namespace

const uint8_t kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};
const uint8_t kSlen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
const uint8_t kSlen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};
const uint8_t kBandsPerGroup[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},       {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},     {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

const BandTable& bandTable(int rateSet) {
    static const BandTables b;
    return b.t[rateSet < 0 || rateSet > 8 ? 0 : rateSet];
}

namespace {

struct Builder : Tables {
    Builder() {
        for (int i = 0; i < kPowMax; ++i)
            pow43[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
        for (int i = 0; i < kGainBias + 128; ++i)
            gain[i] = static_cast<float>(std::pow(2.0, (i - kGainBias) / 4.0) * 32768.0);
        constexpr double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
        for (int i = 0; i < 8; ++i) {
            double sq = std::sqrt(1.0 + c[i] * c[i]);
            aliasCs[i] = static_cast<float>(1.0 / sq);
            aliasCa[i] = static_cast<float>(c[i] / sq);
        }
        for (int v = 0; v < 16; ++v)
            for (int signs = 0; signs < 16; ++signs) {
                int next = 3;  // the sign bit the next non-zero value takes
                for (int k = 0; k < 4; ++k) {
                    const int bit = (v >> (3 - k)) & 1;
                    const int negative = bit ? (signs >> next--) & 1 : 0;
                    count1[v][signs][k] = static_cast<float>(bit - 2 * negative);
                }
            }
        const double pi = 3.14159265358979323846;
        double win[4][36];
        for (int i = 0; i < 36; ++i) {
            double s = std::sin(pi / 36 * (i + 0.5));
            win[0][i] = s;
            // Start window: long rise, flat, short fall, zero.
            win[1][i] = i < 18 ? s : i < 24 ? 1.0 : i < 30 ? std::sin(pi / 12 * (i - 18 + 0.5)) : 0.0;
            // Stop window: the mirror image.
            win[3][i] = i < 6 ? 0.0 : i < 12 ? std::sin(pi / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : s;
            win[2][i] = 0.0;
        }
        for (int t = 0; t < 4; ++t)
            for (int i = 0; i < 36; ++i) longWindow[t][i] = static_cast<float>(win[t][i]);
        for (int p = 0; p < 7; ++p) {
            if (p == 6) {
                isLeft[p] = 1.0f;
                isRight[p] = 0.0f;
                continue;
            }
            double r = std::tan(p * pi / 12);
            isLeft[p] = static_cast<float>(r / (1 + r));
            isRight[p] = static_cast<float>(1 / (1 + r));
        }
        for (int s = 0; s < 2; ++s)
            for (int p = 0; p < 64; ++p) {
                // Factor io^n with io = 2^(-1/4) (scale 0) or 2^(-1/2) (scale 1); the caller
                // applies it to the left channel for odd positions, the right for even ones.
                int n = (p + 1) / 2;
                lsfIs[s][p] = static_cast<float>(std::pow(2.0, -n * (s ? 0.5 : 0.25)));
            }
    }
};

}  // namespace

const Tables& tables() {
    static const Builder b;
    return b;
}

}  // namespace vesperon::mpeg::l3
