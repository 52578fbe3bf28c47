#pragma once
// Test audio made at test time: a tone synthesised by sox and encoded by lame or twolame. Each
// (tone, encoder) pair is made once per test binary run, in a temporary directory of its own,
// so the tests of one binary that want the same file share it.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/process.h"

namespace vesperon::test {

struct ToneRecipe {
    ToneRecipe() = default;
    ToneRecipe(double seconds, int rate, int channels, std::vector<std::string> synth = {"sine", "440"})
        : seconds(seconds), rate(rate), channels(channels), synth(std::move(synth)) {}

    double seconds = 3;
    int rate = 44100;
    int channels = 2;
    // What sox makes after the length: generators and then effects, e.g. {"sine", "440"} or
    // {"sine", "440", "pinknoise", "vol", "0.5"}.
    std::vector<std::string> synth{"sine", "440"};
    // When not empty, the tone is these synth lines (each like `synth`) mixed, and `synth` is
    // not used: music-like material that switches an encoder's block types and tables.
    std::vector<std::vector<std::string>> mixed;
};

// The encoder as its command line without the input and output files.
using Encoder = std::vector<std::string>;
inline const Encoder kLame128{"lame", "--quiet", "-b", "128"};

// The tone as a 16-bit WAV file; "" when sox failed. sox runs without dither and with a fixed
// random seed, so a noisy tone is the same on every run.
std::string toneWav(const ToneRecipe& tone);

// The tone encoded; "" when a tool failed. With `copyTo` the file is also copied there (for a
// test that needs it under a name of its own, or may change it) and that path is returned.
std::string encodedTone(const ToneRecipe& tone, const Encoder& encoder = kLame128,
                        const std::string& copyTo = "");

// A test suite whose files are made once, in a folder of its own, before its first test. Suite
// (deriving from EncodedFilesSuite<Suite>) has `static std::string make(TempDir&)`, which returns
// "" once its files are there, or why they cannot be (a missing encoder): its tests are skipped.
template <class Suite>
class EncodedFilesSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        skip_ = Suite::make(*dir_);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

private:
    static inline TempDir* dir_ = nullptr;
    static inline std::string skip_;
};

}  // namespace vesperon::test
