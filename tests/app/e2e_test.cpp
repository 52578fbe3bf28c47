// The whole program as a user meets it: `vesperon` on a private Xvfb, its sound going through
// ALSA's default device into a PulseAudio null sink whose monitor is recorded, driven only from
// outside with xdotool (mouse, keyboard, the global hot keys) and, for the schedule, with its
// clock moved by faketime. What is checked is what a user would see and hear: the window title,
// the play button's caption, the recorded sound and the sink's volume.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/audio_compare.h"
#include "tests/support/e2e_program.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

// Xlib's macros clash with GoogleTest, so it comes last.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace vesperon::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;

// The seconds until the title is `want`, or -1.
double waitForTitle(const std::string& window, const std::string& want, double timeout) {
    return secondsUntil([&] { return windowTitle(window) == want; }, timeout);
}

void typeText(const std::string& text) {
    xdotool({"type", "--delay", "30", text}, nullptr, 60);
}
void key(const std::string& name) {
    xdotool({"key", name});
}

// The pixels of the play button's caption: the button's middle, inside its frame and its focus
// mark, so that only the text tells two captures apart.
std::vector<unsigned long> playCaptionPixels(const std::string& window) {
    std::vector<unsigned long> pixels;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return pixels;
    // 按钮_播放 is at 8,9 (80 x 25) in 分组框1, which sits at 1,-5 in the client area.
    const int left = 1 + 8 + 18, top = -5 + 9 + 7, width = 44, height = 12;
    XImage* image =
        XGetImage(d, static_cast<Window>(std::stoul(window)), left, top, width, height, AllPlanes, ZPixmap);
    if (image) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) pixels.push_back(XGetPixel(image, x, y));
        XDestroyImage(image);
    }
    XCloseDisplay(d);
    return pixels;
}

// A caption is there when the captured pixels are not all one colour.
bool showsText(const std::vector<unsigned long>& pixels) {
    return !pixels.empty() &&
           std::count(pixels.begin(), pixels.end(), pixels[0]) < long(pixels.size()) * 9 / 10;
}

// The caption once the window has settled: windows that covered it (the file dialog) are gone
// and it has been repainted, so that two captures a moment apart agree.
std::vector<unsigned long> settledCaption(const std::string& window) {
    std::vector<unsigned long> last;  // the first look only takes a capture to compare with
    waitFor(
        [&] {
            auto now = playCaptionPixels(window);
            const bool settled = now == last && showsText(now);
            last = std::move(now);
            return settled;
        },
        4000, 150);
    return last;
}

// Short test tracks with a constant level, so that a change of level in the recording is the
// volume's doing. Sweeps, so that the alignment with the decoded file is unambiguous.
struct Tracks {
    TempDir dir;
    bool ok = true;
    Tracks() {
        // Long enough that after the pause and the resume's fade-in a is still playing on a
        // busy machine (a fade takes up to 2 s there).
        make("a", 14, "300-2000");
        make("b", 3, "2500-600");
        make("c", 3, "900-1500");
    }
    void make(const std::string& name, double seconds, const std::string& sweep) {
        ok = ok && !encodedTone(ToneRecipe(seconds, kRate, 2, {"sine", sweep, "vol", "0.5"}),
                                {"lame", "--quiet", "-b", "192"}, mp3(name))
                        .empty();
    }
    std::string mp3(const std::string& name) const { return dir.file(name + ".mp3"); }
};

// Where a process and each of its threads wait ("gone" when it has ended): printed when its
// window does not appear, to tell a hang at start (under faketime, say) from a crash.
std::string whereItWaits(int pid) {
    std::string out = "process " + std::to_string(pid) + ":";
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        const std::string stat = readFile(task.path().string() + "/stat");
        const auto close = stat.rfind(')');
        out += " thread " + task.path().filename().string() + " " +
               (close == std::string::npos ? "?" : stat.substr(close + 2, 1)) + " in " +
               readFile(task.path().string() + "/wchan") + ";";
    }
    return ec ? out + " gone" : out;
}

