// Thousands of randomly ordered play, pause, resume, new-play and stop commands with short
// random waits, from two threads (the entry points and the command layer), against files of one
// frame, short, corrupt, missing and long files, with the null and WAV outputs. Must end with
// no deadlock (a watchdog aborts), no sanitizer report and every engine thread gone.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "engine/player/commands.h"
#include "engine/player/entry_points.h"
#include "tests/player/engine_fixtures.h"
#include "tests/support/process.h"

using namespace vesperon::engine;
using namespace vesperon::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

int threadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
    return -1;
}

// Aborts the run when no command has completed for a while: a deadlock.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              while (!done_) {
                  std::this_thread::sleep_for(100ms);
                  if (Clock::now() - Clock::time_point(Clock::duration(last_.load())) > limit) {
                      std::fprintf(stderr, "stress: no command finished for %lld s: deadlock\n",
                                   static_cast<long long>(limit.count()));
                      std::abort();
                  }
              }
          }) {}
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }
    void tick() { last_ = Clock::now().time_since_epoch().count(); }

private:
    std::atomic<bool> done_{false};
    std::atomic<Clock::rep> last_{Clock::now().time_since_epoch().count()};
    std::thread thread_;
};

}  // namespace

TEST(PlayerStress, RandomCommandsFromTwoThreadsEndCleanly) {
    TempDir dir;
    std::string normal = makeMp3(dir, "normal", Mp3Recipe{2});
    std::string longFile = makeMp3(dir, "long", Mp3Recipe{10});
    std::string layer2 = makeMp3(dir, "layer2", Mp3Recipe{1, 24000, 2, 96, true});
    ASSERT_FALSE(normal.empty() || longFile.empty() || layer2.empty());
    std::string bytes = readFile(normal);
    std::string oneFrame = dir.file("one-frame.mp3"), shortFile = dir.file("short.mp3"),
                corrupt = dir.file("corrupt.mp3");
    writeFile(oneFrame, bytes.substr(0, 418));
    writeFile(shortFile, bytes.substr(0, 9000));
    std::string damaged = bytes;
    std::mt19937 noise(7);
    for (std::size_t i = 3000; i < damaged.size(); i += 1 + noise() % 700)
        damaged[i] = static_cast<char>(noise());
    writeFile(corrupt, damaged);
    const std::vector<std::string> files{
        normal, longFile, layer2, oneFrame, shortFile, corrupt, dir.file("missing.mp3")};

    NotifyRecorder& recorder = NotifyRecorder::instance();
    const WindowHandle window = recorder.open();
    Watchdog watchdog(30s);
    const int baseline = threadCount();
    std::atomic<int> commands{0};

    auto pause = [](std::mt19937& rng) {
        int r = rng() % 100;
        if (r < 80) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1000));
        } else if (r < 98) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2 + rng() % 8));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(30 + rng() % 30));
        }
    };

    // Half the run plays to the null device, half writes WAV files. The environment changes
    // only between the halves, while no engine thread runs.
    for (const std::string& output : {std::string("null"), "wav:" + dir.file("stress.wav")}) {
        setenv("VESPERON_AUDIO_OUTPUT", output.c_str(), 1);
        const auto deadline = Clock::now() + 22s;  // bounds the run under the sanitizers
        // Thread 1: the entry points on players of its own, a few at a time.
        std::thread entryPoints([&] {
            std::mt19937 rng(1);
            std::vector<PlayerHandle> players(3, 0);
            for (int i = 0; i < 1000 && Clock::now() < deadline; ++i) {
                PlayerHandle& p = players[rng() % players.size()];
                switch (rng() % 8) {
                    case 0:
                    case 1: {
                        RemovePlayer(p);
                        std::vector<std::string> list;
                        for (int n = 1 + rng() % 3; n > 0; --n) list.push_back(files[rng() % files.size()]);
                        p = CreatePlayer(playList(list).c_str(), static_cast<int>(rng() % 4) - 1);
                        NewPlay(p, window, rng() % 5 == 0 ? "secret" : nullptr,
                                rng() % 3 == 0 ? rng() % 101 : 0);
                        break;
                    }
                    case 2:
                        SetPauseState(p, 1);
                        break;
                    case 3:
                        SetPauseState(p, 0);
                        break;
                    case 4:
                        NewPlay(p, window, rng() % 10 == 0 ? std::string(600, 'x').c_str() : nullptr,
                                rng() % 101);
                        break;
                    case 5:
                        Play(p);
                        break;
                    case 6:
                        RemovePlayer(p);
                        p = 0;
                        break;
                    default:
                        EXPECT_GE(GetPlayState(p), -1);
                        EXPECT_LE(GetPlayState(p), 1);
                }
                ++commands;
                watchdog.tick();
                pause(rng);
            }
            for (PlayerHandle p : players) RemovePlayer(p);
        });

        // Thread 2: the command layer's five commands on the application-wide player.
        std::mt19937 rng(2);
        for (int i = 0; i < 1000 && Clock::now() < deadline; ++i) {
            switch (rng() % 6) {
                case 0:
                case 1:
                    PlayMp3File(files[rng() % files.size()], rng() % 2 ? 0 : rng() % 101, window);
                    break;
                case 2:
                    PausePlayback();
                    break;
                case 3:
                    ResumePlayback();
                    break;
                case 4:
                    StopPlaying();
                    break;
                default:
                    QueryPlayState();
            }
            ++commands;
            watchdog.tick();
            pause(rng);
        }
        entryPoints.join();
        RemoveCurrentPlayer();
    }
    std::printf("stress: %d commands\n", commands.load());
    EXPECT_GE(commands.load(), 2000);

    for (int v : recorder.values(window)) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, kNoticeTrackEnd);  // progress and the end: nothing else reaches the window
    }
    // Every stage, service and device thread has ended.
    auto until = Clock::now() + 5s;
    while (threadCount() > baseline && Clock::now() < until) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(threadCount(), baseline);
    unsetenv("VESPERON_AUDIO_OUTPUT");
}

TEST(PlayerStress, StoppingABlockedPlayRepeatedly) {
    // Every stage blocked: rings full, device paused; then removal, many times over.
    TempDir dir;
    std::string file = makeMp3(dir, "long", Mp3Recipe{10});
    ASSERT_FALSE(file.empty());
    setenv("VESPERON_AUDIO_OUTPUT", "null", 1);
    std::mt19937 rng(3);
    for (int i = 0; i < 20; ++i) {
        PlayerHandle p = CreatePlayer(playList({file}).c_str(), 1);
        NewPlay(p, 0, nullptr, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + rng() % 200));
        SetPauseState(p, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 100));
        auto t0 = Clock::now();
        RemovePlayer(p);
        EXPECT_LT(Clock::now() - t0, 5s);
    }
    unsetenv("VESPERON_AUDIO_OUTPUT");
}
