// The open-file dialog, the message box and tool tips, driven the way a user would: the modal
// dialogs are found and answered from a timer while the command waits for them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "desktop/dialog_language.h"
#include "desktop/file_dialog.h"
#include "desktop/message_box.h"
#include "desktop/tool_tips.h"
#include "tests/desktop/test_form.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

namespace vesperon::desktop {
namespace {

// Runs `answer` on the first modal dialog of type T that shows up.
template <class T>
void whenShown(std::function<void(T*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(d);
        }
    });
    timer->start();
}

// ---- the open-file dialog ----

TEST(FilterRules, PairsEndingsAndWhiteSpace) {
    using P = std::vector<FilterPair>;
    EXPECT_EQ(parseFilter("mp3文件(*.mp3)|*.mp3"), (P{{"mp3文件(*.mp3)", "*.mp3"}}));
    EXPECT_EQ(parseFilter("mp3文件(*.mp3)|*.mp3||"), (P{{"mp3文件(*.mp3)", "*.mp3"}}));
    EXPECT_EQ(parseFilter("A|*.a|B|*.b;*.c  \t\r\n"), (P{{"A", "*.a"}, {"B", "*.b;*.c"}}));
    EXPECT_EQ(parseFilter("   "), P{});
    EXPECT_EQ(parseFilter(""), P{});
    // The list ends at the first empty part; a description without a pattern is dropped.
    EXPECT_EQ(parseFilter("A|*.a||B|*.b"), (P{{"A", "*.a"}}));
    EXPECT_EQ(parseFilter("A|*.a|B"), (P{{"A", "*.a"}}));
    EXPECT_EQ(parseFilter("|*.a"), P{});
}

TEST(FilterRules, InitialPairAndQtNames) {
    EXPECT_EQ(initialFilterPair(2, -5), 0);
    EXPECT_EQ(initialFilterPair(2, 1), 1);
    EXPECT_EQ(initialFilterPair(2, 9), 0);
    EXPECT_EQ(initialFilterPair(0, 1), std::nullopt);
    EXPECT_EQ(initialFilterPair(2, std::nullopt), std::nullopt);
    EXPECT_EQ(qtNameFilter({"mp3文件(*.mp3)", "*.mp3"}), "mp3文件(*.mp3)");
    EXPECT_EQ(qtNameFilter({"Audio", "*.mp3;*.mp2"}), "Audio (*.mp3 *.mp2)");
    EXPECT_EQ(qtNameFilter({"Audio (*.wav)", "*.mp3"}), "Audio (*.wav) (*.mp3)");
}

class FileDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* n : {"a.mp3", "b.mp3", "c.mp3", "notes.txt"}) test::writeFile(dir.file(n), "x");
        oldCwd = QDir::currentPath();
    }
    void TearDown() override { QDir::setCurrent(oldCwd); }
    test::TempDir dir;
    QString oldCwd;
};

TEST_F(FileDialogTest, ChosenFilesComeBackAsFullPathsInOrder) {
    QString title, directory, selectedFilter;
    QStringList filters;
    bool multi = false;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        title = d->windowTitle();
        filters = d->nameFilters();
        selectedFilter = d->selectedNameFilter();
        directory = d->directory().absolutePath();
        multi = d->fileMode() == QFileDialog::ExistingFiles;
        d->findChild<QLineEdit*>("fileNameEdit")->setText(R"("c.mp3" "a.mp3" "b.mp3")");
        static_cast<QDialog*>(d)->accept();
    });
    OpenFileDialogArgs args;
    args.filter = "mp3文件(*.mp3)|*.mp3";
    args.initialDirectory = dir.path();
    const auto paths = OpenFileDialog(args);
    EXPECT_EQ(paths, (std::vector<std::string>{dir.file("c.mp3"), dir.file("a.mp3"), dir.file("b.mp3")}));
    EXPECT_EQ(title.toStdString(), kDefaultOpenTitle);
    EXPECT_EQ(filters, QStringList{QString::fromUtf8("mp3文件(*.mp3)")});
    EXPECT_EQ(directory.toStdString(), dir.path());
    EXPECT_TRUE(multi);
    // Without "keep directory" the current directory follows the dialog.
    EXPECT_EQ(QDir::currentPath().toStdString(), dir.path());
}

TEST_F(FileDialogTest, CancelKeepDirectoryAndInitialFilter) {
    QString title, selected;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        title = d->windowTitle();
        selected = d->selectedNameFilter();
        d->reject();
    });
    OpenFileDialogArgs args;
    args.title = "选择";
    args.filter = "Text|*.txt|Music|*.mp3";
    args.initialFilter = -5;
    args.initialDirectory = dir.path();
    EXPECT_TRUE(OpenFileDialog(args).empty());
    EXPECT_EQ(title, QString::fromUtf8("选择"));
    EXPECT_EQ(selected, "Text (*.txt)");

    whenShown<QFileDialog>([&](QFileDialog* d) {
        selected = d->selectedNameFilter();
        d->findChild<QLineEdit*>("fileNameEdit")->setText("b.mp3");
        static_cast<QDialog*>(d)->accept();
    });
    args.initialFilter = 1;
    args.keepDirectory = true;
    EXPECT_EQ(OpenFileDialog(args), std::vector<std::string>{dir.file("b.mp3")});
    EXPECT_EQ(selected, "Music (*.mp3)");
    EXPECT_EQ(QDir::currentPath(), oldCwd);
}

