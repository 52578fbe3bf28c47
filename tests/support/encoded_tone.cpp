#include "tests/support/encoded_tone.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

#include "tests/support/process.h"

namespace vesperon::test {
namespace {

std::mutex cacheMutex;
std::map<std::string, std::string> cache;  // the command lines that made a file -> the file

const TempDir& cacheDir() {
    static TempDir dir;
    return dir;
}

std::string joined(const std::vector<std::string>& argv) {
    std::string s;
    for (const std::string& a : argv) s += a + '\x1f';
    return s;
}

std::vector<std::string> soxCommand(const ToneRecipe& tone, const std::string& wav) {
    std::ostringstream seconds;
    seconds << tone.seconds;
    const std::string rate = std::to_string(tone.rate), channels = std::to_string(tone.channels);
    if (!tone.mixed.empty()) {
        std::vector<std::string> argv{"sox", "-D", "-m"};
        for (const std::vector<std::string>& line : tone.mixed) {
            std::string input = "|sox -R -n -r " + rate + " -c " + channels + " -p synth " + seconds.str();
            for (const std::string& a : line) input += " " + a;
            argv.push_back(input);
        }
        argv.insert(argv.end(), {"-b", "16", wav});
        return argv;
    }
    std::vector<std::string> argv{"sox",    "-D", "-R", "-n", "-r",    rate,         "-c",
                                  channels, "-b", "16", wav,  "synth", seconds.str()};
    argv.insert(argv.end(), tone.synth.begin(), tone.synth.end());
    return argv;
}

// Makes the file once: `make` runs the tools for the path it is given. Caller holds cacheMutex.
template <class Make>
std::string cached(const std::string& key, const std::string& extension, Make&& make) {
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    const std::string path = cacheDir().file("tone" + std::to_string(cache.size()) + extension);
    const bool made = make(path);
    cache[key] = made ? path : std::string();
    return cache[key];
}

std::string toneWavLocked(const ToneRecipe& tone) {
    const std::vector<std::string> probe = soxCommand(tone, "");
    return cached(joined(probe), ".wav",
                  [&](const std::string& path) { return runCommand(soxCommand(tone, path)).exitCode == 0; });
}

}  // namespace

std::string toneWav(const ToneRecipe& tone) {
    std::lock_guard lock(cacheMutex);
    return toneWavLocked(tone);
}

std::string encodedTone(const ToneRecipe& tone, const Encoder& encoder, const std::string& copyTo) {
    std::string file;
    {
        std::lock_guard lock(cacheMutex);
        const std::string wav = toneWavLocked(tone);
        if (wav.empty() || encoder.empty()) return "";
        const std::string extension = encoder[0] == "twolame" ? ".mp2" : ".mp3";
        file = cached(joined(soxCommand(tone, "")) + '\x1e' + joined(encoder), extension,
                      [&](const std::string& path) {
                          std::vector<std::string> argv = encoder;
                          argv.insert(argv.end(), {wav, path});
                          return runCommand(argv).exitCode == 0;
                      });
    }
    if (file.empty() || copyTo.empty()) return file;
    std::error_code ec;
    std::filesystem::copy_file(file, copyTo, std::filesystem::copy_options::overwrite_existing, ec);
    return ec ? std::string() : copyTo;
}

}  // namespace vesperon::test
