#include "engine/mpeg/frame_decoder.h"
#include "engine/mpeg/layer2.h"
#include "engine/mpeg/layer3.h"

namespace vesperon::mpeg {

MpegAudioDecoder::MpegAudioDecoder() : layer3_(new Layer3Decoder), layer2_(new Layer2Decoder) {}

MpegAudioDecoder::~MpegAudioDecoder() {
    delete layer3_;
    delete layer2_;
}

engine::Status MpegAudioDecoder::prepare(const FrameHeader& header, int frameLength, int /*reduction*/,
                                         int /*transform*/, int /*convert*/, int frequencyLimit) {
    active_ = 0;
    // Layer I never passes the probe; it has no decoding path.
    engine::Status status = engine::Status::CannotDecode;
    if (header.layerField == kLayerFieldIII) {
        status = layer3_->prepare(header, frameLength, frequencyLimit);
    } else if (header.layerField == kLayerFieldII) {
        status = layer2_->prepare(header, frameLength, frequencyLimit);
    }
    if (status == engine::Status::Ok) active_ = header.layerField;
    return status;
}

PcmFormat MpegAudioDecoder::describe() const {
    if (active_ == kLayerFieldIII) return layer3_->describe();
    if (active_ == kLayerFieldII) return layer2_->describe();
    return {};
}

DecodeResult MpegAudioDecoder::decode(const uint8_t* frame, std::size_t available, int16_t* out) {
    if (active_ == kLayerFieldIII) return layer3_->decode(frame, available, out);
    if (active_ == kLayerFieldII) return layer2_->decode(frame, available, out);
    return {};
}

uint64_t MpegAudioDecoder::silencedFrames() const {
    // Only Layer III has a reservoir to run short of.
    return layer3_->silencedFrames();
}

}  // namespace vesperon::mpeg
