// The desktop's volume when the sound server misbehaves during a fade: the server killed and
// started again, another program setting the volume, the server stopped (SIGSTOP). The program
// runs without a window, driven over MPRIS, against a PulseAudio that restores device volumes
// itself (module-device-restore) as desktops run it. What counts is the sink's volume afterwards.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/e2e_program.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"

namespace vesperon::test {
namespace {

using Clock = std::chrono::steady_clock;

enum class Fade { Pause, Resume };
const char* nameOf(Fade f) {
    return f == Fade::Pause ? "Pause" : "Resume";
}

// The sink's volume in percent of the full level, as pactl prints it; -1 when unreadable.
long sinkPercent() {
    const CommandResult r = e2ePulse().pactl({"get-sink-volume", e2ePulse().sink()});
    const auto slash = r.out.find('/');
    return r.exitCode == 0 && slash != std::string::npos ? std::strtol(r.out.c_str() + slash + 1, nullptr, 10)
                                                         : -1;
}

// An MPRIS call as a desktop makes it; the seconds until its reply came (-1: none).
double mprisCall(const std::vector<std::string>& call) {
    std::vector<std::string> argv{"dbus-send",
                                  "--session",
                                  "--print-reply",
                                  "--reply-timeout=5000",
                                  "--dest=org.mpris.MediaPlayer2.vesperon",
                                  "/org/mpris/MediaPlayer2"};
    argv.insert(argv.end(), call.begin(), call.end());
    const auto t0 = Clock::now();
    return runCommand(argv, 10).exitCode == 0 ? secondsSince(t0) : -1;
}
double playPause() {
    return mprisCall({"org.mpris.MediaPlayer2.Player.PlayPause"});
}
std::string status() {
    return playerctl({"status"});
}

// The program playing a long tone, without a window, its exit status kept by a shell around it.
class Player {
public:
    explicit Player(const std::string& track) {
        proc_ = std::make_unique<BackgroundProcess>(
            std::vector<std::string>{
                "sh", "-c", "\"$0\" --no-window '" + track + "'; echo $? > '" + dir_.file("status") + "'",
                vesperonPath()},
            std::vector<std::string>{"VESPERON_AUDIO_OUTPUT=" + e2eAudioOutput(),
                                     "XDG_STATE_HOME=" + dir_.path()});
        std::string seen;
        ok_ = secondsUntil(status, "Stopped", 30, &seen) >= 0;
        playerctl({"play"});
        ok_ = ok_ && secondsUntil(status, "Playing", 10, &seen) >= 0;
        if (!ok_) std::printf("the player did not start playing: status \"%s\"\n", seen.c_str());
    }
    bool ok() const { return ok_; }
    bool running() const { return proc_->running(); }
    // SIGTERM to the program (the shell's child); the seconds until it ended, -1 when it did not.
    double terminate() {
        const std::string pid = trimmed(runCommand({"pgrep", "-P", std::to_string(proc_->pid())}, 10).out);
        if (pid.empty() || kill(std::stoi(pid), SIGTERM) != 0) return -1;
        const auto t0 = Clock::now();
        return secondsUntil([&] { return !proc_->running(); }, 10) >= 0 ? secondsSince(t0) : -1;
    }
    std::string exitStatus() const { return trimmed(readFile(dir_.file("status"))); }
    // Polls until the track has been heard for `seconds` (MPRIS Position), so that a fade has
    // sound under it; false (printing the last position read) when it was not within 10 s.
    static bool heardFor(double seconds) {
        std::string seen;
        const bool ok =
            secondsUntil([&] { return std::atof((seen = playerctl({"position"})).c_str()) >= seconds; },
                         10) >= 0;
        if (!ok) std::printf("the track was not heard for %.1f s: position \"%s\"\n", seconds, seen.c_str());
        return ok;
    }

private:
    TempDir dir_;
    std::unique_ptr<BackgroundProcess> proc_;
    bool ok_ = false;
};

class VolumeE2E : public EncodedFilesSuite<VolumeE2E> {
public:
    static std::string make(TempDir& dir) {
        const std::string mp3 = encodedTone(ToneRecipe(60, 44100, 2, {"sine", "440", "vol", "0.5"}), kLame128,
                                            dir.file("tone.mp3"));
        return mp3.empty() ? "sox/lame" : "";
    }

protected:
    static std::string track() { return file("tone.mp3"); }
    // Sets the sink's volume as another program would; false (printing why) when pactl failed.
    static bool setPercent(long p) {
        const CommandResult r =
            e2ePulse().pactl({"set-sink-volume", e2ePulse().sink(), std::to_string(p) + "%"});
        if (r.exitCode != 0)
            std::printf("pactl set-sink-volume failed (%d): %s\n", r.exitCode, r.err.c_str());
        return r.exitCode == 0;
    }
    // Polls until the sink reads `want` percent (within 1); what it read last.
    static long settled(long want, double timeout = 5) {
        long v = -1;
        secondsUntil([&] { return std::labs((v = sinkPercent()) - want) <= 1; }, timeout);
        return v;
    }
    // The sink at `want` after the fade and anything that could still follow it: the reading a
    // second after it was first seen there.
    static long settledAndKept(long want, double timeout = 5) {
        settled(want, timeout);
        sleepMs(1000);
        return sinkPercent();
    }
    // Into a paused state at `percent`, the pause's fade over.
    static void pausedAt(long percent) {
        playPause();
        std::string seen;
        ASSERT_GE(secondsUntil(status, "Paused", 5, &seen), 0) << seen;
        ASSERT_NEAR(settled(percent), percent, 1);
    }
    static void sleepUntil(Clock::time_point t0, double seconds) {
        std::this_thread::sleep_until(t0 + std::chrono::microseconds(static_cast<long>(seconds * 1e6)));
    }
};

// ---- The server killed and started again during a fade ----

struct RestartCase {
    Fade fade;
    double at;  // seconds into the fade
};

class ServerRestartMidFade : public VolumeE2E, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(ServerRestartMidFade, TheVolumeFromBeforeTheFadeComesBackAndStays) {
    const RestartCase c = GetParam();
    setPercent(70);
    Player player(track());
    ASSERT_TRUE(player.ok());
    ASSERT_TRUE(Player::heardFor(0.3));
    if (c.fade == Fade::Resume) pausedAt(70);

