// The hot-key table's rules with a recording key grabber standing in for the X server, and the
// real grabber's refusal off X11 (this test runs on Qt's offscreen platform).

#include <gtest/gtest.h>

#include <QApplication>

#include "desktop/hot_key_codes.h"
#include "desktop/hot_keys.h"
#include "desktop/x11_key_grabber.h"
#include "ui/handle_registry.h"

namespace vesperon::desktop {
namespace {

struct FakeGrabber : KeyGrabber {
    struct Key {
        std::intptr_t window;
        int id;
        uint32_t flags, vk;
    };
    std::vector<Key>* keys;
    bool refuse = false;
    explicit FakeGrabber(std::vector<Key>* k) : keys(k) {}
    bool registerKey(std::intptr_t window, int id, uint32_t flags, uint32_t vk) override {
        if (refuse) return false;
        keys->push_back({window, id, flags, vk});
        return true;
    }
    bool unregisterKey(std::intptr_t window, int id) override {
        return std::erase_if(*keys, [&](const Key& k) { return k.window == window && k.id == id; }) > 0;
    }
    void press(std::intptr_t window, int id) { deliver(window, id); }
};

// A window that logs what reaches it, feedback windows and hot-key windows alike.
struct Recorder : ui::MessageReceiver {
    std::string name;
    std::vector<std::string>* log;
    ui::WindowHandle handle = 0;
    Recorder(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {
        handle = ui::registerHandle(this);
    }
    ~Recorder() override { ui::unregisterHandle(handle); }
    std::intptr_t receiveMessage(std::uint32_t m, std::intptr_t w, std::intptr_t l) override {
        log->push_back(name + " " + std::to_string(m) + " " + std::to_string(w) + " " + std::to_string(l));
        return 0;
    }
};

class HotKeyTableTest : public ::testing::Test {
protected:
    std::vector<FakeGrabber::Key> keys;
    std::vector<std::string> log;
    FakeGrabber* grabber = nullptr;
    void SetUp() override {
        auto g = std::make_unique<FakeGrabber>(&keys);
        grabber = g.get();
        useKeyGrabber(std::move(g));
    }
    void TearDown() override { useKeyGrabber(nullptr); }
    static int nextId() { return static_cast<int>(33001 + hotKeyTable().issuedCount); }
};

TEST_F(HotKeyTableTest, IdentifiersCountUpAndRefusalsConsumeThem) {
    Recorder window("window", &log), feedback("feedback", &log);
    const int first = nextId();
    EXPECT_EQ(RegisterGlobalHotKey(window.handle, feedback.handle, 0, kVkPause), first);
    grabber->refuse = true;
    EXPECT_EQ(RegisterGlobalHotKey(window.handle, feedback.handle, 0, kVkPageDown), 0);
    grabber->refuse = false;
    EXPECT_EQ(RegisterGlobalHotKey(window.handle, feedback.handle, 0, kVkPageDown), first + 2);
    EXPECT_EQ(hotKeyTable().highestId, static_cast<uint32_t>(first + 2));
    EXPECT_EQ(hotKeyTable().activeCount, 3);
    // Releasing something never registered fails but still counts.
    EXPECT_FALSE(UnregisterGlobalHotKey(window.handle, 0));
    EXPECT_TRUE(UnregisterGlobalHotKey(window.handle, first));
    EXPECT_NE(hotKeyTable().filterId, 0);
    EXPECT_TRUE(UnregisterGlobalHotKey(window.handle, first + 2));
    EXPECT_EQ(hotKeyTable().activeCount, 0);
    EXPECT_EQ(hotKeyTable().filterId, 0);
    EXPECT_TRUE(keys.empty());
}

TEST_F(HotKeyTableTest, FeedbackComesBeforeTheWindowAndFollowsTheLatestRegistration) {
    Recorder window("window", &log), feedbackA("A", &log), feedbackB("B", &log);
    const int a = RegisterGlobalHotKey(window.handle, feedbackA.handle, 0, kVkPause);
    const int b = RegisterGlobalHotKey(window.handle, feedbackB.handle, 0, kVkPageDown);
    grabber->press(window.handle, a);
    grabber->press(window.handle, b);
    const std::string hk = " " + std::to_string(kHotKeyMessage) + " ";
    EXPECT_EQ(log, (std::vector<std::string>{
                       "B 32885 " + std::to_string(a) + " 0", "window" + hk + std::to_string(a) + " 0",
                       "B 32885 " + std::to_string(b) + " 0", "window" + hk + std::to_string(b) + " 0"}));
    // An identifier the table never issued passes to the window only.
    log.clear();
    ui::sendMessage(window.handle, kHotKeyMessage, 12345, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"window" + hk + "12345 0"}));

