#include "engine/mpeg/synthesis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace vesperon::mpeg {
namespace {

// The standard's synthesis written out directly in double precision: matrixing into a
// 1024-value FIFO, building U, windowing with D and summing 16 values per output sample.
class DirectSynthesis {
public:
    std::vector<double> run(const float* s) {
        for (int i = 1023; i >= 64; --i) v_[i] = v_[i - 64];
        const double pi = 3.14159265358979323846;
        for (int i = 0; i < 64; ++i) {
            double acc = 0;
            for (int k = 0; k < 32; ++k) acc += std::cos((16 + i) * (2 * k + 1) * pi / 64) * s[k];
            v_[i] = acc;
        }
        double u[512];
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 32; ++j) {
                u[i * 64 + j] = v_[i * 128 + j];
                u[i * 64 + 32 + j] = v_[i * 128 + 96 + j];
            }
        std::vector<double> out(32, 0.0);
        for (int j = 0; j < 32; ++j)
            for (int i = 0; i < 16; ++i) out[j] += u[j + 32 * i] * synthesisWindow(j + 32 * i);
        return out;
    }

private:
    double v_[1024] = {};
};

int truncClip(double v) {
    if (v >= 32767) return 32767;
    if (v <= -32768) return -32768;
    return static_cast<int>(v);
}

TEST(Synthesis, WindowHasTheStandardsAnchorValuesAndSmoothPrototype) {
    EXPECT_NEAR(synthesisWindow(0), 0.0, 1e-9);
    EXPECT_NEAR(synthesisWindow(1), -0.000015259, 1e-9);
    EXPECT_NEAR(synthesisWindow(64), 0.003250122, 1e-9);
    EXPECT_NEAR(synthesisWindow(128), 0.031082153, 1e-9);
    EXPECT_NEAR(synthesisWindow(192), 0.100311279, 1e-9);
    EXPECT_NEAR(synthesisWindow(256), 1.144989014, 1e-9);
    EXPECT_NEAR(synthesisWindow(257), 1.144287109, 1e-9);
    EXPECT_NEAR(synthesisWindow(511), 0.000015259, 1e-9);
    // With the sign of every odd block of 64 flipped, the window is a smooth low-pass prototype;
    // a mistyped coefficient shows up as a spike in the second difference.
    auto h = [](int i) { return ((i / 64) % 2 ? -1 : 1) * synthesisWindow(i); };
    for (int i = 1; i < 511; ++i) {
        double d2 = h(i - 1) - 2 * h(i) + h(i + 1);
        EXPECT_LT(std::fabs(d2), 0.0015) << "at " << i;
    }
}

TEST(Synthesis, FastTransformMatchesTheDirectEvaluationWithinTruncation) {
    Synthesis fast;
    DirectSynthesis direct[2];
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-6000.0f, 6000.0f);
    int worst = 0;
    for (int block = 0; block < 300; ++block) {
        for (int ch = 0; ch < 2; ++ch) {
            float s[32];
            // Vary the spectrum so that every subband and the quiet top one are exercised.
            for (int k = 0; k < 32; ++k) s[k] = (k == 31 && block % 3) ? 0.0f : dist(rng) / (1 + (k % 7));
            int16_t out[64] = {};
            fast.synthesize(ch, s, out + ch, 2);
            std::vector<double> ref = direct[ch].run(s);
            for (int j = 0; j < 32; ++j) {
                int diff = std::abs(out[ch + 2 * j] - truncClip(ref[j]));
                worst = std::max(worst, diff);
            }
        }
    }
    // Float rounding may move a value across an integer boundary, never further.
    EXPECT_LE(worst, 1);
}

TEST(Synthesis, FullScaleSquareClipsWithoutWrapping) {
    Synthesis syn;
    // A strong constant in subband 0 with alternating sign gives a square-like wave far beyond
    // full scale; every output must sit on a rail or between them, with no wrapped values.
    int16_t out[32 * 64];
    for (int b = 0; b < 64; ++b) {
        float s[32] = {};
        s[0] = (b / 4) % 2 ? -200000.0f : 200000.0f;
        syn.synthesize(0, s, out + 32 * b, 1);
    }
    int high = 0, low = 0;
    for (int b = 8; b < 64; ++b) {
        for (int j = 0; j < 32; ++j) {
            if (out[32 * b + j] == 32767) ++high;
            if (out[32 * b + j] == -32768) ++low;
        }
    }
    EXPECT_GT(high, 500);
    EXPECT_GT(low, 500);
    // Across a positive half-period the output never jumps to the opposite rail.
    for (int i = 32 * 8 + 1; i < 32 * 64; ++i)
        EXPECT_FALSE(std::abs(out[i] - out[i - 1]) > 60000) << "wrap at " << i;
}

TEST(Synthesis, ResetClearsHistoryAndChannelsAreIndependent) {
    Synthesis syn;
    float s[32];
    for (int k = 0; k < 32; ++k) s[k] = 1000.0f * (k + 1);
    int16_t out[32];
    for (int b = 0; b < 20; ++b) syn.synthesize(0, s, out, 1);
    // Channel 1 has seen nothing: silence in, silence out.
    float zero[32] = {};
    syn.synthesize(1, zero, out, 1);
    for (int16_t v : out) EXPECT_EQ(v, 0);
    syn.reset();
    syn.synthesize(0, zero, out, 1);
    for (int16_t v : out) EXPECT_EQ(v, 0);
}

}  // namespace
}  // namespace vesperon::mpeg
