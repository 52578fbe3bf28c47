// The loudness cache's reader over arbitrary text (a cache file can be anything after a crash or
// a careless edit): it accepts or refuses, never crashes, hangs or reads out of bounds.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/loudness/loudness_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    vesperon::loudness::LoudnessCache cache("/nonexistent/loudness.json");
    std::string why;
    (void)cache.read(std::string(reinterpret_cast<const char*>(data), size), &why);
    return 0;
}
