// The measuring thread's path over arbitrary bytes: decode the whole stream and measure it. The
// last byte picks whether the input arrives in small pieces, as it can from a slow disk.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/loudness/measure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const uint8_t control = data[size - 1];
    size = std::min<std::size_t>(size - 1, 16384);
    const std::size_t step = (control & 1) ? 97 + (control >> 1) * 300 : 0;
    vesperon::mpeg::MemoryByteSource source(data, size, static_cast<int64_t>(size), step);
    (void)vesperon::loudness::measureStream(source);
    return 0;
}
