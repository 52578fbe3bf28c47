// The play log: its lines byte for byte, rotation, and a failing file reported once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>

#include "app/play_log.h"
#include "tests/support/process.h"

namespace vesperon::app {
namespace {

using namespace std::chrono;
using vesperon::test::readFile;
using vesperon::test::TempDir;

// 2026-12-08 16:52:03.123 UTC.
const system_clock::time_point kWhen = sys_days{2026y / 12 / 8} + 16h + 52min + 3s + 123ms;

void setZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

TEST(PlayLog, TimeIsLocalWithMillisecondsAndOffset) {
    const std::pair<const char*, const char*> cases[] = {
        {"Europe/Berlin", "2026-12-08T17:52:03.123+01:00"},
        {"America/St_Johns", "2026-12-08T13:22:03.123-03:30"},
        {"Asia/Kathmandu", "2026-12-08T22:37:03.123+05:45"},
        {"UTC", "2026-12-08T16:52:03.123+00:00"},
    };
    for (const auto& [zone, expected] : cases) {
        setZone(zone);
        EXPECT_EQ(LocalIsoTime(kWhen), expected) << zone;
    }
    EXPECT_EQ(LocalIsoTime(sys_days{1969y / 12 / 31} + 23h + 59min + 59s + 999ms), "1969-12-31T23:59:59.999+00:00");
}

TEST(PlayLog, LinesCarryOnlyTheKeysThatApply) {
    setZone("Europe/Berlin");
    const std::pair<LogEntry, const char*> cases[] = {
        {{LogEvent::ScheduleStart, LogBy::Schedule, "", true},
         R"({"time":"2026-12-08T17:52:03.123+01:00","event":"schedule_start","by":"schedule","missed":true})"},
        {{LogEvent::Track, LogBy::CommandLine, "/音乐/bell.mp3"},
         R"({"time":"2026-12-08T17:52:03.123+01:00","event":"track","path":"/音乐/bell.mp3","by":"command_line"})"},
        {{LogEvent::Quit}, R"({"time":"2026-12-08T17:52:03.123+01:00","event":"quit"})"},
    };
    for (const auto& [entry, expected] : cases) {
        const std::string line = FormatLogLine(entry, kWhen);
        EXPECT_EQ(line, std::string(expected) + "\n");
        QJsonParseError error;
        EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).isObject()) << line;
    }
}

TEST(PlayLog, StringsKeepEveryByteDistinguishable) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/é音🎵.mp3", "\"/a/é音🎵.mp3\""},
        {"say \"hi\" \\", R"("say \"hi\" \\")"},
        {"\t\x01\x1f\x7f", "\"\\u0009\\u0001\\u001f\x7f\""},
        {"caf\xE9.mp3", R"("caf\udce9.mp3")"},                            // Latin-1
        {"\xC0\xAF", R"("\udcc0\udcaf")"},                                // overlong '/'
        {"\xED\xA0\x80", R"("\udced\udca0\udc80")"},                      // a surrogate
        {"\xF4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},            // past U+10FFFF
        {"x\xE4\xB8", R"("x\udce4\udcb8")"},                              // cut short
        {"\xE4\xB8\"", R"("\udce4\udcb8\"")"},                            // cut short by a quote
    };
    for (const auto& [bytes, expected] : cases) {
        std::string out;
        AppendJsonString(out, bytes);
        EXPECT_EQ(out, expected) << bytes;
    }
}

TEST(PlayLog, DefaultPlaceFollowsXdgStateHome) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::string before = saved ? saved : "";
    setenv("HOME", "/home/bell", 1);
    setenv("XDG_STATE_HOME", "/var/state", 1);
    EXPECT_EQ(DefaultPlayLogPath(), "/var/state/vesperon/play.log");
    setenv("XDG_STATE_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(DefaultPlayLogPath(), "/home/bell/.local/state/vesperon/play.log");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(DefaultPlayLogPath(), "/home/bell/.local/state/vesperon/play.log");
    setenv("HOME", home.c_str(), 1);
    if (saved) setenv("XDG_STATE_HOME", before.c_str(), 1);
}

TEST(PlayLog, RotatesKeepingOneOldFile) {
    TempDir dir;
    const std::string path = dir.file("state/vesperon/play.log");
    const std::string line = FormatLogLine({LogEvent::Track, LogBy::Schedule, "/m/01.mp3"}, kWhen);
    std::string all;
    {
        PlayLog log(path, {.createDirectory = true, .rotateBytes = 3 * line.size() + 10});
        for (int i = 0; i < 10; ++i) log.record({LogEvent::Track, LogBy::Schedule, "/m/" + std::to_string(10 + i) + ".mp3"});
    }
    const std::string current = readFile(path), old = readFile(path + ".1");
    struct stat st {};
    EXPECT_NE(::stat((path + ".2").c_str(), &st), 0);
    // Lines 16..18 in the old file, 19 in the current one; each file within the size.
    EXPECT_EQ(std::count(old.begin(), old.end(), '\n'), 3) << old;
    EXPECT_NE(old.find("/m/16.mp3"), std::string::npos) << old;
    EXPECT_EQ(std::count(current.begin(), current.end(), '\n'), 1) << current;
    EXPECT_NE(current.find("/m/19.mp3"), std::string::npos) << current;
    EXPECT_LE(old.size(), 3 * line.size() + 10);
}

TEST(PlayLog, AFailingFileIsReportedOnceAndItsRecoveryOnce) {
    TempDir dir;
    const std::string path = dir.file("gone/play.log");
    std::string text;
    const auto collect = [&](const std::string& line) { text += line + "\n"; };
    {
        PlayLog log(path, {.tell = collect});  // a chosen file's folder is not made
        for (int i = 0; i < 3; ++i) log.record({LogEvent::Pause, LogBy::Hotkey});
        log.flush();
        ASSERT_EQ(::mkdir(dir.file("gone").c_str(), 0700), 0);
        log.record({LogEvent::Resume, LogBy::Mpris});
        log.record({LogEvent::Stop, LogBy::Window});
    }
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
    EXPECT_NE(text.find("cannot be written (" + path + ": open: No such file or directory)"), std::string::npos) << text;
    EXPECT_NE(text.find("written again"), std::string::npos) << text;
    const std::string written = readFile(path);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2) << written;
    EXPECT_NE(written.find("\"event\":\"resume\",\"by\":\"mpris\""), std::string::npos) << written;
}

}  // namespace
}  // namespace vesperon::app
