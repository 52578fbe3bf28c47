#include "app/report.h"

#include <cstdio>

#include "app/player_controller.h"

namespace vesperon::app {

void reportLine(const std::string& reason) { std::fprintf(stderr, "vesperon: %s\n", reason.c_str()); }

void reportInBox(const std::string& reason, const std::string& boxText) {
    PlayerController& c = PlayerController::current();
    if (c.headless) {
        const std::string& line = reason.empty() ? boxText : reason;
        reportLine(line);
        if (c.log) {
            LogEntry entry(LogEvent::Error);
            entry.message = line;
            c.log->record(std::move(entry));
        }
        return;
    }
    if (!reason.empty()) reportLine(reason);
    c.messageBox(boxText, desktop::kMbIconError, "错误");
}

}  // namespace vesperon::app
