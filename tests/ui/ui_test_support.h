#pragma once
// Shared pieces of the window framework's GUI tests: hand-made layouts and a dispatcher that
// records every routine call.

#include <QApplication>
#include <QTest>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/routine_ids.h"
#include "ui/form.h"
#include "ui/layout/form_layout.h"

namespace vesperon::ui::test {

struct Call {
    layout::RoutineId routine;
    std::string widget;
    int event;
    std::vector<EventArg> args;
};

// Records calls; a routine may be given a value to return.
class Recorder {
public:
    std::vector<Call> calls;
    std::map<layout::RoutineId, std::optional<std::int64_t>> returns;
    std::function<void(const EventCall&)> onCall;

    RoutineDispatcher dispatcher() {
        return [this](layout::RoutineId r, const EventCall& c) -> std::optional<std::int64_t> {
            calls.push_back({r, c.widget.name(), c.event, c.args});
            if (onCall) onCall(c);
            auto it = returns.find(r);
            return it == returns.end() ? std::nullopt : it->second;
        };
    }
    int count(const std::string& widget, int event) const {
        int n = 0;
        for (const auto& c : calls) n += c.widget == widget && c.event == event;
        return n;
    }
    void clear() { calls.clear(); }
};

inline std::int32_t argInt(const Call& c, std::size_t i) {
    return std::get<std::int32_t>(c.args.at(i));
}

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
inline std::unique_ptr<Form> showForm(const layout::FormLayout& l, Recorder& rec) {
    auto form = Form::load(l, rec.dispatcher(), {.show = true});
    if (QWidget* w = form->windowWidget()) {
        w->activateWindow();
        (void)QTest::qWaitForWindowActive(w);
    }
    return form;
}

}  // namespace vesperon::ui::test
