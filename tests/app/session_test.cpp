// The session file without a window: what is read, what is refused, what is written, and the
// command line and tick phase that go with it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <climits>
#include <unistd.h>


#include "app/logic.h"
#include "app/schedule_tick.h"
#include "app/session_file.h"
#include "app/session_lock.h"
#include "tests/support/process.h"

namespace vesperon::app {
namespace {

using namespace std::chrono;

using vesperon::test::readFile;
using vesperon::test::TempDir;
using vesperon::test::writeFile;

SessionData sample() {
    SessionData d;
    // Quotes, backslashes, a control character, CJK, bytes that are not UTF-8 and a byte-order
    // mark leading a string all survive.
    d.playlist = {"/music/bell.mp3", "/音乐/\"开场\" \\ 1.mp3", "/odd/\t\x01name.mp3", "/latin1/caf\xE9.mp3",
                  "\xEF\xBB\xBF/bom.mp3"};
    d.periods[0] = {{"8", "0", "0"}, {"8", "45", "0"}};
    d.periods[4] = {{"-", "", "07"}, {"23", "59", "59"}};
    d.loop = true;
    d.schedule = true;
    return d;
}

// The session a text holds; a refusal fails the test with its reason.
SessionData parsed(std::string_view text) {
    Result<SessionData> r = ParseSession(text);
    EXPECT_TRUE(r) << r.error << "\n" << text.substr(0, 300);
    return r.value;
}

// The session a file holds; missing or refused fails the test.
SessionData readBack(const std::string& path) {
    Result<std::optional<SessionData>> r = ReadSessionFile(path);
    EXPECT_TRUE(r && r.value) << path << ": " << (r ? "missing" : r.error);
    return r && r.value ? *r.value : SessionData{};
}

TEST(SessionFile, WhatIsWrittenReadsBackTheSameAndKeepsTheDocumentedShape) {
    const SessionData d = sample();
    const std::string text = FormatSession(d);
    EXPECT_EQ(parsed(text), d);
    EXPECT_NE(text.find("{\"version\": 1,"), std::string::npos) << text;
    EXPECT_NE(text.find("{\"from\": [\"8\", \"0\", \"0\"], \"to\": [\"8\", \"45\", \"0\"]}"), std::string::npos);
    EXPECT_NE(text.find("\"random\": false, \"loop\": true, \"schedule\": true}"), std::string::npos);
    EXPECT_NE(text.find("caf\\udce9.mp3"), std::string::npos) << "a byte that is not UTF-8";
    // The open dialog's folder: written only once there is one, read back with any bytes.
    EXPECT_EQ(text.find("folder"), std::string::npos) << text;
    SessionData withFolder = d;
    withFolder.folder = "/音乐/caf\xE9";
    EXPECT_EQ(parsed(FormatSession(withFolder)), withFolder);

    // Days or rest days make it version 2, in the same layout; without them it stays version 1.
    SessionData week = d;
    week.periods[0].days = kWorkDays;
    week.periods[2].days = 0;  // never
    week.rest = {{sys_days{2026y / 12 / 25}, sys_days{2026y / 12 / 25}}, {sys_days{2027y / 1 / 1}, sys_days{2027y / 1 / 3}}};
    const std::string text2 = FormatSession(week);
    EXPECT_EQ(parsed(text2), week);
    EXPECT_EQ(text2.rfind("{\"version\": 2,", 0), 0u) << text2;
    EXPECT_NE(text2.find("\"to\": [\"8\", \"45\", \"0\"], \"days\": [1, 2, 3, 4, 5]}"), std::string::npos) << text2;
    EXPECT_NE(text2.find("\"to\": [\"\", \"\", \"\"], \"days\": []}"), std::string::npos) << text2;
    EXPECT_NE(text2.find("],\n \"rest\": [\"2026-12-25\", {\"from\": \"2027-01-01\", \"to\": \"2027-01-03\"}],\n \"random\""),
              std::string::npos)
        << text2;
    week.periods[0].days = week.periods[2].days = kEveryDay;
    week.rest.clear();
    EXPECT_EQ(FormatSession(week), text);

    // The starts taken and whether the music was stopped since: in any version, left out unset.
    SessionData restart = d;
    restart.started[1] =
        std::int64_t{sys_days{2026y / 12 / 8}.time_since_epoch().count()} * 86400 + 8 * 3600 + 5;
    restart.stopped = true;
    const std::string text3 = FormatSession(restart);
    EXPECT_EQ(parsed(text3), restart);
    EXPECT_EQ(text3.rfind("{\"version\": 1,", 0), 0u) << text3;
    EXPECT_NE(text3.find("\"to\": [\"\", \"\", \"\"], \"started\": \"2026-12-08T08:00:05\"}"),
              std::string::npos)
        << text3;
    EXPECT_NE(text3.find("\"schedule\": true, \"stopped\": true}"), std::string::npos) << text3;

    // Loudness and the periods' levels: left out at their defaults (mode off, -18, 100 %).
    SessionData even = d;
    even.loudness.settings = {loudness::Mode::Album, -23};
    even.loudness.levels[1] = 70;
    const std::string text4 = FormatSession(even);
    EXPECT_EQ(parsed(text4), even);
    EXPECT_NE(text4.find("\"to\": [\"\", \"\", \"\"], \"level\": 70}"), std::string::npos) << text4;
    EXPECT_NE(text4.find(",\n \"loudness\": {\"target\": -23, \"mode\": \"album\"}}"), std::string::npos)
        << text4;
    EXPECT_EQ(parsed(R"({"loudness": {"mode": "track"}})").loudness.settings.target, -18);

    // The documented example, with unknown keys, a short period and a missing switch.
    SessionData back = parsed(R"({"version": 1, "comment": {"x": [1, null, 2.5e3]},
        "playlist": ["/music/bell.mp3", "/music/break.mp3"],
        "periods": [{"from": ["8", "0", "0"], "to": ["8", "45", "0"]}, {"from": ["9"]}, {},
                    {"to": ["1", "2", "3", "extra"]}, {"from": ["", "", ""], "to": ["", "", ""]}, {"from": ["6"]}],
        "random": true, "schedule": true, "loop": false, "later": "ignored"})");
    EXPECT_EQ(back.playlist, (std::vector<std::string>{"/music/bell.mp3", "/music/break.mp3"}));
    EXPECT_EQ(back.periods[1].from, (std::array<std::string, 3>{"9", "", ""}));
    EXPECT_EQ(back.periods[2], SessionPeriod{});
    EXPECT_EQ(back.periods[3].to, (std::array<std::string, 3>{"1", "2", "3"}));
    EXPECT_TRUE(back.random && back.schedule && !back.loop);

