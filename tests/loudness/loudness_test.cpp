// Loudness: the measurement of a decoded track against the same measurement of the sound it was
// encoded from, hostile bytes, the cache across a restart (changed files, a broken file, its
// bound), the measuring thread, the gains of both modes, and the gain's arithmetic on samples.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "engine/loudness/loudness_cache.h"
#include "engine/loudness/measure.h"
#include "engine/loudness/measurer.h"
#include "engine/loudness/track_gain.h"
#include "engine/pipeline/pcm_gain.h"
#include "tests/support/audio_compare.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"

using namespace vesperon;
using namespace vesperon::loudness;
using namespace vesperon::test;

namespace {

// Pink noise at two levels, below the encoder's low-pass (which would take some of its loudness).
const ToneRecipe kQuiet{4, 44100, 2, {"pinknoise", "lowpass", "8000", "vol", "0.05"}};
const ToneRecipe kLoud{4, 44100, 2, {"pinknoise", "lowpass", "8000", "vol", "0.9"}};

std::optional<Loudness> ofWav(const std::string& wav) {
    int rate = 0, channels = 0;
    const std::vector<int16_t> pcm = readWav16(wav, &rate, &channels);
    return measurePcm(pcm.data(), pcm.size() / std::size_t(std::max(channels, 1)), channels, rate);
}

bool waitIdle(Measurer& m) {
    for (int i = 0; i < 600 && !m.idle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return m.idle();
}

}  // namespace

// The decoded track measures as the peer decoder's output of it does, and within a little of the
// sound it was encoded from (the encoder takes some), quiet and loud; hostile bytes measure as
// nothing and never crash.
TEST(LoudnessMeasure, DecodedTrackMeasuresAsThePeerDecodesItAndHostileBytesAsNothing) {
    for (const ToneRecipe& tone : {kQuiet, kLoud}) {
        const std::string mp3 = encodedTone(tone);
        ASSERT_FALSE(mp3.empty());
        const auto source = ofWav(toneWav(tone));
        const auto decoded = measureFile(mp3);
        const std::vector<int16_t> peer = peerDecoded(mp3);
        if (peer.empty()) GTEST_SKIP() << "mpg123 is not installed";
        const auto byPeer = measurePcm(peer.data(), peer.size() / 2, 2, 44100);
        ASSERT_TRUE(source && decoded && byPeer);
        std::printf(
            "source %.2f LUFS %.2f dBTP, peer %.2f LUFS %.2f dBTP, ours %.2f LUFS %.2f dBTP, %.2f s\n",
            source->lufs, source->peakDb, byPeer->lufs, byPeer->peakDb, decoded->lufs, decoded->peakDb,
            decoded->seconds);
        EXPECT_NEAR(decoded->lufs, byPeer->lufs, 0.05);
        EXPECT_NEAR(decoded->peakDb, byPeer->peakDb, 0.1);
        EXPECT_NEAR(decoded->lufs, source->lufs, 1.0);
        EXPECT_NEAR(decoded->seconds, 4.0, 0.1);
    }
    std::vector<uint8_t> junk(20000);
    uint32_t x = 12345;
    for (uint8_t& b : junk) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    for (std::size_t size : {std::size_t(0), std::size_t(3), junk.size()}) {
        mpeg::MemoryByteSource source(junk.data(), size, int64_t(size), 97);
        EXPECT_FALSE(measureStream(source)) << size;
    }
    EXPECT_FALSE(measureFile("/nonexistent/file.mp3"));
}

// What was measured is found again after a restart, not for a changed file; a broken cache is
// set aside (once, with one line) and the cache starts empty; the bound drops the least used.
TEST(LoudnessCacheFile, SurvivesRestartForgetsChangedFilesSetsBrokenAsideAndStaysBounded) {
    TempDir dir;
    const std::string track = dir.file("a.mp3"), cachePath = dir.file("cache/vesperon/loudness.json");
    { std::ofstream(track) << "some bytes"; }
    const auto stamp = stampOf(track);
    ASSERT_TRUE(stamp);
    const Loudness measured{-23.5, -3.25, 180.125};
    {
        LoudnessCache cache(cachePath);
        EXPECT_FALSE(cache.load());  // none yet
        cache.put(track, *stamp, measured);
        cache.put("/weird \"name\"\n\\.mp3", *stamp, measured);
        ASSERT_TRUE(cache.save());
    }
    LoudnessCache again(cachePath);
    ASSERT_TRUE(again.load());
    const auto found = again.find(track, *stamp);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->lufs, measured.lufs);
    EXPECT_EQ(found->peakDb, measured.peakDb);
    EXPECT_EQ(found->seconds, measured.seconds);
    EXPECT_TRUE(again.find("/weird \"name\"\n\\.mp3", *stamp));
    EXPECT_FALSE(again.find(track, FileStamp{stamp->size, stamp->mtimeNs + 1}));
    EXPECT_FALSE(again.find(track, FileStamp{stamp->size + 1, stamp->mtimeNs}));

