// The week's schedule as a school or a shop meets it, on the real clock: `vesperon` with a
// session file of version 2 (days per period, rest days) and `--log FILE`, its play log read
// back. Under a private Xvfb: a period limited to another day stays silent, a rest day silences
// all, a start inside a period plays at once. With no display at all: the schedule plays from
// `--no-window`, MPRIS sees it, SIGTERM ends it cleanly. With the hot keys held by another X
// client (as on Wayland): the command line's files and the schedule are in place while the box
// that says so is still open. Sound goes into a PulseAudio null sink whose monitor is recorded.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/e2e_program.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"

// Xlib's macros clash with GoogleTest, so it comes last.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace vesperon::test {
namespace {

std::string playerTitle() {
    return playerctl({"metadata", "xesam:title"});
}

std::tm localAt(std::time_t t) {
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}
int isoWeekday(std::time_t t) {
    const int w = localAt(t).tm_wday;
    return w == 0 ? 7 : w;
}
std::string isoDate(std::time_t t) {
    char text[16];
    const std::tm tm = localAt(t);
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}
// Days and rest days go by the date: a test that needs the next `seconds` waits out midnight.
void clearOfMidnight(int seconds) {
    const std::tm now = localAt(std::time(nullptr));
    const int left = 86400 - (now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec);
    if (left <= seconds) sleepMs((left + 2) * 1000);
}

struct Period {
    std::time_t from = 0, to = 0;
    std::string days;  // "" for every day, else the JSON list, e.g. "[1, 3]"
};

// A session file of version 2: the playlist, the periods (the rest left empty), the rest days
// (a JSON list, or "" for none), the schedule on.
std::string sessionText(const std::vector<std::string>& playlist, const std::vector<Period>& periods,
                        const std::string& rest) {
    const auto boxes = [](std::time_t t) {
        const std::tm tm = localAt(t);
        return "[\"" + std::to_string(tm.tm_hour) + "\", \"" + std::to_string(tm.tm_min) + "\", \"" +
               std::to_string(tm.tm_sec) + "\"]";
    };
    std::string text = "{\"version\": 2, \"playlist\": [";
    for (std::size_t i = 0; i < playlist.size(); ++i) text += (i ? ", \"" : "\"") + playlist[i] + "\"";
    text += "], \"periods\": [";
    for (std::size_t i = 0; i < 5; ++i) {
        if (i) text += ", ";
        if (i >= periods.size()) {
            text += R"({"from": ["", "", ""], "to": ["", "", ""]})";
            continue;
        }
        text += "{\"from\": " + boxes(periods[i].from) + ", \"to\": " + boxes(periods[i].to);
        if (!periods[i].days.empty()) text += ", \"days\": " + periods[i].days;
        text += "}";
    }
    text += "]";
    if (!rest.empty()) text += ", \"rest\": " + rest;
    return text + ", \"random\": false, \"loop\": false, \"schedule\": true}\n";
}

// One line of the play log, as far as these tests look.
struct Logged {
    std::string event, by, path;
    bool missed = false;
};
std::string field(const std::string& line, const std::string& key) {
    const std::string open = "\"" + key + "\":\"";
    const auto at = line.find(open);
    if (at == std::string::npos) return "";
    const auto from = at + open.size();
    return line.substr(from, line.find('"', from) - from);
}
std::vector<Logged> readLog(const std::string& path) {
    std::vector<Logged> out;
    const std::string text = readFile(path);
    std::size_t from = 0;
    while (from < text.size()) {
        const auto end = text.find('\n', from);
        const std::string line = text.substr(from, end - from);
        if (!line.empty())
            out.push_back({field(line, "event"), field(line, "by"), field(line, "path"),
                           line.find("\"missed\":true") != std::string::npos});
        if (end == std::string::npos) break;
        from = end + 1;
    }
    return out;
}
int countOf(const std::vector<Logged>& log, const std::string& event) {
    int n = 0;
    for (const Logged& l : log) n += l.event == event;
    return n;
}
std::string describe(const std::vector<Logged>& log) {
    std::string out;
    for (const Logged& l : log)
        out += l.event + (l.by.empty() ? "" : " by " + l.by) + (l.missed ? " missed" : "") +
               (l.path.empty() ? "" : " " + l.path.substr(l.path.rfind('/') + 1)) + "; ";
    return out.empty() ? "(empty)" : out;
}

// `vesperon ARGS` under sh, which writes the program's pid, its standard error and, once it ends,
// its exit status: SIGTERM goes to the program itself and the test reads how it ended. Without a
// display the program gets no DISPLAY, no WAYLAND_DISPLAY and no platform chosen for it.
class Launch {
public:
    Launch(const TempDir& dir, const std::vector<std::string>& args, bool display)
        : pidFile_(dir.file("pid")), statusFile_(dir.file("status")), errFile_(dir.file("stderr")) {
        std::remove(pidFile_.c_str());
        std::remove(statusFile_.c_str());
        const std::string script = "\"$@\" 2> '" + errFile_ + "' & echo $! > '" + pidFile_ +
                                   "'; wait $!; echo $? > '" + statusFile_ + "'";
        std::vector<std::string> argv{"sh", "-c", script, "sh"};
        if (!display)
            argv.insert(argv.end(),
                        {"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"});
        argv.push_back(vesperonPath());
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env{"VESPERON_AUDIO_OUTPUT=alsa", "XDG_STATE_HOME=" + dir.file("state")};
        if (display) env.push_back("QT_QPA_PLATFORM=xcb");
        proc_ = std::make_unique<BackgroundProcess>(argv, env);
        secondsUntil([&] { return !trimmed(readFile(pidFile_)).empty(); }, 10);
    }
    bool ended() const { return !trimmed(readFile(statusFile_)).empty(); }
    // For failure messages: how it ended, if it has, and what it said on standard error.
    std::string said() const {
        return (ended() ? "exit " + trimmed(readFile(statusFile_)) : std::string("running")) +
               "; stderr: " + trimmed(readFile(errFile_));
    }
    // SIGTERM; the exit status, or -1 when it did not end within 15 s.
    int terminate() {
        const std::string pid = trimmed(readFile(pidFile_));
        if (pid.empty() || ended()) return ended() ? std::stoi(trimmed(readFile(statusFile_))) : -1;
        kill(std::stoi(pid), SIGTERM);
        if (secondsUntil([&] { return ended(); }, 15) < 0) return -1;
        return std::stoi(trimmed(readFile(statusFile_)));
    }
    // The program's window, waiting up to 20 s; "" when none appeared or the program ended. By
    // the process, not the title: a start inside a period may have set "播放:..." before it maps.
    std::string window() const {
        std::string id;
        secondsUntil(
            [&] {
                xdotool({"search", "--onlyvisible", "--pid", trimmed(readFile(pidFile_)), "--name", "."},
                        &id);
                id = id.substr(0, id.find('\n'));
                return !id.empty() || ended();
            },
            20);
        return id;
    }

private:
    std::string pidFile_, statusFile_, errFile_;
    std::unique_ptr<BackgroundProcess> proc_;
};

class WeekE2E : public ::testing::Test {
protected:
    void SetUp() override {
        tone = encodedTone(ToneRecipe(40, 44100, 2, {"sine", "440", "vol", "0.5"}), kLame128,
                           dir.file("tone.mp3"));
        ASSERT_FALSE(tone.empty());
        ASSERT_EQ(e2ePulse().pactl({"set-sink-volume", e2ePulse().sink(), "60%"}).exitCode, 0);
        full = sinkVolume();
        ASSERT_GT(full, 0);
    }
    std::vector<std::string> sessionArgs(const std::string& text) {
        writeFile(session, text);
        return {"--session", session, "--log", log};
    }
    // Watches the window's title from now until `until` (wall clock); the titles seen, in order.
    static std::vector<std::string> titlesUntil(const std::string& window, std::time_t until) {
        std::vector<std::string> seen;
        while (std::time(nullptr) < until) {
            const std::string t = windowTitle(window);
            if (seen.empty() || seen.back() != t) seen.push_back(t);
            sleepMs(100);
        }
        return seen;
    }
    static std::string joined(const std::vector<std::string>& v) {
        std::string out;
        for (const auto& s : v) out += (out.empty() ? "" : " | ") + s;
        return out;
    }

