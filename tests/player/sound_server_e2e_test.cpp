// The engine and vesperon-play against a real sound server (a private PulseAudio, recorded from
// its sink's monitor): two tracks cut from one tone join on one open device, first sound compared
// with paplay's, the server killed and started again while playing and while idle (or started
// only after the play), a change of format, and the notices and position against the sound heard.

#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/player/commands.h"
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

// Stretches of sound in s16 PCM (stereo at kRate unless told), on 1-ms windows: a new stretch
// starts after `split` ms of quiet. For each: start and end (ms), and the longest quiet inside it (ms).
using Stretch = SoundStretch;
std::vector<Stretch> stretchesOf(const std::vector<int16_t>& pcm, long split = 300, int rate = kRate,
                                 int channels = 2) {
    return soundStretches(pcm, rate, channels, kLoud, split);
}

bool heardSound(const std::string& raw) {
    return !stretchesOf(readPcm16(raw)).empty();
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
    ASSERT_EQ(runCommand({"sox", "-D", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "6", "sine",
                          "440", "vol", "0.5"})
                  .exitCode,
              0);
    ASSERT_EQ(runCommand({"sox", tone, a, "trim", "0", "3"}).exitCode, 0);
    ASSERT_EQ(runCommand({"sox", tone, b, "trim", "3"}).exitCode, 0);
    for (const std::string& w : {a, b}) ASSERT_EQ(runCommand({"lame", "--quiet", w, w + ".mp3"}).exitCode, 0);
    // The silence the files themselves hold at the seam (encoder delay and padding as decoded).
    const auto pcmA = samples(referencePcm(dir_, a + ".mp3")), pcmB = samples(referencePcm(dir_, b + ".mp3"));
    const auto soundA = stretchesOf(pcmA), soundB = stretchesOf(pcmB);
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
        const auto stretches = stretchesOf(readPcm16(raw));
        std::string seen;
        for (const Stretch& s : stretches)
            seen += " " + std::to_string(s.start) + "-" + std::to_string(s.end) + " ms (longest quiet " +
                    std::to_string(s.longestQuiet) + " ms)";
        ASSERT_EQ(stretches.size(), 2u)
            << name << " recorder: expected paplay's sound, then the two tracks; heard" << seen;
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
    // The player's stream comes back well before a recording of a fresh server can begin.
    waitUntil([&] { return !server_->pactl({"list", "short", "sink-inputs"}).out.empty(); }, 8);
    const double streamAfter = since(restarted);
    recording = std::make_unique<MonitorRecording>(*server_, second, kRate, 2);
    const bool again = waitUntil([&] { return heardSound(second); }, 8);
    const double soundAfter = since(restarted);
    EXPECT_TRUE(play.running()) << "vesperon-play ended during the outage";

    kill(play.pid(), SIGINT);
    const auto interrupted = Clock::now();
    waitUntil([&] { return !play.running(); }, 10);
    const double stopped = since(interrupted);
    std::printf(
        "server away: vesperon-play used %.1f %% of a core; its stream back %.2f s and sound recorded "
        "%.2f s after the restart; SIGINT ended it in %.2f s\n",
        100 * cpu, streamAfter, soundAfter, stopped);
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
    std::printf(
        "server away while idle: slowest command %.0f ms; %.1f %% of a core while waiting; sound "
        "%.2f s after the restart\n",
        worst * 1000, 100 * cpu, soundAfter);
    EXPECT_LT(worst, 1.0);
    EXPECT_LE(cpu, 0.05);
    EXPECT_TRUE(heard) << "the play was not heard after the server came back";
}

namespace {

// The sink's monitor, recorded through libpulse with the time each block arrived, so that a
// frame of the recording can be set against the steady clock (to within the 10-ms blocks).
class ClockedRecording {
public:
    explicit ClockedRecording(const PulseServer& server) {
        const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 2};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(10000, &spec));
        int error = 0;
        pa_ = pa_simple_new(nullptr, "vesperon-e2e", PA_STREAM_RECORD, (server.sink() + ".monitor").c_str(),
                            "monitor", &spec, nullptr, &attr, &error);
        if (pa_) thread_ = std::thread([this] { run(); });
    }
    ~ClockedRecording() { stop(); }
    bool ok() const { return pa_ != nullptr; }
    void stop() {
        quit_ = true;
        if (thread_.joinable()) thread_.join();
        if (pa_) pa_simple_free(pa_);
        pa_ = nullptr;
    }
    // The stereo samples so far, and the moment frame f was recorded.
    std::vector<int16_t> pcm() {
        std::lock_guard lock(mutex_);
        return pcm_;
    }
    Clock::time_point timeOf(long frame) {
        std::lock_guard lock(mutex_);
        return start_ + std::chrono::microseconds(static_cast<long long>(frame) * 1000000 / kRate);
    }

