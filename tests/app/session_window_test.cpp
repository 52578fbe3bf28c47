// The session on the real window: what a session file puts on it at start-up, every change saved
// at once, and bad files reported, kept aside and never written over.
#include <sys/stat.h>
#include <unistd.h>

#include <QLineEdit>
#include <QtTest/QTest>
#include <cstdio>

#include "app/routine_ids.h"
#include "app/session.h"
#include "desktop/period_days_menu.h"
#include "tests/app/player_window.h"
#include "tests/support/wait.h"
#include "ui/check_box.h"
#include "ui/label.h"

namespace vesperon::app::test {
namespace {

using vesperon::test::readFile;
using vesperon::test::writeFile;

class SessionWindow : public PlayerWindow {
protected:
    void SetUp() override {}  // each test writes its file first
    void open() {
        controller = std::make_unique<PlayerController>();
        UseSessionFile(path);
        openWindow();
    }
    SessionData saved() {
        const auto read = ReadSessionFile(path);
        EXPECT_TRUE(read && read.value) << read.error;
        return read && read.value ? *read.value : SessionData{};
    }
    int checked(const char* name) { return w(name).intProperty(ui::kCheckChecked); }
    void click(const char* name) { QTest::mouseClick(w(name).live(), Qt::LeftButton); }
    // The tool tip of period `i`'s 从: caption: the days it is limited to, or nothing.
    std::string daysTip(int i) { return desktop::FindPeriodRow(*form, i).from->live()->toolTip().toStdString(); }

