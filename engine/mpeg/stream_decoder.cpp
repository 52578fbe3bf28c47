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

bool sameStream(const FrameHeader& a, const FrameHeader& b) {
    return a.samplingIndex == b.samplingIndex && a.layerField == b.layerField && a.versionBit == b.versionBit &&
           a.mode == b.mode;
}

}  // namespace

Status StreamDecoder::peekUpTo(std::size_t count, const uint8_t** data, std::size_t* got) {
    if (atEnd_) {
        count = std::min(count, endLeft_);
        *got = count;
        return count == 0 ? Status::EndOfData : source_.peek(count, data);
    }
    Status rc = source_.peek(count, data);
    *got = count;
    if (rc != Status::EndOfData) return rc;
    // The input has ended with fewer bytes left: find out how many, once.
    std::size_t have = 0, lack = count;
    while (lack - have > 1) {
        const std::size_t mid = have + (lack - have) / 2;
        const uint8_t* p = nullptr;
        rc = source_.peek(mid, &p);
        if (rc == Status::Ok) {
            release();
            have = mid;
        } else if (rc == Status::EndOfData) {
            lack = mid;
        } else {
            return rc;
        }
    }
    atEnd_ = true;
    endLeft_ = have;
    *got = have;
    return have == 0 ? Status::EndOfData : source_.peek(have, data);
}

Status StreamDecoder::peekWaiting(std::size_t count, const uint8_t** data, std::size_t* got) {
    while (true) {
        const Status rc = peekUpTo(count, data, got);
        if (rc != Status::NotEnoughData) return rc;
        if (source_.waitForData() != Status::Ok) return Status::Stopping;
    }
}

void StreamDecoder::take(std::size_t count) {
    source_.consume(count);
    position_ += static_cast<int64_t>(count);
    if (atEnd_) endLeft_ -= std::min(count, endLeft_);
}

Status StreamDecoder::moveTo(int64_t offset) {
    const Status rc = source_.seek(offset);
    if (rc != Status::Ok) return rc;
    position_ = offset;
    atEnd_ = false;
    endLeft_ = 0;
    return Status::Ok;
}

Status StreamDecoder::probe() {
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const uint8_t* w = nullptr;
        std::size_t got = 0;
        Status rc = peekWaiting(kProbeWindow, &w, &got);
        if (rc != Status::Ok) return rc;

        std::size_t offset = 0;
        int accepted = 0;
        FoundHeader last;
        std::size_t firstAt = 0;
        bool runsToEnd = false;
        while (accepted < 3 && offset < got) {
            FoundHeader found = findHeader(w + offset, got - offset);
            if (found.frameLength == 0) break;
            if (accepted > 0) {
                const FrameHeader& h = found.header;
                if (found.frameLength > kMaxProbedFrameLength) break;
                if (h.layerField != kLayerFieldIII && h.layerField != kLayerFieldII) break;
                if (!sameStream(h, last.header)) break;
            }
            const std::size_t next =
                offset + found.offset + static_cast<std::size_t>(found.frameLength) + paddingBytes(found.header);
            // At the end of the input fewer frames suffice, when they run to the end: only a
            // final partial frame may follow them.
            if (atEnd_ && next > got) {
                runsToEnd = accepted > 0 && found.offset == 0;
                break;
            }
            if (accepted == 0) firstAt = offset + found.offset;
            ++accepted;
            offset = next;
            last = found;
        }
        if (atEnd_ && accepted > 0 && offset == got) runsToEnd = true;

        if (accepted == 3 || runsToEnd) {
            info_.vbr = parseVbrInfo(w + firstAt, got - firstAt);
            info_.header = last.header;
            info_.frameLength = last.frameLength;
            info_.bitrate = last.bitrate;
            firstAudioOffset_ = position_ + static_cast<int64_t>(firstAt);
            FrameHeader h;
            const int length = parseHeader(w + firstAt, got - firstAt, &h);
            if (info_.vbr && length > 0) {
                // The Xing frame holds no sound: the audio starts after it.
                xingOffset_ = firstAudioOffset_;
                xingLength_ = static_cast<std::size_t>(length + paddingBytes(h));
                firstAudioOffset_ += static_cast<int64_t>(xingLength_);
            }
            release();
            return Status::Ok;
        }
        release();
        rc = resynchronise();
        if (rc != Status::Ok) return rc;
    }
    return Status::NoStreamFound;
}

Status StreamDecoder::resynchronise() {
    while (true) {
        const uint8_t* w = nullptr;
        std::size_t got = 0;
        // One byte past the window, so that a pattern at its last offset can be seen whole.
        const Status rc = peekWaiting(kReadWindow + 1, &w, &got);
        if (rc != Status::Ok) return rc;
        // The byte at the read position is where decoding just failed: the search starts after
        // it, and a pattern right behind it is passed over as well.
        std::size_t found = 0;
        for (std::size_t i = 1; i < kReadWindow && i + 1 < got; ++i) {
            if (isSyncPattern(w + i)) {
                found = i;
                break;
            }
        }
        if (found == 0) {
            take(std::min(kReadWindow, got));
        } else if (found == 1) {
            take(1);
        } else {
            take(found);
            return Status::Ok;
        }
    }
}

