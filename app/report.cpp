#include "app/report.h"

#include <cstdio>

#include "app/player_controller.h"

namespace vesperon::app {

void reportLine(const std::string& reason) { std::fprintf(stderr, "vesperon: %s\n", reason.c_str()); }

void reportInBox(const std::string& reason, const std::string& boxText) {
    if (!reason.empty()) reportLine(reason);
    PlayerController::current().messageBox(boxText, desktop::kMbIconError, "错误");
}

}  // namespace vesperon::app
