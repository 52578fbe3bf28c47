#include "app/report.h"

#include <QTimer>
#include <QWidget>
#include <cstdio>

#include "app/player_controller.h"
#include "ui/form.h"

namespace vesperon::app {

void reportLine(const std::string& reason) { std::fprintf(stderr, "vesperon: %s\n", reason.c_str()); }

namespace {

// With no one to see a box: the line on standard error and in the play log. False when there is
// a window to show the box on.
bool toldWithoutBox(const std::string& reason, const std::string& boxText) {
    if (!PlayerController::exists() || !PlayerController::current().headless) return false;
    PlayerController& c = PlayerController::current();
    const std::string& line = reason.empty() ? boxText : reason;
    reportLine(line);
    if (c.log) {
        LogEntry entry(LogEvent::Error);
        entry.message = line;
        c.log->record(std::move(entry));
    }
    return true;
}

}  // namespace

void reportInBox(const std::string& reason, const std::string& boxText) {
    if (toldWithoutBox(reason, boxText)) return;
    if (!reason.empty()) reportLine(reason);
    PlayerController::current().messageBox(boxText, desktop::kMbIconError, "错误");
}

void reportInBoxLater(const std::string& reason, const std::string& boxText) {
    if (toldWithoutBox(reason, boxText)) return;
    if (!reason.empty()) reportLine(reason);
    showBoxLater(boxText, desktop::kMbIconError, "错误");
}

void showBoxLater(const std::string& text, std::int64_t flags, const std::string& caption) {
    ui::Form* form = PlayerController::exists() ? PlayerController::current().form() : nullptr;
    QWidget* window = form ? form->windowWidget() : nullptr;
    if (!window) return;
    QTimer::singleShot(0, window, [=] {
        if (PlayerController::exists() && !PlayerController::current().quitting())
            PlayerController::current().messageBox(text, flags, caption);
    });
}

}  // namespace vesperon::app
