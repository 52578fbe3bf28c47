#include "app/notice.h"

namespace vesperon::app {

Notice decodeNotice(std::int64_t value, const std::array<std::int32_t, 2>& hotkeyIds) {
    Notice n;
    if (hotkeyIds[0] != 0 && value == hotkeyIds[0]) {
        n.kind = Notice::Kind::HotKey;
        n.key = Notice::Key::Pause;
    } else if (hotkeyIds[1] != 0 && value == hotkeyIds[1]) {
        n.kind = Notice::Kind::HotKey;
        n.key = Notice::Key::PageDown;
    } else if (value >= 0 && value < 100) {
        n.kind = Notice::Kind::Progress;
        n.percent = static_cast<int>(value);
    } else if (value == 100) {
        n.kind = Notice::Kind::TrackEnded;
    } else if (value == 101) {
        n.kind = Notice::Kind::FirstSoundHeard;
    }
    return n;
}

}  // namespace vesperon::app
