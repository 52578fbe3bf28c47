#include "tests/support/audio_compare.h"

#include <algorithm>
#include <complex>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "tests/support/process.h"

namespace vesperon::test {

namespace {

uint32_t le32(const std::string& s, std::size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

std::vector<int16_t> samplesOf(const char* data, std::size_t bytes) {
    std::vector<int16_t> out(bytes / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<int16_t>(static_cast<uint8_t>(data[2 * i]) | static_cast<uint8_t>(data[2 * i + 1]) << 8);
    }
    return out;
}

// In-place radix-2 FFT; inverse when `inverse` (unscaled).
void fft(std::vector<std::complex<double>>& a, bool inverse) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const double ang = 2 * M_PI / static_cast<double>(len) * (inverse ? 1 : -1);
        for (std::size_t i = 0; i < n; i += len)
            for (std::size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> w = std::polar(1.0, ang * static_cast<double>(k));
                const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
    }
}

// Keeps the part of x below (or, with `above`, at and above) `fraction` of the Nyquist frequency.
std::vector<double> splitBand(const std::vector<double>& x, double fraction, bool above) {
    std::size_t n = 1;
    while (n < x.size()) n <<= 1;
    std::vector<std::complex<double>> a(n);
    for (std::size_t i = 0; i < x.size(); ++i) a[i] = x[i];
    fft(a, false);
    const double cut = fraction * static_cast<double>(n) / 2;
    for (std::size_t k = 0; k < n; ++k) {
        const double f = static_cast<double>(std::min(k, n - k));  // bin frequency, mirrored
        if ((f >= cut) != above) a[k] = 0;
    }
    fft(a, true);
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = a[i].real() / static_cast<double>(n);
    return y;
}

}  // namespace

std::vector<int16_t> readPcm16(const std::string& path) {
    std::string s = readFile(path);
    return samplesOf(s.data(), s.size());
}

std::optional<Wav> readWav(const std::string& path) {
    const std::string s = readFile(path);
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WAVE") != 0) return std::nullopt;
    const auto le16 = [&](std::size_t at) { return int(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8); };
    std::optional<Wav> wav;
    for (std::size_t at = 12; at + 8 <= s.size();) {
        const uint32_t size = le32(s, at + 4);
        const std::size_t body = at + 8;
        if (s.compare(at, 4, "fmt ") == 0 && body + 16 <= s.size()) {
            wav.emplace();
            wav->channels = le16(body + 2);
            wav->rate = static_cast<int>(le32(s, body + 4));
            wav->bits = le16(body + 14);
        } else if (s.compare(at, 4, "data") == 0 && wav) {
            wav->data = s.substr(body, size);
            wav->finalised = std::size_t(le32(s, 4)) + 8 == s.size() && body + size <= s.size();
            return wav;
        }
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

std::vector<int16_t> readWav16(const std::string& path, int* rate, int* channels) {
    const std::optional<Wav> wav = readWav(path);
    if (!wav || wav->bits != 16) return {};
    if (rate) *rate = wav->rate;
    if (channels) *channels = wav->channels;
    return samplesOf(wav->data.data(), wav->data.size());
}

std::string wavData(const std::string& path) {
    const std::optional<Wav> wav = readWav(path);
    return wav && wav->finalised ? wav->data : "";
}

std::vector<int16_t> readF32AsTruncated16(const std::string& path) {
    std::string s = readFile(path);
    std::vector<int16_t> out(s.size() / 4);
    for (std::size_t i = 0; i < out.size(); ++i) {
        float f;
        std::memcpy(&f, s.data() + 4 * i, 4);
        float v = std::trunc(f * 32768.0f);
        v = std::clamp(v, -32768.0f, 32767.0f);
        out[i] = static_cast<int16_t>(v);
    }
    return out;
}

std::vector<int16_t> peerDecoded(const std::string& file, const std::vector<std::string>& options) {
    TempDir dir;
    std::string eq;  // one line per subband: left and right factor
    for (int band = 0; band < 32; ++band) eq += band < 31 ? "1 1\n" : "0 0\n";
    writeFile(dir.file("eq.txt"), eq);
    std::vector<std::string> argv{"mpg123", "-q", "-e", "f32", "-E", dir.file("eq.txt")};
    argv.insert(argv.end(), {"-O", dir.file("out.f32")});
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(file);
    if (runCommand(argv, 120).exitCode != 0) return {};
    return readF32AsTruncated16(dir.file("out.f32"));
}

PcmComparison comparePcm(const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference, int channels,
                         long offset) {
    PcmComparison c;
    const long ch = std::max(channels, 1);
    c.decodedSamples = decoded.size() / static_cast<std::size_t>(ch);
    c.referenceSamples = reference.size() / static_cast<std::size_t>(ch);
    c.offset = offset;
    long nd = static_cast<long>(c.decodedSamples), nr = static_cast<long>(c.referenceSamples);
    long begin = std::max(0L, -offset), end = std::min(nd, nr - offset);
    if (end <= begin) return c;
    double errSum = 0, refSum = 0;
    int maxErr = 0;
    for (long i = begin; i < end; ++i) {
        for (long k = 0; k < ch; ++k) {
            int d = decoded[static_cast<std::size_t>(i * ch + k)];
            int r = reference[static_cast<std::size_t>((i + offset) * ch + k)];
            int e = std::abs(d - r);
            maxErr = std::max(maxErr, e);
            errSum += static_cast<double>(e) * e;
            refSum += static_cast<double>(r) * r;
        }
    }
    c.compared = static_cast<std::size_t>(end - begin);
    double n = static_cast<double>(c.compared) * static_cast<double>(ch);
    c.rms = std::sqrt(errSum / n);
    c.maxError = maxErr;
    c.snrDb = errSum == 0 ? 999.0 : 10.0 * std::log10(std::max(refSum, 1.0) / errSum);
    return c;
}

PcmComparison comparePcmBelow(const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference,
                              int channels, long offset, double fraction) {
    PcmComparison c = comparePcm(decoded, reference, channels, offset);
    if (c.compared == 0) return c;
    const long ch = std::max(channels, 1);
    const long begin = std::max(0L, -offset);
    double errSum = 0, refSum = 0, maxErr = 0;
    for (long k = 0; k < ch; ++k) {
        std::vector<double> diff(c.compared), ref(c.compared);
        for (std::size_t i = 0; i < c.compared; ++i) {
            const long d = (begin + static_cast<long>(i)) * ch + k;
            const long r = (begin + static_cast<long>(i) + offset) * ch + k;
            ref[i] = reference[static_cast<std::size_t>(r)];
            diff[i] = decoded[static_cast<std::size_t>(d)] - ref[i];
        }
        for (double e : splitBand(diff, fraction, false)) {
            errSum += e * e;
            maxErr = std::max(maxErr, std::abs(e));
        }
        for (double r : splitBand(ref, fraction, false)) refSum += r * r;
    }
    const double n = static_cast<double>(c.compared) * static_cast<double>(ch);
    c.rms = std::sqrt(errSum / n);
    c.maxError = static_cast<int>(std::lround(maxErr));
    c.snrDb = errSum == 0 ? 999.0 : 10.0 * std::log10(std::max(refSum, 1.0) / errSum);
    return c;
}

double rmsAbove(const std::vector<int16_t>& pcm, int channels, double fraction) {
    const std::size_t ch = static_cast<std::size_t>(std::max(channels, 1));
    const std::size_t frames = pcm.size() / ch;
    if (frames == 0) return 0;
    double sum = 0;
    for (std::size_t k = 0; k < ch; ++k) {
        std::vector<double> x(frames);
        for (std::size_t i = 0; i < frames; ++i) x[i] = pcm[i * ch + k];
        for (double v : splitBand(x, fraction, true)) sum += v * v;
    }
    return std::sqrt(sum / static_cast<double>(frames * ch));
}

PcmComparison comparePcmAligned(const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference,
                                int channels, long maxShift) {
    // Choose the shift on a stretch of at most 20000 frames, then measure the whole overlap.
    const long ch = std::max(channels, 1);
    const std::size_t probeFrames = 20000;
    std::vector<int16_t> head(decoded.begin(),
                              decoded.begin() + static_cast<long>(std::min(decoded.size(), probeFrames * ch)));
    long best = 0;
    double bestRms = std::numeric_limits<double>::max();
    for (long s = -maxShift; s <= maxShift; ++s) {
        PcmComparison c = comparePcm(head, reference, channels, s);
        if (c.compared == 0) continue;
        if (c.rms < bestRms) {
            bestRms = c.rms;
            best = s;
        }
    }
    return comparePcm(decoded, reference, channels, best);
}

std::string formatComparison(const std::string& name, const PcmComparison& c) {
    char line[256];
    std::snprintf(line, sizeof line, "%-40s decoded %8zu  reference %8zu  compared %8zu  offset %5ld  rms %7.3f  max %6d  snr %6.1f dB",
                  name.c_str(), c.decodedSamples, c.referenceSamples, c.compared, c.offset, c.rms, c.maxError, c.snrDb);
    return line;
}

double bestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels, long maxLag,
                       long* lag) {
    const long ch = std::max(channels, 1);
    const long na = static_cast<long>(a.size()) / ch, nb = static_cast<long>(b.size()) / ch;
    auto at = [&](const std::vector<int16_t>& v, long i) { return static_cast<double>(v[static_cast<std::size_t>(i * ch)]); };
    // Find the lag on a window of `a` a little after it first carries sound, so that a recording
    // that lost the first moments (a negative lag) is found as well.
    long start = 0;
    while (start < na && std::abs(at(a, start)) < 64) ++start;
    const long window = std::min(16384L, na - start);
    if (window <= 0) {
        if (lag) *lag = 0;
        return 0;
    }
    const long ws = std::min(start + 4410, na - window);
    long best = 0;
    double bestScore = -2;
    for (long l = -std::min(maxLag, ws); l <= maxLag; ++l) {
        if (ws + l + window > nb) break;
        double ab = 0, aa = 0, bb = 0;
        for (long i = ws; i < ws + window; ++i) {
            double x = at(a, i), y = at(b, i + l);
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        double score = (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0;
        if (score > bestScore) {
            bestScore = score;
            best = l;
        }
    }
    if (lag) *lag = best;
    // The correlation of the whole overlap at that lag.
    double ab = 0, aa = 0, bb = 0;
    for (long i = std::max(0L, -best); i < na && i + best < nb; ++i) {
        double x = at(a, i), y = at(b, i + best);
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0;
}

std::vector<SoundStretch> soundStretches(const std::vector<int16_t>& pcm, int rate, int channels, int loud,
                                         long split) {
    const long window = long(rate) / 1000 * channels, windows = window > 0 ? long(pcm.size()) / window : 0;
    std::vector<SoundStretch> out;
    long quiet = 0;
    for (long w = 0; w < windows; ++w) {
        int peak = 0;
        for (long i = w * window; i < (w + 1) * window; ++i)
            peak = std::max(peak, std::abs(int(pcm[std::size_t(i)])));
        if (peak <= loud) {
            ++quiet;
            continue;
        }
        if (out.empty() || quiet >= split) {
            out.push_back({w, w + 1, 0});
        } else {
            out.back().longestQuiet = std::max(out.back().longestQuiet, quiet);
            out.back().end = w + 1;
        }
        quiet = 0;
    }
    return out;
}

}  // namespace vesperon::test
