// The engine and vesperon-play against a real sound server (a private PulseAudio, recorded from
// its sink's monitor): two tracks cut from one tone join on one open device, first sound compared
// with paplay's, and the server killed and started again while playing and while idle.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "engine/player/entry_points.h"
#include "tests/player/engine_fixtures.h"
#include "tests/support/audio_compare.h"
#include "tests/support/e2e_sound.h"

using namespace vesperon::engine;
using namespace vesperon::test;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;
constexpr int kLoud = 800;  // a sample peak above this is sound

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

bool waitUntil(const std::function<bool()>& pred, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return pred();
}

// Stretches of sound in stereo s16 PCM, on 1-ms windows: a new stretch starts after `split` ms
// of quiet. For each: start and end (ms), and the longest quiet inside it (ms).
struct Stretch {
    long start = 0, end = 0, longestQuiet = 0;
};
std::vector<Stretch> soundStretches(const std::vector<int16_t>& pcm, long split = 300) {
    const long window = kRate / 1000, windows = long(pcm.size() / 2) / window;
    std::vector<Stretch> out;
    long quiet = 0;
    for (long w = 0; w < windows; ++w) {
        int peak = 0;
        for (long i = w * window * 2; i < (w + 1) * window * 2; ++i) peak = std::max(peak, std::abs(int(pcm[i])));
        if (peak <= kLoud) {
            ++quiet;
            continue;
        }
        if (out.empty() || quiet >= split) {
            out.push_back({w, w + 1, 0});
        } else {
            out.back().longestQuiet = std::max(out.back().longestQuiet, quiet);
            out.back().end = w + 1;
        }
        quiet = 0;
    }
    return out;
}

bool heardSound(const std::string& raw) {
    return !soundStretches(readPcm16(raw)).empty();
}

// CPU seconds used by a process so far.
double cpuSeconds(int pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    unsigned long utime = 0, stime = 0;
    // Fields after the command: state is the 3rd; utime and stime the 14th and 15th.
    if (std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                    &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

class SoundServerE2e : public SoundServerTest {
protected:
    // Times one engine call, in seconds.
    static double timed(const std::function<void()>& call) {
        const auto t = Clock::now();
        call();
        return since(t);
    }
};

}  // namespace

// Two tracks cut from one tone and encoded apart play back to back with no silence added by the
// output; and the first sound of a play comes about as soon as paplay's. Figures are printed.
TEST_F(SoundServerE2e, TracksOfOneToneJoinAndFirstSoundKeepsUpWithPaplay) {
    const std::string tone = dir_.file("tone.wav"), a = dir_.file("a.wav"), b = dir_.file("b.wav");
    ASSERT_EQ(runCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "6", "sine", "440",
                          "vol", "0.5"})
                  .exitCode,
              0);
    ASSERT_EQ(runCommand({"sox", tone, a, "trim", "0", "3"}).exitCode, 0);
    ASSERT_EQ(runCommand({"sox", tone, b, "trim", "3"}).exitCode, 0);
    for (const std::string& w : {a, b}) ASSERT_EQ(runCommand({"lame", "--quiet", w, w + ".mp3"}).exitCode, 0);
    // The silence the files themselves hold at the seam (encoder delay and padding as decoded).
    const auto pcmA = samples(referencePcm(dir_, a + ".mp3")), pcmB = samples(referencePcm(dir_, b + ".mp3"));
    const auto soundA = soundStretches(pcmA), soundB = soundStretches(pcmB);
    ASSERT_FALSE(soundA.empty() || soundB.empty());
    const long fileSeam = long(pcmA.size() / 2) / (kRate / 1000) - soundA.back().end + soundB.front().start;

    const std::string low = dir_.file("low.raw"), normal = dir_.file("default.raw");
    auto lowRecording = std::make_unique<MonitorRecording>(*server_, low, kRate, 2, 20);
    auto defaultRecording = std::make_unique<MonitorRecording>(*server_, normal, kRate, 2, 0);
    std::this_thread::sleep_for(500ms);
    const auto paplayAt = Clock::now();
    EXPECT_EQ(runCommand({"paplay", a}, 30).exitCode, 0);
    std::this_thread::sleep_for(1000ms);
    const double between = since(paplayAt);
    CommandResult r = runCommand({toolPath("vesperon-play"), a + ".mp3", b + ".mp3"}, 60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::this_thread::sleep_for(700ms);
    lowRecording.reset();
    defaultRecording.reset();

    for (const auto& [name, raw] : {std::pair{"20 ms", low}, std::pair{"default", normal}}) {
        const auto stretches = soundStretches(readPcm16(raw));
        std::string seen;
        for (const Stretch& s : stretches)
            seen += " " + std::to_string(s.start) + "-" + std::to_string(s.end) + " ms (longest quiet " +
                    std::to_string(s.longestQuiet) + " ms)";
        ASSERT_EQ(stretches.size(), 2u) << name << " recorder: expected paplay's sound, then the two tracks; heard"
                                        << seen;
        const Stretch& paplay = stretches[0];
        const Stretch& play = stretches[1];
        EXPECT_GT(play.end - play.start, 5500) << name << ": the two tracks did not both play";
        const long deviceSeam = play.longestQuiet - fileSeam;
        const double firstSound = (play.start - paplay.start) / 1000.0 - between;
        std::printf(
            "seam (%s recorder): %ld ms of silence heard, %ld ms of it in the decoded files, %ld ms added by "
            "the output; first sound %+.0f ms against paplay\n",
            name, play.longestQuiet, fileSeam, deviceSeam, firstSound * 1000);
        // Reopening the device cost 1.65 s at the server's default latency.
        EXPECT_LT(deviceSeam, 100) << name;
    }
}

