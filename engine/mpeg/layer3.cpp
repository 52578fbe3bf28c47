#include "engine/mpeg/layer3.h"

namespace vesperon::mpeg {

struct Layer3Decoder::State {};

Layer3Decoder::Layer3Decoder() : s_(new State) {}
Layer3Decoder::~Layer3Decoder() { delete s_; }
int Layer3Decoder::prepare(const FrameHeader&, int, int) { return 0; }
OutputDescription Layer3Decoder::describe() const { return {}; }
DecodeResult Layer3Decoder::decode(const uint8_t*, std::size_t, int16_t*) { return {}; }

}  // namespace vesperon::mpeg
