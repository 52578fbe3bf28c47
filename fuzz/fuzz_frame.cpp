// Feeds a stream's frames straight to the frame decoder of one layer (FUZZ_LAYER_FIELD), with
// none of the probe, the stream information or resynchronisation in between, so that every
// execution spends its time inside the frame decoder. The header at the start of the input
// prepares the decoder, as the probe would; each frame after it is handed over with the rest
// of the input as readable bytes, and a bad frame moves on to the next sync pattern. Every input
// is decoded on the processor's best vector path and on the portable one, which must agree.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/mpeg/frame_decoder.h"
#include "engine/mpeg/header.h"
#include "engine/mpeg/vector_path.h"

using namespace vesperon::mpeg;

namespace {

// All the PCM of the input's frames on one vector path (empty when no decoder is prepared).
std::vector<int16_t> decodeFrames(const uint8_t* data, std::size_t size, VectorPath path) {
    std::vector<int16_t> all;
    setVectorPath(path);
    FrameHeader h;
    const int frameLength = parseHeader(data, size, &h);
    if (frameLength <= 0 || h.layerField != FUZZ_LAYER_FIELD) return all;
    MpegAudioDecoder decoder;
    if (decoder.prepare(h, frameLength) != vesperon::engine::Status::Ok) return all;
    const PcmFormat d = decoder.describe();
    std::vector<int16_t> pcm(static_cast<std::size_t>(d.samplesPerFrame * d.channels) + 1);
    std::size_t pos = 0;
    // Each attempt parses a whole side of a frame; a few reach every path, and an input full of
    // sync patterns would otherwise spend its time re-parsing the same bytes.
    int attemptsLeft = 8;
    while (pos + 4 <= size && attemptsLeft-- > 0) {
        const DecodeResult r = decoder.decode(data + pos, size - pos, pcm.data());
        if (r.bytesUsed > 0) {
            // The decoder never claims more than it was given, nor more output than it described.
            if (static_cast<std::size_t>(r.bytesUsed) > size - pos || r.bytesProduced > d.bytesPerFrame())
                __builtin_trap();
            pos += static_cast<std::size_t>(r.bytesUsed);
            all.insert(all.end(), pcm.begin(), pcm.begin() + r.bytesProduced / 2);
            continue;
        }
        ++pos;
        while (pos + 4 <= size && !isSyncPattern(data + pos)) ++pos;
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // A handful of frames reach every path, the reservoir's included; more only slow the search
    // (the synthesis of each frame costs more than all its parsing).
    size = std::min<std::size_t>(size, 3000);
    const VectorPath best = bestVectorPath();
    const std::vector<int16_t> fast = decodeFrames(data, size, best);
    if (best != VectorPath::Portable && decodeFrames(data, size, VectorPath::Portable) != fast) __builtin_trap();
    return 0;
}
