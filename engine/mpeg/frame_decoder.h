#pragma once
// The frame-decoder interface: prepare from a stream's header record, describe the output,
// decode one frame. Layer III and Layer II sit behind it.

#include <cstddef>
#include <cstdint>

#include "engine/mpeg/frame_header.h"
#include "engine/status/pcm_format.h"
#include "engine/status/status.h"

namespace vesperon::mpeg {

using engine::PcmFormat;

struct DecodeResult {
    int32_t bytesUsed = 0;  // 0 = a bad frame, nothing decoded
    int32_t bytesProduced = 0;
};

// Output bytes of one decoded frame never exceed this (1152 samples x 2 channels x 2 bytes).
inline constexpr std::size_t kMaxFrameOutputBytes = 1152 * 2 * 2;

// The engine always passes these.
inline constexpr int kFrequencyLimitHz = 24000;

class Layer3Decoder;
class Layer2Decoder;

// Dispatches on the layer field; one instance per decoding stream.
class MpegAudioDecoder {
public:
    MpegAudioDecoder();
    ~MpegAudioDecoder();
    MpegAudioDecoder(const MpegAudioDecoder&) = delete;
    MpegAudioDecoder& operator=(const MpegAudioDecoder&) = delete;

    // Ok if the stream can be decoded, else CannotDecode. frameLength is without padding.
    engine::Status prepare(const FrameHeader& header, int frameLength, int reduction = 0, int transform = 0,
                int convert = 0, int frequencyLimit = kFrequencyLimitHz);
    // The prepared stream's PCM (all zero when none is prepared).
    PcmFormat describe() const;
    // frame points at `available` readable bytes (a frame never reads past them); out has room
    // for describe().samplesPerFrame x channels 16-bit samples.
    DecodeResult decode(const uint8_t* frame, std::size_t available, int16_t* out);
    // Frames output as silence because the reservoir lacked their data, since construction.
    uint64_t silencedFrames() const;

private:
    Layer3Decoder* layer3_;
    Layer2Decoder* layer2_;
    int active_ = 0;  // layer field of the prepared stream, 0 when none
};

}  // namespace vesperon::mpeg