    TempDir dir;
    std::string tone;
    long full = 0;
    const std::string session = dir.file("session.json"), log = dir.file("play.log"),
                      raw = dir.file("heard.raw");
};

// Two periods, one for today and one for another day of the week: only today's fires, once.
TEST_F(WeekE2E, APeriodForAnotherDayStaysSilent) {
    clearOfMidnight(60);
    const std::time_t now = std::time(nullptr);
    const int today = isoWeekday(now), other = today % 7 + 1;
    const Period mine{now + 10, now + 14, "[" + std::to_string(today) + "]"};
    const Period theirs{now + 18, now + 22, "[" + std::to_string(other) + "]"};
    MonitorRecording recording(e2ePulse(), raw, 44100, 2);
    Launch run(dir, sessionArgs(sessionText({tone}, {mine, theirs}, "")), true);
    const std::string w = run.window();
    ASSERT_FALSE(w.empty()) << "the window did not appear: " << run.said();
    ASSERT_LT(std::time(nullptr), mine.from) << "the program was not up before the first start";
    const auto titles = titlesUntil(w, theirs.to + 3);
    const int status = run.terminate();
    const auto logged = readLog(log);
    std::printf("today %d, other %d: titles %s; log %s\n", today, other, joined(titles).c_str(),
                describe(logged).c_str());
    // Vesperon, 播放:tone.mp3, 停止:tone.mp3 and nothing after.
    ASSERT_GE(titles.size(), 3u) << joined(titles);
    EXPECT_EQ(titles[1], "播放:tone.mp3");
    EXPECT_EQ(titles.back().rfind("停止:", 0), 0u) << joined(titles);
    EXPECT_EQ(std::count_if(titles.begin(), titles.end(), [](auto& t) { return t.rfind("播放:", 0) == 0; }),
              1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(countOf(logged, "schedule_start"), 1) << describe(logged);
    EXPECT_EQ(countOf(logged, "schedule_end"), 1) << describe(logged);
    EXPECT_EQ(countOf(logged, "track"), 1) << describe(logged);
    for (const Logged& l : logged) {
        if (l.event == "track") {
            EXPECT_EQ(l.path, tone);
        }
        if (l.event.rfind("schedule_", 0) == 0) {
            EXPECT_EQ(l.by, "schedule");
        }
        EXPECT_FALSE(l.missed) << l.event;
    }
    EXPECT_EQ(logged.empty() ? "" : logged.back().event, "quit");
    // Saved on the way out, the week is kept.
    const std::string kept = readFile(session);
    EXPECT_NE(kept.find("\"version\": 2"), std::string::npos) << kept;
    EXPECT_NE(kept.find("\"days\""), std::string::npos) << kept;
}

// Today a rest day, on its own or inside a range: the period's start passes in silence.
TEST_F(WeekE2E, ARestDayTodayFiresNothing) {
    for (bool single : {true, false}) {
        clearOfMidnight(30);
        const std::time_t today = std::time(nullptr);
        const std::string rest = single ? "[\"2001-01-01\", \"" + isoDate(today) + "\"]"
                                        : "[{\"from\": \"" + isoDate(today - 2 * 86400) + "\", \"to\": \"" +
                                              isoDate(today + 2 * 86400) + "\"}]";
        const std::time_t now = std::time(nullptr);
        const Period every{now + 8, now + 11, ""};
        MonitorRecording recording(e2ePulse(), raw, 44100, 2);
        Launch run(dir, sessionArgs(sessionText({tone}, {every}, rest)), true);
        const std::string w = run.window();
        ASSERT_FALSE(w.empty()) << "the window did not appear: " << run.said();
        const auto titles = titlesUntil(w, every.to + 3);
        const bool sound = heard(raw);
        EXPECT_EQ(run.terminate(), 0);
        const auto logged = readLog(log);
        std::printf("rest %s: titles %s; sound %s; log %s\n", rest.c_str(), joined(titles).c_str(),
                    sound ? "heard" : "none", describe(logged).c_str());
        EXPECT_EQ(titles, std::vector<std::string>{"Vesperon"}) << rest;
        EXPECT_FALSE(sound) << rest;
        EXPECT_EQ(countOf(logged, "schedule_start") + countOf(logged, "track"), 0) << describe(logged);
        std::remove(log.c_str());
        std::remove(raw.c_str());
    }
}

// Started inside a period whose schedule is on (a shop's PC rebooted at 10:05): the start is
// taken at once, marked missed; the figure printed is the measurement of "at once".
TEST_F(WeekE2E, AStartInsideAPeriodPlaysAsTheWindowAppears) {
    clearOfMidnight(120);
    const std::time_t now = std::time(nullptr);
    MonitorRecording recording(e2ePulse(), raw, 44100, 2);
    Launch run(dir, sessionArgs(sessionText({tone}, {{now - 60, now + 90, ""}}, "")), true);
    const std::string w = run.window();
    ASSERT_FALSE(w.empty()) << "the window did not appear: " << run.said();
    const double sound = secondsUntil([&] { return heard(raw); }, 10);
    const std::string title = windowTitle(w);
    EXPECT_EQ(run.terminate(), 0);
    const auto logged = readLog(log);
    std::printf(
        "start inside a period: sound %.3f s after the window appeared (polled every 50 ms); title "
        "\"%s\"; log %s\n",
        sound, title.c_str(), describe(logged).c_str());
    ASSERT_GE(sound, 0) << "no sound within 10 s of the window";
    EXPECT_LT(sound, 3.0) << "the missed start was not taken at once";
    EXPECT_EQ(title, "播放:tone.mp3");
    ASSERT_GE(logged.size(), 2u) << describe(logged);
    EXPECT_EQ(logged[0].event, "schedule_start");
    EXPECT_TRUE(logged[0].missed);
    EXPECT_EQ(logged[1].event, "track");
    EXPECT_EQ(logged[1].path, tone);
}

// No display at all, with and without --no-window: the schedule plays at its second, MPRIS
// sees it, and SIGTERM ends the program (exit 0) with the sink's volume where it was.
TEST_F(WeekE2E, WithoutADisplayTheSchedulePlaysAndSigtermEndsCleanly) {
    for (bool noWindow : {true, false}) {
        clearOfMidnight(40);
        const std::time_t now = std::time(nullptr);
        const Period period{now + 8, now + 30, ""};
        std::vector<std::string> args = sessionArgs(sessionText({tone}, {period}, ""));
        if (noWindow) args.push_back("--no-window");
        MonitorRecording recording(e2ePulse(), raw, 44100, 2);
        Launch run(dir, args, false);
        const double player =
            secondsUntil([&] { return playerctl({"status"}) == "Stopped" || run.ended(); }, 20);
        ASSERT_TRUE(player >= 0 && !run.ended())
            << "no MPRIS player: status \"" << playerctl({"status"}) << "\""
            << ", " << run.said();
        ASSERT_LT(std::time(nullptr), period.from) << "the program was not up before the start";
        const double playing = secondsUntil([] { return playerctl({"status"}) == "Playing"; },
                                            double(period.from - std::time(nullptr)) + 6);
        const double late = playing < 0 ? -1 : double(std::time(nullptr)) - double(period.from);
        const double sound = secondsUntil([&] { return heard(raw); }, 5);
        const std::string title = playerTitle();
        sleepMs(1000);
        const int status = run.terminate();
        const long after = sinkVolume();
        const auto logged = readLog(log);
        std::printf(
            "%s: MPRIS up after %.2f s; Playing %.0f s after the start second; sound %s; exit %d; "
            "volume %ld of %ld; log %s\n",
            noWindow ? "--no-window" : "no display", player, late, sound < 0 ? "none" : "heard", status,
            after, full, describe(logged).c_str());
        ASSERT_GE(playing, 0) << "the schedule did not play";
        EXPECT_LE(late, 1.0);
        EXPECT_GE(sound, 0) << "nothing was heard";
        EXPECT_EQ(title, "tone.mp3");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(after, full) << "the volume is not back";
        EXPECT_EQ(countOf(logged, "schedule_start"), 1) << describe(logged);
        EXPECT_EQ(logged.empty() ? "" : logged.back().event, "quit");
        std::remove(log.c_str());
        std::remove(raw.c_str());
    }
}

// The hot keys held by another client, as when a Wayland compositor refuses them: the box that
// says so shows, and while it is still open the command line's files are in the list, MPRIS
// answers and the session's schedule plays.
TEST_F(WeekE2E, WithTheHotKeysRefusedFilesAndScheduleRunWhileTheBoxIsOpen) {
    const std::string b =
        encodedTone(ToneRecipe(30, 44100, 2, {"sine", "660", "vol", "0.5"}), kLame128, dir.file("B.mp3"));
    const std::string c =
        encodedTone(ToneRecipe(30, 44100, 2, {"sine", "880", "vol", "0.5"}), kLame128, dir.file("C.mp3"));
    ASSERT_FALSE(b.empty() || c.empty());
    // Held until the end of the test, whichever way it ends.
    const std::unique_ptr<Display, int (*)(Display*)> holder(XOpenDisplay(nullptr), XCloseDisplay);
    Display* other = holder.get();
    ASSERT_NE(other, nullptr);
    for (KeySym key : {XK_Pause, XK_Page_Down})
        XGrabKey(other, XKeysymToKeycode(other, key), AnyModifier, DefaultRootWindow(other), True,
                 GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    clearOfMidnight(60);
    const std::time_t now = std::time(nullptr);
    const Period period{now + 12, now + 40, ""};
    std::vector<std::string> args = sessionArgs(sessionText({}, {period}, ""));
    args.insert(args.end(), {b, c});
    MonitorRecording recording(e2ePulse(), raw, 44100, 2);
    Launch run(dir, args, true);
    const double box = secondsUntil([&] { return windowShown("^错误$") || run.ended(); }, 20);
    ASSERT_TRUE(box >= 0 && !run.ended()) << "no box about the hot keys: " << run.said();
    const double player = secondsUntil([] { return playerctl({"status"}) == "Stopped"; }, 10);
    const std::string first = playerTitle();
    ASSERT_LT(std::time(nullptr), period.from) << "the program was not up before the start";
    const double playing = secondsUntil([] { return playerctl({"status"}) == "Playing"; },
                                        double(period.from - std::time(nullptr)) + 6);
    const double sound = secondsUntil([&] { return heard(raw); }, 5);
    const std::string played = playerTitle();
    playerctl({"next"});
    std::string afterNext;
    secondsUntil([&] { return (afterNext = playerTitle()) != played; }, 5);
    const bool boxStillOpen = windowShown("^错误$");
    std::printf(
        "hot keys refused: box after %.2f s; MPRIS %.2f s later, title \"%s\"; Playing %s; sound %s; "
        "played \"%s\", next \"%s\"; box %s\n",
        box, player, first.c_str(), playing < 0 ? "never" : "yes", sound < 0 ? "none" : "heard",
        played.c_str(), afterNext.c_str(), boxStillOpen ? "still open" : "gone");
    EXPECT_GE(player, 0) << "MPRIS did not answer while the box was open";
    EXPECT_EQ(first, "B.mp3");
    EXPECT_GE(playing, 0) << "the schedule did not play while the box was open";
    EXPECT_GE(sound, 0);
    // Both files are in the list: the one played and the next are B and C.
    EXPECT_TRUE((played == "B.mp3" && afterNext == "C.mp3") || (played == "C.mp3" && afterNext == "B.mp3"))
        << played << " then " << afterNext;
    EXPECT_TRUE(boxStillOpen);
    EXPECT_EQ(run.terminate(), 0);
}

}  // namespace
}  // namespace vesperon::test

int main(int argc, char** argv) {
    return vesperon::test::runProgramE2eMain(
        argc, argv,
        {"Xvfb", "xdotool", "pulseaudio", "pactl", "parec", "playerctl", "dbus-daemon", "sox", "lame"}, true);
}