private:
    void run() {
        std::vector<int16_t> block(2 * kRate / 100);
        bool first = true;
        while (!quit_) {
            if (pa_simple_read(pa_, block.data(), block.size() * 2, nullptr) < 0) return;
            std::lock_guard lock(mutex_);
            pcm_.insert(pcm_.end(), block.begin(), block.end());
            // The block that came soonest after its last frame gives the recording's start.
            const auto start = Clock::now() - std::chrono::microseconds(
                                                  static_cast<long long>(pcm_.size() / 2) * 1000000 / kRate);
            if (first || start < start_) start_ = start;
            first = false;
        }
    }
    pa_simple* pa_ = nullptr;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::mutex mutex_;  // guards pcm_ and start_, written by the recording thread
    std::vector<int16_t> pcm_;
    Clock::time_point start_{};
};

// Where sound begins after at least `quietMs` of quiet, from `fromMs` on (ms into the PCM; -1: none).
long onsetAfterQuiet(const std::vector<int16_t>& pcm, long fromMs, long quietMs) {
    for (const Stretch& s : stretchesOf(pcm, quietMs))
        if (s.start >= fromMs) return s.start;
    return -1;
}

}  // namespace

// The notices and the position follow the sound as heard: the next track's first-sound notice
// comes when its first sound is heard, and the position reaches a tone at 2.0 s of the track
// when that tone is heard. Figures are printed; only gross errors fail.
TEST_F(SoundServerE2e, NoticesAndPositionFollowTheSoundHeard) {
    const std::string a = dir_.file("a.wav"), b = dir_.file("b.wav"), gap = dir_.file("gap.wav"),
                      beep = dir_.file("beep.wav"), tail = dir_.file("tail.wav");
    auto sox = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"sox", "-D"});
        return runCommand(args).exitCode == 0;
    };
    ASSERT_TRUE(sox({"-n", "-r", "44100", "-c", "2", "-b", "16", tail, "trim", "0", "0.5"}));
    ASSERT_TRUE(sox({"-n", "-r", "44100", "-c", "2", "-b", "16", gap, "trim", "0", "1.5"}));
    ASSERT_TRUE(
        sox({"-n", "-r", "44100", "-c", "2", "-b", "16", beep, "synth", "0.5", "sine", "660", "vol", "0.5"}));
    // A: a tone, then half a second of quiet. B: a tone from 0 to 0.5 s and again from 2.0 s.
    ASSERT_TRUE(sox({beep, beep, beep, tail, a}));
    ASSERT_TRUE(sox({beep, gap, beep, beep, b}));
    for (const std::string& w : {a, b}) ASSERT_EQ(runCommand({"lame", "--quiet", w, w + ".mp3"}).exitCode, 0);

    ClockedRecording recording(*server_);
    ASSERT_TRUE(recording.ok());
    std::this_thread::sleep_for(300ms);
    // As the window does: the end of A starts B at once.
    std::atomic<bool> aEnded{false};
    Clock::time_point bHeardNotice{};
    WindowHandle wa = NotifyRecorder::instance().open([&](std::intptr_t v) {
        if (v == kNoticeTrackEnd) aEnded = true;
    });
    // B's first progress notice comes with its first sound heard.
    WindowHandle wb = NotifyRecorder::instance().open([&](std::intptr_t v) {
        if (v < kNoticeTrackEnd && bHeardNotice == Clock::time_point{}) bHeardNotice = Clock::now();
    });
    PlayMp3File(a + ".mp3", 0, wa);
    ASSERT_TRUE(waitUntil([&] { return aEnded.load(); }, 15));
    PlayMp3File(b + ".mp3", 0, wb);
    // Where the position says B's second tone is heard.
    Clock::time_point positionAtTone{};
    const std::uint64_t playB = CurrentHeardPosition().play;
    ASSERT_TRUE(waitUntil(
        [&] {
            const HeardPosition h = CurrentHeardPosition();
            if (h.play == playB && h.microseconds() >= 2000000 && positionAtTone == Clock::time_point{})
                positionAtTone = Clock::now();
            return positionAtTone != Clock::time_point{};
        },
        15));
    ASSERT_TRUE(NotifyRecorder::instance().waitForEnds(wb, 1, 15s));
    std::this_thread::sleep_for(1500ms);
    StopPlaying();
    recording.stop();

    // In the recording: A's first sound, B's first sound (after A's half second of quiet) and
    // B's second tone (after 1.5 s of quiet).
    const std::vector<int16_t> pcm = recording.pcm();
    const long aStart = onsetAfterQuiet(pcm, 0, 200);
    ASSERT_GE(aStart, 0) << "A was not heard";
    const long bStart = onsetAfterQuiet(pcm, aStart + 1, 400);
    const long bTone = onsetAfterQuiet(pcm, bStart + 1, 1200);
    ASSERT_GE(bStart, 0) << "B was not heard";
    ASSERT_GE(bTone, 0) << "B's second tone was not heard";
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const double notice = ms(bHeardNotice - recording.timeOf(bStart * (kRate / 1000)));
    const double position = ms(positionAtTone - recording.timeOf(bTone * (kRate / 1000)));
    std::printf(
        "output %s: next track's first-sound notice %+.0f ms from its first sound heard; position "
        "reached the tone at 2.0 s %+.0f ms from when it was heard (tone heard %.3f s after B began)\n",
        e2eAudioOutput().c_str(), notice, position, (bTone - bStart) / 1000.0);
    EXPECT_LT(std::abs(notice), 300);
    EXPECT_LT(std::abs(position), 300);
    EXPECT_NEAR(bTone - bStart, 2000, 30) << "the track's own time as heard";
}