    for (const char* broken :
         {"{\"tracks\":[{\"path\":\"x\",\"size\":1", "[]", "{\"tracks\":[1]}", "\xff\xfe"}) {
        { std::ofstream(cachePath, std::ios::trunc) << broken; }
        LoudnessCache cache(cachePath);
        EXPECT_FALSE(cache.load()) << broken;
        EXPECT_EQ(cache.size(), 0u);
        struct stat st {};
        EXPECT_NE(::stat(cachePath.c_str(), &st), 0) << "not set aside: " << broken;
        EXPECT_EQ(::stat((cachePath + ".broken").c_str(), &st), 0);
    }

    LoudnessCache big(cachePath);
    for (std::size_t i = 0; i <= LoudnessCache::kMaxEntries; ++i)
        big.put("/t/" + std::to_string(i), *stamp, measured);
    ASSERT_TRUE(big.save());
    LoudnessCache bounded(cachePath);
    ASSERT_TRUE(bounded.load());
    EXPECT_EQ(bounded.size(), LoudnessCache::kMaxEntries);
    EXPECT_FALSE(bounded.find("/t/0", *stamp));
    EXPECT_TRUE(bounded.find("/t/" + std::to_string(LoudnessCache::kMaxEntries), *stamp));
}

// The thread measures what the cache lacks and saves it; after a restart nothing is measured
// again, a changed file is; a file that is no stream is kept as silence and measured once.
TEST(LoudnessMeasurer, MeasuresOnceAcrossRestartsAndAgainWhenTheFileChanges) {
    TempDir dir;
    const std::string track = encodedTone(kQuiet, kLame128, dir.file("quiet.mp3"));
    const std::string junk = dir.file("junk.mp3"), cachePath = dir.file("loudness.json");
    { std::ofstream(junk) << std::string(5000, '\xff'); }
    ASSERT_FALSE(track.empty());
    {
        LoudnessCache cache(cachePath);
        std::vector<std::string> told;
        std::mutex toldMutex;
        Measurer m(cache, [&](const std::string& p) {
            std::lock_guard lock(toldMutex);
            told.push_back(p);
        });
        m.request({track, junk, track, dir.file("missing.mp3")});
        ASSERT_TRUE(waitIdle(m));
        EXPECT_EQ(m.measuredCount(), 2);
        ASSERT_TRUE(m.lookup(track));
        EXPECT_LE(m.lookup(junk)->lufs, kSilence);
        std::lock_guard lock(toldMutex);
        EXPECT_EQ(told.size(), 2u);
    }
    LoudnessCache cache(cachePath);
    ASSERT_TRUE(cache.load());
    {
        Measurer m(cache);
        m.request({track, junk});
        ASSERT_TRUE(waitIdle(m));
        EXPECT_EQ(m.measuredCount(), 0);
        // The same bytes, a new modification time: measured again.
        struct utimbuf times {
            1000000000, 1000000000
        };
        ASSERT_EQ(::utime(track.c_str(), &times), 0);
        EXPECT_FALSE(m.lookup(track));
        m.request({track});
        ASSERT_TRUE(waitIdle(m));
        EXPECT_EQ(m.measuredCount(), 1);
        EXPECT_TRUE(m.lookup(track));
    }
}

