// The playlist on the real window: rows, the dialog and drops, every removal case with the real
// engine, the reset question, the order switches and the list box's own keys and clicks.
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>
#include <QtTest/QTest>

#include "tests/app/player_window.h"

namespace vesperon::app::test {
namespace {

class Playlist : public PlayerWindow {
protected:
    void playRow(int row) {
        list().setSelectedIndex(row);
        PlayRow(list().selectedIndex());
    }
    QWidget* viewport() { return list().list()->viewport(); }
    void key(Qt::Key k) {
        list().list()->setFocus();
        QTest::keyClick(list().list(), k);
    }
    void click(const char* name) { QTest::mouseClick(w(name).live(), Qt::LeftButton); }
    // Three real files of a few seconds, so that the engine still plays while a test looks.
    void addTones() {
        const std::string a = Tones::make("a.mp3", 4.0, 440), b = Tones::make("b.mp3", 4.0, 550),
                          c = Tones::make("c.mp3", 4.0, 660);
        ASSERT_FALSE(a.empty() || b.empty() || c.empty()) << "sox/lame";
        addFiles({a, b, c});
    }
};

TEST_F(Playlist, DialogAddsNumberedRowsAndDropsKeepOnlyLowerCaseMp3) {
    nextDialogAnswer = {"/m/a.mp3", "/m/b.mp3"};
    click("按钮_添加列表");
    ASSERT_EQ(dialogTitles.size(), 1u);
    EXPECT_EQ(dialogTitles[0], "请选择要加入播放列表的MP3文件");
    EXPECT_EQ(lastDialog.filter, "mp3文件(*.mp3)|*.mp3");
    EXPECT_FALSE(lastDialog.initialFilter.has_value());
    EXPECT_NE(lastDialog.initialDirectory.value_or(""), QCoreApplication::applicationDirPath().toStdString());
    std::vector<std::string> more;
    for (int i = 3; i <= 10; ++i) more.push_back("/m/" + std::to_string(i) + ".mp3");
    addFiles(more);
    ASSERT_EQ(rows().size(), 10u);
    EXPECT_EQ(rows()[0], "1:   a.mp3");
    EXPECT_EQ(rows()[9], "10:  10.mp3");
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(list().selectedIndex(), -1);

    // A real drop on the list: files by URL, a folder among them.
    vesperon::test::TempDir dir;
    const std::string folder = dir.path();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/m/A.MP3"), QUrl::fromLocalFile("/m/drop.mp3"),
                  QUrl::fromLocalFile(QString::fromStdString(folder))});
    const Qt::DropActions allowed = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(5, 5), allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport(), &drop);
    ASSERT_TRUE(waitFor([&] { return state().playlist.size() == 11u; })) << state().playlist.size();
    EXPECT_EQ(state().playlist.back(), "/m/drop.mp3");
    EXPECT_EQ(rows().back(), "11:  drop.mp3");
    EXPECT_EQ(list().selectedIndex(), 10);
    EXPECT_EQ(state().currentTrack, 1);
}

TEST_F(Playlist, RemovingWithoutSelectionOrAfterTheCurrentTrackStartsNothing) {
    addFiles({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"});
    click("按钮_删除列表");
    EXPECT_EQ(rows().size(), 3u);

    list().setSelectedIndex(2);  // after the current track 1
    click("按钮_删除列表");
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:   a.mp3", "2:   b.mp3"}));
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(list().selectedIndex(), 1);  // the row after the removed one is past the end
    EXPECT_EQ(caption(), "Vesperon");
    EXPECT_EQ(engine::QueryPlayState(), 0);
}

TEST_F(Playlist, RemovingBeforeOrAtThePlayingTrack) {
    addTones();
    playRow(1);
    ASSERT_EQ(engine::QueryPlayState(), 1);

    // Before the current track: the same file goes on.
    list().setSelectedIndex(0);
    key(Qt::Key_Delete);
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(caption(), "播放:b.mp3");
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:   b.mp3", "2:   c.mp3"}));
    EXPECT_EQ(list().selectedIndex(), 0);

    addFiles({Tones::make("d.mp3", 4.0, 770)});
    // The playing entry, not the last: the next one takes its place and starts at once.
    list().setSelectedIndex(0);
    click("按钮_删除列表");
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(caption(), "播放:c.mp3");
    EXPECT_EQ(playButton(), "暂停");

    // The playing last entry: the one before it becomes current and starts from the beginning.
    playRow(1);
    ASSERT_EQ(caption(), "播放:d.mp3");
    list().setSelectedIndex(1);
    click("按钮_删除列表");
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(caption(), "播放:c.mp3");
    EXPECT_EQ(list().selectedIndex(), 0);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:   c.mp3"}));
}

TEST_F(Playlist, RemovingThePausedOrTheOnlyEntry) {
    addTones();
    playRow(1);
    engine::PausePlayback();
    ASSERT_EQ(engine::QueryPlayState(), -1);
    list().setSelectedIndex(1);
    click("按钮_删除列表");
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(state().currentTrack, 2);
    EXPECT_EQ(caption(), "停止:c.mp3");
    EXPECT_EQ(playButton(), "播放");
    EXPECT_EQ(list().selectedIndex(), 1);

    // Down to one entry, playing; removing it stops, shows the bare title and asks for files.
    list().setSelectedIndex(0);
    click("按钮_删除列表");
    playRow(0);
    ASSERT_EQ(engine::QueryPlayState(), 1);
    dialogTitles.clear();
    nextDialogAnswer = {"/m/new.mp3"};
    list().setSelectedIndex(0);
    click("按钮_删除列表");
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(caption(), "Vesperon");
    EXPECT_EQ(dialogTitles.size(), 1u);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:   new.mp3"}));
    EXPECT_EQ(list().selectedIndex(), -1);
}

TEST_F(Playlist, ResetAsksFirstAndCancelKeepsEverything) {
    // With no rows there is no question.
    click("按钮_重置列表");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dialogTitles.size(), 1u);
    addTones();
    dialogTitles.clear();
    playRow(2);
    boxAnswer = 1;  // Cancel
    click("按钮_重置列表");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "真的要重置播放列表吗?\r\n这将清空现有播放列表!");
    EXPECT_EQ(boxes[0].flags, 0x21);
    EXPECT_EQ(boxes[0].caption, "重置播放列表");
    EXPECT_EQ(rows().size(), 3u);
    EXPECT_EQ(engine::QueryPlayState(), 1);
    EXPECT_EQ(state().currentTrack, 3);
    EXPECT_TRUE(dialogTitles.empty());

    boxAnswer = 0;  // OK
    w("滑块条_播放进度").setProperty(ui::kSliderPosition, 40);
    nextDialogAnswer = {"/m/x.mp3"};
    click("按钮_重置列表");
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(engine::QueryPlayState(), 0);
    EXPECT_EQ(state().playlist, (std::vector<std::string>{"/m/x.mp3"}));
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:   x.mp3"}));
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(playButton(), "播放");
    EXPECT_EQ(slider(), 0);
    EXPECT_EQ(caption(), "播放:c.mp3");  // the reset leaves the title alone
    EXPECT_EQ(dialogTitles.size(), 1u);
}

