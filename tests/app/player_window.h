#pragma once
// The program's main window loaded from its layout with the real routines, the real engine (null
// output), and stand-ins that record: the mixer, the key grabber, the dialogs and the clock.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtTest/QTest>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/logic.h"
#include "app/routine_ids.h"
#include "app/routines.h"
#include "desktop/hot_keys.h"
#include "desktop/key_grabber.h"
#include "desktop/drop_target.h"
#include "engine/player/commands.h"
#include "engine/port/message_port.h"
#include "tests/support/encoded_tone.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"
#include "tests/volume/fake_mixer.h"
#include "ui/button.h"
#include "ui/check_box.h"
#include "ui/edit_box.h"
#include "ui/list_box.h"
#include "ui/main_window.h"
#include "ui/scroll_bar.h"
#include "ui/slider_bar.h"
#include "ui/timer.h"
#include "ui/window_widget.h"
#include "ui/handle_registry.h"
#include "volume/mixer.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app::test {

using vesperon::test::pump;
using vesperon::test::waitFor;

// Refuses the keys it is told to refuse; logs every registration and release.
struct RecordingGrabber : desktop::KeyGrabber {
    std::vector<std::string>* log;
    std::vector<uint32_t> refused;  // virtual keys
    explicit RecordingGrabber(std::vector<std::string>* l) : log(l) {}
    bool registerKey(std::intptr_t, int id, uint32_t, uint32_t vk) override {
        for (uint32_t r : refused)
            if (r == vk) {
                log->push_back("refuse " + std::to_string(vk));
                return false;
            }
        log->push_back("register " + std::to_string(vk) + " " + std::to_string(id));
        return true;
    }
    bool unregisterKey(std::intptr_t, int id) override {
        log->push_back("unregister " + std::to_string(id));
        return true;
    }
    void press(std::intptr_t window, int id) { deliver(window, id); }
};

struct MessageBoxCall {
    std::string text;
    std::int64_t flags;
    std::string caption;
};

class PlayerWindow : public ::testing::Test {
protected:
    static constexpr int kPauseVk = 0x13, kPageDownVk = 0x22;

    void SetUp() override { openWindow(); }
    void TearDown() override { closeWindow(); }

    // Before openWindow: what the stand-ins do during start-up.
    std::vector<uint32_t> refusedKeys;
    std::vector<uint32_t> startVolume{30000, 30000};
    uint32_t mixerMaximum = 65535;

    // With a fresh controller, unless one was made for this window (to give it a session file).
    void openWindow() {
        // As the program does before its window.
        engine::installMessagePort({&ui::postMessage, &ui::isWindow});
        volume::registerSysVolumeType();
        desktop::registerDropTargetType();
        if (form || !controller) {
            form.reset();
            controller = std::make_unique<PlayerController>();
        }
        mixer = std::make_shared<volume::FakeMixer>();
        mixer->lines[0].volume = startVolume;
        mixer->lines[0].maximum = mixerMaximum;
        volume::useMixerSystem(mixer);
        auto g = std::make_unique<RecordingGrabber>(&keyLog);
        g->refused = refusedKeys;
        grabber = g.get();
        desktop::useKeyGrabber(std::move(g));
        LogicServices& s = services();
        s.openFileDialog = [this](const desktop::OpenFileDialogArgs& args) {
            dialogTitles.push_back(args.title.value_or("(none)"));
            lastDialog = args;
            std::vector<std::string> out = nextDialogAnswer;
            nextDialogAnswer.clear();
            return out;
        };
        s.messageBox = [this](const std::string& text, std::int64_t flags, const std::string& caption) {
            boxes.push_back({text, flags, caption});
            if (onMessageBox) onMessageBox();
            return boxAnswer;
        };
        s.localTime = [this] { return now; };
        auto loaded = ui::loadMainWindow(routineDispatcher(), app::routineCatalog(), {});
        ASSERT_TRUE(loaded) << loaded.error;
        form = std::move(loaded.value);
        // The clock is driven by the tests.
        w("时钟1").setProperty(ui::kTimerInterval, 0);
        // Keys and focus go to the active window only.
        form->windowWidget()->activateWindow();
        (void)QTest::qWaitForWindowActive(form->windowWidget());
    }

    void closeWindow() {
        engine::StopPlaying();
        form.reset();
        desktop::useKeyGrabber(nullptr);
        volume::useMixerSystem(nullptr);
        controller.reset();
    }

    ui::Widget& w(const char* name) {
        ui::Widget* found = form->find(name);
        EXPECT_TRUE(found) << name;
        return *found;
    }
    ui::ListBox& list() { return *form->findAs<ui::ListBox>("列表框1"); }
    std::string caption() { return form->window().textProperty(ui::kWindowCaption); }
    std::string playButton() { return w("按钮_播放").textProperty(ui::kButtonCaption); }
    int slider() { return w("滑块条_播放进度").intProperty(ui::kSliderPosition); }
    int volumeBar() { return w("纵向滚动条_音量").intProperty(ui::kScrollPosition); }
    void setBox(const char* name, const std::string& text) { w(name).setProperty(ui::kEditContent, text); }
    std::vector<std::string> rows() {
        std::vector<std::string> out;
        for (int i = 0; i < list().itemCount(); ++i) out.push_back(list().itemText(i));
        return out;
    }

    // A playlist as if added through the dialog.
    void addFiles(std::vector<std::string> paths) {
        nextDialogAnswer = std::move(paths);
        AddFilesByDialog();
    }

    // The mixer's volume writes since the last clear, as "L R".
    std::vector<std::string> volumeWrites() const {
        std::vector<std::string> out;
        const std::string prefix = "write " + std::to_string(volume::FakeMixer::volumeId(0)) + " ";
        for (const std::string& c : mixer->calls)
            if (c.rfind(prefix, 0) == 0) out.push_back(c.substr(prefix.size()));
        return out;
    }

    static std::tm at(int h, int m, int s) {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 7;
        t.tm_hour = h;
        t.tm_min = m;
        t.tm_sec = s;
        return t;
    }
    // Until no fade runs and no command waits for one (fades go on after their command).
    bool fadesDone(int ms = 5000) {
        return waitFor([this] { return controller->idle(); }, ms);
    }
    // The clock's tick at h:m:s, and the fade of a period's end it may start, to its end.
    void tickAt(int h, int m, int s) {
        now = at(h, m, s);
        CheckSchedule();
        fadesDone();
    }

    std::unique_ptr<PlayerController> controller;
    std::unique_ptr<ui::Form> form;
    std::shared_ptr<volume::FakeMixer> mixer;
    RecordingGrabber* grabber = nullptr;
    std::vector<std::string> keyLog;
    std::vector<std::string> dialogTitles;
    desktop::OpenFileDialogArgs lastDialog;
    std::vector<std::string> nextDialogAnswer;
    std::vector<MessageBoxCall> boxes;
    std::function<void()> onMessageBox;
    int boxAnswer = 0;
    std::tm now = at(12, 0, 0);
};

// Short MP3 files, shared by the tests of one process.
class Tones {
public:
    // A stereo 44.1 kHz tone of `seconds`, as `name` in a directory of this process (the
    // playlist shows the name).
    static std::string make(const std::string& name, double seconds, int frequency = 440) {
        static vesperon::test::TempDir dir;
        return vesperon::test::encodedTone({seconds, 44100, 2, {"sine", std::to_string(frequency)}},
                                           vesperon::test::kLame128, dir.file(name));
    }
};

}  // namespace vesperon::app::test
