// vesperon-decode [--start PERCENT] [--password TEXT] [--raw] IN OUT
// vesperon-decode --bench [--repeat N] [--peer] [--start PERCENT] [--password TEXT] IN
// Writes exactly the PCM the player hands to the sound device for IN: a WAV file, or raw
// 16-bit little-endian samples with --raw; OUT "-" is standard output. With --bench it decodes
// IN N times without writing and reports the speed as a multiple of real time; --peer also
// times mpg123 decoding the same file as many times, for comparison.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engine/mpeg/block_cipher.h"
#include "engine/mpeg/byte_source.h"
#include "engine/mpeg/source_file.h"
#include "engine/mpeg/stream_decoder.h"

using namespace vesperon::mpeg;

namespace {

struct Options {
    int startPercent = 0;
    std::string password;
    bool raw = false;
    bool bench = false;
    bool peer = false;
    int repeat = 1;
    std::string in;
    std::string out;
};

int usage() {
    std::fprintf(
        stderr,
        "usage: vesperon-decode [--start PERCENT] [--password TEXT] [--raw] IN OUT\n"
        "       vesperon-decode --bench [--repeat N] [--peer] [--start PERCENT] [--password TEXT] IN\n");
    return 2;
}

bool parseInt(const char* text, int* value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < -1000000 || v > 1000000) return false;
    *value = static_cast<int>(v);
    return true;
}

const char* openErrorText(Status status) {
    switch (status) {
        case Status::FileNotFound:
            return "file not found";
        case Status::AccessDenied:
            return "access denied";
        case Status::NotAFile:
            return "not a regular file";
        case Status::TooManyFiles:
            return "too many open files";
        default:
            return "cannot be opened";
    }
}

const char* layerName(int layerField) {
    switch (layerField) {
        case kLayerFieldI:
            return "I";
        case kLayerFieldII:
            return "II";
        case kLayerFieldIII:
            return "III";
        default:
            return "?";
    }
}

const char* versionName(const FrameHeader& h) {
    if (h.syncKind == 2) return "MPEG-2.5";
    return h.versionBit == 1 ? "MPEG-1" : "MPEG-2";
}

