#pragma once
// Reading WAV and raw PCM files, and comparing decoded 16-bit PCM with a reference.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vesperon::test {

// Raw 16-bit signed little-endian samples (interleaved when stereo).
std::vector<int16_t> readPcm16(const std::string& path);

// Stretches of sound in interleaved 16-bit PCM, on 1-ms windows: a window whose peak is above
// `loud` is sound, and a new stretch starts after `split` ms of quiet. Start and end in ms, and
// the longest quiet inside (ms).
struct SoundStretch {
    long start = 0, end = 0, longestQuiet = 0;
};
std::vector<SoundStretch> soundStretches(const std::vector<int16_t>& pcm, int rate, int channels,
                                         int loud = 300, long split = 300);

// A WAV file as its chunks say.
struct Wav {
    int channels = 0, rate = 0, bits = 0;
    std::string data;  // the data chunk, as much of it as the file holds
    // The RIFF and data sizes in the header match the file. A writer sets them last (the WAV
    // output when it closes), so false is a file not finalised yet, or cut short.
    bool finalised = false;
};
// The tests' one WAV reader: nullopt when the file is not RIFF WAVE with a fmt chunk before
// its data chunk.
std::optional<Wav> readWav(const std::string& path);
// The samples of a 16-bit PCM WAV file (empty when it is not one); rate and channels when asked.
std::vector<int16_t> readWav16(const std::string& path, int* rate = nullptr, int* channels = nullptr);
// The data chunk of a finalised WAV file ("" when absent or not finalised).
std::string wavData(const std::string& path);
// Raw 32-bit float little-endian samples, each truncated toward zero after scaling by 32768 and
// clipped to 16 bits: how a float decoder's output becomes what this system's output stage gives.
std::vector<int16_t> readF32AsTruncated16(const std::string& path);
// The peer decoder's samples for a file: mpg123's float output with its 32nd subband turned off
// (this decoder never decodes it), read as above. `options` go before the file (e.g.
// "--no-gapless"). Empty when mpg123 failed.
std::vector<int16_t> peerDecoded(const std::string& file, const std::vector<std::string>& options = {});

struct PcmComparison {
    std::size_t decodedSamples = 0;    // per channel
    std::size_t referenceSamples = 0;  // per channel
    std::size_t compared = 0;          // per channel, after alignment
    long offset = 0;                   // reference index = decoded index + offset (frames)
    double rms = 0;                    // in LSB
    int maxError = 0;                  // in LSB
    double snrDb = 0;                  // reference power over error power
};

// Compares the overlap of the two after shifting the reference by `offset` frames.
PcmComparison comparePcm(const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference,
                         int channels, long offset = 0);
// Tries every offset in [-maxShift, maxShift] frames and keeps the one with the least RMS error.
PcmComparison comparePcmAligned(const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference,
                                int channels, long maxShift);
// The same comparison seen through a brick-wall low-pass at `fraction` of the Nyquist frequency
// (the difference and the reference are filtered, the figures are of what passes; max rounded).
PcmComparison comparePcmBelow(const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference,
                              int channels, long offset, double fraction);
// RMS in LSB of what lies at or above `fraction` of the Nyquist frequency, over all channels.
double rmsAbove(const std::vector<int16_t>& pcm, int channels, double fraction);
// One line of a comparison table: name, counts, offset, RMS, max, SNR.
std::string formatComparison(const std::string& name, const PcmComparison& c);

// Normalised cross-correlation of a (first channel, stride `channels`) against b at the best lag
// in [-maxLag, maxLag] (b index = a index + lag; the lag is found on a stretch of a that starts
// where a first carries sound); returns the correlation over the whole overlap and stores the lag.
double bestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels,
                       long maxLag, long* lag);

}  // namespace vesperon::test
