// The transport with the real engine on its null output: the play button, the progress and end
// notices it posts to the label, the hot-key identifiers on the same path, and seeking.
#include <QScrollBar>
#include <QSlider>
#include <QtTest/QTest>

#include "tests/app/player_window.h"

namespace vesperon::app::test {
namespace {

class Transport : public PlayerWindow {
protected:
    void click(const char* name) { QTest::mouseClick(w(name).live(), Qt::LeftButton); }
    // The label's feedback, posted as the engine and the hot keys post it.
    void feedback(std::intptr_t value) {
        ui::postMessage(w("标签1").handle(), ui::kPlayerNotifyMessage, value, 0);
        QCoreApplication::sendPostedEvents();
    }
    // How often `what` occurs in the log, once all recorded is written.
    static int count(PlayLog& log, const std::string& what) {
        log.flush();
        const std::string text = vesperon::test::readFile(log.path());
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
    // Drags the progress slider as the user would.
    void moveSlider(int position) {
        auto* s = static_cast<QSlider*>(w("滑块条_播放进度").live());
        s->setSliderPosition(position);
        s->triggerAction(QAbstractSlider::SliderMove);
    }
};

TEST_F(Transport, FirstPlayStartsEntryOneAtTheSliderPositionAndStopResets) {
    const std::string a = Tones::make("first.mp3", 4.0), b = Tones::make("second.mp3", 4.0);
    ASSERT_FALSE(a.empty() || b.empty()) << "sox/lame";
    vesperon::test::TempDir dir;
    PlayLog log(dir.file("play.log"));
    controller->log = &log;
    // With no files, play asks for them and plays nothing yet.
    nextDialogAnswer = {a, b};
    click("按钮_播放");
    EXPECT_EQ(dialogTitles.size(), 1u);
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(caption(), "Vesperon");

    EXPECT_EQ(slider(), 1);  // the layout's position
    click("按钮_播放");
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(caption(), "播放:first.mp3");
    EXPECT_EQ(playButton(), "暂停");
    EXPECT_EQ(list().selectedIndex(), 0);
    // Progress notices move the slider from the start position on.
    EXPECT_TRUE(waitFor([&] { return slider() >= 2; }, 2000)) << slider();

    click("按钮_停止");
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(slider(), 0);
    EXPECT_EQ(playButton(), "播放");
    EXPECT_EQ(caption(), "停止:first.mp3");
    EXPECT_EQ(state().currentTrack, 1);

    click("按钮_下一曲");
    EXPECT_EQ(caption(), "播放:second.mp3");
    EXPECT_EQ(list().selectedIndex(), 1);
    click("按钮_上一曲");
    EXPECT_EQ(caption(), "播放:first.mp3");
    EXPECT_EQ(playButton(), "暂停");
    EXPECT_EQ(list().selectedIndex(), 0);

    // The play log says what began and who asked (the time taken off each line).
    controller->log = nullptr;
    log.flush();
    std::string text = vesperon::test::readFile(log.path());
    for (std::size_t at; (at = text.find("{\"time\":")) != std::string::npos;)
        text.erase(at + 1, text.find(',', at) - at);
    const std::string expected = "{\"event\":\"track\",\"path\":\"" + a + "\",\"by\":\"window\"}\n" +
                                 "{\"event\":\"stop\",\"by\":\"window\"}\n" +
                                 "{\"event\":\"next\",\"by\":\"window\"}\n" +
                                 "{\"event\":\"track\",\"path\":\"" + b + "\",\"by\":\"window\"}\n" +
                                 "{\"event\":\"previous\",\"by\":\"window\"}\n" +
                                 "{\"event\":\"track\",\"path\":\"" + a + "\",\"by\":\"window\"}\n";
    EXPECT_EQ(text, expected);
}

TEST_F(Transport, FeedbackMovesTheSliderBelow100AndDispatchesTheRest) {
    addFiles({"/nowhere/a.mp3", "/nowhere/b.mp3", "/nowhere/c.mp3"});
    feedback(0);
    EXPECT_EQ(slider(), 0);
    feedback(57);
    EXPECT_EQ(slider(), 57);
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(caption(), "Vesperon");

    feedback(100);  // the end of a file: the next one, the slider left where it was
    EXPECT_EQ(state().currentTrack, 2);
    EXPECT_EQ(caption(), "播放:b.mp3");
    EXPECT_EQ(slider(), 57);

    // b does not open: the list moves on from it once the event loop comes round, unless a stop
    // comes first.
    StopPlayback();
    feedback(state().hotkeyIds[1]);  // Page Down
    EXPECT_EQ(state().currentTrack, 3);
    EXPECT_EQ(slider(), 0);  // where the stop put it

    // Pause: the engine is stopped, so the key plays the entry again.
    StopPlayback();
    feedback(state().hotkeyIds[0]);
    EXPECT_EQ(state().currentTrack, 3);
    EXPECT_EQ(caption(), "播放:c.mp3");
    EXPECT_EQ(playButton(), "暂停");
    // None of them opens: the list goes round once and stops.
    EXPECT_TRUE(waitFor([&] { return playButton() == "播放"; }, 3000)) << caption();
}

TEST_F(Transport, HotKeyPressesReachTheTransport) {
    addFiles({"/nowhere/a.mp3", "/nowhere/b.mp3"});
    vesperon::test::TempDir dir;
    PlayLog log(dir.file("play.log"));
    controller->log = &log;
    grabber->press(form->window().handle(), state().hotkeyIds[1]);
    EXPECT_TRUE(waitFor([&] { return state().currentTrack == 2; }, 2000));
    controller->log = nullptr;
    log.flush();
    EXPECT_NE(vesperon::test::readFile(log.path()).find("\"event\":\"next\",\"by\":\"hotkey\"}"), std::string::npos);
    EXPECT_EQ(caption(), "播放:b.mp3");
    StopPlayback();
    grabber->press(form->window().handle(), state().hotkeyIds[0]);
    EXPECT_TRUE(waitFor([&] { return caption() == "播放:b.mp3"; }, 2000));
    EXPECT_EQ(state().currentTrack, 2);
}

// Tracks shorter than the sound the device holds at a track's end: the end of each is told before
// anything of it is heard, and still each counts as played, never as failed.
TEST_F(Transport, ShortTracksRepeatAndNoneCountsAsFailed) {
    const std::string a = Tones::make("short1.mp3", 0.4), b = Tones::make("short2.mp3", 0.4);
    ASSERT_FALSE(a.empty() || b.empty()) << "sox/lame";
    addFiles({a, b});
    vesperon::test::TempDir dir;
    PlayLog log(dir.file("play.log"));
    controller->log = &log;
    PlayNext();
    EXPECT_EQ(caption(), "播放:short2.mp3");
    EXPECT_TRUE(waitFor([&] { return count(log, "\"track\"") >= 6 || count(log, "\"failed\"") > 0; }, 10000));
    EXPECT_EQ(count(log, "\"failed\""), 0) << vesperon::test::readFile(log.path());
    EXPECT_GE(count(log, "\"track\""), 6);
    EXPECT_EQ(engine::QueryPlayState(), 1);
    controller->log = nullptr;
}

// The end notice comes when the track is played out to the device, and the next one starts at
// once; the window shows it only when its first sound is heard.
TEST_F(Transport, TheNextTrackIsShownWhenItsFirstSoundIsHeard) {
    const std::string a = Tones::make("heard1.mp3", 1.5), b = Tones::make("heard2.mp3", 3.0);
    ASSERT_FALSE(a.empty() || b.empty()) << "sox/lame";
    addFiles({a, b});
    click("按钮_播放");
    ASSERT_TRUE(waitFor([] { return engine::CurrentHeardPosition().started; }, 3000));
    // The end of the first track started the second, which is not heard yet.
    ASSERT_TRUE(waitFor([&] { return state().currentTrack == 2; }, 5000));
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(caption(), "播放:heard1.mp3");
    EXPECT_EQ(list().selectedIndex(), 0);
    EXPECT_TRUE(waitFor([&] { return caption() == "播放:heard2.mp3"; }, 3000)) << caption();
    EXPECT_TRUE(engine::CurrentHeardPosition().started);
    EXPECT_EQ(list().selectedIndex(), 1);
    // An end notice of a play that was replaced meanwhile does not end the one playing now.
    feedback(100);
    EXPECT_EQ(state().currentTrack, 2);
    EXPECT_EQ(caption(), "播放:heard2.mp3");
}

// A track that does not open is logged as failed with the reason and the next one starts; a list
// of nothing but such tracks stops once instead of going round.
TEST_F(Transport, UnopenableTracksAreLoggedAsFailedAndTheListMovesOn) {
    const std::string a = Tones::make("opens.mp3", 3.0);
    ASSERT_FALSE(a.empty()) << "sox/lame";
    vesperon::test::TempDir dir;
    PlayLog log(dir.file("play.log"));
    controller->log = &log;
    addFiles({"/nowhere/gone.mp3", a});
    click("按钮_播放");
    EXPECT_TRUE(waitFor([&] { return caption() == "播放:opens.mp3"; }, 3000)) << caption();
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(list().selectedIndex(), 1);
    EXPECT_EQ(count(log, "\"event\":\"failed\",\"path\":\"/nowhere/gone.mp3\",\"message\":\"no such file\"}"),
              1)
        << vesperon::test::readFile(log.path());

    // Nothing but tracks that do not open (two gone, a folder): each fails once, then it stops.
    StopPlayback();
    controller->log = nullptr;
    closeWindow();
    openWindow();
    controller->log = &log;
    addFiles({"/nowhere/x.mp3", "/nowhere/y.mp3", dir.path()});
    click("按钮_播放");
    EXPECT_TRUE(waitFor([&] { return playButton() == "播放"; }, 3000)) << caption();
    pump(200);
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(caption().rfind("停止:", 0), 0u) << caption();
    EXPECT_EQ(count(log, "\"failed\""), 4) << vesperon::test::readFile(log.path());
    EXPECT_EQ(count(log, "\"message\":\"may not be read (or is a folder)\"}"), 1);
    controller->log = nullptr;
}

TEST_F(Transport, SeekingRestartsOnlyWhilePlaying) {
    // Long enough that the decoder's lead on the output is a small share of the file.
    const std::string a = Tones::make("seek.mp3", 20.0);
    ASSERT_FALSE(a.empty()) << "sox/lame";
    addFiles({a});
    // Stopped: the slider only chooses where the next start begins.
    StopPlayback();
    moveSlider(80);
    EXPECT_EQ(engine::QueryPlayState(), 0);
    click("按钮_播放");
    ASSERT_EQ(engine::QueryPlayState(), 1);
    EXPECT_TRUE(waitFor([&] { return slider() > 80; })) << slider();

    // Playing: a move restarts the file at that percentage.
    moveSlider(20);
    EXPECT_TRUE(waitFor([&] { return slider() > 20 && slider() < 80; })) << slider();
    EXPECT_EQ(engine::QueryPlayState(), 1);

    // Paused: nothing restarts, and the notices stop.
    engine::PausePlayback();
    pump(100);
    moveSlider(90);
    pump(300);
    EXPECT_EQ(engine::QueryPlayState(), -1);
    EXPECT_EQ(slider(), 90);
}

TEST_F(Transport, RefusedHotKeysDoNotTurnProgressNoticesIntoKeyPresses) {
    // Without registered keys both identifiers are 0, which is also the first progress notice of
    // every file started from the beginning.
    closeWindow();
    refusedKeys = {kPauseVk, kPageDownVk};
    openWindow();
    ASSERT_EQ(state().hotkeyIds[0], 0);
    const std::string a = Tones::make("zero1.mp3", 3.0), b = Tones::make("zero2.mp3", 3.0);
    ASSERT_FALSE(a.empty() || b.empty()) << "sox/lame";
    addFiles({a, b});
    PlayNext();
    EXPECT_TRUE(waitFor([&] { return slider() > 0; })) << slider();
    pump(300);  // long enough for a wrongly decoded "key" to act
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(caption(), "播放:zero2.mp3");
    EXPECT_EQ(playButton(), "暂停");
}

}  // namespace
}  // namespace vesperon::app::test