TEST_F(Playlist, OrderSwitchesExcludeEachOtherAndChooseTheNextTrack) {
    addFiles({"/m/1.mp3", "/m/2.mp3", "/m/3.mp3", "/m/4.mp3", "/m/5.mp3"});
    auto checked = [&](const char* name) { return w(name).intProperty(ui::kCheckChecked); };
    click("选择框_单曲循环");
    EXPECT_EQ(state().loopTrack, 1);
    click("选择框_随机播放");
    EXPECT_EQ(checked("选择框_单曲循环"), 0);
    EXPECT_EQ(state().loopTrack, 0);
    EXPECT_EQ(state().randomOrder, 1);
    click("选择框_单曲循环");
    EXPECT_EQ(checked("选择框_随机播放"), 0);
    EXPECT_EQ(state().randomOrder, 0);
    EXPECT_EQ(state().loopTrack, 1);

    // Loop: the same entry again; previous still steps back and wraps.
    PlayNext();
    EXPECT_EQ(state().currentTrack, 1);
    PlayPrevious();
    EXPECT_EQ(state().currentTrack, 5);
    EXPECT_EQ(caption(), "播放:5.mp3");
    EXPECT_EQ(list().selectedIndex(), 4);

    click("选择框_单曲循环");
    EXPECT_EQ(state().loopTrack, 0);
    PlayNext();  // in order, wrapping
    EXPECT_EQ(state().currentTrack, 1);

    click("选择框_随机播放");
    std::vector<int> seen(6, 0);
    for (int i = 0; i < 60; ++i) {
        ChooseNextTrack();
        ASSERT_GE(state().currentTrack, 1);
        ASSERT_LE(state().currentTrack, 5);
        ++seen[static_cast<std::size_t>(state().currentTrack)];
    }
    for (int t = 1; t <= 5; ++t) EXPECT_GT(seen[static_cast<std::size_t>(t)], 0) << t;
    state().currentTrack = 1;
    PlayPrevious();
    EXPECT_EQ(state().currentTrack, 5);
}

TEST_F(Playlist, ListBoxKeysAndClicks) {
    // A press on the empty list asks for files.
    QTest::mousePress(viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(dialogTitles.size(), 1u);

    addFiles({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"});
    dialogTitles.clear();
    // Enter with no row chosen plays nothing.
    ASSERT_EQ(list().selectedIndex(), -1);
    key(Qt::Key_Return);
    EXPECT_EQ(state().currentTrack, 1);
    EXPECT_EQ(caption(), "Vesperon");
    EXPECT_EQ(playButton(), "播放");

    list().setSelectedIndex(2);
    key(Qt::Key_Return);
    EXPECT_EQ(state().currentTrack, 3);
    EXPECT_EQ(caption(), "播放:c.mp3");
    EXPECT_EQ(playButton(), "暂停");
    EXPECT_EQ(list().selectedIndex(), 2);

    // Space: the play button (the file does not open, so the engine stays stopped and plays it
    // again from the stopped state).
    StopPlayback();
    key(Qt::Key_Space);
    EXPECT_EQ(caption(), "播放:c.mp3");
    EXPECT_EQ(playButton(), "暂停");

    key(Qt::Key_Delete);
    EXPECT_EQ(rows(), (std::vector<std::string>{"1:   a.mp3", "2:   b.mp3"}));
    EXPECT_TRUE(dialogTitles.empty());
}

}  // namespace
}  // namespace vesperon::app::test
