#pragma once
// Shared pieces of the window framework's GUI tests: hand-made layouts, and forms shown with
// the tests' routine recorder.

#include <QApplication>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/routine_ids.h"
#include "tests/support/routine_recorder.h"
#include "ui/form.h"
#include "ui/layout/form_layout.h"

namespace vesperon::ui::test {

using vesperon::test::argInt;
using vesperon::test::RoutineCall;
using vesperon::test::RoutineRecorder;

// A layout built by hand: a window and the units added to it.
class LayoutBuilder {
public:
    LayoutBuilder(std::int32_t width = 380, std::int32_t height = 500) {
        layout::Unit w;
        w.id = layout::kMainWindowId;
        w.kind = layout::Kind::Window;
        w.left = 50;
        w.top = 50;
        w.width = width;
        w.height = height;
        w.stateFlags = layout::kStateVisible;
        layout::WindowProps p;
        p.caption = "Test";
        p.startPosition = 0;
        w.props = p;
        layout_.units.push_back(w);
    }
    layout::Unit& window() { return layout_.units.front(); }
    template <class Props>
    layout::Unit& add(layout::Kind kind, const std::string& name, std::int32_t left, std::int32_t top,
                      std::int32_t width, std::int32_t height, Props props, std::uint32_t parent = 0) {
        layout::Unit u;
        u.id = 0x10000 + std::uint32_t(layout_.units.size());
        u.kind = kind;
        u.name = name;
        u.left = left;
        u.top = top;
        u.width = width;
        u.height = height;
        u.parent = parent;
        u.stateFlags = layout::kStateVisible;
        u.pointer.value = 0;
        u.props = std::move(props);
        layout_.units.push_back(std::move(u));
        return layout_.units.back();
    }
    layout::Unit& bind(layout::Unit& u, int event, layout::RoutineId r) {
        u.bindings.push_back({event, r});
        return u;
    }
    const layout::FormLayout& layout() const { return layout_; }

private:
    layout::FormLayout layout_;
};

// Loads a form, shows it and waits until it is the active window.
inline std::unique_ptr<Form> showForm(const layout::FormLayout& l, RoutineRecorder& rec) {
    auto form = Form::load(l, rec.dispatcher(), {.show = true});
    if (QWidget* w = form->windowWidget()) {
        w->activateWindow();
        (void)QTest::qWaitForWindowActive(w);
    }
    return form;
}

}  // namespace vesperon::ui::test
