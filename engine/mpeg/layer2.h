#pragma once
// Layer II decoding: MPEG-1 (ISO/IEC 11172-3) and the low sampling frequencies of
// ISO/IEC 13818-3 (also used for MPEG 2.5).

#include <cstddef>
#include <cstdint>

#include "engine/mpeg/frame_decoder.h"

namespace vesperon::mpeg {

class Layer2Decoder {
public:
    Layer2Decoder();
    ~Layer2Decoder();
    // CannotDecode for a header this layer does not decode (a reserved rate, a forbidden mode).
    engine::Status prepare(const FrameHeader& header, int frameLength, int frequencyLimit);
    PcmFormat describe() const;
    DecodeResult decode(const uint8_t* frame, std::size_t available, int16_t* out);

private:
    struct State;
    State* s_;
};

}  // namespace vesperon::mpeg
