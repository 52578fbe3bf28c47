#pragma once
// Integrated loudness (EBU R128) and true peak of a track, measured on this program's own decoder
// output, so the gain applied later matches exactly the samples that will be played.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/mpeg/byte_source.h"

namespace vesperon::loudness {

struct Loudness {
    double lufs = 0;     // integrated loudness; -70 or lower: silence (nothing to bring up)
    double peakDb = 0;   // true peak, dBTP
    double seconds = 0;  // of decoded sound
};

// Decodes the whole stream and measures it; nullopt when it holds no stream or nothing decodes.
// Never throws and never reads out of bounds, whatever the bytes (the input is untrusted).
std::optional<Loudness> measureStream(mpeg::ByteSource& source);
// Interleaved 16-bit samples already decoded (a recording, for instance).
std::optional<Loudness> measurePcm(const std::int16_t* samples, std::size_t frames, int channels, int rate);
// The same for a file read as the player reads it (no password: enciphered files stay unmeasured).
std::optional<Loudness> measureFile(const std::string& path);

}  // namespace vesperon::loudness
