// A schedule that runs unattended, on the real clock: `vesperon --session FILE` on a private
// Xvfb and a PulseAudio null sink at 60 %, with a period that starts a few seconds ahead. The
// title is watched through X property events; the sound is recorded from the sink's monitor and
// compared with a reference made in the same run (paplay started on a second, the sink faded
// with pactl 6 s later), since the monitor delays every stream's first sound by its own amount.

#include <gtest/gtest.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/audio_compare.h"
#include "tests/support/e2e_program.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"

// Xlib's macros clash with GoogleTest, so it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace vesperon::test {
namespace {

constexpr int kRate = 44100;

double wallNow() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}
void sleepUntilWall(double t) {
    const double left = t - wallNow();
    if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left));
}


// The window's title as X property events report it, with the wall time each change arrived.
class TitleWatch {
public:
    explicit TitleWatch(unsigned long window) : d_(XOpenDisplay(nullptr)), w_(window) {
        if (!d_) return;
        name_ = XInternAtom(d_, "_NET_WM_NAME", False);
        utf8_ = XInternAtom(d_, "UTF8_STRING", False);
        XSelectInput(d_, w_, PropertyChangeMask);
        XFlush(d_);
    }
    ~TitleWatch() {
        if (d_) XCloseDisplay(d_);
    }
    std::string title() {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(d_, w_, name_, 0, 4096, False, utf8_, &type, &format, &count, &after, &data) ==
                Success &&
            data) {
            out.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        return out;
    }
    // Waits until the title starts with `prefix`; the wall time it was seen, or -1.
    double waitFor(const std::string& prefix, double timeoutSeconds) {
        if (!d_) return -1;
        const double end = wallNow() + timeoutSeconds;
        if (title().rfind(prefix, 0) == 0) return wallNow();
        while (wallNow() < end) {
            while (XPending(d_)) {
                XEvent e;
                XNextEvent(d_, &e);
                if (e.type == PropertyNotify && e.xproperty.atom == name_) {
                    const double at = wallNow();
                    if (title().rfind(prefix, 0) == 0) return at;
                }
            }
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(ConnectionNumber(d_), &fds);
            timeval tv{0, 20000};
            select(ConnectionNumber(d_) + 1, &fds, nullptr, nullptr, &tv);
        }
        return -1;
    }

private:
    Display* d_;
    Window w_;
    Atom name_ = 0, utf8_ = 0;
};

// From the first sound to the start of the fade, in seconds: levels over 10 ms windows; the fade
// starts at the first window, a second or more into the sound, below 95 % of the steady level
// with the level well down 0.2 s later (a dropout of the sound server is not a fade).
struct Timing {
    double firstSound = -1, fadeStart = -1, steady = 0;
    double length() const { return fadeStart - firstSound; }
};
Timing measure(const std::vector<int16_t>& pcm) {
    Timing t;
    const std::size_t frames = pcm.size() / 2, window = kRate / 100;
    std::size_t first = 0;
    while (first < frames && std::abs(pcm[2 * first]) < 64) ++first;
    if (first + 5 * kRate > frames) return t;
    t.firstSound = double(first) / kRate;
    std::vector<double> level;
    for (std::size_t f = first; f + window <= frames; f += window) {
        double sum = 0;
        for (std::size_t i = f; i < f + window; ++i) sum += double(pcm[2 * i]) * pcm[2 * i];
        level.push_back(std::sqrt(sum / window));
    }
    std::vector<double> middle(level.begin() + 50, level.begin() + 450);
    std::sort(middle.begin(), middle.end());
    t.steady = middle[middle.size() / 2];
    for (std::size_t i = 100; i + 20 < level.size(); ++i)
        if (level[i] < 0.95 * t.steady && level[i + 20] < 0.7 * t.steady) {
            t.fadeStart = t.firstSound + double(i) / 100;
            break;
        }
    return t;
}

