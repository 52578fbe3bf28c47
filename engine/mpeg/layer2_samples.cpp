#include "engine/mpeg/layer2_samples.h"

namespace vesperon::mpeg::layer2 {

void readSamples(BitReader& br, const SampleRead* reads, int readCount, const float (*scale)[kSubbands][3],
                 float (*samples)[kBlocks][kSubbands]) {
    for (int gr = 0; gr < kGranules; ++gr) {
        const int part = gr >> 2;
        for (int i = 0; i < readCount; ++i) {
            const SampleRead& r = reads[i];
            int v0, v1, v2;
            const uint32_t code = br.read(r.codeBits);
            if (r.degroup != nullptr) {
                const DegroupTriple& d = r.degroup[code];
                v0 = d[0];
                v1 = d[1];
                v2 = d[2];
            } else {
                v0 = static_cast<int>(code) - r.middle;
                v1 = static_cast<int>(br.read(r.codeBits)) - r.middle;
                v2 = static_cast<int>(br.read(r.codeBits)) - r.middle;
            }
            if (!r.audible) continue;
            for (int c = r.firstCh; c <= r.lastCh; ++c) {
                float(*block)[kSubbands] = samples[c] + gr * 3;
                const float f = scale[c][r.sb][part];
                block[0][r.sb] = static_cast<float>(v0) * f;
                block[1][r.sb] = static_cast<float>(v1) * f;
                block[2][r.sb] = static_cast<float>(v2) * f;
            }
        }
    }
}

}  // namespace vesperon::mpeg::layer2
