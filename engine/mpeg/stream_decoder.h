#pragma once
// The decoder stage's per-file logic, over any byte source: confirm a stream (the probe), take
// its information, prepare the frame decoder, optionally seek, then turn frames into PCM one at
// a time, resynchronising after a bad frame. Once the end of the input is in sight its last
// whole frames are decoded too. The Xing frame is passed over, and a LAME tag's encoder delay
// and padding are cut from the PCM. The threaded stage adds pausing, the PCM ring and the
// messages around it; the tools call it directly.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

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
// Samples a Layer III decoder's output lags its input by: what a LAME tag's delay is counted
// without.
inline constexpr int kLayer3DecoderDelay = 529;

struct StreamInfo {
    FrameHeader header;       // of the third frame the probe accepted
    int frameLength = 0;      // bytes without padding
    int bitrate = 0;          // bit/s
    int64_t dataLength = 0;   // bytes of audio: the file less its ID3v2, APE and "TAG" blocks
    int64_t totalFrames = 0;  // -1 when the data length is 0
    int frameMilliseconds = 0;
    std::optional<VbrInfo> vbr;
    PcmFormat output;  // as the frame decoder describes it after prepare
    int startTrim = 0;         // samples cut from the start of the stream (LAME tag)
    int endTrim = 0;           // samples cut from its end
};

struct FrameStep {
    Status status = Status::Ok;  // Ok, NotEnoughData, Stopping, EndOfData, or a failure
    bool decoded = false;        // with Ok: a frame was decoded (false: resynchronised, call again)
    // PCM bytes written to the caller's block: a whole frame's, or 0 while trimmed samples are
    // gathered; only the last block before the end may be shorter.
    int bytesProduced = 0;
    bool lastBlock = false;  // the short block that ends a trimmed stream
};

struct StreamCounters {
    int64_t framesDecoded = 0;
    int64_t resynchronisations = 0;  // bad frames followed by a resynchronisation
    int64_t silentFrames = 0;        // frames output as silence for want of reservoir data
};

class StreamDecoder {
public:
    explicit StreamDecoder(ByteSource& source) : source_(source) {}

    // Probe, stream information, prepare, then seek: to startMicroseconds from the beginning
    // when it is positive, else to startPercent when that is not 0. Ok on success; otherwise
    // Stopping, EndOfData (too short), NoStreamFound, CannotDecode or SeekFailed.
    Status start(int startPercent = 0, int64_t startMicroseconds = 0);

    const StreamInfo& info() const { return info_; }
    // Bytes of one PCM frame: the caller's block for decodeFrame() must hold this many.
    std::size_t pcmFrameBytes() const { return pcmFrameBytes_; }

    // Decodes the next frame into out. NotEnoughData: nothing buffered yet, wait and call again.
    // EndOfData: the stream has ended. Stopping: the stage is closing. A resynchronisation after
    // a bad frame, or the Xing frame passed over, returns Ok with decoded false; the caller
    // simply calls again.
    FrameStep decodeFrame(int16_t* out);

    // The frame counter as a percentage of the total frame count: 0..99.
    int progress() const;
    // The frame counter (moved by a seek to the frame it landed on).
    int64_t frameCounter() const { return counter_; }
    const StreamCounters& counters() const { return counters_; }

    // Steps of start(), exposed for tests.
    Status probe();
    void computeStreamInfo();
    Status seekToPercent(int percent);
    // To the frame that holds the sample at that time (the seek table interpolated between its
    // whole percents); the frame counter then names that frame.
    Status seekToMicroseconds(int64_t microseconds);
    Status resynchronise();

private:
    // Peeks up to `count` bytes: all of them, or once the input has ended all that is left
    // (*got of them; EndOfData when nothing is left). Every Ok is followed by one release() or
    // take().
    Status peekUpTo(std::size_t count, const uint8_t** data, std::size_t* got);
    Status peekWaiting(std::size_t count, const uint8_t** data, std::size_t* got);
    void take(std::size_t count);
    void release() { source_.consume(0); }
    Status moveTo(int64_t offset);
    // Whole frames of this stream that follow one another from data[0].
    int wholeFramesIn(const uint8_t* data, std::size_t size) const;
    FrameStep emitTrimmed(const int16_t* pcm, int values, bool firstAudio, int framesAfter, int16_t* out);

    ByteSource& source_;
    MpegAudioDecoder decoder_;
    StreamInfo info_;
    std::size_t pcmFrameBytes_ = 0;
    int64_t counter_ = 0;
    StreamCounters counters_;
    int64_t silentBase_ = 0;  // the frame decoder's own count when this stream started

    int64_t position_ = 0;         // of the read position, as the source counts offsets
    bool atEnd_ = false;           // the input has ended: endLeft_ bytes are left
    std::size_t endLeft_ = 0;
    int64_t xingOffset_ = -1;      // the Xing frame, passed over when reached
    std::size_t xingLength_ = 0;
    int64_t firstAudioOffset_ = -1;

    // Trimming: decoded frames go through scratch_, and whole blocks leave from pending_.
    bool trimming_ = false;
    int64_t skipValues_ = 0;  // of the start trim, still to cut
    std::vector<int16_t> scratch_;
    std::vector<int16_t> pending_;
    std::size_t pendingValues_ = 0;
};

}  // namespace vesperon::mpeg