void StreamDecoder::computeStreamInfo() {
    info_.dataLength = source_.dataLength();
    const int rate = sampleRateOf(info_.header);
    if (rate > 0) info_.frameMilliseconds = (info_.header.versionBit == 1 ? 1152000 : 576000) / rate;
    bool counted = false;
    if (info_.vbr && info_.vbr->hasFrameCount() && info_.vbr->frameCount > 0 && info_.dataLength > 0) {
        // A count the data cannot hold, even in frames of the lowest bit rate, is not believed.
        FrameHeader lowest = info_.header;
        lowest.bitrateIndex = 1;
        lowest.paddingBit = 0;
        int smallest = tableFrameLength(lowest);
        if (info_.frameLength > 0 && (smallest <= 0 || info_.frameLength < smallest)) smallest = info_.frameLength;
        if (smallest > 0 && info_.vbr->frameCount <= info_.dataLength / smallest + 1) {
            info_.totalFrames = info_.vbr->frameCount;
            counted = true;
        }
    }
    if (counted) return;
    if (info_.dataLength <= 0 || info_.frameLength <= 0) {
        info_.totalFrames = -1;
    } else {
        info_.totalFrames = info_.dataLength / info_.frameLength;
    }
}

Status StreamDecoder::seekToPercent(int percent) {
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
    return moveTo(offset);
}

Status StreamDecoder::seekToMicroseconds(int64_t microseconds) {
    const int64_t samplesPerFrame = info_.output.samplesPerFrame;
    const int64_t rate = info_.output.sampleRate;
    if (samplesPerFrame <= 0 || rate <= 0 || info_.totalFrames <= 0) return seekToPercent(0);
    // Bounded first, so that the product cannot overflow: no track lasts 30 years.
    const int64_t us = std::clamp<int64_t>(microseconds, 0, int64_t{1} << 50);
    const int64_t sample =
        us / 1000000 * rate + us % 1000000 * rate / 1000000 + (trimming_ ? info_.startTrim : 0);
    const int64_t frame = std::min(sample / samplesPerFrame, info_.totalFrames);
    const int64_t audioStart = std::max<int64_t>(firstAudioOffset_, 0);
    const int64_t length = info_.dataLength;
    int64_t offset = audioStart;
    if (frame >= info_.totalFrames) {
        offset = length;
    } else if (info_.vbr && info_.vbr->hasSeekTable()) {
        const double p = 100.0 * static_cast<double>(frame) / static_cast<double>(info_.totalFrames);
        const auto i = static_cast<std::size_t>(std::min(p, 99.0));
        const double low = info_.vbr->seekTable[i], high = i < 99 ? info_.vbr->seekTable[i + 1] : 256.0;
        offset = static_cast<int64_t>((low + (high - low) * (p - static_cast<double>(i))) *
                                      static_cast<double>(length) / 256.0);
    } else if (frame > 0) {
        // Half a frame before it, in frames of the average length: the resynchronisation then
        // finds the frame itself, whatever padding came before.
        const double average =
            static_cast<double>(length - audioStart) / static_cast<double>(info_.totalFrames);
        offset = audioStart + static_cast<int64_t>(average * (static_cast<double>(frame) - 0.5));
    }
    counter_ = frame;
    return moveTo(offset);
}

Status StreamDecoder::start(int startPercent, int64_t startMicroseconds) {
    counter_ = 0;
    counters_ = {};
    info_ = {};
    position_ = 0;
    atEnd_ = false;
    endLeft_ = 0;
    xingOffset_ = -1;
    xingLength_ = 0;
    firstAudioOffset_ = -1;
    trimming_ = false;
    skipValues_ = 0;
    pendingValues_ = 0;
    silentBase_ = std::max<int64_t>(0, reportedSilentFrames(decoder_));
    Status rc = probe();
    if (rc != Status::Ok) return rc;
    computeStreamInfo();
    if (Status r = decoder_.prepare(info_.header, info_.frameLength); r != Status::Ok) return r;
    info_.output = decoder_.describe();
    const int values = info_.output.samplesPerFrame * info_.output.channels;
    const int bytesPerValue = info_.output.bitsPerSample / 8;
    if (values <= 0 || bytesPerValue != 2 || static_cast<std::size_t>(values) * 2 > kMaxFrameOutputBytes ||
        info_.output.channels <= 0) {
        return Status::CannotDecode;
    }
    pcmFrameBytes_ = static_cast<std::size_t>(values) * 2;
    // A LAME tag says how many samples the encoder put before and after the source's own;
    // the Layer III decoder adds its own delay to those in front.
    if (info_.vbr && info_.vbr->hasLameTag() && info_.header.layerField == kLayerFieldIII) {
        info_.startTrim = info_.vbr->encoderDelay + kLayer3DecoderDelay;
        info_.endTrim = std::max(0, info_.vbr->encoderPadding - kLayer3DecoderDelay);
        trimming_ = true;
        scratch_.assign(static_cast<std::size_t>(values), 0);
        pending_.assign(2 * static_cast<std::size_t>(values), 0);
    }
    if (startMicroseconds > 0) {
        rc = seekToMicroseconds(startMicroseconds);
        if (rc != Status::Ok) return rc;
    } else if (startPercent != 0) {
        rc = seekToPercent(startPercent);
        if (rc != Status::Ok) return rc;
    }
    return Status::Ok;
}