    vesperon::test::TempDir dir;
    const std::string path = dir.file("session.json");
};

TEST_F(SessionWindow, RestoresPlaylistPeriodsAndSwitchesAndSavesEveryChangeAtOnce) {
    SessionData d;
    d.playlist = {"/gone/a.mp3", "/gone/b.mp3"};  // files that no longer exist stay listed
    d.periods[1] = {{"8", "0", "0"}, {"8", "45", "0"}};
    d.periods[1].days = kWorkDays;
    d.periods[4] = {{"23", "59", "59"}, {"", "", ""}};
    using namespace std::chrono;
    d.rest = {{sys_days{2026y / 12 / 25}, sys_days{2026y / 12 / 26}}};
    d.random = true;
    d.schedule = true;
    // As a script might write it: restoring reads it and does not write it back.
    const std::string written = "{\"note\": \"kept\", " + FormatSession(d).substr(1);
    writeFile(path, written);
    open();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:   a.mp3", "2:   b.mp3"}));
    EXPECT_EQ(w("编辑框_从时2").textProperty(ui::kEditContent), "8");
    EXPECT_EQ(w("编辑框_到分2").textProperty(ui::kEditContent), "45");
    EXPECT_EQ(w("编辑框_从秒5").textProperty(ui::kEditContent), "59");
    EXPECT_EQ(controller->schedule.rest, d.rest);
    EXPECT_EQ(daysTip(1), "周一至周五");
    EXPECT_EQ(daysTip(0), "");
    EXPECT_EQ(state().randomOrder, 1);
    EXPECT_EQ(checked("选择框_随机播放"), 1);
    EXPECT_EQ(controller->schedule.on, true);
    EXPECT_EQ(checked("选择框_开始计划"), 1);
    EXPECT_EQ(w("选择框_开始计划").textProperty(ui::kCheckCaption), "取消计划");
    EXPECT_EQ(w("编辑框_从时1").intProperty(ui::kDisabled), 1);
    EXPECT_EQ(w("按钮_清空时间段").intProperty(ui::kDisabled), 1);
    EXPECT_EQ(readFile(path), written);

    click("选择框_开始计划");
    d.schedule = false;
    EXPECT_EQ(saved(), d);
    QTest::keyClicks(form->findAs<ui::EditBox>("编辑框_到秒3")->edit(), "7");
    d.periods[2].to[2] = "7";
    EXPECT_EQ(saved(), d);
    click("选择框_单曲循环");  // turns random order off
    d.random = false;
    d.loop = true;
    EXPECT_EQ(saved(), d);
    addFiles({"/m/c.mp3"});  // by the open dialog, whose folder is kept too
    d.playlist.push_back("/m/c.mp3");
    d.folder = "/m";
    EXPECT_EQ(saved(), d);
    list().setSelectedIndex(0);
    RemoveSelectedEntry();
    d.playlist.erase(d.playlist.begin());
    EXPECT_EQ(saved(), d);
    const std::vector<ui::EventArg> dropped{std::string("/m/d.mp3\r\n/m/e.txt")};
    callRoutine(app::routine::FilesDropped, ui::EventCall{*form, w("拖放对象1"), 0, dropped});
    d.playlist.push_back("/m/d.mp3");
    EXPECT_EQ(saved(), d);
    click("按钮_清空时间段");
    for (SessionPeriod& p : d.periods) p.from = p.to = {};  // the boxes only: days and rest days stay
    EXPECT_EQ(saved(), d);
    EXPECT_EQ(daysTip(1), "周一至周五");
    click("按钮_重置列表");  // the question is answered with OK; the dialog adds nothing
    d.playlist.clear();
    EXPECT_EQ(saved(), d);
    EXPECT_EQ(readFile(path), FormatSession(d)) << "a temporary file was left or the text differs";
}

// A restart inside a period (the window closed with no quit, as in a crash or a power cut) plays
// again when the music was playing, and stays silent when the user had stopped or paused it.
TEST_F(SessionWindow, ARestartInsideAPeriodPlaysAgainOnlyWhenTheMusicWasPlaying) {
    SessionData d;
    d.playlist = {Tones::make("restart.mp3", 30)};
    d.periods[0] = {{"8", "0", "0"}, {"17", "0", "0"}};
    d.schedule = true;
    writeFile(path, FormatSession(d));
    now = at(10, 5, 0);
    const struct {
        const char* before;  // the button clicked before the restart, if any
        bool plays;
    } restarts[] = {{nullptr, true}, {"按钮_停止", false}, {"按钮_播放", true}, {"按钮_播放", false}};
    open();  // the period's start was missed: it is taken now
    for (const auto& r : restarts) {
        SCOPED_TRACE(r.before ? r.before : "no click");
        if (r.before) click(r.before);
        fadesDone();
        closeWindow();
        open();
        const bool plays = waitFor([&] { return playButton() == "暂停"; }, r.plays ? 5000 : 300);
        EXPECT_EQ(plays, r.plays) << "the play button reads " << playButton();
    }
}

TEST_F(SessionWindow, AMissingFileIsCreatedAndABadOneIsReportedMovedAsideAndNeverWrittenOver) {
    open();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(saved(), SessionData{}) << "the missing file was not created";
    closeWindow();

    SessionData full;
    full.playlist = {"/music/a.mp3"};
    full.schedule = true;
    const std::string good = FormatSession(full);
    const struct {
        const char* what;
        std::string text;  // empty: a folder stands where the file should be, so it cannot be read
    } cases[] = {
        {"truncated", good.substr(0, good.size() / 2)},
        {"wrong types", R"({"version": 1, "playlist": "/music/a.mp3", "schedule": true})"},
        {"version 3", R"({"version": 3, "playlist": ["/music/a.mp3"], "schedule": true})"},
        {"unreadable", ""},
    };
    // Each bad file is set aside beside the ones before it, none written over.
    const std::string aside[] = {path + ".bad", path + ".bad.1", path + ".bad.2", path + ".bad.3"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.what);
        ::unlink(path.c_str());  // the empty session the last case left
        if (c.text.empty())
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        else
            writeFile(path, c.text);
        boxes.clear();
        ::testing::internal::CaptureStderr();
        open();
        const std::string err = ::testing::internal::GetCapturedStderr();
        // One line of ours (Qt may add its own notes).
        const auto first = err.find("vesperon: ");
        ASSERT_NE(first, std::string::npos) << err;
        EXPECT_EQ(err.find("vesperon: ", first + 1), std::string::npos) << err;
        EXPECT_NE(err.find(path, first), std::string::npos) << err;
        EXPECT_LT(err.find(path, first), err.find('\n', first)) << err;
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].text.find(aside[i] + ","), std::string::npos) << boxes[0].text;
        EXPECT_TRUE(rows().empty());
        EXPECT_EQ(controller->schedule.on, false);
        for (std::size_t k = 0; k <= i; ++k) {
            if (cases[k].text.empty()) {
                struct stat st {};
                EXPECT_EQ(stat(aside[k].c_str(), &st), 0);
                EXPECT_TRUE(S_ISDIR(st.st_mode)) << aside[k];
            } else {
                EXPECT_EQ(readFile(aside[k]), cases[k].text) << aside[k];
            }
        }
        EXPECT_EQ(saved(), SessionData{}) << "an empty session replaces it";
        closeWindow();
    }
}