// ---- the message box ----

TEST(MessageText, ConversionsAndFlags) {
    EXPECT_EQ(messageText(std::string("abc")), "abc");
    EXPECT_EQ(messageText(std::int32_t{42}), "42");
    EXPECT_EQ(messageText(std::int32_t{-7}), "-7");
    EXPECT_EQ(messageText(std::uint8_t{200}), "200");
    EXPECT_EQ(messageText(std::int64_t{1} << 40), "1099511627776");
    EXPECT_EQ(messageText(2.5), "2.5");
    EXPECT_EQ(messageText(true), "真");
    EXPECT_EQ(messageText(false), "假");
    EXPECT_EQ(messageText(std::monostate{}), "");
    EXPECT_EQ(effectiveMessageBoxFlags(0x21), 0x2021u);
    EXPECT_EQ(effectiveMessageBoxFlags(0x1010), 0x1010u);
    EXPECT_EQ(effectiveMessageBoxFlags(0x2000), 0x4000u);  // added, not or-ed
}

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString defaultButton;
    int buttons = 0;
};

// Shows the box and answers it with `act`; records what it looked like.
int answerBox(const MessageValue& msg, std::optional<std::int64_t> flags, std::optional<std::string> caption,
              std::function<void(QMessageBox*)> act, SeenBox* seen = nullptr) {
    whenShown<QMessageBox>([=](QMessageBox* b) {
        if (seen) {
            seen->title = b->windowTitle();
            seen->text = b->text();
            seen->icon = b->icon();
            seen->defaultButton = b->defaultButton() ? b->defaultButton()->text() : QString();
            seen->buttons = static_cast<int>(b->buttons().size());
        }
        act(b);
    });
    return ShowMessageBox(msg, flags, std::move(caption));
}

QAbstractButton* buttonOf(QMessageBox* b, QMessageBox::StandardButton s) {
    return b->button(s);
}

TEST(MessageBoxTest, ButtonsMapToResults) {
    SeenBox seen;
    EXPECT_EQ(answerBox(
                  std::int32_t{42}, 0x21, std::nullopt,
                  [](QMessageBox* b) { buttonOf(b, QMessageBox::Cancel)->click(); }, &seen),
              kResultCancel);
    EXPECT_EQ(seen.title, QString::fromUtf8("信息："));
    EXPECT_EQ(seen.text, "42");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, 2);

    EXPECT_EQ(answerBox(
                  std::string("ok?"), 0x21, std::string("重置播放列表"),
                  [](QMessageBox* b) { buttonOf(b, QMessageBox::Ok)->click(); }, &seen),
              kResultOk);
    EXPECT_EQ(seen.title, QString::fromUtf8("重置播放列表"));
    // Closing an OK / Cancel box counts as Cancel.
    EXPECT_EQ(answerBox(std::string("close me"), 0x21, std::nullopt, [](QMessageBox* b) { b->close(); }),
              kResultCancel);

    EXPECT_EQ(answerBox(std::string("x"), 2, std::nullopt,
                        [](QMessageBox* b) { buttonOf(b, QMessageBox::Retry)->click(); }),
              kResultRetry);
    EXPECT_EQ(answerBox(std::string("x"), 2, std::nullopt,
                        [](QMessageBox* b) { buttonOf(b, QMessageBox::Ignore)->click(); }),
              kResultIgnore);
    EXPECT_EQ(answerBox(std::string("x"), 2, std::nullopt,
                        [](QMessageBox* b) { buttonOf(b, QMessageBox::Abort)->click(); }),
              kResultAbort);
    EXPECT_EQ(answerBox(std::string("x"), 4, std::nullopt,
                        [](QMessageBox* b) { buttonOf(b, QMessageBox::Yes)->click(); }),
              kResultYes);
    EXPECT_EQ(answerBox(std::string("x"), 6, std::nullopt,
                        [](QMessageBox* b) {
                            for (auto* button : b->buttons())
                                if (button->text() == "Continue") button->click();
                        }),
              kResultOk);  // "Continue" has no result of its own
}