void putLe(std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> wavHeader(int channels, int rate, uint32_t dataBytes) {
    std::vector<uint8_t> h;
    const char* riff = "RIFF";
    h.insert(h.end(), riff, riff + 4);
    putLe(h, dataBytes > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu : dataBytes + 36, 4);
    const char* wavefmt = "WAVEfmt ";
    h.insert(h.end(), wavefmt, wavefmt + 8);
    putLe(h, 16, 4);
    putLe(h, 1, 2);  // PCM
    putLe(h, static_cast<uint32_t>(channels), 2);
    putLe(h, static_cast<uint32_t>(rate), 4);
    putLe(h, static_cast<uint32_t>(rate * channels * 2), 4);
    putLe(h, static_cast<uint32_t>(channels * 2), 2);
    putLe(h, 16, 2);
    const char* data = "data";
    h.insert(h.end(), data, data + 4);
    putLe(h, dataBytes, 4);
    return h;
}

// Opens the file and starts the stream; prints the one-line error and returns false on failure.
bool startStream(const Options& o, SourceFile& file, StreamDecoder& decoder) {
    file.setPassword(o.password);
    const Status opened = file.open(o.in);
    if (opened != Status::Ok) {
        std::fprintf(stderr, "vesperon-decode: cannot open %s: %s (code %d)\n", o.in.c_str(),
                     openErrorText(opened), toCode(opened));
        return false;
    }
    const Status started = decoder.start(o.startPercent);
    if (started == Status::Ok) return true;
    if (started == Status::NoStreamFound || started == Status::EndOfData) {
        std::fprintf(stderr, "vesperon-decode: %s: no MPEG audio Layer II/III stream found\n", o.in.c_str());
    } else if (started == Status::CannotDecode) {
        std::fprintf(stderr, "vesperon-decode: %s: the stream cannot be decoded (code %d)\n", o.in.c_str(),
                     toCode(started));
    } else {
        std::fprintf(stderr, "vesperon-decode: %s: decoding failed (code %d)\n", o.in.c_str(),
                     toCode(started));
    }
    return false;
}

void printStream(const StreamDecoder& decoder) {
    const StreamInfo& info = decoder.info();
    std::fprintf(stderr, "layer: %s\nversion: %s\nrate: %d\nchannels: %d\nbit rate: %d\nframes: %lld%s\n",
                 layerName(info.header.layerField), versionName(info.header), info.output.sampleRate,
                 info.output.channels, info.bitrate, static_cast<long long>(info.totalFrames),
                 info.vbr ? " (Xing)" : "");
}

void printCounters(const StreamDecoder& decoder, int finalStatus) {
    const StreamCounters& c = decoder.counters();
    std::fprintf(stderr, "decoded: %lld\nresynchronised: %lld\nsilenced: %lld\n",
                 static_cast<long long>(c.framesDecoded), static_cast<long long>(c.resynchronisations),
                 static_cast<long long>(c.silentFrames));
    if (finalStatus != toCode(Status::EndOfData)) std::fprintf(stderr, "stopped with code %d\n", finalStatus);
}

// Runs the frames to the end; sink receives the PCM of up to 64 frames at a time (a write per
// frame cost as much as a tenth of the decoding). Returns the final status's code, or -1 when
// the sink failed.
template <typename Sink>
int decodeAll(StreamDecoder& decoder, ByteSource& source, Sink&& sink) {
    constexpr std::size_t kBatch = 64;
    const std::size_t frameValues = decoder.pcmFrameBytes() / 2;
    std::vector<int16_t> pcm(frameValues * kBatch);
    std::size_t held = 0;  // values decoded and not yet passed on
    auto flush = [&] {
        const bool ok = held == 0 || sink(pcm.data(), held * 2);
        held = 0;
        return ok;
    };
    while (true) {
        const FrameStep step = decoder.decodeFrame(pcm.data() + held);
        if (step.status == Status::NotEnoughData) {
            if (source.waitForData() != Status::Ok) return flush() ? toCode(Status::Stopping) : -1;
            continue;
        }
        if (step.status != Status::Ok) return flush() ? toCode(step.status) : -1;
        if (step.decoded && step.bytesProduced > 0) {
            held += static_cast<std::size_t>(step.bytesProduced) / 2;
            if (held + frameValues > pcm.size() && !flush()) return -1;
        }
    }
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs mpg123's test mode (decoding without output) on the file; false when it cannot run.
bool runPeer(const std::string& path) {
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        execlp("mpg123", "mpg123", "-q", "-t", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double childCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

int runBench(const Options& o) {
    double audioSeconds = 0;
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    for (int r = 0; r < o.repeat; ++r) {
        SourceFile file;
        FileByteSource source(file);
        StreamDecoder decoder(source);
        if (!startStream(o, file, decoder)) return 1;
        if (r == 0) printStream(decoder);
        const int rate = decoder.info().output.sampleRate;
        const int channels = decoder.info().output.channels;
        uint64_t bytes = 0;
        const int status = decodeAll(decoder, source, [&](const int16_t*, std::size_t n) {
            bytes += n;
            return true;
        });
        if (r == 0) printCounters(decoder, status);
        if (rate > 0 && channels > 0) audioSeconds += static_cast<double>(bytes) / (2.0 * channels * rate);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = cpuSeconds() - cpuStart;
    std::fprintf(stderr, "bench: %d run(s), %.3f s of audio decoded in %.3f s wall, %.3f s CPU\n", o.repeat,
                 audioSeconds, wall, cpu);
    std::fprintf(stderr, "speed: %.1f x real time (wall), %.1f x real time (CPU)\n",
                 wall > 0 ? audioSeconds / wall : 0.0, cpu > 0 ? audioSeconds / cpu : 0.0);
    if (!o.peer) return 0;

    // The peer's speed is taken over the same audio duration.
    const auto peerStart = std::chrono::steady_clock::now();
    const double peerCpuStart = childCpuSeconds();
    for (int r = 0; r < o.repeat; ++r) {
        if (!runPeer(o.in)) {
            std::fprintf(stderr, "peer: mpg123 -t did not run\n");
            return 1;
        }
    }
    const double peerWall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - peerStart).count();
    const double peerCpu = childCpuSeconds() - peerCpuStart;
    std::fprintf(stderr, "peer: mpg123 -t, %d run(s) in %.3f s wall, %.3f s CPU: %.1f x real time (CPU)\n",
                 o.repeat, peerWall, peerCpu, peerCpu > 0 ? audioSeconds / peerCpu : 0.0);
    if (cpu > 0) std::fprintf(stderr, "ratio: %.2f of the peer's speed (CPU)\n", peerCpu / cpu);
    return 0;
}

int runDecode(const Options& o) {
    SourceFile file;
    FileByteSource source(file);
    StreamDecoder decoder(source);
    if (!startStream(o, file, decoder)) return 1;
    printStream(decoder);

    const bool toStdout = o.out == "-";
    FILE* out = toStdout ? stdout : std::fopen(o.out.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "vesperon-decode: cannot create %s: %s\n", o.out.c_str(), std::strerror(errno));
        return 1;
    }
    const int rate = decoder.info().output.sampleRate;
    const int channels = decoder.info().output.channels;
    bool ok = true;
    if (!o.raw) {
        // Sizes are filled in at the end where the output can seek; a stream keeps the maximum.
        const auto header = wavHeader(channels, rate, 0xFFFFFFFFu);
        ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
    }
    uint64_t bytes = 0;
    std::vector<uint8_t> le;
    const int status = decodeAll(decoder, source, [&](const int16_t* pcm, std::size_t n) {
        bytes += n;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Already in file order.
        return std::fwrite(pcm, 1, n, out) == n;
#else
        le.resize(n);
        for (std::size_t i = 0; i < n / 2; ++i) {
            const auto v = static_cast<uint16_t>(pcm[i]);
            le[2 * i] = static_cast<uint8_t>(v);
            le[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        return std::fwrite(le.data(), 1, n, out) == n;
#endif
    });
    if (status == -1) ok = false;
    if (ok && !o.raw && std::fseek(out, 0, SEEK_SET) == 0) {
        const auto header =
            wavHeader(channels, rate, static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFu)));
        ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
    }
    if (toStdout) {
        if (std::fflush(out) != 0) ok = false;
    } else if (std::fclose(out) != 0) {
        ok = false;
    }
    printCounters(decoder, status);
    if (!ok) {
        std::fprintf(stderr, "vesperon-decode: writing %s failed\n", o.out.c_str());
        return 1;
    }
    // The end of the data is the normal end; anything else stopped the decoding early.
    return status == toCode(Status::EndOfData) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--start" && i + 1 < argc) {
            if (!parseInt(argv[++i], &o.startPercent)) return usage();
        } else if (a == "--password" && i + 1 < argc) {
            o.password = argv[++i];
        } else if (a == "--raw") {
            o.raw = true;
        } else if (a == "--bench") {
            o.bench = true;
        } else if (a == "--peer") {
            o.peer = true;
        } else if (a == "--repeat" && i + 1 < argc) {
            if (!parseInt(argv[++i], &o.repeat) || o.repeat < 1) return usage();
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return usage();
        } else {
            files.push_back(a);
        }
    }
    if (o.password.size() >= kPasswordLimit) {
        std::fprintf(stderr, "vesperon-decode: the password is too long (%zu bytes; the player refuses %zu or more)\n",
                     o.password.size(), kPasswordLimit);
        return 2;
    }
    if (o.bench) {
        if (files.size() != 1 && files.size() != 2) return usage();
        o.in = files[0];
        return runBench(o);
    }
    if (files.size() != 2) return usage();
    o.in = files[0];
    o.out = files[1];
    return runDecode(o);
}
