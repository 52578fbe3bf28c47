#include "engine/mpeg/layer2.h"

namespace vesperon::mpeg {

struct Layer2Decoder::State {};

Layer2Decoder::Layer2Decoder() : s_(new State) {}
Layer2Decoder::~Layer2Decoder() { delete s_; }
int Layer2Decoder::prepare(const FrameHeader&, int, int) { return 0; }
OutputDescription Layer2Decoder::describe() const { return {}; }
DecodeResult Layer2Decoder::decode(const uint8_t*, std::size_t, int16_t*) { return {}; }

}  // namespace vesperon::mpeg
