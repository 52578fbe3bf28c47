#pragma once
// How long a file plays, from the same frame-count estimate that drives the progress bar and
// the percentage seek: for showing a length, not for timing playback.

#include <cstdint>
#include <string>

namespace vesperon::mpeg {

// Microseconds, or -1 when the file does not open, holds no stream, or its length is unknown.
int64_t EstimateDurationMicroseconds(const std::string& path);

}  // namespace vesperon::mpeg