    // Missing keys are the start-up's defaults; so is an empty object. Escapes decode.
    EXPECT_EQ(parsed("\xEF\xBB\xBF { } "), SessionData{});
    EXPECT_EQ(parsed(R"({"playlist": ["\/a\u00e9\ud83c\udfb5.mp3"]})").playlist[0],
              "/a\xC3\xA9\xF0\x9F\x8E\xB5.mp3");

    // The week's keys in any order; a period past the fifth is read and left out.
    back = parsed(R"({"periods": [{}, {"days": []}, {"days": [7, 6, 6]}, {"days": [1, 2, 3, 4, 5, 6, 7]},
        {"days": [1, 2, 3, 4, 5]}, {"days": [3]}],
        "rest": ["2026-12-25", {"from": "2027-01-01", "to": "2027-01-03"}, "2028-02-29"]})");
    EXPECT_EQ((std::array<DayMask, 5>{back.periods[0].days, back.periods[1].days, back.periods[2].days,
                                      back.periods[3].days, back.periods[4].days}),
              (std::array<DayMask, 5>{kEveryDay, 0, kWeekend, kEveryDay, kWorkDays}));
    EXPECT_EQ(back.rest, (std::vector<DateRange>{{sys_days{2026y / 12 / 25}, sys_days{2026y / 12 / 25}},
                                                 {sys_days{2027y / 1 / 1}, sys_days{2027y / 1 / 3}},
                                                 {sys_days{2028y / 2 / 29}, sys_days{2028y / 2 / 29}}}));
}

