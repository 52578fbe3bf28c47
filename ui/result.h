#pragma once
// The one result type of the window layer and the app: a value, or a one-line reason saying what
// went wrong and where. The reason is what the user reads (app/report.h tells it), so it names the
// thing and the fault ("\"periods\"[2].from is a number, not a list"), lower case, no full stop.

#include <string>
#include <utility>
#include <variant>

namespace vesperon {

template <class T = std::monostate>
struct [[nodiscard]] Result {
    T value{};
    std::string error;  // empty on success

    Result() = default;
    // A value is a success.
    Result(T v) : value(std::move(v)) {}

    explicit operator bool() const { return error.empty(); }

    static Result failed(std::string why) {
        Result r;
        r.error = std::move(why);
        return r;
    }
};

// For operations that give nothing but success or a reason.
using Done = Result<>;

}  // namespace vesperon
