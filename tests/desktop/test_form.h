#pragma once
// A small form for the desktop and volume tests: a window with the feedback label, a list box, a
// button, a drop target and a system-volume widget, every event of interest bound, and every
// routine call recorded.

#include <memory>
#include <string>

#include "app/routine_ids.h"
#include "tests/support/routine_recorder.h"
#include "ui/form.h"
#include "ui/layout/layout_description.h"

namespace vesperon::test {

inline const char* kTestFormDescription = R"(header 8 0x52010001 0 0 0 0 0

Window "" 0x52010001
  at 50 50 380 500
  state visible
  block 6
  caption "test"

Label 标签1 0x16010007
  at 160 42 50 16
  state none
  on 0 FeedbackDispatch
  block 2
  caption "反馈事件"

ListBox 列表框1 0x16010008
  at 7 62 242 146
  state visible focusable
  block 3

Button 按钮_播放 0x16010004
  at 8 9 80 25
  state visible focusable
  block 1
  caption "播放"

DropTarget 拖放对象1 0x16010011
  at 111 125 26 26
  state none
  on 0 FilesDropped
  on 1 FilesDropped
  on 2 FilesDropped
  on 3 FilesDropped
  block 1
  acceptText 0
  acceptHtml 0
  acceptUrl 0
  acceptFiles 1

SysVolume 系统音量1 0x1601000F
  at 344 110 18 32
  state none
  on 0 VolumeBarChanged
  on 1 MuteClicked
  block empty
)";

class TestForm {
public:
    TestForm() {
        auto parsed = layout::readDescription(kTestFormDescription, app::routineCatalog());
        error = parsed.error;
        if (!parsed) return;
        form = ui::Form::load(parsed.value, rec.dispatcher());
    }
    ui::Widget* widget(const char* name) const { return form ? form->find(name) : nullptr; }
    template <class T>
    T* as(const char* name) const {
        return form ? form->findAs<T>(name) : nullptr;
    }
    ui::WindowHandle handle(const char* name) const {
        auto* w = widget(name);
        return w ? w->handle() : 0;
    }

    std::string error;
    RoutineRecorder rec;  // outlives the form that calls it
    std::unique_ptr<ui::Form> form;
};

}  // namespace vesperon::test
