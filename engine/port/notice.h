#pragma once
// What the notify message (kPlayerNotifyMessage) says, typed: progress 0-99 of the sound heard,
// the end of a track, or a hot key's identifier (from 33001; 0 for a key that did not register),
// which the desktop's key filter sends on the same message. The engine hands its notices on
// typed, and has one more for callers inside the process: a play's first sound heard, which has
// no number (its first progress notice follows it at once). The number exists only on the
// message, encoded and decoded here so that the ranges never mix.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "engine/status/status.h"

namespace vesperon::engine {

struct Notice {
    enum class Kind { Progress, TrackEnded, FirstSoundHeard, HotKey, Unknown };
    enum class Key { Pause, PageDown };
    Kind kind = Kind::Unknown;
    int percent = 0;       // Progress
    Key key = Key::Pause;  // HotKey
    // TrackEnded: EndOfData when the track played to its end, else why it failed (NoStreamFound,
    // DeviceFailed, ...). The message carries no reason: decoded, it is always EndOfData.
    Status why = Status::EndOfData;

    static Notice progress(int percent) { return Notice{Kind::Progress, percent}; }
    static Notice trackEnded(Status why = Status::EndOfData) {
        return Notice{Kind::TrackEnded, 0, Key::Pause, why};
    }
    static Notice firstSoundHeard() { return Notice{Kind::FirstSoundHeard}; }
};

// Where a play's notices go. Called on the engine's threads (the renderer's for progress and the
// first sound, the player's service thread for a track's end), never after the play's player is
// gone; it must not block or call back into that player. False when the notice could not be
// delivered: the same progress is then offered again at the next look.
using NoticeSink = std::function<bool(const Notice&)>;

// The message's number for a progress or end notice (kNoticeTrackEnd); nullopt for the first
// sound heard, which stays inside the process (hot keys are numbered by their filter).
std::optional<std::intptr_t> noticeValue(const Notice& notice);

// hotkeyIds as the start-up registered them (Pause, Page Down; 0 = not registered). A registered
// key wins over progress, and an unregistered one (0) never turns progress 0 into a key press.
Notice decodeNotice(std::int64_t value, const std::array<std::int32_t, 2>& hotkeyIds);

}  // namespace vesperon::engine