// vesperon-play on a long file: the server is killed 3 s in and started again 4 s later. While
// it is gone the player idles; afterwards it plays on; Ctrl+C ends it at once.
TEST_F(SoundServerE2e, PlayToolWaitsOutAKilledServerAndStopsOnInterrupt) {
    const std::string file = makeMp3(dir_, "long", Mp3Recipe{60, 44100, 1, 64});
    ASSERT_FALSE(file.empty());
    const std::string first = dir_.file("first.raw"), second = dir_.file("second.raw");
    auto recording = std::make_unique<MonitorRecording>(*server_, first, kRate, 2);
    BackgroundProcess play({toolPath("vesperon-play"), file});
    ASSERT_TRUE(waitUntil([&] { return heardSound(first); }, 15)) << "no sound before the kill";
    std::this_thread::sleep_for(3s);

    server_->kill();
    recording.reset();
    const auto killed = Clock::now();
    std::this_thread::sleep_for(500ms);
    const double cpu0 = cpuSeconds(play.pid());
    std::this_thread::sleep_for(3s);
    const double cpu = (cpuSeconds(play.pid()) - cpu0) / 3.0;
    std::this_thread::sleep_until(killed + 4s);
    ASSERT_TRUE(server_->restart()) << "pulseaudio did not start again";
    const auto restarted = Clock::now();
    recording = std::make_unique<MonitorRecording>(*server_, second, kRate, 2);
    const bool again = waitUntil([&] { return heardSound(second); }, 8);
    const double soundAfter = since(restarted);
    EXPECT_TRUE(play.running()) << "vesperon-play ended during the outage";

    kill(play.pid(), SIGINT);
    const auto interrupted = Clock::now();
    waitUntil([&] { return !play.running(); }, 10);
    const double stopped = since(interrupted);
    std::printf("server away: vesperon-play used %.1f %% of a core; sound again %.2f s after the restart; "
                "SIGINT ended it in %.2f s\n",
                100 * cpu, soundAfter, stopped);
    EXPECT_LE(cpu, 0.05);
    EXPECT_TRUE(again) << "no sound within 8 s of the restart";
    EXPECT_LE(soundAfter, 6.0);
    EXPECT_LT(stopped, 2.0);
}

// The device kept open between plays survives the server's loss while idle; every command stays
// prompt while the server is gone, and a play started then is heard once it is back.
TEST_F(SoundServerE2e, CommandsStayPromptWhileTheServerIsAwayAndPlayGoesOnAfter) {
    const std::string shortFile = makeMp3(dir_, "short", Mp3Recipe{1});
    const std::string longFile = makeMp3(dir_, "long", Mp3Recipe{8});
    ASSERT_FALSE(shortFile.empty() || longFile.empty());
    WindowHandle w = NotifyRecorder::instance().open();
    PlayerHandle p = CreatePlayer(playList({shortFile}).c_str(), 1);
    NewPlay(p, w, nullptr, 0);
    ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(w, 1, 30s));
    RemovePlayer(p);

    server_->kill();  // while the device is kept open and idle
    double worst = 0;
    auto note = [&](double t) { worst = std::max(worst, t); };
    p = CreatePlayer(playList({longFile}).c_str(), 1);
    note(timed([&] { NewPlay(p, w, nullptr, 0); }));
    std::this_thread::sleep_for(700ms);
    note(timed([&] { SetPauseState(p, 1); }));
    EXPECT_EQ(GetPlayState(p), -1);
    note(timed([&] { SetPauseState(p, 0); }));
    std::this_thread::sleep_for(300ms);
    note(timed([&] { RemovePlayer(p); }));

    p = CreatePlayer(playList({longFile}).c_str(), 1);
    note(timed([&] { NewPlay(p, w, nullptr, 0); }));
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(2s);
    getrusage(RUSAGE_SELF, &after);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    const double cpu = (seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) -
                        seconds(before.ru_stime)) /
                       2.0;
    EXPECT_EQ(GetPlayState(p), 1);

    ASSERT_TRUE(server_->restart());
    const auto restarted = Clock::now();
    const std::string raw = dir_.file("after.raw");
    MonitorRecording recording(*server_, raw, kRate, 2);
    const bool heard = waitUntil([&] { return heardSound(raw); }, 8);
    const double soundAfter = since(restarted);
    note(timed([&] { RemovePlayer(p); }));
    std::printf("server away while idle: slowest command %.0f ms; %.1f %% of a core while waiting; sound "
                "%.2f s after the restart\n",
                worst * 1000, 100 * cpu, soundAfter);
    EXPECT_LT(worst, 1.0);
    EXPECT_LE(cpu, 0.05);
    EXPECT_TRUE(heard) << "the play was not heard after the server came back";
}