TEST(SessionFile, EveryBadFileIsRefusedWithAReason) {
    const std::string good = FormatSession(sample());
    const struct {
        std::string text;
        const char* reason;
    } bad[] = {
        {good.substr(0, good.size() / 2), "not valid JSON"},  // truncated
        {good.substr(0, good.size() - 2), "not valid JSON"},
        {"", "not valid JSON"},
        {R"({"version": 3, "playlist": []})", "newer than this program reads (2)"},
        {R"({"version": 2, "periods": [{}, {"days": [1, 8]}]})",
         "\"periods\"[1].days[1] is 8, not a day from 1 to 7"},
        {R"({"periods": [{"days": [0]}]})", "\"periods\"[0].days[0] is 0, not a day from 1 to 7"},
        {R"({"periods": [{"days": [1.5]}]})", "\"periods\"[0].days[0] is 1.5, not a day from 1 to 7"},
        {R"({"periods": [{"days": ["1"]}]})", "\"periods\"[0].days[0] is a string, not a number"},
        {R"({"periods": [{"days": 1}]})", "\"periods\"[0].days is a number, not a list"},
        {R"({"periods": [{"days": null}]})", "\"periods\"[0].days is null, not a list"},
        {R"({"version": 2, "rest": ["2026-02-30"]})",
         "\"rest\"[0] is \"2026-02-30\", not a date (YYYY-MM-DD)"},
        {R"({"rest": ["2026-12-24", "2026-13-01"]})", "\"rest\"[1] is \"2026-13-01\", not a date"},
        {R"({"rest": ["2026-1-05"]})", "\"rest\"[0] is \"2026-1-05\", not a date"},
        {R"({"rest": ["2026-12-25T00:00"]})", "\"rest\"[0] is \"2026-12-25T00:00\", not a date"},
        {R"({"rest": [20261225]})", "\"rest\"[0] is a number, not a date"},
        {R"({"rest": [{"from": "2027-01-01"}]})", "\"rest\"[0].to is missing, not a date"},
        {R"({"rest": [{"from": "2027-04-31", "to": "2027-05-01"}]})",
         "\"rest\"[0].from is \"2027-04-31\", not a date"},
        {R"({"rest": "2026-12-25"})", "\"rest\" is a string, not a list"},
        {R"({"rest": [{"from": "2027-01-03", "to": "2027-01-01"}]})",
         "\"rest\"[0] is a range whose \"from\" comes after"},
        {R"({"periods": [{"started": "2026-12-08 08:00:00"}]})",
         "\"periods\"[0].started is \"2026-12-08 08:00:00\", not a local time (YYYY-MM-DDTHH:MM:SS)"},
        {R"({"periods": [{}, {"started": "2026-12-08T24:00:00"}]})",
         "\"periods\"[1].started is \"2026-12-08T24"},
        {R"({"periods": [{"started": 0}]})", "\"periods\"[0].started is a number, not a local time"},
        {R"({"stopped": 1})", "\"stopped\" is a number"},
        {R"({"loudness": {"target": -30}})", "\"loudness\".target is -30, not a loudness from -23 to -14"},
        {R"({"loudness": {"mode": "loud"}})",
         "\"loudness\".mode is \"loud\", not \"track\", \"album\" or \"off\""},
        {R"({"loudness": "track"})", "\"loudness\" is \"track\", not an object"},
        {R"({"periods": [{}, {"level": 101}]})", "\"periods\"[1].level is 101, not a whole per cent"},
        {R"({"periods": [{"level": "70"}]})", "\"periods\"[0].level is \"70\", not a whole per cent"},
        {R"({"version": 0})", "not one this program reads"},
        {R"({"version": "1"})", "\"version\" is a string"},
        {R"({"playlist": "/a.mp3"})", "\"playlist\" is a string, not a list"},
        {R"({"playlist": ["/a.mp3", 7]})", "\"playlist\"[1] is a number"},
        {R"({"periods": [{"from": [8, 0, 0]}]})", "\"periods\"[0].from[0] is a number"},
        {R"({"periods": {"from": []}})", "\"periods\" is an object"},
        {R"({"periods": [null]})", "\"periods\"[0] is null"},
        {R"({"schedule": 1})", "\"schedule\" is a number"},
        {R"({"random": "false"})", "\"random\" is a string"},
        {R"({"folder": ["/music"]})", "\"folder\" is a list"},
        {R"(["version", 1])", "the file is a list"},
        {"{\"playlist\": [\"/a\xFF.mp3\"]}", "not UTF-8"},
        {"{\"playlist\": [\"/a\xC0\xAF.mp3\"]}", "not UTF-8"},  // overlong "/"
        {R"({"playlist": ["/a\u0000.mp3"]})", "NUL"},
        {R"({"playlist": ["/a\ud800.mp3"]})", "lone surrogate"},
        {R"({"loop": tru})", "illegal value"},
        {R"({"version": 1} {})", "garbage at the end"},
        {R"({"version": 01})", "not valid JSON"},
        {R"({"version": 1.0000000001})", "not a whole number"},
        {"{\"playlist\": [\"/" + std::string(PATH_MAX, 'a') + "\"]}", "longer than a path can be"},
        // A broken value under a key this program does not read still makes the file bad.
        {R"({"extra": [1, 2], "playlist": ["/a.mp3"])", "not valid JSON"},
        {R"({"extra": [1, 2}, "playlist": []})", "not valid JSON"},
        {std::string(100000, '[') + std::string(100000, ']'), "nested too deeply"},
    };
    for (const auto& b : bad) {
        const Result<SessionData> r = ParseSession(b.text);
        EXPECT_FALSE(r) << b.text.substr(0, 80);
        EXPECT_NE(r.error.find(b.reason), std::string::npos) << b.text.substr(0, 80) << " -> " << r.error;
    }
}

