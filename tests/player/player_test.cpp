// The player through its entry points and the command layer, with the WAV and null outputs:
// the PCM it plays equals the decoder tool's, the notifications, play counts and state table.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/player/commands.h"
#include "engine/player/entry_points.h"
#include "engine/player/playback.h"
#include "tests/player/engine_fixtures.h"
#include "tests/support/process.h"

using namespace vesperon::engine;
using namespace vesperon::test;
using namespace std::chrono_literals;

namespace {

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("VESPERON_AUDIO_OUTPUT", ("wav:" + wav_).c_str(), 1); }
    void TearDown() override { unsetenv("VESPERON_AUDIO_OUTPUT"); }

    std::string mp3(const std::string& name, const Mp3Recipe& recipe = {}) {
        std::string path = makeMp3(dir_, name, recipe);
        EXPECT_FALSE(path.empty()) << "sox/lame failed";
        return path;
    }

    // Plays the list to the end (count 1) and returns the window's notifications.
    std::vector<int> playToEnd(const std::string& file, int start = 0, const char* password = nullptr) {
        WindowHandle w = NotifyRecorder::instance().open();
        PlayerHandle p = CreatePlayer(playList({file}).c_str(), 1);
        NewPlay(p, w, password, start);
        EXPECT_EQ(GetPlayState(p), 1);
        EXPECT_TRUE(NotifyRecorder::instance().waitForEnds(w, 1, 30s));
        RemovePlayer(p);
        return NotifyRecorder::instance().values(w);
    }

    TempDir dir_;
    std::string wav_ = dir_.file("out.wav");
};

// Checks the notification rules for one file: progress from 0, below 100 and changing, then
// one 100; nothing else reaches the window.
void expectProgressSequence(const std::vector<int>& v) {
    ASSERT_GE(v.size(), 2u);
    EXPECT_EQ(v.front(), 0);
    EXPECT_EQ(v.back(), kNoticeTrackEnd);
    for (std::size_t i = 0; i + 1 < v.size(); ++i) {
        EXPECT_GE(v[i], 0) << "at " << i;
        EXPECT_LE(v[i], 99) << "at " << i;
        if (i > 0) {
            EXPECT_NE(v[i], v[i - 1]) << "repeated value at " << i;
        }
    }
}

}  // namespace

TEST_F(PlayerTest, PlayedPcmEqualsTheDecoderToolAcrossFormats) {
    struct Case {
        const char* name;
        Mp3Recipe recipe;
    } cases[] = {
        {"mpeg1_layer3_stereo", {3, 44100, 2, 128, false}},
        {"mpeg1_layer3_mono", {2, 48000, 1, 64, false}},
        {"mpeg2_layer3", {2, 22050, 2, 64, false}},
        {"mpeg25_layer3", {6, 8000, 1, 16, false}},
        {"mpeg1_layer2", {2, 44100, 2, 192, true}},
        {"mpeg2_layer2", {2, 24000, 2, 96, true}},  // 1152 samples per channel per frame
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = mp3(c.name, c.recipe);
        std::string reference = referencePcm(dir_, file);
        ASSERT_GT(reference.size(), 10000u);
        expectProgressSequence(playToEnd(file));
        std::string played = wavData(wav_);
        EXPECT_EQ(played.size(), reference.size());
        EXPECT_TRUE(played == reference);
    }
}

TEST_F(PlayerTest, StartPercentAndPasswordGiveTheDecoderToolsPcm) {
    std::string file = mp3("tone", {4});
    for (int start : {37, 99, 100}) {
        SCOPED_TRACE(start);
        std::string reference = referencePcm(dir_, file, start);
        std::vector<int> v = playToEnd(file, start);
        EXPECT_EQ(v.back(), 100);
        EXPECT_TRUE(wavData(wav_) == reference) << wavData(wav_).size() << " vs " << reference.size();
        if (start == 37) {
            EXPECT_GE(v.front(), 30) << "progress starts at the seek target";
        }
    }

    std::string secret = dir_.file("secret.mp3");
    ASSERT_EQ(runCommand({toolPath("vesperon-cipher"), "--password", "open sesame", file, secret}).exitCode,
              0);
    std::string reference = referencePcm(dir_, file);
    expectProgressSequence(playToEnd(secret, 0, "open sesame"));
    EXPECT_TRUE(wavData(wav_) == reference);
    std::string referenceStart = referencePcm(dir_, secret, 50, "open sesame");
    playToEnd(secret, 50, "open sesame");
    EXPECT_TRUE(wavData(wav_) == referenceStart);
}