// A 44.1-kHz stereo track then a 22.05-kHz mono one through vesperon-play: the change of format
// cuts nothing, each track's sound lasting as long as its decoded source's (measured alike: the
// coding spreads a tone's edges by a few ms), and adds little silence between them.
TEST_F(SoundServerE2e, AChangeOfFormatLosesNothing) {
    struct Track {
        std::string path;
        int rate, channels;
        double seconds, heard = 0, source = 0;
    };
    std::vector<Track> tracks{{dir_.file("a.wav"), 44100, 2, 3.0}, {dir_.file("b.wav"), 22050, 1, 2.5}};
    for (Track& t : tracks) {
        // No dither: its noise, coded, can pass for sound at the edges (an extra stretch).
        ASSERT_EQ(
            runCommand({"sox", "-D", "-n", "-r", std::to_string(t.rate), "-c", std::to_string(t.channels),
                        "-b", "16", t.path, "synth", std::to_string(t.seconds), "sine", "440", "vol", "0.5"})
                .exitCode,
            0);
        ASSERT_EQ(runCommand({"lame", "--quiet", t.path, t.path + ".mp3"}).exitCode, 0);
        const auto source = stretchesOf(samples(referencePcm(dir_, t.path + ".mp3")), 5, t.rate, t.channels);
        ASSERT_EQ(source.size(), 1u) << t.path;
        t.source = (source[0].end - source[0].start) / 1000.0;
    }
    ClockedRecording recording(*server_);
    ASSERT_TRUE(recording.ok());
    std::this_thread::sleep_for(300ms);
    CommandResult r =
        runCommand({toolPath("vesperon-play"), tracks[0].path + ".mp3", tracks[1].path + ".mp3"}, 60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::this_thread::sleep_for(500ms);
    recording.stop();
    const auto stretches = stretchesOf(recording.pcm(), 5);
    ASSERT_EQ(stretches.size(), 2u) << "expected the two tracks apart";
    for (std::size_t i = 0; i < 2; ++i) tracks[i].heard = (stretches[i].end - stretches[i].start) / 1000.0;
    std::printf(
        "output %s: 3.0-s track heard for %.3f s (decoded: %.3f s), 2.5-s track for %.3f s (decoded: "
        "%.3f s), %ld ms apart\n",
        e2eAudioOutput().c_str(), tracks[0].heard, tracks[0].source, tracks[1].heard, tracks[1].source,
        stretches[1].start - stretches[0].end);
    for (const Track& t : tracks) EXPECT_NEAR(t.heard, t.source, 0.010) << t.path;
    // The next stream opens while the last plays out and starts as it ends (a reconnection
    // left about 100 ms of silence); the aim is 20 ms.
    EXPECT_LE(stretches[1].start - stretches[0].end, 40);
}

// vesperon-play started 3 s before the sound server plays once the server is up.
TEST_F(SoundServerE2e, APlayStartedBeforeTheServerIsHeardOnceItIsUp) {
    const std::string file = makeMp3(dir_, "long", Mp3Recipe{20});
    ASSERT_FALSE(file.empty());
    server_->kill();
    BackgroundProcess play({toolPath("vesperon-play"), file});
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(play.running()) << "vesperon-play gave up without a server";
    ASSERT_TRUE(server_->restart());
    const auto up = Clock::now();
    ClockedRecording recording(*server_);
    ASSERT_TRUE(recording.ok());
    const bool heard = waitUntil([&] { return !stretchesOf(recording.pcm()).empty(); }, 10);
    kill(play.pid(), SIGINT);
    waitUntil([&] { return !play.running(); }, 10);
    recording.stop();
    const auto stretches = stretchesOf(recording.pcm());
    const auto ms = [&](long frame) {
        return std::chrono::duration<double, std::milli>(recording.timeOf(frame) - up).count();
    };
    // A recording that begins with the sound started after it: its start bounds the figure.
    std::printf(
        "output %s: started 3 s before the server; the recording began %.0f ms after the server "
        "came up and heard the play %.0f ms after\n",
        e2eAudioOutput().c_str(), ms(0), stretches.empty() ? -1.0 : ms(stretches[0].start * (kRate / 1000)));
    EXPECT_TRUE(heard) << "nothing heard within 10 s of the server's start";
}
