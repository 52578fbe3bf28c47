#include "engine/mpeg/stream_decoder.h"

#include <algorithm>

#include "engine/mpeg/header.h"

namespace vesperon::mpeg {

namespace {

// The frame decoder knows which frames it silenced for want of reservoir data; where it does
// not say, a frame of all-zero output is counted instead. -1: not reported.
template <typename Decoder>
int64_t reportedSilentFrames(const Decoder& d) {
    if constexpr (requires { d.silencedFrames(); }) {
        return static_cast<int64_t>(d.silencedFrames());
    } else {
        return -1;
    }
}

}  // namespace

int StreamDecoder::peekWaiting(std::size_t count, const uint8_t** data) {
    while (true) {
        const int rc = source_.peek(count, data);
        if (rc != kNotEnoughData) return rc;
        if (source_.waitForData() != kOk) return kStopping;
    }
}

int StreamDecoder::probe() {
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const uint8_t* w = nullptr;
        int rc = peekWaiting(kProbeWindow, &w);
        if (rc != kOk) return rc;

        std::size_t offset = 0;
        int accepted = 0;
        FoundHeader last;
        while (accepted < 3 && offset < kProbeWindow) {
            FoundHeader found = findHeader(w + offset, kProbeWindow - offset);
            if (found.frameLength == 0) break;
            if (accepted > 0) {
                const FrameHeader& prev = last.header;
                const FrameHeader& h = found.header;
                if (found.frameLength > kMaxProbedFrameLength) break;
                if (h.layerField != kLayerFieldIII && h.layerField != kLayerFieldII) break;
                if (h.samplingIndex != prev.samplingIndex || h.layerField != prev.layerField ||
                    h.versionBit != prev.versionBit || h.mode != prev.mode) {
                    break;
                }
            }
            ++accepted;
            offset += found.offset + static_cast<std::size_t>(found.frameLength) + paddingBytes(found.header);
            last = found;
        }

        if (accepted == 3) {
            info_.vbr = parseVbrInfo(w, kProbeWindow);
            info_.header = last.header;
            info_.frameLength = last.frameLength;
            info_.bitrate = last.bitrate;
            source_.consume(0);
            return kOk;
        }
        source_.consume(0);
        rc = resynchronise();
        if (rc != kOk) return rc;
    }
    return kNoStreamFound;
}

int StreamDecoder::resynchronise() {
    while (true) {
        const uint8_t* w = nullptr;
        const int rc = peekWaiting(kReadWindow, &w);
        if (rc != kOk) return rc;
        // The byte at the read position is where decoding just failed: the search starts after
        // it, and a pattern right behind it is passed over as well.
        std::size_t found = 0;
        for (std::size_t i = 1; i + 1 < kReadWindow; ++i) {
            if (isSyncPattern(w + i)) {
                found = i;
                break;
            }
        }
        if (found == 0) {
            source_.consume(kReadWindow);
        } else if (found == 1) {
            source_.consume(1);
        } else {
            source_.consume(found);
            return kOk;
        }
    }
}

void StreamDecoder::computeStreamInfo() {
    info_.dataLength = source_.dataLength();
    const int rate = sampleRateOf(info_.header);
    if (rate > 0) info_.frameMilliseconds = (info_.header.versionBit == 1 ? 1152000 : 576000) / rate;
    if (info_.vbr && info_.vbr->hasFrameCount() && info_.vbr->frameCount > 0) {
        info_.totalFrames = info_.vbr->frameCount;
    } else if (info_.dataLength <= 0 || info_.frameLength <= 0) {
        info_.totalFrames = -1;
    } else {
        info_.totalFrames = info_.dataLength / info_.frameLength;
    }
}

int StreamDecoder::seekToPercent(int percent) {
    const int64_t p = std::clamp(percent, 0, 100);
    const int64_t length = info_.dataLength;
    int64_t offset = 0;
    if (info_.vbr && info_.vbr->hasSeekTable()) {
        counter_ = info_.totalFrames > 0 ? p * info_.totalFrames / 100 : 0;
        if (p <= 99) {
            offset = static_cast<int64_t>(info_.vbr->seekTable[static_cast<std::size_t>(p)] *
                                          static_cast<double>(length) / 256.0);
        } else {
            offset = length;
        }
    } else {
        counter_ = info_.frameLength > 0 ? p * length / info_.frameLength / 100 : 0;
        offset = info_.frameLength * counter_;
    }
    return source_.seek(offset);
}

int StreamDecoder::start(int startPercent) {
    counter_ = 0;
    counters_ = {};
    info_ = {};
    silentBase_ = std::max<int64_t>(0, reportedSilentFrames(decoder_));
    int rc = probe();
    if (rc != kOk) return rc;
    computeStreamInfo();
    if (!decoder_.prepare(info_.header, info_.frameLength)) return kCannotDecode;
    info_.output = decoder_.describe();
    const int values = info_.output.valuesPerFrame;
    const int bytesPerValue = info_.output.bitsPerSample / 8;
    if (values <= 0 || bytesPerValue != 2 || static_cast<std::size_t>(values) * 2 > kMaxFrameOutputBytes) {
        return kCannotDecode;
    }
    pcmFrameBytes_ = static_cast<std::size_t>(values) * 2;
    if (startPercent != 0) {
        rc = seekToPercent(startPercent);
        if (rc != kOk) return rc;
    }
    return kOk;
}

FrameStep StreamDecoder::decodeFrame(int16_t* out) {
    FrameStep step;
    const uint8_t* w = nullptr;
    int rc = source_.peek(kReadWindow, &w);
    if (rc != kOk) {
        step.status = rc;
        return step;
    }
    const DecodeResult r = decoder_.decode(w, kReadWindow, out);
    if (r.bytesUsed <= 0) {
        source_.consume(0);
        ++counters_.resynchronisations;
        rc = resynchronise();
        if (rc != kOk) {
            step.status = rc;
            return step;
        }
        if (!decoder_.prepare(info_.header, info_.frameLength)) step.status = kCannotDecode;
        return step;
    }
    source_.consume(std::min<std::size_t>(static_cast<std::size_t>(r.bytesUsed), kReadWindow));
    step.decoded = true;
    step.bytesProduced = std::clamp<int>(r.bytesProduced, 0, static_cast<int>(pcmFrameBytes_));
    ++counter_;
    ++counters_.framesDecoded;
    const int64_t reported = reportedSilentFrames(decoder_);
    if (reported >= 0) {
        counters_.silentFrames = reported - silentBase_;
    } else {
        const int values = step.bytesProduced / 2;
        if (values > 0 && std::all_of(out, out + values, [](int16_t v) { return v == 0; })) {
            ++counters_.silentFrames;
        }
    }
    return step;
}

int StreamDecoder::progress() const {
    if (info_.totalFrames <= 0) return 0;
    double p = static_cast<double>(counter_) * 100.0 / static_cast<double>(info_.totalFrames);
    p = std::clamp(p, 0.0, 99.0);
    return static_cast<int>(p);
}

}  // namespace vesperon::mpeg