// The program, started the way a user starts it, with the environment it needs here.
class Program {
public:
    explicit Program(const std::vector<std::string>& prefix = {}, const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv = prefix;
        argv.push_back(vesperonPath());
        std::vector<std::string> fullEnv{"QT_QPA_PLATFORM=xcb", "VESPERON_AUDIO_OUTPUT=" + e2eAudioOutput()};
        fullEnv.insert(fullEnv.end(), env.begin(), env.end());
        started_ = Clock::now();
        proc_ = std::make_unique<BackgroundProcess>(argv, fullEnv);
        window_ = findWindow("^Vesperon$", 20);
        if (window_.empty()) std::printf("no window after 20 s; %s\n", whereItWaits(proc_->pid()).c_str());
    }
    const std::string& window() const { return window_; }
    Clock::time_point started() const { return started_; }
    bool running() const { return proc_->running(); }

    // Adds files through the program's own open-file dialog: the path of their folder, then
    // their names in quotes, typed into the dialog's file-name field.
    bool addFilesByDialog(int clickX, int clickY, const std::string& folder,
                          const std::vector<std::string>& names) {
        click(window_, clickX, clickY);
        const std::string dialog = findWindow("请选择要加入播放列表的MP3文件", 10);
        if (dialog.empty()) return false;
        xdotool({"windowfocus", "--sync", dialog});
        sleepMs(300);
        typeText(folder + "/");
        key("Return");
        sleepMs(400);
        std::string quoted;
        for (const auto& n : names) quoted += (quoted.empty() ? "\"" : " \"") + n + "\"";
        typeText(quoted);
        key("Return");
        // The dialog is gone once it has handed the files over.
        return secondsUntil([] { return !windowShown("请选择要加入播放列表的MP3文件"); }, 10) >= 0;
    }

private:
    std::unique_ptr<BackgroundProcess> proc_;
    std::string window_;
    Clock::time_point started_;
};

// Client coordinates of the widgets used here: the layout's positions plus their group box's.
constexpr int kPlayX = 1 + 8 + 40, kPlayY = -5 + 9 + 12;
constexpr int kListX = 1 + 7 + 121, kListY = -5 + 62 + 73;
constexpr int kExpandX = 6 + 181, kExpandY = 212 + 9;
constexpr int kSwitchX = 1 + 215 + 30, kSwitchY = 237 + 20 + 12;
// 编辑框_从时1, 从分1, 从秒1, 到时1, 到分1, 到秒1: left edges in 分组框2, all 20 x 20 at top 56.
constexpr int kPeriod1Left[6] = {33, 79, 122, 231, 277, 323};
constexpr int kPeriod1Y = 237 + 56 + 10;

// The level of the left channel, as RMS over 50 ms windows.
std::vector<double> levels(const std::vector<int16_t>& pcm) {
    const std::size_t window = kRate / 20;
    std::vector<double> out;
    for (std::size_t f = 0; (f + window) * 2 <= pcm.size(); f += window) {
        double sum = 0;
        for (std::size_t i = f; i < f + window; ++i) sum += double(pcm[2 * i]) * pcm[2 * i];
        out.push_back(std::sqrt(sum / window));
    }
    return out;
}

// The levels from `from` on, in percent of `steady`, for failure messages.
std::string levelTrace(const std::vector<double>& level, std::size_t from, double steady) {
    std::string out;
    for (std::size_t i = from; i < level.size() && i < from + 60; ++i)
        out += std::to_string(int(100 * level[i] / steady)) + " ";
    return out + "(% per 50 ms)";
}

std::size_t firstSoundFrame(const std::vector<int16_t>& pcm) {
    std::size_t f = 0;
    while (2 * f < pcm.size() && std::abs(pcm[2 * f]) < 64) ++f;
    return f;
}