TEST(SessionFile, FilesAreReadWhenRegularAndReplacedAtomically) {
    TempDir dir;
    const std::string path = dir.file("session.json");
    const auto missing = ReadSessionFile(path);
    EXPECT_TRUE(missing && !missing.value) << missing.error;

    Done w = WriteSessionFile(path, sample());
    ASSERT_TRUE(w) << w.error;
    SessionData d = readBack(path);
    EXPECT_EQ(d, sample());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new session file is private";

    // A rewrite keeps the file's mode, goes through a link to the file, and leaves no temporary.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const std::string link = dir.file("link.json");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    d.playlist = {"/x.mp3"};
    ASSERT_TRUE(WriteSessionFile(link, d));
    EXPECT_EQ(readBack(path).playlist, d.playlist);
    struct stat lst {};
    ASSERT_EQ(lstat(link.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    auto r = vesperon::test::runCommand({"ls", "-A", dir.path()});
    EXPECT_EQ(r.out, "link.json\nsession.json\n");

    // A dangling link is written through, its target made; temporaries a killed save left beside
    // the target go at the next start, and nothing else does.
    const std::string dangling = dir.file("dangling.json"), made = dir.file("made.json");
    ASSERT_EQ(symlink("made.json", dangling.c_str()), 0);
    ASSERT_TRUE(WriteSessionFile(dangling, sample()));
    ASSERT_EQ(lstat(dangling.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(readBack(made), sample());
    for (const char* name :
         {"made.json.tmp-Ab12Cd", "made.json.tmp-x", "made.json.backup", "other.json.tmp-Ab12Cd"})
        vesperon::test::writeFile(dir.file(name), "{");
    EXPECT_EQ(RemoveSessionTemporaries(dangling), 1);
    r = vesperon::test::runCommand({"ls", "-A", dir.path()});
    EXPECT_EQ(
        r.out,
        "dangling.json\nlink.json\nmade.json\nmade.json.backup\nmade.json.tmp-x\nother.json.tmp-Ab12Cd\n"
        "session.json\n");
    // A name that would not come back as the same bytes is refused, not written under another.
    EXPECT_NE(WriteSessionFile(dir.file("caf\xE9.json"), sample()).error.find("not UTF-8"),
              std::string::npos);

    // Not a regular file, or far too large: bad, and nothing waits on a pipe.
    EXPECT_NE(ReadSessionFile(dir.path()).error.find("not a regular file"), std::string::npos);
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadSessionFile(fifo));
    const std::string big = dir.file("big.json");
    writeFile(big, "{\"playlist\": [\"" + std::string(kMaxSessionBytes, 'a') + "\"]}");
    EXPECT_NE(ReadSessionFile(big).error.find("larger than"), std::string::npos);

    // A folder that cannot be written: the old file stays as it was.
    if (geteuid() != 0) {
        const std::string before = readFile(path);
        ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
        EXPECT_FALSE(WriteSessionFile(path, sample()));
        ASSERT_EQ(chmod(dir.path().c_str(), 0700), 0);
        EXPECT_EQ(readFile(path), before);
    }
}

// Values under keys this program does not read are passed over, however large.
TEST(SessionFile, UnknownKeysAreIgnoredHoweverLarge) {
    std::string text = R"({"note": {"a": [1, "x]}", {"b": null}]}, "playlist": ["/a.mp3"], "big": [)";
    for (int i = 0; i < 1'000'000; ++i) text += "0,";
    text += R"(0], "loop": true})" "\n";
    const SessionData d = parsed(text);
    EXPECT_EQ(d.playlist, std::vector<std::string>{"/a.mp3"});
    EXPECT_TRUE(d.loop);
}

// Bad files set aside one after another: each kept under its own name, FILE.bad (the first) for
// good, and past the bound the oldest of the others makes room.
TEST(SessionFile, SetAsideFilesAreAllKeptUpToTheBoundAndTheFirstForGood) {
    TempDir dir;
    const std::string path = dir.file("s.json");
    const auto aside = [&](int n) { return path + ".bad" + (n > 0 ? "." + std::to_string(n) : ""); };
    const int made = kSetAsideKept + 3;
    for (int i = 0; i < made; ++i) {
        writeFile(path, "bad " + std::to_string(i));
        const Result<std::string> moved = SetAsideSessionFile(path);
        ASSERT_TRUE(moved) << moved.error;
        EXPECT_EQ(moved.value, aside(std::min(i, kSetAsideKept - 1)));
    }
    EXPECT_EQ(readFile(aside(0)), "bad 0");
    for (int n = 1; n < kSetAsideKept; ++n)
        EXPECT_EQ(readFile(aside(n)), "bad " + std::to_string(made - kSetAsideKept + n));
    EXPECT_EQ(access(aside(kSetAsideKept).c_str(), F_OK), -1);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);

    // Nothing there is nothing to move; a pipe is no one's session and stays.
    EXPECT_EQ(SetAsideSessionFile(path).value, "");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(SetAsideSessionFile(path));
}