int StreamDecoder::wholeFramesIn(const uint8_t* data, std::size_t size) const {
    int frames = 0;
    std::size_t at = 0;
    while (at + 4 <= size && isSyncPattern(data + at)) {
        FrameHeader h;
        unpackHeader(data + at, &h);
        if (!sameStream(h, info_.header)) break;
        const int length = h.bitrateIndex == 0 ? info_.frameLength : tableFrameLength(h);
        if (length <= 0) break;
        at += static_cast<std::size_t>(length) + paddingBytes(h);
        if (at > size) break;
        ++frames;
    }
    return frames;
}

FrameStep StreamDecoder::emitTrimmed(const int16_t* pcm, int values, bool firstAudio, int framesAfter,
                                     int16_t* out) {
    FrameStep step;
    step.decoded = true;
    const int channels = info_.output.channels;
    const int64_t samplesPerFrame = info_.output.samplesPerFrame;
    if (firstAudio) skipValues_ = static_cast<int64_t>(info_.startTrim) * channels;
    const int skip = static_cast<int>(std::min<int64_t>(skipValues_, values));
    skipValues_ -= skip;
    pcm += skip;
    values -= skip;
    if (framesAfter >= 0) {
        // The padding lies in the last frames: this frame's share of it comes off its end.
        const int64_t cut =
            std::clamp<int64_t>(info_.endTrim - framesAfter * samplesPerFrame, 0, samplesPerFrame) * channels;
        values -= static_cast<int>(std::min<int64_t>(cut, values));
    }
    std::copy(pcm, pcm + values, pending_.begin() + static_cast<std::ptrdiff_t>(pendingValues_));
    pendingValues_ += static_cast<std::size_t>(values);
    // The output keeps to whole frames, so that only the stream's last block is short.
    const std::size_t frameValues = pcmFrameBytes_ / 2;
    if (pendingValues_ >= frameValues) {
        std::copy(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(frameValues), out);
        std::copy(pending_.begin() + static_cast<std::ptrdiff_t>(frameValues),
                  pending_.begin() + static_cast<std::ptrdiff_t>(pendingValues_), pending_.begin());
        pendingValues_ -= frameValues;
        step.bytesProduced = static_cast<int>(pcmFrameBytes_);
    }
    return step;
}

FrameStep StreamDecoder::decodeFrame(int16_t* out) {
    FrameStep step;
    const uint8_t* w = nullptr;
    std::size_t got = 0;
    // The look reaches past this frame, so that the stream's last frames are known as such.
    Status rc = peekUpTo(kProbeWindow, &w, &got);
    if (rc == Status::EndOfData && pendingValues_ > 0) {
        std::copy(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingValues_), out);
        step.decoded = true;
        step.bytesProduced = static_cast<int>(pendingValues_ * 2);
        step.lastBlock = true;
        pendingValues_ = 0;
        return step;
    }
    if (rc != Status::Ok) {
        step.status = rc;
        return step;
    }
    if (position_ == xingOffset_) {
        take(std::min(xingLength_, got));
        return step;
    }
    const std::size_t window = std::min(got, kReadWindow);
    const bool firstAudio = position_ == firstAudioOffset_;
    int16_t* target = trimming_ ? scratch_.data() : out;
    const DecodeResult r = decoder_.decode(w, window, target);
    if (r.bytesUsed <= 0) {
        release();
        ++counters_.resynchronisations;
        rc = resynchronise();
        if (rc != Status::Ok) {
            step.status = rc;
            return step;
        }
        step.status = decoder_.prepare(info_.header, info_.frameLength);
        return step;
    }
    const std::size_t used = std::min<std::size_t>(static_cast<std::size_t>(r.bytesUsed), window);
    const int framesAfter = atEnd_ ? wholeFramesIn(w + used, got - used) : -1;
    take(used);
    const int produced = std::clamp<int>(r.bytesProduced, 0, static_cast<int>(pcmFrameBytes_));
    ++counter_;
    ++counters_.framesDecoded;
    const int64_t reported = reportedSilentFrames(decoder_);
    if (reported >= 0) {
        counters_.silentFrames = reported - silentBase_;
    } else {
        const int values = produced / 2;
        if (values > 0 && std::all_of(target, target + values, [](int16_t v) { return v == 0; })) {
            ++counters_.silentFrames;
        }
    }
    if (trimming_) return emitTrimmed(target, produced / 2, firstAudio, framesAfter, out);
    step.decoded = true;
    step.bytesProduced = produced;
    return step;
}

int StreamDecoder::progress() const {
    if (info_.totalFrames <= 0) return 0;
    double p = static_cast<double>(counter_) * 100.0 / static_cast<double>(info_.totalFrames);
    p = std::clamp(p, 0.0, 99.0);
    return static_cast<int>(p);
}

}  // namespace vesperon::mpeg
