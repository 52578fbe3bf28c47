// Every file of the vector collection, damaged copies of the streams and an empty file go
// through the decoding path to its end: no crash, no hang, no access outside the input.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/source_file.h"
#include "engine/mpeg/stream_decoder.h"
#include "tests/support/process.h"
#include "tests/support/vectors.h"

using namespace vesperon::mpeg;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// Long streams are only read this far: the rest adds time, not cases.
constexpr std::size_t kPrefixLimit = 1 << 20;
// Damaged copies are made of this much of each stream.
constexpr std::size_t kDamagedLimit = 48 * 1024;

std::vector<fs::path> vectorFiles() {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(vesperon::test::vectorsDir())) {
        if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool isStream(const fs::path& p) {
    return p.extension() == ".bit" || p.extension() == ".mp3";
}

Bytes readPrefix(const fs::path& p, std::size_t limit) {
    std::ifstream f(p, std::ios::binary);
    Bytes b(limit);
    f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(limit));
    b.resize(static_cast<std::size_t>(f.gcount()));
    return b;
}

struct RunResult {
    std::optional<Status> startCode;  // empty when the file did not open
    std::optional<Status> endCode;
    int64_t frames = 0;
    int64_t steps = 0;
};

// Runs the whole path and checks what must hold of every step.
RunResult runPath(ByteSource& source, std::size_t inputSize, int startPercent) {
    RunResult r;
    StreamDecoder d(source);
    r.startCode = d.start(startPercent);
    if (r.startCode != Status::Ok) return r;
    EXPECT_GT(d.pcmFrameBytes(), 0u);
    // A guard zone behind the PCM block shows a write past the frame the decoder described.
    std::vector<int16_t> pcm(d.pcmFrameBytes() / 2 + 64, 0x5A5A);
    // Every step consumes input or ends, so the steps are bounded by the input's size.
    const int64_t bound = static_cast<int64_t>(inputSize) + 100;
    while (r.steps++ < bound) {
        const FrameStep s = d.decodeFrame(pcm.data());
        if (s.status == Status::NotEnoughData) {
            if (source.waitForData() != Status::Ok) break;
            continue;
        }
        if (s.status != Status::Ok) {
            r.endCode = s.status;
            break;
        }
        EXPECT_LE(static_cast<std::size_t>(s.bytesProduced), d.pcmFrameBytes());
        EXPECT_GE(d.progress(), 0);
        EXPECT_LE(d.progress(), 99);
        if (s.decoded) ++r.frames;
    }
    EXPECT_LT(r.steps, bound) << "the path did not end";
    EXPECT_TRUE(std::all_of(pcm.begin() + static_cast<std::ptrdiff_t>(d.pcmFrameBytes() / 2), pcm.end(),
                            [](int16_t v) { return v == 0x5A5A; }))
        << "PCM written past the frame";
    // Damage may end a stream early only by its end or a refusal of the decoder, never otherwise.
    EXPECT_TRUE(r.endCode == Status::EndOfData || r.endCode == Status::CannotDecode)
        << (r.endCode ? statusName(*r.endCode) : "none");
    return r;
}

RunResult runMemory(const Bytes& data, int startPercent, std::size_t step = 0) {
    MemoryByteSource source(data.data(), data.size(), static_cast<int64_t>(data.size()), step);
    return runPath(source, data.size(), startPercent);
}

uint32_t nextRandom(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

}  // namespace

TEST(Robustness, EveryVectorFile) {
    int started = 0;
    for (const fs::path& p : vectorFiles()) {
        SCOPED_TRACE(p.string());
        const Bytes data = readPrefix(p, kPrefixLimit);
        const RunResult r = runMemory(data, 0);
        if (r.startCode == Status::Ok) ++started;
        // Each stream also through the file reader, and started part-way with input trickling in.
        if (isStream(p) && fs::file_size(p) <= kPrefixLimit) {
            SourceFile file;
            ASSERT_EQ(file.open(p.string()), Status::Ok);
            FileByteSource source(file);
            const bool trailingTags = file.audioStart() + file.dataLength() < static_cast<int64_t>(data.size());
            const RunResult viaFile = runPath(source, data.size(), 0);
            // The reader leaves trailing tags out; in memory they follow the last frame.
            if (!trailingTags) {
                EXPECT_EQ(viaFile.frames, r.frames);
            }
            runMemory(data, 37, 700);
        }
    }
    // The collection is mostly decodable streams: the path must start on most of them.
    EXPECT_GT(started, 40);
}

TEST(Robustness, TruncatedAndBitFlippedCopies) {
    uint32_t seed = 12345;
    for (const fs::path& p : vectorFiles()) {
        if (!isStream(p)) continue;
        SCOPED_TRACE(p.string());
        const Bytes data = readPrefix(p, kDamagedLimit);
        if (data.size() < 16) continue;
        for (std::size_t cut : {data.size() / 3, data.size() - 1, std::size_t{4323}, std::size_t{4324}}) {
            if (cut >= data.size()) continue;
            runMemory(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut)), 0);
        }
        // Sparse flips that keep most frames intact, and dense ones that hit every frame.
        for (int density : {2000, 300, 40}) {
            Bytes damaged = data;
            const std::size_t flips = damaged.size() / static_cast<std::size_t>(density) + 1;
            for (std::size_t i = 0; i < flips; ++i) {
                const uint32_t r = nextRandom(seed);
                damaged[r % damaged.size()] ^= static_cast<uint8_t>(1u << (nextRandom(seed) % 8));
            }
            runMemory(damaged, density == 300 ? 50 : 0);
        }
        // Headers kept, everything else noise: the frame decoders see valid-looking frames of junk.
        Bytes junk = data;
        for (std::size_t i = 0; i < junk.size(); ++i) {
            const bool header = i + 1 < junk.size() && junk[i] == 0xFF && (junk[i + 1] & 0xE0) == 0xE0;
            if (header) {
                i += 3;
                continue;
            }
            junk[i] = static_cast<uint8_t>(nextRandom(seed));
        }
        runMemory(junk, 0);
    }
}

TEST(Robustness, EmptyAndTinyFiles) {
    vesperon::test::TempDir dir;
    for (std::size_t size : {0, 1, 4, 10, 127, 128, 1441}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\xFF');
        if (size >= 3) bytes.replace(0, 3, size >= 10 ? "ID3" : "TAG");
        const std::string path = dir.file("f" + std::to_string(size) + ".mp3");
        vesperon::test::writeFile(path, bytes);
        SourceFile file;
        ASSERT_EQ(file.open(path), Status::Ok);
        FileByteSource source(file);
        StreamDecoder d(source);
        EXPECT_EQ(d.start(0), Status::EndOfData);
        EXPECT_EQ(d.progress(), 0);
    }
}

// Free-format Layer II frames too short for what their own header and bit allocation ask for
// are bad frames: 280 KB of them once came out as 45.8 MB of PCM. Nothing is decoded from them.
TEST(Robustness, FramesTooShortForTheirAllocationGiveNoOutput) {
    // MPEG-1 48 kHz single channel, 14 bytes, every allocation at its largest.
    Bytes frame(14, 0xFF);
    const uint8_t header[4] = {0xFF, 0xFD, 0x04, 0xC0};
    std::copy(header, header + 4, frame.begin());
    Bytes stream;
    for (int i = 0; i < 20000; ++i) stream.insert(stream.end(), frame.begin(), frame.end());
    const RunResult r = runMemory(stream, 0);
    ASSERT_EQ(r.startCode, Status::Ok) << "the probe must take the stream for the test to mean anything";
    EXPECT_EQ(r.frames, 0);
}
