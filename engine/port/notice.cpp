#include "engine/port/notice.h"

namespace vesperon::engine {

namespace {
constexpr std::intptr_t kTrackEndedValue = 100;
}

std::intptr_t noticeValue(const Notice& notice) {
    return notice.kind == Notice::Kind::TrackEnded ? kTrackEndedValue : notice.percent;
}

Notice decodeNotice(std::int64_t value, const std::array<std::int32_t, 2>& hotkeyIds) {
    if (hotkeyIds[0] != 0 && value == hotkeyIds[0])
        return Notice{Notice::Kind::HotKey, 0, Notice::Key::Pause};
    if (hotkeyIds[1] != 0 && value == hotkeyIds[1])
        return Notice{Notice::Kind::HotKey, 0, Notice::Key::PageDown};
    if (value >= 0 && value < kTrackEndedValue) return Notice::progress(static_cast<int>(value));
    if (value == kTrackEndedValue) return Notice::trackEnded();
    return Notice{};
}

}  // namespace vesperon::engine
