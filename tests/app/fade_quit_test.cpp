// One fade at a time, quitting at any moment, a round of failures, and input that bypasses the
// keyboard, on the real main window with the real engine (null output) and the recording mixer.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>
#include <chrono>
#include <cstdio>

#include "tests/app/player_window.h"
#include "ui/runtime_error.h"

namespace vesperon::app::test {
namespace {

class FadeAndQuit : public PlayerWindow {
protected:
    void SetUp() override {
        PlayerWindow::SetUp();
        services().endProgram = [this] { ++programEnded; };
        ui::FatalErrorHooks hooks;
        hooks.show = [this](const std::string& m) { runtimeErrors.push_back(m); };
        hooks.exit = [](int) {};
        ui::setFatalErrorHooks(hooks);
    }
    void TearDown() override {
        ui::setFatalErrorHooks({});
        PlayerWindow::TearDown();
    }
    void click(const char* name) { QTest::mouseClick(w(name).live(), Qt::LeftButton); }
    void hotKey(int which) {
        ui::postMessage(w("标签1").handle(), ui::kPlayerNotifyMessage, state().hotkeyIds[which], 0);
    }
    void playOne(double seconds = 8.0) {
        const std::string a = Tones::make("fade_quit.mp3", seconds);
        ASSERT_FALSE(a.empty()) << "sox/lame";
        addFiles({a});
        PlayPauseToggle();
        ASSERT_EQ(engine::QueryPlayState(), 1);
        mixer->calls.clear();
    }
    std::vector<uint32_t> sinkVolume() const { return mixer->lines[0].volume; }
    // One period (the others never match) and the schedule switched on.
    void schedule(const char* from, const char* to) {
        const char* columns[6] = {"从时", "从分", "从秒", "到时", "到分", "到秒"};
        for (int c = 0; c < 6; ++c)
            for (int slot = 1; slot <= 5; ++slot) {
                const char* value = "99";
                if (slot == 1 && c == 0 && from) value = from;
                if (slot == 1 && c == 3 && to) value = to;
                if (slot == 1 && c % 3 != 0 && (c < 3 ? from : to)) value = "0";
                setBox(("编辑框_" + std::string(columns[c]) + std::to_string(slot)).c_str(), value);
            }
        click("选择框_开始计划");
    }

