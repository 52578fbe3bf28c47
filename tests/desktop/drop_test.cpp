// Drops on the form's list box built from QMimeData and delivered as Qt's drag events: which
// events and texts come out, which effects the keys give, and that the source is always told the
// drop was not performed.

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "desktop/drop_data.h"
#include "desktop/drop_target.h"
#include "tests/desktop/test_form.h"

namespace vesperon::desktop {
namespace {

using test::TestForm;

class DropTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerDropTargetType();
        form = std::make_unique<TestForm>();
        ASSERT_TRUE(form->form) << form->error;
        target = form->as<DropTarget>("拖放对象1");
        ASSERT_NE(target, nullptr);
        auto* list = qobject_cast<QAbstractScrollArea*>(form->widget("列表框1")->live());
        ASSERT_NE(list, nullptr);
        viewport = list->viewport();
        ASSERT_TRUE(target->RegisterDropWindow(form->handle("列表框1")));
    }

    struct Outcome {
        bool enterAccepted = false;
        Qt::DropAction enterAction = Qt::IgnoreAction;
        bool dropAccepted = true;
        Qt::DropAction dropAction = Qt::CopyAction;
    };

    // Enter, then drop, with the same keys and allowed effects.
    Outcome dragAndDrop(const QMimeData& data, Qt::KeyboardModifiers keys = Qt::NoModifier,
                        Qt::DropActions allowed = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) {
        Outcome o;
        QDragEnterEvent enter(QPoint(5, 5), allowed, &data, Qt::LeftButton, keys);
        QCoreApplication::sendEvent(viewport, &enter);
        o.enterAccepted = enter.isAccepted();
        o.enterAction = enter.dropAction();
        QDropEvent drop(QPointF(5, 5), allowed, &data, Qt::LeftButton, keys);
        QCoreApplication::sendEvent(viewport, &drop);
        o.dropAccepted = drop.isAccepted();
        o.dropAction = drop.dropAction();
        return o;
    }

    // (event, text) of every drop-target event raised so far.
    std::vector<std::pair<int, std::string>> raised() const {
        std::vector<std::pair<int, std::string>> out;
        for (const auto& c : form->rec.calls)
            if (c.widget == "拖放对象1" && c.args.size() == 1)
                if (auto* s = std::get_if<std::string>(&c.args[0])) out.emplace_back(c.event, *s);
        return out;
    }

    static QMimeData* files(std::initializer_list<const char*> paths) {
        auto* d = new QMimeData;
        QList<QUrl> urls;
        for (const char* p : paths) urls << QUrl::fromLocalFile(QString::fromUtf8(p));
        d->setUrls(urls);
        return d;
    }

    std::unique_ptr<TestForm> form;
    DropTarget* target = nullptr;
    QWidget* viewport = nullptr;
};

TEST_F(DropTest, FileListsBecomeOneFilesDroppedText) {
    std::unique_ptr<QMimeData> three(files({"/music/a.mp3", "/music/b 2.mp3", "/音乐/c.mp3"}));
    Outcome o = dragAndDrop(*three);
    EXPECT_TRUE(o.enterAccepted);
    EXPECT_EQ(o.enterAction, Qt::CopyAction);
    // The source hears "not performed" whatever happened.
    EXPECT_FALSE(o.dropAccepted);
    EXPECT_EQ(o.dropAction, Qt::IgnoreAction);
    std::unique_ptr<QMimeData> one(files({"/music/only.mp3"}));
    dragAndDrop(*one);
    EXPECT_EQ(raised(), (std::vector<std::pair<int, std::string>>{
                            {DropSink::FilesDropped, "/music/a.mp3\r\n/music/b 2.mp3\r\n/音乐/c.mp3\r\n"},
                            {DropSink::FilesDropped, "/music/only.mp3"}}));
    // The drops ended without a leave; a following text drag is still refused.
    QMimeData text;
    text.setText("not a file");
    EXPECT_FALSE(dragAndDrop(text).enterAccepted);
    EXPECT_EQ(raised().size(), 2u);
}

TEST_F(DropTest, KeysChooseTheEffect) {
    std::unique_ptr<QMimeData> data(files({"/music/a.mp3"}));
    EXPECT_EQ(dragAndDrop(*data, Qt::ShiftModifier).enterAction, Qt::MoveAction);
    EXPECT_EQ(dragAndDrop(*data, Qt::ControlModifier).enterAction, Qt::CopyAction);
    EXPECT_EQ(raised().size(), 2u);
    // Ctrl+Shift asks for a link, which is never granted: no drop.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::LinkAction, data.get(), Qt::LeftButton,
                          Qt::ControlModifier | Qt::ShiftModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction | Qt::LinkAction, data.get(), Qt::LeftButton,
                        Qt::ControlModifier | Qt::ShiftModifier);
    QCoreApplication::sendEvent(viewport, &move);
    EXPECT_FALSE(move.isAccepted());
    dragAndDrop(*data, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(raised().size(), 2u);
    // A source that allows only linking gets a link when no key is held, and the drop goes on.
    Outcome o = dragAndDrop(*data, Qt::NoModifier, Qt::LinkAction);
    EXPECT_EQ(o.enterAction, Qt::LinkAction);
    EXPECT_EQ(raised().size(), 3u);
    // Shift on a copy-only source: nothing.
    dragAndDrop(*data, Qt::ShiftModifier, Qt::CopyAction);
    EXPECT_EQ(raised().size(), 3u);
}