TEST_F(PlayerTest, PausesAndResumesLoseAndRepeatNothing) {
    std::string file = mp3("tone", {12});
    std::string reference = referencePcm(dir_, file);
    WindowHandle w = NotifyRecorder::instance().open();
    PlayerHandle p = CreatePlayer(playList({file}).c_str(), 1);
    NewPlay(p, w, nullptr, 0);
    int pauses = 0;
    for (int i = 0; i < 16 && GetPlayState(p) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * i % 23));
        SetPauseState(p, 1);
        if (GetPlayState(p) != -1) break;  // the play has ended
        ++pauses;
        std::this_thread::sleep_for(10ms);
        if (i % 3 == 2) {
            NewPlay(p, w, nullptr, 60);  // resumes where it was; the start position has no effect now
        } else {
            SetPauseState(p, 0);
        }
    }
    EXPECT_GE(pauses, 5);
    ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(w, 1, 30s));
    RemovePlayer(p);
    EXPECT_TRUE(wavData(wav_) == reference) << wavData(wav_).size() << " vs " << reference.size();
}

TEST_F(PlayerTest, EndComesOnceAfterTheDeviceReturnedEveryBuffer) {
    std::string file = mp3("tone", {2});
    std::size_t expected = referencePcm(dir_, file).size();
    // At the moment 100 is posted the output has been closed with all the PCM in it.
    std::size_t atEnd = 0;
    WindowHandle w = NotifyRecorder::instance().open([&](std::intptr_t v) {
        if (v == 100) atEnd = wavData(wav_).size();
    });
    PlayerHandle p = CreatePlayer(playList({file}).c_str(), 1);
    NewPlay(p, w, nullptr, 0);
    ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(w, 1, 30s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(GetPlayState(p), 0);
    RemovePlayer(p);
    EXPECT_EQ(atEnd, expected);
    expectProgressSequence(NotifyRecorder::instance().values(w));

    // The null output plays in real time: the end cannot come before the audio has played.
    setenv("VESPERON_AUDIO_OUTPUT", "null", 1);
    std::string second = mp3("second", {1});
    auto t0 = std::chrono::steady_clock::now();
    std::vector<int> v = playToEnd(second);
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(elapsed, 0.9);
    expectProgressSequence(v);
}

TEST_F(PlayerTest, PlayCountOneTwoAndForever) {
    std::string a = mp3("a", {0.5, 44100, 2});
    std::string b = mp3("b", {0.7, 44100, 1});
    std::string refA = referencePcm(dir_, a), refB = referencePcm(dir_, b);
    ASSERT_NE(refA.size(), refB.size());
    std::string pattern = dir_.file("count-%d.wav");
    setenv("VESPERON_AUDIO_OUTPUT", ("wav:" + pattern).c_str(), 1);
    auto nth = [&](int n) { return wavData(dir_.file("count-" + std::to_string(n) + ".wav")); };
    int opened = 0;
    auto countFiles = [&] {
        int n = 0;
        while (!readFile(dir_.file("count-" + std::to_string(opened + n + 1) + ".wav")).empty()) ++n;
        return n;
    };

    // Count 2 over [a, b]: a, b, a, b, then the player stops.
    WindowHandle w = NotifyRecorder::instance().open();
    PlayerHandle p = CreatePlayer(playList({a, b}).c_str(), 2);
    NewPlay(p, w, nullptr, 0);
    ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(w, 4, 30s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(GetPlayState(p), 0);
    RemovePlayer(p);
    std::vector<int> v = NotifyRecorder::instance().values(w);
    EXPECT_EQ(std::count(v.begin(), v.end(), 100), 4);
    EXPECT_EQ(countFiles(), 4);
    EXPECT_TRUE(nth(1) == refA);
    EXPECT_TRUE(nth(2) == refB);
    EXPECT_TRUE(nth(3) == refA);
    EXPECT_TRUE(nth(4) == refB);
    opened = 4;

    // Count 1 over one file plays it once.
    w = NotifyRecorder::instance().open();
    p = CreatePlayer(playList({b}).c_str(), 1);
    NewPlay(p, w, nullptr, 0);
    ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(w, 1, 30s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(GetPlayState(p), 0);
    RemovePlayer(p);
    EXPECT_EQ(countFiles(), 1);
    opened += 1;

    // Count 0 (and negative) alternates until the player is removed.
    for (int count : {0, -3}) {
        w = NotifyRecorder::instance().open();
        p = CreatePlayer(playList({a, b}).c_str(), count);
        NewPlay(p, w, nullptr, 0);
        ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(w, 5, 30s));
        EXPECT_NE(GetPlayState(p), -1);
        RemovePlayer(p);
        int n = countFiles();
        EXPECT_GE(n, 5);
        for (int i = 1; i <= 4; ++i) EXPECT_TRUE(nth(opened + i) == (i % 2 ? refA : refB)) << i;
        opened += n;
    }
}

TEST_F(PlayerTest, FailuresToStartLeaveTheStateStoppedAndPostNothing) {
    WindowHandle w = NotifyRecorder::instance().open();
    PlayerHandle missing = CreatePlayer(playList({dir_.file("missing.mp3")}).c_str(), 1);
    NewPlay(missing, w, nullptr, 0);
    EXPECT_EQ(GetPlayState(missing), 0);
    PlayerHandle empty = CreatePlayer(std::string(2, '\0').c_str(), 1);
    NewPlay(empty, w, nullptr, 0);
    Play(empty);
    EXPECT_EQ(GetPlayState(empty), 0);
    SetPauseState(empty, 1);
    EXPECT_EQ(GetPlayState(empty), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(NotifyRecorder::instance().values(w).empty());
    RemovePlayer(missing);
    RemovePlayer(empty);

    // Handle 0 is accepted everywhere and does nothing.
    EXPECT_EQ(GetPlayState(0), 0);
    NewPlay(0, w, nullptr, 0);
    Play(0);
    SetPauseState(0, 1);
    RemovePlayer(0);
    EXPECT_EQ(CreatePlayer(nullptr, 1), 0);

    // Password lengths: 511 is taken, 512 refused and stops a playing player.
    setenv("VESPERON_AUDIO_OUTPUT", "null", 1);
    std::string file = mp3("tone", {3});
    PlayerHandle p = CreatePlayer(playList({file}).c_str(), 1);
    NewPlay(p, 0, nullptr, 0);
    EXPECT_EQ(GetPlayState(p), 1);
    SetPauseState(p, 0);
    EXPECT_EQ(GetPlayState(p), 1) << "resuming a playing player changes nothing";
    NewPlay(p, 0, std::string(512, 'x').c_str(), 0);
    EXPECT_EQ(GetPlayState(p), 0);
    SetPauseState(p, 1);
    EXPECT_EQ(GetPlayState(p), 0) << "pausing a stopped player changes nothing";
    NewPlay(p, 0, std::string(511, 'x').c_str(), 0);
    EXPECT_EQ(GetPlayState(p), 1);
    RemovePlayer(p);
}

TEST_F(PlayerTest, UndecodableFilesEndLikeFinishedOnes) {
    // Garbage, a wrong password and a stream too short to confirm: each is reported as a
    // failure, which the player treats as the end of the file.
    std::string garbage = dir_.file("garbage.mp3");
    std::string bytes(20000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919u) >> 3);
    writeFile(garbage, bytes);
    std::string tiny = dir_.file("tiny.mp3");
    writeFile(tiny, readFile(mp3("tone", {3})).substr(0, 2000));
    std::string good = mp3("good", {1});
    for (const std::string& f : {garbage, tiny, good}) {
        WindowHandle w = NotifyRecorder::instance().open();
        PlayerHandle p = CreatePlayer(playList({f}).c_str(), 1);
        NewPlay(p, w, f == good ? "wrong" : nullptr, 0);
        EXPECT_EQ(GetPlayState(p), 1);
        EXPECT_TRUE(NotifyRecorder::instance().waitForEnds(w, 1, 10s)) << f;
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(GetPlayState(p), 0);
        RemovePlayer(p);
    }
    // Through the facade the end tells why.
    std::promise<Notice> end;
    Playback p({garbage});
    ASSERT_EQ(p.play({[&](const Notice& n) {
        if (n.kind == Notice::Kind::TrackEnded) end.set_value(n);
        return true;
    }}),
              Status::Ok);
    auto ended = end.get_future();
    ASSERT_EQ(ended.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(ended.get().why, Status::NoStreamFound);
}

TEST(EngineLookup, FindsTheSixEntryPointsByExactName) {
    EXPECT_EQ(InitialiseEngine(), 1);
    EXPECT_EQ(LookupEngineFunction("CreatePlayer"), reinterpret_cast<EngineFunction>(&CreatePlayer));
    EXPECT_EQ(LookupEngineFunction("NewPlay"), reinterpret_cast<EngineFunction>(&NewPlay));
    EXPECT_EQ(LookupEngineFunction("Play"), reinterpret_cast<EngineFunction>(&Play));
    EXPECT_EQ(LookupEngineFunction("GetPlayState"), reinterpret_cast<EngineFunction>(&GetPlayState));
    EXPECT_EQ(LookupEngineFunction("SetPauseState"), reinterpret_cast<EngineFunction>(&SetPauseState));
    EXPECT_EQ(LookupEngineFunction("RemovePlayer"), reinterpret_cast<EngineFunction>(&RemovePlayer));
    EXPECT_EQ(LookupEngineFunction("createplayer"), nullptr);
    EXPECT_EQ(LookupEngineFunction("Play "), nullptr);
    EXPECT_EQ(LookupEngineFunction(""), nullptr);
    EXPECT_EQ(LookupEngineFunction(nullptr), nullptr);
}

TEST_F(PlayerTest, CommandsDriveOneApplicationWidePlayer) {
    setenv("VESPERON_AUDIO_OUTPUT", "null", 1);
    std::string file = mp3("tone", {3});
    EXPECT_EQ(QueryPlayState(), 0);
    PausePlayback();
    ResumePlayback();
    EXPECT_EQ(QueryPlayState(), 0);
    WindowHandle w = NotifyRecorder::instance().open();
    PlayMp3File(file, 0, w);
    EXPECT_EQ(QueryPlayState(), 1);
    PausePlayback();
    EXPECT_EQ(QueryPlayState(), -1);
    ResumePlayback();
    EXPECT_EQ(QueryPlayState(), 1);
    // A new play replaces the player; an empty name only removes it.
    WindowHandle w2 = NotifyRecorder::instance().open();
    PlayMp3File(file, 95, w2);
    EXPECT_EQ(QueryPlayState(), 1);
    ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(w2, 1, 10s));
    std::vector<int> first = NotifyRecorder::instance().values(w);
    EXPECT_EQ(std::count(first.begin(), first.end(), 100), 0) << "the replaced player posts no end";
    ASSERT_GE(NotifyRecorder::instance().values(w2).size(), 2u);
    EXPECT_GE(NotifyRecorder::instance().values(w2)[1], 90) << "progress counts from the start position";
    PlayMp3File(file, 0, w);
    EXPECT_EQ(QueryPlayState(), 1);
    PlayMp3File("", 0, w);
    EXPECT_EQ(QueryPlayState(), 0);
    PlayMp3File(file, 0, w);
    StopPlaying();
    EXPECT_EQ(QueryPlayState(), 0);
    PlayMp3File(file, 0, w);
    RemoveCurrentPlayer();
    EXPECT_EQ(QueryPlayState(), 0);
}

TEST_F(PlayerTest, TheFacadeSaysWhyNothingPlaysAndTellsTypedNotices) {
    setenv("VESPERON_AUDIO_OUTPUT", "null", 1);
    const std::string file = mp3("tone", {2});
    struct Case {
        std::vector<std::string> files;
        std::optional<std::string> password;
        Status expected;
    } cases[] = {
        {{dir_.file("missing.mp3")}, std::nullopt, Status::FileNotFound},
        {{dir_.path()}, std::nullopt, Status::AccessDenied},
        {{"/dev/zero"}, std::nullopt, Status::NotAFile},
        {{}, std::nullopt, Status::NothingToPlay},
        {{file}, std::string(512, 'x'), Status::PasswordTooLong},
    };
    for (const Case& c : cases) {
        Playback p(c.files);
        EXPECT_EQ(p.play({{}, 0, c.password}), c.expected) << c.expected;
        EXPECT_EQ(p.state(), PlayState::Stopped);
    }

    std::mutex mutex;
    std::vector<Notice> notices;
    NoticeSink sink = [&](const Notice& n) {
        std::lock_guard lock(mutex);
        notices.push_back(n);
        return true;
    };
    auto ended = [&] {
        std::lock_guard lock(mutex);
        return !notices.empty() && notices.back().kind == Notice::Kind::TrackEnded;
    };
    Playback p({file});
    ASSERT_EQ(p.play({sink}), Status::Ok);
    EXPECT_EQ(p.state(), PlayState::Playing);
    p.setPaused(true);
    EXPECT_EQ(p.state(), PlayState::Paused);
    p.setPaused(false);
    for (auto until = std::chrono::steady_clock::now() + 30s;
         !ended() && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(ended());
    EXPECT_EQ(p.state(), PlayState::Stopped);
    std::lock_guard lock(mutex);
    // The first sound heard, then progress from 0 as it is heard.
    ASSERT_GE(notices.size(), 3u);
    EXPECT_EQ(notices[0].kind, Notice::Kind::FirstSoundHeard);
    EXPECT_EQ(notices[1].kind, Notice::Kind::Progress);
    EXPECT_EQ(notices[1].percent, 0);
    EXPECT_EQ(std::count_if(notices.begin(), notices.end(),
                            [](const Notice& n) { return n.kind == Notice::Kind::TrackEnded; }),
              1);
}

// The heard position runs with the clock of a real-time output, holds while paused, and a seek
// is a new play that starts from its position.
TEST_F(PlayerTest, HeardPositionFollowsTheSoundAndNamesEachPlay) {
    setenv("VESPERON_AUDIO_OUTPUT", "null", 1);
    const std::string file = mp3("tone", {6});
    EXPECT_EQ(CurrentHeardPosition().play, 0u);
    PlayMp3File(file, 0, 0);
    const std::uint64_t first = CurrentHeardPosition().play;
    EXPECT_NE(first, 0u);
    std::this_thread::sleep_for(1500ms);
    HeardPosition h = CurrentHeardPosition();
    std::printf("after 1.5 s of play: heard %.3f s\n", h.microseconds() / 1e6);
    EXPECT_TRUE(h.started && h.moving);
    EXPECT_EQ(h.sampleRate, 44100);
    EXPECT_NEAR(h.microseconds(), 1.5e6, 0.4e6);
    EXPECT_NEAR(double(h.totalSamples) / h.sampleRate, 6.0, 0.2);
    PausePlayback();
    std::this_thread::sleep_for(100ms);
    const std::int64_t paused = CurrentHeardPosition().microseconds();
    std::this_thread::sleep_for(500ms);
    h = CurrentHeardPosition();
    EXPECT_FALSE(h.moving);
    EXPECT_EQ(h.microseconds(), paused);
    PlayMp3File(file, 50, 0);
    h = CurrentHeardPosition();
    EXPECT_NE(h.play, first);
    EXPECT_FALSE(h.started);
    std::this_thread::sleep_for(500ms);
    h = CurrentHeardPosition();
    EXPECT_TRUE(h.started);
    EXPECT_NEAR(h.microseconds(), 3.0e6 + 0.5e6, 0.4e6) << "from the seek's start";
    StopPlaying();
    EXPECT_EQ(CurrentHeardPosition().play, 0u);
    unsetenv("VESPERON_AUDIO_OUTPUT");
}