// The open dialog starts where it was last used, kept in the session; where that folder has
// gone, in the XDG music folder, else in home.
TEST_F(SessionWindow, TheOpenDialogStartsInTheFolderLastUsedKeptInTheSession) {
    const std::string home = dir.file("home"), last = dir.file("last"), next = dir.file("next");
    for (const std::string& folder : {home, last, next}) ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    struct Restore {
        QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
        ~Restore() {
            qputenv("HOME", home);
            if (config.isNull()) qunsetenv("XDG_CONFIG_HOME"); else qputenv("XDG_CONFIG_HOME", config);
        }
    } restore;
    qputenv("HOME", home.c_str());
    qputenv("XDG_CONFIG_HOME", (home + "/config").c_str());  // no user-dirs.dirs: Music is $HOME/Music
    SessionData d;
    d.folder = last;
    writeFile(path, FormatSession(d));
    open();
    const auto clickAdd = [&](std::vector<std::string> answer) {
        nextDialogAnswer = std::move(answer);
        click("按钮_添加列表");
        return lastDialog.initialDirectory.value_or("(none)");
    };
    EXPECT_EQ(clickAdd({next + "/a.mp3"}), last);
    EXPECT_EQ(saved().folder, next);
    EXPECT_EQ(clickAdd({}), next);
    closeWindow();
    open();  // a new start of the session
    EXPECT_EQ(clickAdd({}), next);
    ASSERT_EQ(rmdir(next.c_str()), 0);
    EXPECT_EQ(clickAdd({}), home);
    ASSERT_EQ(mkdir((home + "/Music").c_str(), 0700), 0);
    EXPECT_EQ(clickAdd({}), home + "/Music");
}

// A save that fails (here a folder stands where the file goes) is told once in a box, not at
// every change, and once more when saving works again.
TEST_F(SessionWindow, AFailedSaveIsToldOnceAndItsRecoveryToo) {
    open();
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    writeFile(path + "/keep", "x");
    ::testing::internal::CaptureStderr();
    addFiles({"/m/a.mp3"});
    addFiles({"/m/b.mp3"});
    ASSERT_TRUE(vesperon::test::waitFor([&] { return !boxes.empty(); })) << "no box for the failed save";
    vesperon::test::pump(100);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("会话无法保存"), std::string::npos) << boxes[0].text;
    ASSERT_EQ(::unlink((path + "/keep").c_str()), 0);
    ASSERT_EQ(::rmdir(path.c_str()), 0);
    addFiles({"/m/c.mp3"});
    ASSERT_TRUE(vesperon::test::waitFor([&] { return boxes.size() == 2; })) << "no word of the recovery";
    EXPECT_NE(boxes[1].text.find("会话已重新保存"), std::string::npos) << boxes[1].text;
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("cannot save the session"), std::string::npos) << err;
    EXPECT_NE(err.find("saved to " + path + " again"), std::string::npos) << err;
    EXPECT_EQ(saved().playlist.size(), 3u);
}

}  // namespace
}  // namespace vesperon::app::test