    UnregisterGlobalHotKey(window.handle, a);
    UnregisterGlobalHotKey(window.handle, b);
    log.clear();
    ui::sendMessage(window.handle, kHotKeyMessage, a, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"window" + hk + std::to_string(a) + " 0"}));
}

TEST_F(HotKeyTableTest, OnlyTheFirstHotKeyWindowIsServed) {
    Recorder first("first", &log), second("second", &log), feedback("fb", &log);
    const int a = RegisterGlobalHotKey(first.handle, feedback.handle, 0, kVkPause);
    const int b = RegisterGlobalHotKey(second.handle, feedback.handle, 0, kVkPageDown);
    ASSERT_EQ(keys.size(), 2u);
    grabber->press(second.handle, b);
    EXPECT_EQ(log.size(), 1u);  // the second window sees its key, the feedback window nothing
    EXPECT_EQ(log[0].rfind("second", 0), 0u);
    UnregisterGlobalHotKey(first.handle, a);
    UnregisterGlobalHotKey(second.handle, b);
}

TEST_F(HotKeyTableTest, ModifierCodesAreTranslated) {
    Recorder window("window", &log);
    const uint32_t expected[] = {0,
                                 kModControl,
                                 kModShift,
                                 kModControl | kModShift,
                                 kModAlt,
                                 kModControl | kModAlt,
                                 kModShift | kModAlt,
                                 kModControl | kModShift | kModAlt,
                                 8,
                                 77};
    const int codes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 77};
    std::vector<int> ids;
    for (int c : codes) ids.push_back(RegisterGlobalHotKey(window.handle, window.handle, c, 'A'));
    ASSERT_EQ(keys.size(), 10u);
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(keys[i].flags, expected[i]) << "code " << codes[i];
    for (int id : ids) UnregisterGlobalHotKey(window.handle, id);
}

TEST(HotKeyCodes, KeysAndModifiersMapToX11) {
    EXPECT_NE(keysymForVirtualKey(kVkPause), 0u);
    EXPECT_NE(keysymForVirtualKey(kVkPageDown), keysymForVirtualKey(0x21));
    EXPECT_EQ(keysymForVirtualKey('A') + 25, keysymForVirtualKey('Z'));
    EXPECT_EQ(keysymForVirtualKey(0x07), 0u);  // no key
    uint16_t mask = 0;
    EXPECT_TRUE(xModifierMask(kModControl | kModShift | kModNoRepeat, mask));
    EXPECT_EQ(mask, (1 << 2) | (1 << 0));  // ControlMask | ShiftMask
    EXPECT_FALSE(xModifierMask(77, mask));
}

TEST(HotKeysOffX11, RegistrationIsRefusedButTheIdentifierIsUsed) {
    std::vector<std::string> log;
    Recorder window("window", &log);
    useKeyGrabber(std::make_unique<X11KeyGrabber>());
    const int next = static_cast<int>(33001 + hotKeyTable().issuedCount);
    EXPECT_EQ(RegisterGlobalHotKey(window.handle, window.handle, 0, kVkPause), 0);
    EXPECT_EQ(hotKeyTable().highestId, static_cast<uint32_t>(next));
    EXPECT_FALSE(UnregisterGlobalHotKey(window.handle, 0));
    EXPECT_EQ(hotKeyTable().filterId, 0);
    useKeyGrabber(nullptr);
}

}  // namespace
}  // namespace vesperon::desktop
