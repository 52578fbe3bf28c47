#include "engine/port/notice.h"

#include "engine/port/message_port.h"

namespace vesperon::engine {

std::optional<std::intptr_t> noticeValue(const Notice& notice) {
    switch (notice.kind) {
        case Notice::Kind::TrackEnded:
            return kNoticeTrackEnd;
        case Notice::Kind::Progress:
            return notice.percent;
        default:
            return std::nullopt;
    }
}

Notice decodeNotice(std::int64_t value, const std::array<std::int32_t, 2>& hotkeyIds) {
    if (hotkeyIds[0] != 0 && value == hotkeyIds[0])
        return Notice{Notice::Kind::HotKey, 0, Notice::Key::Pause};
    if (hotkeyIds[1] != 0 && value == hotkeyIds[1])
        return Notice{Notice::Kind::HotKey, 0, Notice::Key::PageDown};
    if (value >= 0 && value < kNoticeTrackEnd) return Notice::progress(static_cast<int>(value));
    if (value == kNoticeTrackEnd) return Notice::trackEnded();
    return Notice{};
}

}  // namespace vesperon::engine
