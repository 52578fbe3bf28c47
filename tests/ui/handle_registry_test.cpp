// The handle registry: messages posted from other threads reach the label's feedback event on the
// UI thread in order; nothing arrives once the widget is gone.

#include "ui/handle_registry.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <thread>

#include "app/routine_ids.h"
#include "tests/ui/ui_test_support.h"
#include "ui/label.h"

namespace vesperon::ui::test {
namespace {

struct FeedbackForm {
    RoutineRecorder rec;
    std::unique_ptr<Form> form;
    Label* label = nullptr;
    std::vector<std::pair<std::int32_t, std::int32_t>> received;
    bool allOnUiThread = true;

    FeedbackForm() {
        LayoutBuilder b;
        layout::LabelProps p;
        p.caption = "反馈事件";
        auto& u = b.add(layout::Kind::Label, "标签1", 160, 42, 50, 16, p);
        u.stateFlags = 0;  // hidden
        b.bind(u, 0, app::routine::FeedbackDispatch);
        form = showForm(b.layout(), rec);
        label = form->findAs<Label>("标签1");
        rec.onCall = [this](const EventCall& c) {
            received.emplace_back(std::get<std::int32_t>(c.args.at(0)), std::get<std::int32_t>(c.args.at(1)));
            allOnUiThread = allOnUiThread && QThread::currentThread() == qApp->thread();
        };
    }
};

TEST(HandleRegistry, PostedFeedbackFromAnotherThreadArrivesInOrderOnTheUiThread) {
    FeedbackForm f;
    const WindowHandle h = f.label->handle();
    ASSERT_NE(h, 0);
    EXPECT_EQ(widgetOfHandle(h), f.label->live());
    EXPECT_FALSE(f.label->live()->isVisible());  // hidden labels still take messages
    std::atomic<int> posted{0};
    std::thread engine([&] {
        for (int i = 0; i <= 100; ++i) posted += postMessage(h, kPlayerNotifyMessage, i, 7);
        posted += postMessage(h, 0x1234, 1, 1);  // another message: no feedback
    });
    engine.join();
    EXPECT_EQ(posted, 102);
    EXPECT_TRUE(f.received.empty());  // nothing runs until the UI thread takes its messages
    QTRY_COMPARE(f.received.size(), std::size_t(101));
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(f.received[i], std::make_pair(i, 7));
    EXPECT_TRUE(f.allOnUiThread);
}

TEST(HandleRegistry, SentFeedbackReturnsTheRoutinesValue) {
    FeedbackForm f;
    f.rec.returns[app::routine::FeedbackDispatch] = 42;
    EXPECT_EQ(sendMessage(f.label->handle(), kPlayerNotifyMessage, 33001, 0), 42);
    ASSERT_EQ(f.received.size(), 1u);  // synchronous on the UI thread
    EXPECT_EQ(f.received[0].first, 33001);
    f.rec.returns.clear();
    EXPECT_EQ(sendMessage(f.label->handle(), kPlayerNotifyMessage, 5, 0), 0);  // no value: 0

    // From another thread the sender waits for the UI thread's answer.
    f.rec.returns[app::routine::FeedbackDispatch] = 9;
    std::atomic<std::intptr_t> answer{-1};
    std::thread other([&] { answer = sendMessage(f.label->handle(), kPlayerNotifyMessage, 1, 2); });
    QTRY_COMPARE(answer.load(), std::intptr_t(9));
    other.join();
}

TEST(HandleRegistry, NothingArrivesAfterTheWidgetIsDestroyed) {
    FeedbackForm f;
    const WindowHandle h = f.label->handle();
    std::atomic<bool> go{false};
    std::atomic<int> postedBefore{0};
    std::thread engine([&] {
        for (int i = 0; i < 50; ++i) postedBefore += postMessage(h, kPlayerNotifyMessage, i, 0);
        go = true;
    });
    engine.join();
    EXPECT_EQ(postedBefore, 50);
    f.label->destroyLive();  // messages already queued are dropped with it
    EXPECT_FALSE(isWindow(h));
    std::thread late([&] { EXPECT_FALSE(postMessage(h, kPlayerNotifyMessage, 99, 0)); });
    late.join();
    EXPECT_EQ(sendMessage(h, kPlayerNotifyMessage, 1, 1), 0);
    QTest::qWait(50);
    EXPECT_TRUE(f.received.empty());
    // Handles are never reused: a new widget does not inherit the old handle's messages.
    FeedbackForm g;
    EXPECT_NE(g.label->handle(), h);
}

TEST(HandleRegistry, FiltersSeeMessagesBeforeTheReceiver) {
    FeedbackForm f;
    const WindowHandle h = f.label->handle();
    int filtered = 0;
    const int id = addMessageFilter(
        h, [&](std::uint32_t m, std::intptr_t w, std::intptr_t) -> std::optional<std::intptr_t> {
            if (m != kPlayerNotifyMessage || w < 33001) return std::nullopt;
            ++filtered;
            return 1;
        });
    ASSERT_NE(id, 0);
    EXPECT_EQ(sendMessage(h, kPlayerNotifyMessage, 33001, 0), 1);
    EXPECT_EQ(sendMessage(h, kPlayerNotifyMessage, 50, 0), 0);
    EXPECT_EQ(filtered, 1);
    ASSERT_EQ(f.received.size(), 1u);
    EXPECT_EQ(f.received[0].first, 50);
    removeMessageFilter(h, id);
    sendMessage(h, kPlayerNotifyMessage, 33002, 0);
    EXPECT_EQ(f.received.size(), 2u);
}

}  // namespace
}  // namespace vesperon::ui::test
