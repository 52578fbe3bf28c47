#include "app/logic.h"

#include <optional>

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
std::optional<MainWidgets> theWidgets;

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
    theWidgets.reset();
    theServices = defaultServices();
    resetFadeGate();
    resetQuit();
    resetTransport();
}

ui::Form& mainForm() { return *theForm; }
bool hasMainForm() { return theForm != nullptr; }
void setMainForm(ui::Form* form) {
    theForm = form;
    theWidgets.reset();
    if (form) theWidgets.emplace(resolveMainWidgets(*form));
}
const MainWidgets& widgets() { return *theWidgets; }

ui::ListBox& playlistBox() { return widgets().playlist; }
volume::SysVolumeWidget& sysVolume() { return widgets().sysVolume; }

void ShowWindowCaption(const std::string& prefix, const std::string& path) {
    theForm->window().setProperty(ui::kWindowCaption, prefix + FileNameOf(path));
}

void setButtonCaption(ui::Widget& button, const std::string& caption) {
    button.setProperty(ui::kButtonCaption, caption);
}

void setSliderPosition(int position) { widgets().progressSlider.setProperty(ui::kSliderPosition, position); }
int sliderPosition() { return widgets().progressSlider.intProperty(ui::kSliderPosition); }
int rowCount() { return playlistBox().itemCount(); }

}  // namespace vesperon::app
