#pragma once
// The tests' one recorder of routine calls: a form's dispatcher that keeps every call made
// through it, and gives a routine a value to return when one is set.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/form.h"

namespace vesperon::test {

struct RoutineCall {
    layout::RoutineId routine;
    std::string widget;
    int event;
    std::vector<ui::EventArg> args;
};

class RoutineRecorder {
public:
    std::vector<RoutineCall> calls;
    std::map<layout::RoutineId, std::optional<std::int64_t>> returns;
    std::function<void(const ui::EventCall&)> onCall;

    // Valid while the recorder lives.
    ui::RoutineDispatcher dispatcher() {
        return [this](layout::RoutineId r, const ui::EventCall& c) -> std::optional<std::int64_t> {
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

inline std::int32_t argInt(const RoutineCall& c, std::size_t i) {
    return std::get<std::int32_t>(c.args.at(i));
}

}  // namespace vesperon::test
