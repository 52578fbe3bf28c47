#pragma once
// Helpers shared by the Layer II tests: decoding a whole file the way the player does, and
// feeding frames straight to the frame decoder for streams too short for the probe.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/frame_decoder.h"
#include "engine/mpeg/header.h"
#include "engine/mpeg/source_file.h"
#include "engine/mpeg/stream_decoder.h"
#include "tests/support/vectors.h"

namespace vesperon::test {

struct DecodedStream {
    mpeg::Status startStatus = mpeg::Status::Ok;  // StreamDecoder::start()
    std::optional<mpeg::Status> endStatus;        // the status that ended decoding, if one did
    int channels = 0;
    int sampleRate = 0;
    int frameLength = 0;
    int64_t frames = 0;
    int64_t resyncs = 0;
    std::vector<int16_t> pcm;
};

inline DecodedStream finishDecoding(mpeg::StreamDecoder& decoder, mpeg::ByteSource& source, DecodedStream d) {
    const auto& out = decoder.info().output;
    d.channels = out.channels;
    d.sampleRate = out.sampleRate;
    d.frameLength = decoder.info().frameLength;
    std::vector<int16_t> block(decoder.pcmFrameBytes() / 2 + 1);
    // Each step consumes input, so the loop is bounded by the input; the cap only guards a fault.
    for (int guard = 0; guard < 10'000'000; ++guard) {
        mpeg::FrameStep step = decoder.decodeFrame(block.data());
        if (step.status == mpeg::Status::NotEnoughData) {
            if (source.waitForData() != mpeg::Status::Ok) break;
            continue;
        }
        if (step.status != mpeg::Status::Ok) {
            d.endStatus = step.status;
            break;
        }
        if (step.decoded) d.pcm.insert(d.pcm.end(), block.begin(), block.begin() + step.bytesProduced / 2);
    }
    d.frames = decoder.counters().framesDecoded;
    d.resyncs = decoder.counters().resynchronisations;
    return d;
}

// Through the player's decoding path: file, reader blocks, probe, frames.
inline DecodedStream decodeFile(const std::string& path) {
    DecodedStream d;
    mpeg::SourceFile file;
    if (file.open(path) != mpeg::Status::Ok) return d;
    mpeg::FileByteSource source(file);
    mpeg::StreamDecoder decoder(source);
    d.startStatus = decoder.start();
    if (d.startStatus != mpeg::Status::Ok) return d;
    return finishDecoding(decoder, source, std::move(d));
}

inline DecodedStream decodeBytes(const std::vector<uint8_t>& bytes, std::size_t step = 0) {
    DecodedStream d;
    mpeg::MemoryByteSource source(bytes.data(), bytes.size(), static_cast<int64_t>(bytes.size()), step);
    mpeg::StreamDecoder decoder(source);
    d.startStatus = decoder.start();
    if (d.startStatus != mpeg::Status::Ok) return d;
    return finishDecoding(decoder, source, std::move(d));
}

// Frame by frame straight into the frame decoder, prepared from the first header: for streams
// of a frame or two, which the probe never accepts. Stops at the first bad frame.
struct DirectDecode {
    bool prepared = false;
    int channels = 0;
    int frames = 0;
    std::vector<int16_t> pcm;
};

inline DirectDecode decodeDirect(const std::vector<uint8_t>& bytes) {
    DirectDecode r;
    mpeg::FoundHeader found = mpeg::findHeader(bytes.data(), bytes.size());
    if (found.frameLength <= 0) return r;
    mpeg::MpegAudioDecoder decoder;
    if (decoder.prepare(found.header, found.frameLength) != engine::Status::Ok) return r;
    r.prepared = true;
    r.channels = decoder.describe().channels;
    std::vector<int16_t> block(mpeg::kMaxFrameOutputBytes / 2);
    std::size_t pos = found.offset;
    while (pos + 4 <= bytes.size()) {
        // A copy of exactly the remaining bytes, so that a read past them is caught by ASan.
        std::vector<uint8_t> rest(bytes.begin() + static_cast<long>(pos), bytes.end());
        mpeg::DecodeResult res = decoder.decode(rest.data(), rest.size(), block.data());
        if (res.bytesUsed <= 0) break;
        pos += static_cast<std::size_t>(res.bytesUsed);
        ++r.frames;
        r.pcm.insert(r.pcm.end(), block.begin(), block.begin() + res.bytesProduced / 2);
    }
    return r;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return data;
    uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    std::fclose(f);
    return data;
}

}  // namespace vesperon::test