    int programEnded = 0;
    std::vector<std::string> runtimeErrors;
};

TEST_F(FadeAndQuit, CommandsDuringAFadeWaitForItAndTheLastAskedStateWins) {
    playOne();
    // Pause, then play clicked a quarter of a second into the fade: paused, then resumed.
    QTimer::singleShot(250, [&] { click("按钮_播放"); });
    click("按钮_播放");
    ASSERT_TRUE(fadesDone());
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(caption(), "播放:fade_quit.mp3");
    EXPECT_EQ(playButton(), "暂停");
    EXPECT_EQ(controller->fader().target(), 30000) << "a second fade saved the lowered volume";
    EXPECT_EQ(sinkVolume(), (std::vector<uint32_t>{30000, 30000}));
    std::vector<std::string> writes = volumeWrites();
    ASSERT_EQ(writes.size(), 104u);  // 50 down, 0, back; 0, 50 up, exact
    EXPECT_EQ(writes[51], "30000 30000");
    EXPECT_EQ(writes[52], "0 0");

    // The Pause hot key, then pressed twice more during its fade: the two cancel out.
    mixer->calls.clear();
    QTimer::singleShot(200, [&] { hotKey(0); });
    QTimer::singleShot(400, [&] { hotKey(0); });
    hotKey(0);
    EXPECT_TRUE(waitFor([&] { return engine::QueryPlayState() == -1 && volumeWrites().size() >= 52; }));
    pump(300);
    EXPECT_EQ(engine::QueryPlayState(), -1);
    EXPECT_EQ(volumeWrites().size(), 52u) << "a waiting toggle ran";
    EXPECT_EQ(sinkVolume(), (std::vector<uint32_t>{30000, 30000}));

    // Stop and next during a resume fade: both run after it, in order.
    mixer->calls.clear();
    QTimer::singleShot(200, [&] { click("按钮_停止"); });
    QTimer::singleShot(300, [&] { hotKey(1); });
    int stateMidFade = 99;
    QTimer::singleShot(400, [&] { stateMidFade = engine::QueryPlayState(); });
    click("按钮_播放");
    ASSERT_TRUE(fadesDone());
    EXPECT_EQ(stateMidFade, 1) << "the stop did not wait for the fade";
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(caption(), "播放:fade_quit.mp3");
    EXPECT_EQ(controller->fader().target(), 30000);
    EXPECT_EQ(sinkVolume(), (std::vector<uint32_t>{30000, 30000}));
}

struct QuitCase {
    const char* name;
    bool signal;       // else the window is closed
    bool scheduleEnd;  // else a pause fade
};

class QuitMidFade : public FadeAndQuit, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitMidFade, StopsTheFadePutsTheVolumeBackAndCloses) {
    playOne();
    if (GetParam().scheduleEnd) schedule(nullptr, "18");
    QTimer::singleShot(300, [this] {
        if (GetParam().signal)
            RequestQuit();  // what SIGTERM, SIGINT and SIGHUP lead to
        else
            form->windowWidget()->close();
    });
    if (GetParam().scheduleEnd)
        tickAt(18, 0, 0);
    else
        click("按钮_播放");
    // The fade stopped early; the volume is back and nothing of the window was used after it went.
    EXPECT_TRUE(waitFor([&] { return programEnded > 0; }, 2000));
    EXPECT_LT(volumeWrites().size(), 45u);
    EXPECT_EQ(sinkVolume(), (std::vector<uint32_t>{30000, 30000}));
    EXPECT_FALSE(form->isLoaded());
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(std::count(keyLog.begin(), keyLog.end(), "unregister " + std::to_string(state().hotkeyIds[0])), 1);
    EXPECT_TRUE(runtimeErrors.empty()) << runtimeErrors.front();
    EXPECT_EQ(programEnded, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, QuitMidFade,
    ::testing::Values(QuitCase{"WindowCloseDuringPause", false, false},
                      QuitCase{"WindowCloseDuringScheduleEnd", false, true},
                      QuitCase{"SignalDuringPause", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FadeAndQuit, AQuitClosesAnOpenDialogAndDecidesNothing) {
    addFiles({"/m/a.mp3"});
    onMessageBox = [] { RequestQuit(); };  // as a signal arriving while the question is open
    boxAnswer = 2;                          // what a closed box answers
    click("按钮_重置列表");
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(state().playlist.size(), 1u) << "the reset went ahead";
    EXPECT_TRUE(dialogTitles.size() == 1u) << "a dialog opened while quitting";
    EXPECT_TRUE(waitFor([&] { return programEnded > 0; }, 2000));
}

TEST_F(FadeAndQuit, ARoundOfTracksThatCannotPlayStopsAndTheNextStartTriesAgain) {
    vesperon::test::TempDir dir;
    const std::string empty = dir.file("empty.mp3"), noise = dir.file("noise.mp3");
    vesperon::test::writeFile(empty, "");
    std::string bytes;
    for (int i = 0; i < 20000; ++i) bytes += char((i * 7919 + 13) % 251);
    vesperon::test::writeFile(noise, bytes);
    addFiles({empty, noise});
    click("按钮_播放");
    EXPECT_TRUE(waitFor([&] { return caption().rfind("停止:", 0) == 0; }, 5000)) << caption();
    const std::size_t reads = mixer->calls.size();
    pump(500);
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(playButton(), "播放");
    EXPECT_EQ(slider(), 0);
    EXPECT_EQ(mixer->calls.size(), reads);

    // A playable track among them keeps the list going.
    const std::string good = Tones::make("round_ok.mp3", 1.0);
    ASSERT_FALSE(good.empty());
    state().playlist.push_back(good);
    RebuildPlaylistView();
    schedule("7", nullptr);
    tickAt(7, 0, 0);
    EXPECT_TRUE(waitFor([&] { return caption() == "播放:round_ok.mp3"; }, 8000)) << caption();
    pump(300);
    EXPECT_NE(caption().rfind("停止:", 0), 0u);
}

TEST_F(FadeAndQuit, PeriodBoxesFilterInputMethodTextAndPaste) {
    auto* edit = static_cast<QLineEdit*>(w("编辑框_从时1").live());
    edit->setFocus();
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("八a1"));
    QCoreApplication::sendEvent(edit, &commit);
    EXPECT_EQ(edit->text().toStdString(), "1");
    QInputMethodEvent letters;
    letters.setCommitString(QStringLiteral("ab"));
    QCoreApplication::sendEvent(edit, &letters);
    EXPECT_EQ(edit->text().toStdString(), "1");

    QApplication::clipboard()->setText(QStringLiteral("x2"));
    edit->paste();
    EXPECT_EQ(edit->text().toStdString(), "12");
    QApplication::clipboard()->setText(QStringLiteral("3"));
    edit->paste();  // past the maximum length of 2
    EXPECT_EQ(edit->text().toStdString(), "12");
    edit->selectAll();
    QApplication::clipboard()->setText(QStringLiteral("9九"));
    edit->paste();
    EXPECT_EQ(edit->text().toStdString(), "9");
}

// A figure, not a limit: how long a drop of 5,000 files takes from the drop to the rebuilt list.
TEST_F(FadeAndQuit, DropOfFiveThousandFilesPrintsItsTime) {
    QList<QUrl> urls;
    for (int i = 0; i < 5000; ++i) urls << QUrl::fromLocalFile(QStringLiteral("/music/album %1/track.mp3").arg(i));
    QMimeData data;
    data.setUrls(urls);
    QWidget* viewport = static_cast<QAbstractScrollArea*>(list().live())->viewport();
    const Qt::DropActions allowed = Qt::CopyAction | Qt::MoveAction;
    const auto t0 = std::chrono::steady_clock::now();
    QDragEnterEvent enter(QPoint(5, 5), allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(5, 5), allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    ASSERT_TRUE(waitFor([&] { return list().itemCount() == 5000; }, 60000)) << list().itemCount();
    QApplication::processEvents();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("drop of 5000 files: %.0f ms to the rebuilt list\n", ms);
    EXPECT_EQ(state().playlist.size(), 5000u);
}

}  // namespace
}  // namespace vesperon::app::test
