#include "engine/mpeg/header.h"

#include <algorithm>

namespace vesperon::mpeg {

void unpackHeader(const uint8_t* p, FrameHeader* h) {
    *h = FrameHeader{};
    if (p[0] != 0xFF) return;
    if ((p[1] & 0xF0) == 0xF0) {
        h->syncKind = 1;
    } else if ((p[1] & 0xF0) == 0xE0) {
        h->syncKind = 2;
    } else {
        return;
    }
    h->versionBit = (p[1] >> 3) & 1;
    h->layerField = (p[1] >> 1) & 3;
    h->protectionBit = p[1] & 1;
    h->bitrateIndex = p[2] >> 4;
    h->samplingIndex = (p[2] >> 2) & 3;
    h->paddingBit = (p[2] >> 1) & 1;
    h->privateBit = p[2] & 1;
    h->mode = p[3] >> 6;
    h->modeExtension = (p[3] >> 4) & 3;
    h->copyrightBit = (p[3] >> 3) & 1;
    h->originalBit = (p[3] >> 2) & 1;
    h->emphasis = p[3] & 3;
}

namespace {

// Multiplier k such that length = bitrate(kbit/s) * k / (rate / 50), for every layer but I.
int lengthFactor(const FrameHeader& h) {
    if (h.layerField == kLayerFieldIII && h.versionBit == 0 && h.syncKind == 1) return 1440;
    return 2880;
}

int rateUnits(const FrameHeader& h) {
    return kRateUnits50[h.versionBit & 1][h.samplingIndex & 3];
}

int lengthFromBitrate(const FrameHeader& h, int kbps) {
    int units = rateUnits(h);
    if (units <= 0 || kbps <= 0) return 0;
    if (h.layerField == kLayerFieldI) return (kbps * 240 / units) * 4;
    return kbps * lengthFactor(h) / units;
}

// Free format: the distance to the next header that repeats the first two bytes, confirmed by
// every later repetition that fits in the window.
int freeFormatLength(const uint8_t* w, std::size_t length, const FrameHeader& h) {
    const std::size_t end = std::min(length, kFreeFormatWindowLimit);
    const std::size_t searchEnd = std::min(end, kFreeFormatSearchLimit);
    const int stepPadding = h.layerField == kLayerFieldI ? 4 : 1;
    for (std::size_t d = 24; d + 1 < searchEnd; ++d) {
        if (w[d] != w[0] || w[d + 1] != w[1]) continue;
        const long candidate = static_cast<long>(d) - h.paddingBit;
        if (candidate <= 0) return 0;
        bool ok = true;
        int seen = 0;
        std::size_t pos = 0;
        while (true) {
            if (pos + 2 >= end) break;  // the frame's padding bit is not in the window
            pos += static_cast<std::size_t>(candidate) + (((w[pos + 2] >> 1) & 1) ? stepPadding : 0);
            if (pos + 1 >= end) break;
            if (w[pos] != w[0] || w[pos + 1] != w[1]) {
                ok = false;
                break;
            }
            ++seen;
        }
        if (ok && seen > 0) return static_cast<int>(candidate);
    }
    return 0;
}

}  // namespace

int tableFrameLength(const FrameHeader& h) {
    if (h.syncKind == 0 || h.layerField == 0) return 0;
    return lengthFromBitrate(h, kBitrateKbps[h.versionBit & 1][h.layerField & 3][h.bitrateIndex & 15]);
}

int parseHeader(const uint8_t* window, std::size_t length, FrameHeader* h) {
    if (length < 4) {
        *h = FrameHeader{};
        return 0;
    }
    unpackHeader(window, h);
    if (h->syncKind == 0 || h->layerField == 0) return 0;
    // The reserved rate has no length, free format or not.
    if (rateUnits(*h) <= 0) return 0;
    int len = h->bitrateIndex == 0 ? freeFormatLength(window, length, *h) : tableFrameLength(*h);
    return len > 0 ? len : 0;
}

int bitrateOf(const FrameHeader& h, int frameLength) {
    if (h.syncKind == 0 || h.layerField == 0 || frameLength <= 0) return 0;
    if (h.bitrateIndex != 0)
        return kBitrateKbps[h.versionBit & 1][h.layerField & 3][h.bitrateIndex & 15] * 1000;
    const int units = rateUnits(h);
    if (units <= 0) return 0;
    const long long len = frameLength;
    long long bps;
    if (h.layerField == kLayerFieldI) {
        bps = len * units * 1000 / 960;
    } else {
        bps = len * units * 1000 / lengthFactor(h);
    }
    return static_cast<int>(bps);
}

FoundHeader findHeader(const uint8_t* window, std::size_t length) {
    FoundHeader found;
    for (std::size_t i = 0; i + 1 < length; ++i) {
        if (!isSyncPattern(window + i)) continue;
        found.offset = i;
        found.frameLength = parseHeader(window + i, length - i, &found.header);
        found.bitrate = bitrateOf(found.header, found.frameLength);
        return found;
    }
    found.offset = length;
    return found;
}

}  // namespace vesperon::mpeg
