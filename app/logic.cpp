#include "app/logic.h"

#include "desktop/message_box.h"
#include "ui/button.h"
#include "ui/list_box.h"
#include "ui/slider_bar.h"
#include "ui/window_widget.h"
#include "volume/sys_volume_widget.h"

#include "app/playlist_text.h"

namespace vesperon::app {

namespace {

PlayerState theState;
ScheduleSeconds theSeconds;
ui::Form* theForm = nullptr;

LogicServices defaultServices() {
    LogicServices s;
    s.openFileDialog = [](const desktop::OpenFileDialogArgs& args) { return desktop::OpenFileDialog(args); };
    s.messageBox = [](const std::string& text, std::int64_t flags, const std::string& caption) {
        return desktop::ShowMessageBox(text.c_str(), flags, caption);
    };
    s.localTime = [] {
        // The precise wall clock the tick is aligned to: time() reads a coarse copy that can
        // still show the old second a few milliseconds after the new one began.
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::time_t t = now.tv_sec;
        // localtime_r alone keeps the zone it first read: a change of time zone shows at once.
        tzset();
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm;
    };
    return s;
}

LogicServices theServices = defaultServices();

}  // namespace

void resetFadeGate();  // fade_gate.cpp
void resetQuit();      // quit.cpp
void resetTransport();  // transport.cpp

LogicServices& services() { return theServices; }
PlayerState& state() { return theState; }
ScheduleSeconds& scheduleSeconds() { return theSeconds; }

void resetPlayerLogic() {
    theState = PlayerState{};
    theSeconds = ScheduleSeconds{};
    theForm = nullptr;
    theServices = defaultServices();
    resetFadeGate();
    resetQuit();
    resetTransport();
}

ui::Form& mainForm() { return *theForm; }
bool hasMainForm() { return theForm != nullptr; }
void setMainForm(ui::Form* form) { theForm = form; }

ui::Widget& widget(const char* name) {
    // The layout is built into the program: every name the logic uses is there.
    return *theForm->find(name);
}

ui::ListBox& playlistBox() { return *theForm->findAs<ui::ListBox>("列表框1"); }
volume::SysVolumeWidget& sysVolume() { return *theForm->findAs<volume::SysVolumeWidget>("系统音量1"); }

void ShowWindowCaption(const std::string& prefix, const std::string& path) {
    theForm->window().setProperty(ui::kWindowCaption, prefix + FileNameOf(path));
}

void setButtonCaption(const char* name, const std::string& caption) {
    widget(name).setProperty(ui::kButtonCaption, caption);
}

void setSliderPosition(int position) { widget("滑块条_播放进度").setProperty(ui::kSliderPosition, position); }
int sliderPosition() { return widget("滑块条_播放进度").intProperty(ui::kSliderPosition); }
int rowCount() { return playlistBox().itemCount(); }

}  // namespace vesperon::app
