#pragma once
// The decoder stage's per-file logic, over any byte source: confirm a stream (the probe), take
// its information, prepare the frame decoder, optionally seek, then turn frames into PCM one at
// a time, resynchronising after a bad frame. The threaded stage adds pausing, the PCM ring and
// the messages around it; the tools call it directly.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/frame_decoder.h"
#include "engine/mpeg/frame_header.h"
#include "engine/mpeg/vbr_info.h"

namespace vesperon::mpeg {

// The probe looks for three consistent frames within three maximal windows, 32 times.
inline constexpr std::size_t kReadWindow = 1441;  // the largest accepted frame, 1440, plus one
inline constexpr std::size_t kProbeWindow = 3 * kReadWindow;
inline constexpr int kProbeAttempts = 32;
inline constexpr int kMaxProbedFrameLength = 1440;

struct StreamInfo {
    FrameHeader header;       // of the third frame the probe accepted
    int frameLength = 0;      // bytes without padding
    int bitrate = 0;          // bit/s
    int64_t dataLength = 0;   // file size less a final "TAG" block
    int64_t totalFrames = 0;  // -1 when the data length is 0
    int frameMilliseconds = 0;
    std::optional<VbrInfo> vbr;
    OutputDescription output;  // as the frame decoder describes it after prepare
};

struct FrameStep {
    int status = kOk;       // 0, 24, 28, 33, or a failure code
    bool decoded = false;   // with status 0: a frame was decoded (false: resynchronised, call again)
    int bytesProduced = 0;  // PCM bytes written to the caller's block
};

struct StreamCounters {
    int64_t framesDecoded = 0;
    int64_t resynchronisations = 0;  // bad frames followed by a resynchronisation
    int64_t silentFrames = 0;        // frames output as silence for want of reservoir data
};

class StreamDecoder {
public:
    explicit StreamDecoder(ByteSource& source) : source_(source) {}

    // Probe, stream information, prepare, then seek when startPercent is not 0. 0 on success;
    // otherwise 28 (stopping), 33 (too short), 1001 (no stream), 1002 (cannot decode), 25.
    int start(int startPercent = 0);

    const StreamInfo& info() const { return info_; }
    // Bytes of one PCM frame: the caller's block for decodeFrame() must hold this many.
    std::size_t pcmFrameBytes() const { return pcmFrameBytes_; }

    // Decodes the next frame into out. Status 24: nothing buffered yet, wait and call again.
    // 33: the stream has ended. 28: stopping. A resynchronisation after a bad frame returns
    // status 0 with decoded false; the caller simply calls again.
    FrameStep decodeFrame(int16_t* out);

    // The frame counter as a percentage of the total frame count: 0..99.
    int progress() const;
    // The frame counter (moved by a seek to the frame it landed on).
    int64_t frameCounter() const { return counter_; }
    const StreamCounters& counters() const { return counters_; }

    // Steps of start(), exposed for tests.
    int probe();
    void computeStreamInfo();
    int seekToPercent(int percent);
    int resynchronise();

private:
    int peekWaiting(std::size_t count, const uint8_t** data);

    ByteSource& source_;
    MpegAudioDecoder decoder_;
    StreamInfo info_;
    std::size_t pcmFrameBytes_ = 0;
    int64_t counter_ = 0;
    StreamCounters counters_;
    int64_t silentBase_ = 0;  // the frame decoder's own count when this stream started
};

}  // namespace vesperon::mpeg