TEST_F(DropTest, TextHtmlAndLinksFollowTheSwitches) {
    QMimeData text;
    text.setText("hello");
    // Only files are accepted by the layout: text is refused on entry.
    EXPECT_FALSE(dragAndDrop(text).enterAccepted);
    EXPECT_TRUE(raised().empty());

    EXPECT_TRUE(target->setProperty(DropTarget::kAcceptText, ui::Value(1)));
    EXPECT_TRUE(target->sink().switches.text);
    EXPECT_TRUE(dragAndDrop(text).enterAccepted);
    ASSERT_EQ(raised().size(), 1u);
    EXPECT_EQ(raised()[0], (std::pair<int, std::string>(DropSink::TextDropped, "hello")));

    // Text that comes with HTML is skipped, even when HTML is not accepted.
    QMimeData rich;
    rich.setText("a b");
    rich.setHtml(QString::fromUtf8("<b>a\u00a0b</b>"));
    dragAndDrop(rich);
    EXPECT_EQ(raised().size(), 1u);
    target->setProperty(DropTarget::kAcceptHtml, ui::Value(1));
    dragAndDrop(rich);
    ASSERT_EQ(raised().size(), 2u);
    EXPECT_EQ(raised()[1], (std::pair<int, std::string>(DropSink::HtmlDropped, "<b>a b</b>")));

    QMimeData link;
    link.setUrls({QUrl("https://example.org/page?x=1")});
    target->setProperty(DropTarget::kAcceptText, ui::Value(0));
    target->setProperty(DropTarget::kAcceptHtml, ui::Value(0));
    EXPECT_FALSE(dragAndDrop(link).enterAccepted);  // a web link is no file
    target->setProperty(DropTarget::kAcceptUrl, ui::Value(1));
    EXPECT_TRUE(dragAndDrop(link).enterAccepted);
    ASSERT_EQ(raised().size(), 3u);
    EXPECT_EQ(raised()[2],
              (std::pair<int, std::string>(DropSink::UrlDropped, "https://example.org/page?x=1")));
}

TEST_F(DropTest, PropertiesRegistrationAndLeave) {
    EXPECT_EQ(ui::intOf(target->property(DropTarget::kAcceptText)), 0);
    EXPECT_EQ(ui::intOf(target->property(DropTarget::kAcceptHtml)), 0);
    EXPECT_EQ(ui::intOf(target->property(DropTarget::kAcceptUrl)), 0);
    EXPECT_EQ(ui::intOf(target->property(DropTarget::kAcceptFiles)), 1);
    EXPECT_FALSE(target->RegisterDropWindow(form->handle("按钮_播放")));

    std::unique_ptr<QMimeData> data(files({"/music/a.mp3"}));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(target->sink().accepted());
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(viewport, &leave);
    EXPECT_FALSE(target->sink().accepted());

    // Once the window is gone, drops no longer reach anything.
    form->form->destroyWindow();
    EXPECT_FALSE(target->RegisterDropWindow(0));
}

TEST(DropTargetRegistration, AFailedFirstRegistrationStillCounts) {
    registerDropTargetType();
    TestForm f;
    ASSERT_TRUE(f.form) << f.error;
    auto* t = f.as<DropTarget>("拖放对象1");
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->RegisterDropWindow(987654321));  // no such window
    EXPECT_FALSE(t->RegisterDropWindow(f.handle("列表框1")));
}

TEST(DecideEffect, KeysAndAllowedEffects) {
    struct Case {
        bool accepted;
        uint32_t keys, allowed, effect;
        bool ok;
    };
    const Case cases[] = {
        {false, 0, 7, kEffectNone, false},
        {true, 0, 7, kEffectCopy, true},
        {true, 0, kEffectMove | kEffectLink, kEffectMove, true},
        {true, 0, kEffectLink, kEffectLink, true},
        {true, 0, 0, kEffectNone, false},
        {true, kKeyControl, 7, kEffectCopy, true},
        {true, kKeyShift, 7, kEffectMove, true},
        {true, kKeyShift, kEffectCopy, kEffectNone, false},
        {true, kKeyControl | kKeyShift, 7, kEffectNone, false},
    };
    for (const Case& c : cases) {
        uint32_t effect = c.allowed;
        EXPECT_EQ(decideEffect(c.accepted, c.keys, effect), c.ok) << c.keys << " " << c.allowed;
        EXPECT_EQ(effect, c.effect) << c.keys << " " << c.allowed;
    }
}

TEST(DropTexts, FileListsAndHtml) {
    EXPECT_EQ(fileListText({}), "");
    EXPECT_EQ(fileListText({"/a"}), "/a");
    EXPECT_EQ(fileListText({"/a", "/b"}), "/a\r\n/b\r\n");
    EXPECT_EQ(htmlDropText(QString::fromUtf8("x\u00a0y\u00a0")), "x y ");
    EXPECT_EQ(htmlDropText(QString("ab") + QChar(0) + QString("cd")), "ab");
}

}  // namespace
}  // namespace vesperon::desktop
