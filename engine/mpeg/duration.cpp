#include "engine/mpeg/duration.h"

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/source_file.h"
#include "engine/mpeg/stream_decoder.h"

namespace vesperon::mpeg {

namespace {

int samplesPerFrame(const FrameHeader& h) {
    if (h.layerField == kLayerFieldI) return 384;
    if (h.layerField == kLayerFieldIII && h.versionBit == 0) return 576;
    return 1152;
}

}  // namespace

int64_t EstimateDurationMicroseconds(const std::string& path) {
    SourceFile file;
    if (file.open(path) != Status::Ok) return -1;
    FileByteSource source(file);
    StreamDecoder decoder(source);
    if (decoder.start(0) != Status::Ok) return -1;
    const StreamInfo& info = decoder.info();
    const int rate = sampleRateOf(info.header);
    if (info.totalFrames <= 0 || rate <= 0) return -1;
    // In floating point: a frame count taken from a huge or lying file must not overflow.
    const double us = static_cast<double>(info.totalFrames) * samplesPerFrame(info.header) * 1e6 / rate;
    return us < 9e18 ? static_cast<int64_t>(us) : -1;
}

}  // namespace vesperon::mpeg
