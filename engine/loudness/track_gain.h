#pragma once
// The gain that brings a track (or the album it belongs to) to the target loudness, lowered
// where needed so the true peak stays at or below the ceiling: the level is evened out without
// clipping and without a compressor.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/loudness/measure.h"

namespace vesperon::loudness {

enum class Mode { Off, Track, Album };

inline constexpr double kDefaultTarget = -18.0;
inline constexpr double kLowestTarget = -23.0, kHighestTarget = -14.0;
inline constexpr double kPeakCeiling = -1.0;  // dBTP
inline constexpr double kSilence = -70.0;     // LUFS: at or below, nothing to bring up

struct Settings {
    Mode mode = Mode::Off;
    double target = kDefaultTarget;
};

// Decibels for a track measured as `l`: 0 for silence.
double gainFor(const Loudness& l, double target);

// The gain of each track of the list: nullopt where it plays as it is (mode off, not measured).
// In album mode the tracks of one folder share one gain, from their loudness together (their
// energy weighted by length) and their highest peak; an unmeasured track plays as it is.
using Lookup = std::function<std::optional<Loudness>(const std::string& path)>;
std::vector<std::optional<double>> gainsFor(const std::vector<std::string>& list, const Settings& settings,
                                            const Lookup& lookup);

// "track", "album", "off"; and back (nullopt for any other text).
const char* modeName(Mode mode);
std::optional<Mode> modeNamed(const std::string& name);

}  // namespace vesperon::loudness
