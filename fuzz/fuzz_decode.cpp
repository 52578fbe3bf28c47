// Feeds arbitrary bytes through the decoding path as the player runs it. The last byte picks a
// start percentage and whether the input arrives in small pieces, so seeking and the
// not-enough-data path are exercised along with the parser and both frame decoders.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/header.h"
#include "engine/mpeg/stream_decoder.h"
#include "engine/mpeg/vbr_info.h"

using namespace vesperon::mpeg;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The last byte, so that a stream given as a seed keeps its start intact.
    const uint8_t control = data[size - 1];
    --size;
    // A few dozen frames reach every decoding path; longer inputs only slow the search down.
    size = std::min<std::size_t>(size, 16384);
    const int startPercent = (control & 0x0F) * 7 % 101;  // 0, 7, ..., 100 and some in between
    const std::size_t step = (control & 0x10) ? 97 + (control >> 5) * 700 : 0;

    // The parser on its own over the raw bytes, at every position.
    FrameHeader h;
    for (std::size_t i = 0; i + 4 <= size && i < 64; ++i) parseHeader(data + i, size - i, &h);
    (void)parseVbrInfo(data, size);

    MemoryByteSource source(data, size, static_cast<int64_t>(size), step);
    StreamDecoder decoder(source);
    if (decoder.start(startPercent) != Status::Ok) return 0;
    std::vector<int16_t> pcm(decoder.pcmFrameBytes() / 2 + 1);
    // Every step consumes input or ends, so this bound is never the reason a run stops.
    for (int frames = 0; frames < 100000; ++frames) {
        const FrameStep s = decoder.decodeFrame(pcm.data());
        if (s.status == Status::NotEnoughData) {
            source.waitForData();
            continue;
        }
        if (s.status != Status::Ok) break;
        (void)decoder.progress();
    }
    return 0;
}