// How well the first 1.2 s heard from `start` on match the reference, in chunks of 0.2 s, each
// aligned on its own, so that a dropout (the sound server starved on a busy machine) spoils one
// chunk, shows as a jump of the lag, and does not hide whether the right sound was played.
struct Match {
    int chunks = 0, matched = 0;
    std::vector<double> correlations;
    std::vector<long> lags;
    std::string describe() const {
        std::string out = "correlation/shift in frames per 0.2 s:";
        for (std::size_t i = 0; i < lags.size(); ++i) {
            char one[48];
            std::snprintf(one, sizeof one, " %.3f/%+ld", correlations[i], lags[i] - lags[0]);
            out += one;
        }
        return out;
    }
};

Match matchChunks(const std::vector<int16_t>& heard, std::size_t start,
                  const std::vector<int16_t>& reference) {
    Match m;
    const long chunk = kRate / 5, margin = kRate / 5;
    const long heardFrames = long(heard.size() / 2), refFrames = long(reference.size() / 2);
    long expectedLag = 0;
    for (int k = 0; k < 6; ++k) {
        const long from = long(start) + k * chunk - (k == 0 ? 100 : 0);
        if (from + chunk > heardFrames) break;
        std::vector<int16_t> piece(heard.begin() + from * 2, heard.begin() + (from + chunk) * 2);
        long lag = 0;
        double c = 0;
        if (k == 0) {
            c = bestCorrelation(piece, reference, 2, kRate / 2, &lag);
            lag -= from;
        } else {
            // Search near where the previous chunks put it.
            const long refFrom = std::max(0L, from + expectedLag - margin);
            const long refTo = std::min(refFrames, from + expectedLag + chunk + margin);
            if (refTo - refFrom < chunk) break;
            std::vector<int16_t> ref(reference.begin() + refFrom * 2, reference.begin() + refTo * 2);
            c = bestCorrelation(piece, ref, 2, 2 * margin, &lag);
            lag += refFrom - from;
        }
        expectedLag = lag;
        ++m.chunks;
        m.matched += c > 0.9;
        m.correlations.push_back(c);
        m.lags.push_back(lag);
    }
    return m;
}

std::vector<int16_t> decoded(const std::string& mp3, const std::string& wav) {
    if (runCommand({std::string(VESPERON_BINARY_DIR) + "/tools/vesperon-decode", mp3, wav}).exitCode != 0)
        return {};
    return readWav16(wav);
}

