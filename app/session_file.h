#pragma once
// The session file: the playlist, the thirty period boxes and the three switches as JSON, read
// from untrusted bytes and written atomically. No window here; app/session.h applies it.
//
//   {"version": 1, "playlist": ["/music/bell.mp3"],
//    "periods": [{"from": ["8", "0", "0"], "to": ["8", "45", "0"]}, ... five in all],
//    "random": false, "loop": false, "schedule": true, "folder": "/music"}
//
// A period may also hold "days" and the file "rest" (app/week_session.h); a file that uses either
// is version 2, one that uses neither stays version 1, byte for byte as before they existed.
// Missing keys (and missing periods or box texts) keep the start-up defaults; unknown keys are
// ignored; a value of the wrong type or out of range, a version other than 1 or 2, bytes that
// are not UTF-8 or not JSON make the whole file bad.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/schedule_model.h"

namespace vesperon::app {

using SessionPeriod = SchedulePeriod;

struct SessionData {
    std::vector<std::string> playlist;
    std::array<SessionPeriod, 5> periods;
    std::vector<DateRange> rest;
    bool random = false, loop = false, schedule = false;
    std::string folder;  // where the open dialog was last used; "" for none (the key is left out)
    bool operator==(const SessionData&) const = default;
};

// The newest version this program reads.
inline constexpr int kSessionVersion = 2;
// Larger files are refused rather than read into memory whole.
inline constexpr std::size_t kMaxSessionBytes = 16u << 20;

// False with a one-line reason in `error` when the text is not a session this program reads.
bool ParseSession(std::string_view text, SessionData& out, std::string& error);
// The file's text: UTF-8, one key per line, paths and texts escaped as JSON requires.
std::string FormatSession(const SessionData& data);

enum class SessionRead { Loaded, Missing, Bad };
// Reads and parses a regular file; Missing only when nothing is at `path`.
SessionRead ReadSessionFile(const std::string& path, SessionData& out, std::string& error);
// Writes a temporary file beside `path`, flushes it to the disk, then renames it over `path`:
// a crash leaves either the old file or the new one. False with a reason on failure.
// A symbolic link at `path` is written through, its target made when it dangles.
bool WriteSessionFile(const std::string& path, const SessionData& data, std::string& error);
// Removes the temporary files a save killed midway left beside the file; how many. Only for the
// player that holds the session (the lock), whose own saves cannot be under way.
int RemoveSessionTemporaries(const std::string& path);

}  // namespace vesperon::app