TEST(MessageBoxTest, DefaultButtonIconAndLineBreaks) {
    SeenBox seen;
    // Yes/No/Cancel with the second button as default: Enter answers No.
    EXPECT_EQ(answerBox(
                  std::string("line1\r\nline2"), 0x3 | 0x30 | 0x100, std::nullopt,
                  [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Return); }, &seen),
              kResultNo);
    EXPECT_EQ(seen.text, "line1\nline2");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, 3);

    EXPECT_EQ(
        answerBox(
            true, 0x10, std::string("错误"), [](QMessageBox* b) { b->buttons().front()->click(); }, &seen),
        kResultOk);
    EXPECT_EQ(seen.text, QString::fromUtf8("真"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, 1);
    // Yes / No cannot be closed or escaped; the answer is the button finally pressed.
    EXPECT_EQ(answerBox(std::string("x"), 4, std::nullopt,
                        [](QMessageBox* b) {
                            b->close();
                            QTest::keyClick(b, Qt::Key_Escape);
                            EXPECT_TRUE(b->isVisible());
                            buttonOf(b, QMessageBox::Yes)->click();
                        }),
              kResultYes);
    // A button set that does not exist shows nothing and answers as OK.
    EXPECT_EQ(ShowMessageBox("never shown", 0x7), kResultOk);
}

// ---- tool tips ----

TEST(ToolTips, SetOnTheWindowWithTheFirstStyle) {
    test::TestForm f;
    ASSERT_TRUE(f.form) << f.error;
    QWidget* button = f.widget("按钮_播放")->live();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(AddToolTip(0, "nothing", true, false), 0);
    EXPECT_FALSE(toolTipControl().created);

    AddToolTip(f.handle("按钮_播放"), "快捷键:Pause", false, false);
    EXPECT_EQ(button->toolTip(), QString::fromUtf8("快捷键:Pause"));
    AddToolTip(f.handle("列表框1"), "two\r\nlines", true, true);
    EXPECT_FALSE(toolTipControl().balloon);  // fixed by the first call
    EXPECT_EQ(f.widget("列表框1")->live()->toolTip(), "two\nlines");
    // Text that looks like markup is shown as written.
    AddToolTip(f.handle("按钮_播放"), "<b>x</b>", false, false);
    EXPECT_NE(button->toolTip().indexOf("&lt;b&gt;"), -1);

    // Hovering shows it.
    AddToolTip(f.handle("按钮_播放"), "快捷键:Pause", false, false);
    QHelpEvent hover(QEvent::ToolTip, QPoint(2, 2), button->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(button, &hover);
    EXPECT_TRUE(test::waitFor([] { return QToolTip::isVisible(); }, 1000));
    EXPECT_EQ(QToolTip::text(), QString::fromUtf8("快捷键:Pause"));
}

// Thousands of quoted names pasted into the file-name field come back at once (Qt's own
// dialog selected them in its list one by one, on every change: minutes for a few hundred).
TEST_F(FileDialogTest, ThousandsOfPastedNamesComeBackAtOnce) {
    QString names;
    for (int i = 0; i < 3000; ++i) {
        const std::string n = "track " + std::to_string(i) + ".mp3";
        test::writeFile(dir.file(n), "x");
        names += QString::fromStdString((i ? " \"" : "\"") + n + "\"");
    }
    qint64 pasteMs = -1;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
        QElapsedTimer t;
        t.start();
        edit->setFocus();
        edit->insert(names);
        QApplication::processEvents();
        pasteMs = t.elapsed();
        static_cast<QDialog*>(d)->accept();
    });
    OpenFileDialogArgs args;
    args.initialDirectory = dir.path();
    const auto paths = OpenFileDialog(args);
    ASSERT_EQ(paths.size(), 3000u);
    EXPECT_EQ(paths[2999], dir.file("track 2999.mp3"));
    std::printf("3000 pasted names: %lld ms in the field\n", static_cast<long long>(pasteMs));
}

// Last in this file: from here on the process speaks Chinese.
TEST(DialogLanguage, MessageBoxAndFileDialogButtonsAreChinese) {
    ASSERT_TRUE(installDialogTranslations()) << "qt6-translations-l10n is not installed";
    QStringList boxButtons;
    EXPECT_EQ(answerBox(std::string("真的要重置播放列表吗?"), 0x21, std::string("重置播放列表"),
                        [&](QMessageBox* b) {
                            for (auto* button : b->buttons()) boxButtons << button->text();
                            buttonOf(b, QMessageBox::Cancel)->click();
                        }),
              kResultCancel);
    boxButtons.sort();
    EXPECT_EQ(boxButtons, (QStringList{QString::fromUtf8("取消"), QString::fromUtf8("确定")}));

    QStringList dialogButtons;
    whenShown<QFileDialog>([&](QFileDialog* d) {
        for (auto* button : d->findChildren<QPushButton*>())
            if (button->isVisible()) dialogButtons << button->text();
        d->reject();
    });
    OpenFileDialog({});
    EXPECT_TRUE(dialogButtons.contains(QString::fromUtf8("取消"))) << dialogButtons.join(",").toStdString();
    EXPECT_TRUE(std::any_of(dialogButtons.begin(), dialogButtons.end(),
                            [](const QString& t) { return t.startsWith(QString::fromUtf8("打开")); }))
        << dialogButtons.join(",").toStdString();
}

}  // namespace
}  // namespace vesperon::desktop
