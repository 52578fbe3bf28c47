// The main window's widgets by name: looked up once when the window starts, each a fault if missing.

#include "app/logic.h"
#include "app/report.h"

#include <cstdlib>

#include "desktop/drop_target.h"
#include "ui/list_box.h"
#include "ui/timer.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

// The layout is built into the program, so a missing widget is a fault of the build: say which
// one and stop, rather than act on nothing.
[[noreturn]] void missingWidget(std::string_view name) {
    reportLine("the main window has no widget " + std::string(name));
    std::abort();
}

template <class T = ui::Widget>
T& required(const ui::Form& form, std::string_view name) {
    T* w = form.findAs<T>(name);
    if (!w) missingWidget(name);
    return *w;
}

}  // namespace

MainWidgets resolveMainWidgets(const ui::Form& form) {
    return MainWidgets{
        .playButton = required(form, "按钮_播放"),
        .nextButton = required(form, "按钮_下一曲"),
        .expandButton = required(form, "按钮_展开"),
        .feedbackLabel = required(form, "标签1"),
        .playlist = required<ui::ListBox>(form, "列表框1"),
        .sysVolume = required<volume::SysVolumeWidget>(form, "系统音量1"),
        .progressSlider = required(form, "滑块条_播放进度"),
        .volumeBar = required(form, "纵向滚动条_音量"),
        .muteBox = required(form, "选择框_静音"),
        .randomOrderBox = required(form, "选择框_随机播放"),
        .loopTrackBox = required(form, "选择框_单曲循环"),
        .scheduleSwitch = required(form, "选择框_开始计划"),
        .hourBox = required(form, "编辑框_时"),
        .minuteBox = required(form, "编辑框_分"),
        .secondBox = required(form, "编辑框_秒"),
        .firstPeriodBox = required(form, "编辑框_从时1"),
        .clearPeriodsButton = required(form, "按钮_清空时间段"),
        .dropTarget = form.findAs<desktop::DropTarget>("拖放对象1"),
        .clock = form.findAs<ui::Timer>("时钟1"),
    };
}

ui::Widget& widget(const std::string& name) {
    ui::Widget* w = mainForm().find(name);
    if (!w) missingWidget(name);
    return *w;
}

}  // namespace vesperon::app
