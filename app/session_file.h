#pragma once
// The session file: the playlist, the thirty period boxes and the three switches as JSON, read
// from untrusted bytes and written atomically. No window here; app/session.h applies it.
//
//   {"version": 1, "playlist": ["/music/bell.mp3"],
//    "periods": [{"from": ["8", "0", "0"], "to": ["8", "45", "0"]}, ... five in all],
//    "random": false, "loop": false, "schedule": true, "folder": "/music"}
//
// The week (version 2): a period may hold "days", ISO weekdays 1 = Monday ... 7 = Sunday in any
// order (missing: every day, an empty list: never), and the file "rest", inclusive dates
// YYYY-MM-DD, a single day as a string and a range as an object:
//
//   "periods": [{"from": ["8", "0", "0"], "to": ["17", "0", "0"], "days": [1, 2, 3, 4, 5]}, ...],
//   "rest": ["2026-12-25", {"from": "2027-01-01", "to": "2027-01-03"}]
//
// Both are read whatever the version says. A file that uses either is written as version 2, one
// that uses neither stays version 1, byte for byte as before they existed.
//
// What a restart inside a period needs, in any version (a reader that does not know these keys
// passes over them): a period's "started", the local time its occurrence began whose start the
// schedule took last, and the file's "stopped", true when the music was stopped or paused after
// the latest start taken. Each is left out while it is unset (false).
//
//   "periods": [{"from": ["8", "0", "0"], "to": ["17", "0", "0"], "started": "2026-12-08T08:00:00"}, ...],
//   "stopped": true
// Missing keys (and missing periods or box texts) keep the start-up defaults; unknown keys are
// ignored; a value of the wrong type or out of range, a version other than 1 or 2, bytes that
// are not UTF-8 or not JSON make the whole file bad, with a reason naming the key.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/loudness_keys.h"
#include "app/schedule_model.h"
#include "ui/result.h"

namespace vesperon::app {

using SessionPeriod = SchedulePeriod;

struct SessionData {
    std::vector<std::string> playlist;
    std::array<SessionPeriod, 5> periods;
    std::vector<DateRange> rest;
    bool random = false, loop = false, schedule = false;
    std::string folder;  // where the open dialog was last used; "" for none (the key is left out)
    // ScheduleModel's startedAt and stopped.
    std::array<std::optional<std::int64_t>, 5> started{};
    bool stopped = false;
    SessionLoudness loudness;  // "loudness" and each period's "level" (app/loudness_keys.h)
    bool operator==(const SessionData&) const = default;
};

// The newest version this program reads.
inline constexpr int kSessionVersion = 2;
// Larger files are refused rather than read into memory whole.
inline constexpr std::size_t kMaxSessionBytes = 16u << 20;

// Fails when the text is not a session this program reads.
Result<SessionData> ParseSession(std::string_view text);
// The file's text: UTF-8, one key per line, paths and texts escaped as JSON requires.
std::string FormatSession(const SessionData& data);

// Reads and parses a regular file; no session (and no error) only when nothing is at `path`.
Result<std::optional<SessionData>> ReadSessionFile(const std::string& path);
// Writes a temporary file beside `path`, flushes it to the disk, then renames it over `path`:
// a crash leaves either the old file or the new one. A symbolic link at `path` is written
// through, its target made when it dangles. Fails for a path whose name is not UTF-8.
Done WriteSessionFile(const std::string& path, const SessionData& data);
// Removes the temporary files a save killed midway left beside the file (the writer's before
// this one named them; this one leaves none); how many. Only for the player that holds the
// session (the lock), whose own saves cannot be under way.
int RemoveSessionTemporaries(const std::string& path);

// The file `path` names once symbolic links are followed (its own, also when the last one
// dangles, and its folders'): two names of one session give the same path.
std::string ResolvedSessionPath(const std::string& path);

// How many set-aside session files are kept: FILE.bad, the first and most likely the user's own
// session, and FILE.bad.1 ... FILE.bad.9, older to newer.
inline constexpr int kSetAsideKept = 10;
// Moves a session file that cannot be read out of the way, never over an earlier one: to
// FILE.bad, else after the newest of those set aside. With all of them there, FILE.bad.1 makes
// room (FILE.bad stays) and the rest move down one. Where it went ("" when nothing was at
// `path`); fails when it stays in place (a device or pipe is no one's lost session).
Result<std::string> SetAsideSessionFile(const std::string& path);

}  // namespace vesperon::app
