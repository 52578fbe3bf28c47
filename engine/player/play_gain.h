#pragma once
// The gains the player gives the plays it starts: a loudness gain per file and one stream level,
// both set by the application and read as each play starts (never during one).

#include <string>
#include <unordered_map>

namespace vesperon::engine {

// Decibels per path; a file not in the table plays at its own level. Replaces the whole table.
void setTrackGains(std::unordered_map<std::string, double> decibelsByPath);
// Per cent of full, 0..100 (clamped).
void setStreamLevel(int percent);
int streamLevel();
// The factor for a play of this file started now.
float playGainFactor(const std::string& path);

}  // namespace vesperon::engine