TEST(SessionLock, OnePlayerHoldsASessionUntilItEnds) {
    test::TempDir dir;
    const std::string file = dir.file("s.json");
    auto first = SessionLock::take(file);
    ASSERT_TRUE(first) << first.error;
    EXPECT_NE(SessionLock::take(file).error.find("in use by another Vesperon"), std::string::npos);
    first.value.reset();
    EXPECT_TRUE(SessionLock::take(file));
    // A first start names a session in a folder not made yet (a service's ~/.config/vesperon).
    const auto made = SessionLock::take(dir.file("new/vesperon/s.json"));
    EXPECT_TRUE(made) << made.error;
}

// One session file under two names is one session: the lock is taken on the file they name.
TEST(SessionLock, TwoNamesOfOneFileShareTheLock) {
    test::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("real").c_str(), 0700), 0);
    writeFile(dir.file("real/s.json"), "{}");
    for (const auto& [link, to] : {std::pair{"link.json", "real/s.json"}, std::pair{"a.json", "gone.json"},
                                   std::pair{"b.json", "gone.json"}, std::pair{"folder", "real"}})
        ASSERT_EQ(symlink(to, dir.file(link).c_str()), 0) << link;
    const struct {
        const char* what;
        std::string first, second;
    } cases[] = {
        {"a link and its target", dir.file("link.json"), dir.file("real/s.json")},
        {"two links to one missing file", dir.file("a.json"), dir.file("b.json")},
        {"a linked folder", dir.file("folder/s.json"), dir.file("real/s.json")},
        {"a path with dots", dir.file("real/../real/./s.json"), dir.file("real/s.json")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto first = SessionLock::take(c.first);
        ASSERT_TRUE(first) << first.error;
        EXPECT_NE(SessionLock::take(c.second).error.find("in use by another Vesperon"), std::string::npos);
    }
}

TEST(ScheduleTick, AimsJustPastTheNextSecondWhereverItIsArmed) {
    const struct {
        std::int64_t ns;
        int ms;
    } cases[] = {
        {0, 1000 + kTickMarginMs},          {1, 1000 + kTickMarginMs},       {1500000, 999 + kTickMarginMs},
        {999000000, 1 + kTickMarginMs},     {999999999, 1 + kTickMarginMs},  {-5, 1000 + kTickMarginMs},
        {1000000000, 1000 + kTickMarginMs},
    };
    for (const auto& c : cases) EXPECT_EQ(MsToNextSecond(c.ns), c.ms) << c.ns;
    const int now = MsToNextScheduleTick();
    EXPECT_GE(now, 1);
    EXPECT_LE(now, 1000 + kTickMarginMs);
}

TEST(ScheduleTick, TheLocalTimeFollowsAChangeOfTimeZoneWithoutARestart) {
    const LogicServices services = defaultServices();
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    setenv("TZ", "UTC0", 1);
    std::tm utc = services.localTime();
    setenv("TZ", "XYZ-5", 1);  // five hours east, as after choosing another zone
    std::tm east = services.localTime();
    if (before) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    const long shift = long(timegm(&east) - timegm(&utc));
    EXPECT_GE(shift, 5 * 3600);
    EXPECT_LE(shift, 5 * 3600 + 2);
}

}  // namespace
}  // namespace vesperon::app