// Track mode brings each to the target unless its peak would pass -1 dBTP; album mode gives a
// folder one gain from its tracks together, so their difference stays; off and unmeasured
// tracks play as they are, silence is not brought up.
TEST(LoudnessGains, TrackAndAlbumModesKeepThePeakUnderTheCeiling) {
    const std::map<std::string, Loudness> book{{"/a/quiet.mp3", {-30, -12, 100}},
                                               {"/a/loud.mp3", {-10, -0.5, 100}},
                                               {"/b/one.mp3", {-24, -20, 50}},
                                               {"/b/silent.mp3", {-70, -120, 10}},
                                               {"/c/peaky.mp3", {-28, -4, 60}}};
    const Lookup lookup = [&](const std::string& p) -> std::optional<Loudness> {
        auto it = book.find(p);
        return it == book.end() ? std::nullopt : std::optional<Loudness>(it->second);
    };
    const std::vector<std::string> list{"/a/quiet.mp3",  "/a/loud.mp3",  "/b/one.mp3",
                                        "/b/silent.mp3", "/c/peaky.mp3", "/c/unknown.mp3"};
    for (auto g : gainsFor(list, {Mode::Off, -18}, lookup)) EXPECT_FALSE(g);

    const auto track = gainsFor(list, {Mode::Track, -18}, lookup);
    EXPECT_DOUBLE_EQ(*track[0], 11.0);  // +12 wanted, the peak allows 11
    EXPECT_DOUBLE_EQ(*track[1], -8.0);
    EXPECT_DOUBLE_EQ(*track[2], 6.0);
    EXPECT_DOUBLE_EQ(*track[3], 0.0);
    EXPECT_DOUBLE_EQ(*track[4], 3.0);  // +10 wanted, the peak allows 3
    EXPECT_FALSE(track[5]);
    EXPECT_DOUBLE_EQ(*gainsFor({"/b/one.mp3"}, {Mode::Track, -23}, lookup)[0], 1.0);

    const auto album = gainsFor(list, {Mode::Album, -18}, lookup);
    // /a together: 10*log10((10^-3 + 10^-1) / 2) = -13.0 LUFS, peak -0.5: gain -5, for both.
    EXPECT_NEAR(*album[0], -18 - 10 * std::log10((1e-3 + 1e-1) / 2), 1e-9);
    EXPECT_DOUBLE_EQ(*album[0], *album[1]);
    EXPECT_DOUBLE_EQ(*album[2], 6.0);  // silence neither counts in the album nor is brought up
    EXPECT_DOUBLE_EQ(*album[3], 6.0);
    EXPECT_FALSE(album[5]);
    EXPECT_EQ(modeNamed(modeName(Mode::Album)), Mode::Album);
    EXPECT_FALSE(modeNamed("loud"));
}

// Unity leaves samples bit for bit; -6.02 dB and a level of 50 % halve them, rounding to
// nearest; a boost saturates at the 16-bit limits instead of wrapping.
TEST(PcmGainArithmetic, UnityIsExactHalvingRoundsAndBoostSaturates) {
    std::vector<int16_t> s{0, 1, -1, 3, -3, 32767, -32768, 12345};
    const auto original = s;
    engine::applyGain(s.data(), s.size(), engine::gainFactor(0, 100));
    EXPECT_EQ(s, original);
    EXPECT_EQ(engine::gainFactor(0, 50), engine::gainFactor(20 * std::log10(0.5), 100));
    engine::applyGain(s.data(), s.size(), engine::gainFactor(0, 50));
    EXPECT_EQ(s, (std::vector<int16_t>{0, 0, 0, 2, -2, 16384, -16384, 6172}));
    engine::applyGain(s.data(), s.size(), engine::gainFactor(12, 100));
    EXPECT_EQ(s[5], 32767);
    EXPECT_EQ(s[6], -32768);
    EXPECT_EQ(engine::gainFactor(0, 0), 0.0f);
    EXPECT_TRUE(std::isfinite(engine::gainFactor(NAN, 100)));
}