    const auto t0 = Clock::now();
    playPause();
    sleepUntil(t0, c.at);
    e2ePulse().kill();
    ASSERT_TRUE(e2ePulse().restart()) << "pulseaudio did not start again";
    const double back = secondsSince(t0);
    const long afterRestart = settledAndKept(70, 8);
    std::string seen;
    const char* want = c.fade == Fade::Pause ? "Paused" : "Playing";
    EXPECT_GE(secondsUntil(status, want, 5, &seen), 0) << seen;

    // The next fade comes back there too, and so does quitting.
    playPause();
    if (c.fade == Fade::Pause) {
        EXPECT_GE(secondsUntil(status, "Playing", 5, &seen), 0) << seen;
    }
    const long afterNext = settledAndKept(70);
    const double quitTook = player.terminate();
    const long afterQuit = sinkPercent();
    std::printf(
        "%s fade, server killed at %.1f s and answering again at %.2f s: sink %ld %% after, %ld %% "
        "after the next fade, %ld %% after quitting (%.2f s)\n",
        nameOf(c.fade), c.at, back, afterRestart, afterNext, afterQuit, quitTook);
    EXPECT_NEAR(afterRestart, 70, 1);
    EXPECT_NEAR(afterNext, 70, 1);
    EXPECT_NEAR(afterQuit, 70, 1);
    EXPECT_EQ(player.exitStatus(), "0");
}

INSTANTIATE_TEST_SUITE_P(Moments, ServerRestartMidFade,
                         ::testing::Values(RestartCase{Fade::Pause, 0.1}, RestartCase{Fade::Pause, 0.3},
                                           RestartCase{Fade::Pause, 0.5}, RestartCase{Fade::Pause, 0.7},
                                           RestartCase{Fade::Resume, 0.1}, RestartCase{Fade::Resume, 0.3},
                                           RestartCase{Fade::Resume, 0.5}, RestartCase{Fade::Resume, 0.7}),
                         [](const auto& info) {
                             return std::string(nameOf(info.param.fade)) + "At" +
                                    std::to_string(int(info.param.at * 10)) + "Tenths";
                         });

// ---- Another program sets the volume during a fade, or while paused just before a resume ----

struct OutsideCase {
    Fade fade;
    double at;  // seconds into the fade (Pause, Resume), or before the resume (paused)
    bool whilePaused;
};

class OutsideChange : public VolumeE2E, public ::testing::WithParamInterface<OutsideCase> {};

TEST_P(OutsideChange, TheVolumeSetIsTheOneTheFadeEndsOn) {
    const OutsideCase c = GetParam();
    setPercent(80);
    Player player(track());
    ASSERT_TRUE(player.ok());
    ASSERT_TRUE(Player::heardFor(0.3));
    if (c.fade == Fade::Resume) pausedAt(80);

    Clock::time_point t0 = Clock::now();
    double setBy = 0;  // seconds from t0 until pactl had set it
    if (c.whilePaused) {
        ASSERT_TRUE(setPercent(30));
        setBy = secondsSince(t0);
        sleepUntil(t0, c.at);
        playPause();
    } else {
        playPause();
        sleepUntil(t0, c.at);
        ASSERT_TRUE(setPercent(30));
        setBy = secondsSince(t0);
    }
    std::string seen;
    EXPECT_GE(secondsUntil(status, c.fade == Fade::Pause ? "Paused" : "Playing", 5, &seen), 0) << seen;
    const long after = settledAndKept(30);
    std::printf("%s fade, 30 %% set %s %.1f s (pactl done at %.2f s): sink %ld %% after\n", nameOf(c.fade),
                c.whilePaused ? "before it, paused," : "into it at", c.at, setBy, after);
    EXPECT_EQ(after, 30);
}

// Set while paused, then a resume: the resume's look at the volume sees it.
INSTANTIATE_TEST_SUITE_P(Moments, OutsideChange,
                         ::testing::Values(OutsideCase{Fade::Resume, 0.1, true},
                                           OutsideCase{Fade::Resume, 0.3, true},
                                           OutsideCase{Fade::Resume, 0.5, true}),
                         [](const auto& info) {
                             return "SetWhilePausedThenResumeAt" + std::to_string(int(info.param.at * 10)) +
                                    "Tenths";
                         });

// Set during a fade: a change landing between a step's look at the volume and its write would be
// overwritten unseen, so this runs each moment against a fade that writes all the while.
INSTANTIATE_TEST_SUITE_P(
    DuringAFade, OutsideChange,
    ::testing::Values(OutsideCase{Fade::Pause, 0.2, false}, OutsideCase{Fade::Pause, 0.4, false},
                      OutsideCase{Fade::Pause, 0.6, false}, OutsideCase{Fade::Resume, 0.2, false},
                      OutsideCase{Fade::Resume, 0.4, false}, OutsideCase{Fade::Resume, 0.6, false}),
    [](const auto& info) {
        return std::string(nameOf(info.param.fade)) + "At" + std::to_string(int(info.param.at * 10)) +
               "Tenths";
    });

// ---- The server stopped (SIGSTOP) while playing ----

TEST_F(VolumeE2E, AStoppedServerHoldsUpNeitherMprisNorAQuitAndKeepsItsVolume) {
    setPercent(70);
    Player player(track());
    ASSERT_TRUE(player.ok());
    ASSERT_TRUE(Player::heardFor(0.5));
    const int server = e2ePulse().pid();
    ASSERT_EQ(kill(server, SIGSTOP), 0);
    const auto stopped = Clock::now();
    struct Reply {
        std::string what;
        double seconds;
    };
    std::vector<Reply> replies;
    auto get = [&](const char* property) {
        replies.push_back({std::string("Get ") + property, mprisCall({"org.freedesktop.DBus.Properties.Get",
                                                                      "string:org.mpris.MediaPlayer2.Player",
                                                                      std::string("string:") + property})});
    };
    get("PlaybackStatus");
    replies.push_back({"PlayPause", playPause()});
    for (int i = 0; i < 8; ++i) get(i % 2 ? "Volume" : "PlaybackStatus");
    replies.push_back({"Set Volume 0.3", mprisCall({"org.freedesktop.DBus.Properties.Set",
                                                    "string:org.mpris.MediaPlayer2.Player", "string:Volume",
                                                    "variant:double:0.3"})});
    for (int i = 0; i < 4; ++i) get(i % 2 ? "Volume" : "Position");
    const double quitTook = player.terminate();
    const std::string exitStatus = player.exitStatus();
    std::this_thread::sleep_until(stopped + std::chrono::seconds(10));
    ASSERT_EQ(kill(server, SIGCONT), 0);
    const long after = settledAndKept(70);

    double slowest = 0;
    for (const Reply& r : replies) {
        std::printf("MPRIS %s while the server was stopped: %.0f ms\n", r.what.c_str(), r.seconds * 1000);
        EXPECT_GE(r.seconds, 0) << r.what << ": no reply";
        slowest = std::max(slowest, r.seconds);
    }
    std::printf(
        "slowest MPRIS reply %.0f ms; SIGTERM ended the program after %.2f s with status %s; sink %ld %% "
        "after the server went on\n",
        slowest * 1000, quitTook, exitStatus.c_str(), after);
    EXPECT_LT(slowest, 0.25);
    EXPECT_GE(quitTook, 0) << "SIGTERM did not end the program";
    EXPECT_LT(quitTook, 1.0);
    EXPECT_EQ(exitStatus, "0");
    EXPECT_NEAR(after, 70, 1);
}

}  // namespace
}  // namespace vesperon::test

int main(int argc, char** argv) {
    return vesperon::test::runProgramE2eMain(argc, argv,
                                             {"pulseaudio", "pactl", "playerctl", "dbus-send", "sox", "lame"},
                                             /*sessionBus=*/true, /*deviceRestore=*/true);
}