TEST(ProgramE2E, DialogPlayPauseResumeNextAndEndOfTrack) {
    Tracks tracks;
    ASSERT_TRUE(tracks.ok);
    Program program;
    ASSERT_FALSE(program.window().empty()) << "the window did not appear";
    const std::string w = program.window();
    sleepMs(500);
    EXPECT_FALSE(windowShown("^错误$")) << "the hot keys could not be grabbed";

    // The empty list box opens the dialog.
    ASSERT_TRUE(program.addFilesByDialog(kListX, kListY, tracks.dir.path(), {"a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(windowTitle(w), "Vesperon");
    const auto idleCaption = settledCaption(w);
    ASSERT_TRUE(showsText(idleCaption));

    const long fullVolume = sinkVolume();
    ASSERT_GT(fullVolume, 0);
    const std::string raw = tracks.dir.file("play.raw");
    auto recording = std::make_unique<MonitorRecording>(e2ePulse(), raw, kRate, 2);
    click(w, kPlayX, kPlayY);
    ASSERT_GE(waitForTitle(w, "播放:a.mp3", 5), 0) << windowTitle(w);
    const auto playingCaption = settledCaption(w);
    EXPECT_NE(playingCaption, idleCaption) << "the play button still shows 播放";
    sleepMs(2000);

    // Pause: the sink's volume ramps down (seen on the way), then is back at once.
    const auto pressed = Clock::now();
    key("Pause");
    long lowest = fullVolume;
    int between = 0;
    double paused = -1;
    while (secondsSince(pressed) < 5) {
        const long v = sinkVolume();
        if (windowTitle(w) == "暂停:a.mp3") {
            paused = secondsSince(pressed);
            break;
        }
        if (v >= 0) lowest = std::min(lowest, v);
        if (v > fullVolume / 10 && v < fullVolume * 9 / 10) ++between;
    }
    ASSERT_GE(paused, 0) << windowTitle(w);
    EXPECT_EQ(sinkVolume(), fullVolume) << "the volume is not back right after the pause";
    EXPECT_LT(lowest, fullVolume / 2) << "the volume did not fall";
    EXPECT_GE(between, 2) << "the volume fell without steps in between";
    EXPECT_GT(paused, 0.5);
    EXPECT_LT(paused, 4.0);
    const auto pausedCaption = settledCaption(w);
    EXPECT_NE(pausedCaption, playingCaption);
    EXPECT_NE(pausedCaption, idleCaption);
    sleepMs(700);
    recording->stop();

    // What was heard: track a from near its start, then a fall over about a second into silence.
    const auto heard = readPcm16(raw);
    const auto reference = decoded(tracks.mp3("a"), tracks.dir.file("a.wav"));
    ASSERT_FALSE(reference.empty());
    const std::size_t start = firstSoundFrame(heard);
    ASSERT_LT(start * 2 + kRate * 2, heard.size()) << "nothing was heard";
    const Match match = matchChunks(heard, start, reference);
    EXPECT_GE(match.matched, match.chunks - 1) << match.describe();
    const auto level = levels(std::vector<int16_t>(heard.begin() + long(start * 2), heard.end()));
    ASSERT_GT(level.size(), 40u);
    std::vector<double> firstLevels(level.begin() + 2, level.begin() + 20);
    std::sort(firstLevels.begin(), firstLevels.end());
    const double steady = firstLevels[firstLevels.size() / 2];
    ASSERT_GT(steady, 1000);
    std::size_t fallStart = 0, silent = 0;
    for (std::size_t i = 20; i < level.size(); ++i) {
        if (!fallStart && level[i] < 0.9 * steady) fallStart = i;
        if (fallStart && level[i] < 0.02 * steady) {
            silent = i;
            break;
        }
    }
    ASSERT_GT(fallStart, 0u);
    ASSERT_GT(silent, 0u) << "the sound did not fade to silence";
    const double fadeSeconds = (silent - fallStart) * 0.05;
    EXPECT_GT(fadeSeconds, 0.3) << "cut off instead of faded";
    EXPECT_LT(fadeSeconds, 3.0);
    int midLevels = 0;
    for (std::size_t i = fallStart; i < silent; ++i)
        midLevels += level[i] > 0.05 * steady && level[i] < 0.7 * steady;
    EXPECT_GE(midLevels, 2);
    // Once faded out the player stays silent, although the volume is back at once.
    std::size_t loudAfter = 0;
    for (std::size_t i = silent; i < level.size(); ++i) loudAfter += level[i] > 0.1 * steady;
    EXPECT_EQ(loudAfter, 0u) << "sound at full volume for about " << loudAfter * 50
                             << " ms after the fade-out of the pause: "
                             << levelTrace(level, fallStart, steady);
    std::printf(
        "pause: heard a (%s); level from 90%% to 2%% in %.2f s; title \"暂停:\" %.2f s after the "
        "key; sink volume seen down to %ld of %ld\n",
        match.describe().c_str(), fadeSeconds, paused, lowest, fullVolume);

    // Resume ramps up from silence; the caption and title go back.
    key("Pause");
    ASSERT_GE(waitForTitle(w, "播放:a.mp3", 5), 0) << windowTitle(w);
    EXPECT_EQ(settledCaption(w), playingCaption);
    EXPECT_GT(sinkVolume(), fullVolume * 9 / 10);

    // Page Down moves on; the end of the short track b starts c by itself.
    key("Next");
    ASSERT_GE(waitForTitle(w, "播放:b.mp3", 3), 0) << windowTitle(w);
    // b lasts 3 s; the device stays open from track to track, so c follows at once.
    const double toC = waitForTitle(w, "播放:c.mp3", 15);
    ASSERT_GE(toC, 0) << windowTitle(w) << ": b did not end within 15 s";
    // Its end is reported while the device still holds up to 0.8 s of it.
    EXPECT_GT(toC, 2.0) << "b did not play to its end";
    std::printf("next: c followed b %.2f s after b started (b lasts 3 s)\n", toC);
    EXPECT_TRUE(program.running());
}

TEST(ProgramE2E, ScheduleStartsOnItsFirstSecondAndFadesOutAtItsEnd) {
    // libfaketime is preloaded itself, not through the faketime wrapper: the wrapper shares the
    // clock through a semaphore named after its pid, which it leaves behind when it is killed,
    // and once that pid comes round again it refuses to start ("sem_open: File exists").
    const std::vector<std::string> fakeClock{"LD_PRELOAD=/usr/$LIB/faketime/libfaketime.so.1",
                                             "FAKETIME=@2026-12-07 07:59:45", "FAKETIME_DONT_FAKE_MONOTONIC=1"};
    std::vector<std::string> date{"env"};
    date.insert(date.end(), fakeClock.begin(), fakeClock.end());
    date.insert(date.end(), {"date", "+%F"});
    ASSERT_EQ(runCommand(date).out, "2026-12-07\n") << "libfaketime does not move the clock";
    Tracks tracks;
    ASSERT_TRUE(tracks.ok);
    // The clock starts 15 s before the period 08:00:00 - 08:00:05 that is typed in below.
    const double lead = 15;
    Program program({}, fakeClock);
    ASSERT_FALSE(program.window().empty()) << "the window did not appear";
    const std::string w = program.window();

    ASSERT_TRUE(program.addFilesByDialog(kListX, kListY, tracks.dir.path(), {"a.mp3"}));
    const auto idleCaption = settledCaption(w);
    ASSERT_TRUE(showsText(idleCaption));
    const std::string collapsed = windowSize(w);
    click(w, kExpandX, kExpandY);
    std::string size;
    ASSERT_GE(secondsUntil([&] { return (size = windowSize(w)) != collapsed; }, 5), 0)
        << "not expanded: " << size;
    const char* period[6] = {"8", "0", "0", "8", "0", "5"};
    for (int i = 0; i < 6; ++i) {
        click(w, 1 + kPeriod1Left[i] + 10, kPeriod1Y);
        typeText(period[i]);
    }
    click(w, kSwitchX, kSwitchY);
    const double ready = secondsSince(program.started());
    ASSERT_LT(ready, lead - 1) << "the period was not set in time";
    EXPECT_EQ(windowTitle(w), "Vesperon");

    const long fullVolume = sinkVolume();
    ASSERT_GT(fullVolume, 0);
    const std::string raw = tracks.dir.file("schedule.raw");
    auto recording = std::make_unique<MonitorRecording>(e2ePulse(), raw, kRate, 2);

    // The start: not before 08:00:00, and within the tick that follows it.
    ASSERT_GE(waitForTitle(w, "播放:a.mp3", lead + 5), 0) << windowTitle(w);
    const double started = secondsSince(program.started());
    EXPECT_GT(started, lead - 0.2);
    EXPECT_LT(started, lead + 2.0);
    EXPECT_NE(settledCaption(w), idleCaption);

    // The end at 08:00:05: the volume falls, playback stops, then the volume is restored.
    long lowest = fullVolume;
    double stopped = -1;
    while (secondsSince(program.started()) < lead + 10) {
        const long v = sinkVolume();
        if (v >= 0) lowest = std::min(lowest, v);
        if (windowTitle(w) == "停止:a.mp3") {
            stopped = secondsSince(program.started());
            break;
        }
    }
    ASSERT_GE(stopped, 0) << windowTitle(w);
    // The caption changes inside the stop; the volume is put back just after it returns.
    EXPECT_EQ(settledSinkVolume(fullVolume, 2), fullVolume) << "the volume was not restored";
    EXPECT_LT(lowest, fullVolume / 2) << "no fade before the stop";
    EXPECT_GT(stopped, lead + 5.3);
    EXPECT_LT(stopped, lead + 5 + 2 + 4.0);
    EXPECT_EQ(settledCaption(w), idleCaption) << "the play button does not show 播放 again";
    sleepMs(800);
    recording->stop();

    // Sound from the start on, silence after the stop although the volume is back.
    const auto level = levels(readPcm16(raw));
    const std::size_t startWindow =
        std::find_if(level.begin(), level.end(), [](double l) { return l > 500; }) - level.begin();
    ASSERT_LT(startWindow + 60, level.size()) << "nothing was heard";
    for (std::size_t i = startWindow + 2; i < startWindow + 60; ++i)
        EXPECT_GT(level[i], 500) << "gap at " << i;
    for (std::size_t i = level.size() - 10; i < level.size(); ++i)
        EXPECT_LT(level[i], 50) << "sound after the stop";
    std::printf("schedule: started %.2f s and stopped %.2f s after launch (period at %.0f s to %.0f s)\n",
                started, stopped, lead, lead + 5);
}

// Asks the window to close as a window manager's close button or a log-out does.
void closeWindow(const std::string& window) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = static_cast<Window>(std::stoul(window));
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
    XCloseDisplay(d);
}

// The system volume is never left lowered, and every way of quitting ends cleanly: two toggles
// in quick succession, SIGTERM during a pause fade, the window closed during a pause fade.
TEST(ProgramE2E, TogglesAndQuitsDuringAFadeLeaveTheVolumeWhereItWas) {
    Tracks tracks;
    ASSERT_TRUE(tracks.ok);
    const std::string status = tracks.dir.file("status");
    for (const char* how : {"SIGTERM", "close"}) {
        SCOPED_TRACE(how);
        ASSERT_EQ(e2ePulse().pactl({"set-sink-volume", e2ePulse().sink(), "60%"}).exitCode, 0);
        const long sixty = sinkVolume();
        ASSERT_NEAR(sixty, 39322, 2);
        // A shell around the program keeps its exit status.
        Program program({"sh", "-c", "\"$0\"; echo $? > " + status});
        ASSERT_FALSE(program.window().empty()) << "the window did not appear";
        const std::string w = program.window();
        ASSERT_TRUE(program.addFilesByDialog(kListX, kListY, tracks.dir.path(), {"a.mp3"}));
        click(w, kPlayX, kPlayY);
        ASSERT_GE(waitForTitle(w, "播放:a.mp3", 5), 0) << windowTitle(w);
        sleepMs(500);

        if (std::string(how) == "SIGTERM") {
            // Pause twice a quarter of a second apart: paused, then playing again, at 60 %.
            key("Pause");
            sleepMs(250);
            key("Pause");
            sleepMs(4000);
            EXPECT_EQ(sinkVolume(), sixty);
            EXPECT_EQ(windowTitle(w), "播放:a.mp3");
        }
        std::string pid;
        ASSERT_TRUE(xdotool({"getwindowpid", w}, &pid));
        key("Pause");
        sleepMs(300);
        const auto asked = Clock::now();
        if (std::string(how) == "SIGTERM")
            ASSERT_EQ(kill(std::stoi(pid), SIGTERM), 0);
        else
            closeWindow(w);
        secondsUntil([&] { return !program.running(); }, 10);
        const double took = secondsSince(asked);
        EXPECT_LT(took, 5.0);
        EXPECT_EQ(trimmed(readFile(status)), "0");
        EXPECT_FALSE(windowShown("^错误$")) << "an error box appeared";
        EXPECT_EQ(sinkVolume(), sixty) << "the volume was left lowered";
        std::printf("%s 0.3 s into a pause fade: exit status %s after %.2f s, sink volume %ld\n", how,
                    trimmed(readFile(status)).c_str(), took, sinkVolume());
    }
}

// Where in track a (sox's sweep from 300 to 2000 Hz over 14 s, exponential) the 0.2 s of the left channel from
// `frame` come from, in seconds, told by the sweep's frequency (upward zero crossings).
double sweepPosition(const std::vector<int16_t>& pcm, std::size_t frame) {
    int cycles = 0;
    bool negative = false;
    for (std::size_t i = frame; i < frame + kRate / 5 && 2 * i < pcm.size(); ++i) {
        if (pcm[2 * i] < -64) negative = true;
        if (negative && pcm[2 * i] > 64) {
            ++cycles;
            negative = false;
        }
    }
    return 14 * std::log(std::max(cycles * 5.0, 1.0) / 300) / std::log(2000.0 / 300);
}

// The sound server killed during play and started again on the same socket: the program plays
// on, its pause fades the new server's sink and puts it back, and SIGTERM still ends it cleanly.
// Last in this file: it replaces the shared server.
TEST(ProgramE2E, PlaysOnAfterTheSoundServerIsKilledAndFadesTheNewServersSink) {
    Tracks tracks;
    ASSERT_TRUE(tracks.ok);
    const std::string status = tracks.dir.file("status");
    Program program({"sh", "-c", "\"$0\"; echo $? > " + status});
    ASSERT_FALSE(program.window().empty()) << "the window did not appear";
    const std::string w = program.window();
    ASSERT_TRUE(program.addFilesByDialog(kListX, kListY, tracks.dir.path(), {"a.mp3"}));
    const std::string before = tracks.dir.file("before.raw"), after = tracks.dir.file("after.raw");
    auto heard = [](const std::string& raw) {
        const auto pcm = readPcm16(raw);
        return 2 * firstSoundFrame(pcm) < pcm.size();
    };
    auto waitHeard = [&](const std::string& raw, double timeout) {
        return secondsUntil([&] { return heard(raw); }, timeout) >= 0;
    };
    auto recording = std::make_unique<MonitorRecording>(e2ePulse(), before, kRate, 2);
    click(w, kPlayX, kPlayY);
    ASSERT_GE(waitForTitle(w, "播放:a.mp3", 5), 0) << windowTitle(w);
    ASSERT_TRUE(waitHeard(before, 10)) << "no sound before the kill";
    sleepMs(3000);

    e2ePulse().kill();
    recording.reset();
    const auto killed = Clock::now();
    std::this_thread::sleep_until(killed + std::chrono::seconds(4));
    const std::string titleWhileAway = windowTitle(w);
    ASSERT_TRUE(e2ePulse().restart()) << "pulseaudio did not start again";
    const auto restarted = Clock::now();
    ASSERT_EQ(e2ePulse().pactl({"set-sink-volume", e2ePulse().sink(), "60%"}).exitCode, 0);
    const long sixty = sinkVolume();
    recording = std::make_unique<MonitorRecording>(e2ePulse(), after, kRate, 2);
    const bool again = waitHeard(after, 10);
    const double soundAfter = secondsSince(restarted);
    const std::string titleAfter = windowTitle(w);
    std::printf("outage: title \"%s\" while the server was away, \"%s\" after; sound again %.2f s after the "
                "restart%s\n",
                titleWhileAway.c_str(), titleAfter.c_str(), soundAfter, again ? "" : " (none heard)");
    ASSERT_TRUE(again) << "no sound within 10 s of the restart";
    EXPECT_LE(soundAfter, 6.0);
    EXPECT_EQ(titleAfter, "播放:a.mp3");

    // Where a went on: near where the sound stopped, not from its start (once enough of it is
    // recorded to place it: a fifth of a second past its first twentieth).
    EXPECT_GE(secondsUntil(
                  [&] {
                      const auto pcm = readPcm16(after);
                      return 2 * (firstSoundFrame(pcm) + kRate / 4) < pcm.size();
                  },
                  5),
              0);
    const auto first = readPcm16(before), second = readPcm16(after);
    std::size_t lastSound = first.size() / 2;
    while (lastSound > 0 && std::abs(first[2 * (lastSound - 1)]) < 64) --lastSound;
    const double stoppedAt = sweepPosition(first, lastSound - std::min<std::size_t>(lastSound, kRate / 4));
    const double resumedAt = sweepPosition(second, firstSoundFrame(second) + kRate / 20);
    std::printf("a was heard up to %.2f s before the kill and went on at %.2f s\n", stoppedAt, resumedAt);
    EXPECT_GT(resumedAt, stoppedAt - 1.5) << "a went back (to its start?)";
    EXPECT_LT(resumedAt, stoppedAt + 2.5) << "a skipped ahead";

    // Pause: the new server's sink falls below half on the way, then is back at 60 %.
    const auto pressed = Clock::now();
    key("Pause");
    long lowest = sixty;
    double paused = -1;
    while (secondsSince(pressed) < 6) {
        const long v = sinkVolume();
        if (v >= 0) lowest = std::min(lowest, v);
        if (windowTitle(w) == "暂停:a.mp3") {
            paused = secondsSince(pressed);
            break;
        }
    }
    const long restored = settledSinkVolume(sixty, 3);
    std::printf("pause on the new server: title \"暂停:\" %.2f s after the key; sink seen down to %ld of %ld, "
                "then %ld\n",
                paused, lowest, sixty, restored);
    EXPECT_GE(paused, 0) << windowTitle(w);
    EXPECT_LT(lowest, sixty / 2) << "the pause did not fade the new server's sink";
    EXPECT_EQ(restored, sixty) << "the volume was not put back";

    // A pause while the server is away has no mixer to fade: it pauses at once and never takes
    // the lost mixer's -1 for the volume to come back to; nor does a resume just after the return.
    key("Pause");
    ASSERT_GE(waitForTitle(w, "播放:a.mp3", 5), 0) << windowTitle(w);
    sleepMs(1500);
    e2ePulse().kill();
    sleepMs(1500);
    key("Pause");
    const double pausedAway = waitForTitle(w, "暂停:a.mp3", 5);
    ASSERT_TRUE(e2ePulse().restart()) << "pulseaudio did not start again";
    ASSERT_EQ(e2ePulse().pactl({"set-sink-volume", e2ePulse().sink(), "60%"}).exitCode, 0);
    key("Pause");
    const double resumedBack = waitForTitle(w, "播放:a.mp3", 5);
    const long afterResume = settledSinkVolume(sixty, 4);
    sleepMs(1500);
    key("Pause");
    const double pausedAgain = waitForTitle(w, "暂停:a.mp3", 5);
    const long afterPause = settledSinkVolume(sixty, 4);
    std::printf("outage pause: \"暂停:\" after %.2f s; resume at the return after %.2f s, sink %ld; pause %.2f s, "
                "sink %ld of %ld\n",
                pausedAway, resumedBack, afterResume, pausedAgain, afterPause, sixty);
    EXPECT_GE(pausedAway, 0) << "no pause while the server was away";
    EXPECT_GE(resumedBack, 0);
    EXPECT_EQ(afterResume, sixty) << "the resume wrote a volume it never read";
    EXPECT_GE(pausedAgain, 0);
    EXPECT_EQ(afterPause, sixty);

    std::string pid;
    ASSERT_TRUE(xdotool({"getwindowpid", w}, &pid));
    const auto asked = Clock::now();
    ASSERT_EQ(kill(std::stoi(pid), SIGTERM), 0);
    secondsUntil([&] { return !program.running(); }, 10);
    const double took = secondsSince(asked);
    std::printf("SIGTERM: exit status %s after %.2f s\n", trimmed(readFile(status)).c_str(), took);
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(trimmed(readFile(status)), "0");
}

}  // namespace
}  // namespace vesperon::test

int main(int argc, char** argv) {
    return vesperon::test::runProgramE2eMain(argc, argv,
                                             {"Xvfb", "xdotool", "pulseaudio", "pactl", "parec", "sox", "lame"});
}
