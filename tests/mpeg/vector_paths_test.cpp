// The decoder's vector paths (portable, SSE2, AVX2 where the processor has them) must give the
// same PCM, bit for bit, on every conformance stream of both layers.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/mpeg/vector_path.h"
#include "tests/mpeg/layer2_test_util.h"

using namespace vesperon;
using namespace vesperon::test;
namespace fs = std::filesystem;

namespace {

TEST(VectorPaths, EveryPathDecodesEveryStreamToTheSameBits) {
    const mpeg::VectorPath best = mpeg::bestVectorPath();
    int streams = 0;
    for (const auto& e : fs::directory_iterator(vectorsDir())) {
        if (e.path().extension() != ".bit") continue;
        mpeg::setVectorPath(best);
        const DecodedStream reference = decodeFile(e.path().string());
        if (reference.pcm.empty()) continue;
        ++streams;
        for (int p = 0; p < static_cast<int>(best); ++p) {
            const auto path = static_cast<mpeg::VectorPath>(p);
            ASSERT_EQ(mpeg::setVectorPath(path), path);
            const DecodedStream other = decodeFile(e.path().string());
            EXPECT_TRUE(other.pcm == reference.pcm)
                << e.path().filename() << ": path " << p << " differs from path " << static_cast<int>(best);
        }
    }
    mpeg::setVectorPath(best);
    std::printf("%d streams, paths 0..%d compared\n", streams, static_cast<int>(best));
    EXPECT_GT(streams, 40);
}

}  // namespace
