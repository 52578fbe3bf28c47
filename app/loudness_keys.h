#pragma once
// The session file's loudness keys, read and written here so the session's own code only calls
// in: the file's "loudness" (the target and the mode) and each period's "level" (per cent of
// full, from its start to its end).
//
//   "periods": [{"from": ["8", "0", "0"], "to": ["8", "0", "10"], "level": 70}, ...],
//   "loudness": {"target": -18, "mode": "track"}
//
// A file without "loudness" plays as it always has (mode off); each key is written only when it
// differs from that, so such a file is written back byte for byte as before.

#include <QJsonObject>
#include <array>
#include <string>

#include "engine/loudness/track_gain.h"

namespace vesperon::app {

struct SessionLoudness {
    loudness::Settings settings;  // mode off, target -18
    std::array<int, 5> levels{100, 100, 100, 100, 100};
    bool operator==(const SessionLoudness& o) const {
        return settings.mode == o.settings.mode && settings.target == o.settings.target && levels == o.levels;
    }
};

// From the parsed root object; false with a reason naming the key when a value is wrong.
bool ReadLoudnessKeys(const QJsonObject& root, SessionLoudness& out, std::string& error);
// `, "level": N` for a period whose level is not 100.
void AppendPeriodLevel(std::string& out, const SessionLoudness& data, std::size_t period);
// `,\n "loudness": {...}` unless it is the default.
void AppendLoudnessKeys(std::string& out, const SessionLoudness& data);

}  // namespace vesperon::app