TEST(SessionE2E, AScheduleFromTheSessionStartsOnItsSecondFadesAtItsEndAndSurvivesSigterm) {
    TempDir dir;
    const std::string mp3 = encodedTone(ToneRecipe(12, kRate, 2, {"sine", "440", "vol", "0.5"}),
                                        {"lame", "--quiet", "-b", "192"}, dir.file("tone.mp3"));
    const std::string decoded = dir.file("decoded.wav");
    ASSERT_FALSE(mp3.empty());
    ASSERT_EQ(runCommand({std::string(VESPERON_BINARY_DIR) + "/tools/vesperon-decode", mp3, decoded}).exitCode, 0);
    ASSERT_EQ(e2ePulse().pactl({"set-sink-volume", e2ePulse().sink(), "60%"}).exitCode, 0);
    const long full = sinkVolume();
    ASSERT_GT(full, 0);

    // The reference: a fresh stream started on a second, the sink faded as the player fades it
    // (50 steps about 20 ms apart), 6 s later, then put back.
    Timing reference;
    {
        const std::string raw = dir.file("reference.raw");
        auto recording = std::make_unique<MonitorRecording>(e2ePulse(), raw, kRate, 2);
        const double second = std::floor(wallNow()) + 1;
        sleepUntilWall(second + 0.002);
        BackgroundProcess player({"paplay", "-d", e2ePulse().sink(), decoded});
        sleepUntilWall(second + 6.002);
        for (int i = 1; i <= 50; ++i) {
            setSinkVolume(std::to_string(full - full / 50 * i));
            sleepUntilWall(second + 6.002 + 0.02 * i);
        }
        setSinkVolume("0");
        player.stop();
        setSinkVolume(std::to_string(full));
        sleepMs(1500);
        recording->stop();
        reference = measure(readPcm16(raw));
    }
    ASSERT_GT(reference.fadeStart, 0) << "the reference recording holds no fade";

    // The session: the file, one period from 9 s ahead lasting 6 s, the schedule on.
    const std::time_t start = std::time(nullptr) + 9, end = start + 6;
    std::tm from{}, to{};
    localtime_r(&start, &from);
    localtime_r(&end, &to);
    const std::string session = dir.file("session.json");
    const auto texts = [](const std::tm& t) {
        return "[\"" + std::to_string(t.tm_hour) + "\", \"" + std::to_string(t.tm_min) + "\", \"" + std::to_string(t.tm_sec) + "\"]";
    };
    std::string periods = "{\"from\": " + texts(from) + ", \"to\": " + texts(to) + "}";
    for (int i = 0; i < 4; ++i) periods += R"(, {"from": ["", "", ""], "to": ["", "", ""]})";
    writeFile(session, "{\"version\": 1, \"playlist\": [\"" + mp3 + "\"], \"periods\": [" + periods +
                           "], \"random\": false, \"loop\": false, \"schedule\": true}\n");

    const std::string raw = dir.file("program.raw");
    auto recording = std::make_unique<MonitorRecording>(e2ePulse(), raw, kRate, 2);
    BackgroundProcess program({vesperonPath(), "--session", session},
                              {"QT_QPA_PLATFORM=xcb", "VESPERON_AUDIO_OUTPUT=" + e2eAudioOutput()});
    const std::string id = findWindow("^Vesperon$", 8);
    ASSERT_FALSE(id.empty()) << "the window did not appear";
    TitleWatch watch(std::stoul(id));
    ASSERT_LT(wallNow(), double(start) - 0.5) << "the program was not up before the period's start";
    EXPECT_EQ(watch.title(), "Vesperon");

    const double playing = watch.waitFor("播放:", double(start) - wallNow() + 5);
    ASSERT_GT(playing, 0) << "no start: " << watch.title();
    const double stopped = watch.waitFor("停止:", double(end) - wallNow() + 8);
    ASSERT_GT(stopped, 0) << "no end: " << watch.title();
    const long after = settledSinkVolume(full, 3);
    sleepMs(1500);
    recording->stop();
    const Timing heard = measure(readPcm16(raw));

    std::printf(
        "session schedule: title \"播放:\" %.3f s after the start second, \"停止:\" %.3f s after the end "
        "second; first sound to fade start %.3f s, reference (paplay + pactl) %.3f s, difference %+.3f s; "
        "first sound %.3f s into its recording (reference %.3f s); sink volume %ld of %ld afterwards\n",
        playing - double(start), stopped - double(end), heard.length(), reference.length(),
        heard.length() - reference.length(), heard.firstSound, reference.firstSound, after, full);
    // The figures above are the measurement (about 0.01 s and within 0.05 s of the reference on a
    // quiet machine); the bounds below only catch a start or fade that missed its second, since a
    // machine shared with other tests can hold any process back for a few tenths.
    EXPECT_GE(playing, double(start));
    EXPECT_LT(playing - double(start), 0.5);
    ASSERT_GT(heard.fadeStart, 0) << "nothing was heard, or no fade";
    EXPECT_NEAR(heard.length(), reference.length(), 0.5);
    EXPECT_EQ(after, full) << "the volume is not back at 60 %";

    program.stop();  // SIGTERM
    const std::string kept = readFile(session);
    EXPECT_NE(kept.find("\"schedule\": true"), std::string::npos) << kept;
    EXPECT_NE(kept.find("\"" + mp3 + "\""), std::string::npos) << kept;
}

}  // namespace
}  // namespace vesperon::test

int main(int argc, char** argv) {
    return vesperon::test::runProgramE2eMain(
        argc, argv, {"Xvfb", "xdotool", "pulseaudio", "pactl", "parec", "paplay", "sox", "lame"});
}
