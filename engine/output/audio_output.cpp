#include "engine/output/audio_output.h"

#include <atomic>
#include <cstdlib>
#include <string>

namespace vesperon::engine {

int AudioOutput::prepareHeader(WaveHeader* header) {
    if (!header) return kOutputError;
    header->flags |= WaveHeader::kPrepared;
    return kOutputOk;
}

int AudioOutput::unprepareHeader(WaveHeader* header) {
    if (!header) return kOutputError;
    if (header->flags & WaveHeader::kInQueue) return kOutputStillPlaying;
    header->flags &= ~WaveHeader::kPrepared;
    return kOutputOk;
}

namespace {

std::string expandSequence(const std::string& path) {
    static std::atomic<int> sequence{0};
    auto at = path.find("%d");
    if (at == std::string::npos) return path;
    return path.substr(0, at) + std::to_string(++sequence) + path.substr(at + 2);
}

}  // namespace

std::unique_ptr<AudioOutput> openAudioOutput(const WaveFormat& format, AudioOutput::DoneCallback done,
                                             void* context, int* result) {
    const char* env = std::getenv("VESPERON_AUDIO_OUTPUT");
    std::string choice = env ? env : "";
    std::unique_ptr<AudioOutput> out;
    if (choice == "null") {
        out = makeNullOutput();
    } else if (choice.rfind("wav:", 0) == 0) {
        out = makeWavOutput(expandSequence(choice.substr(4)));
    } else {
        out = makeAlsaOutput();
        int r = out->open(format, done, context);
        if (r == kOutputOk) {
            if (result) *result = r;
            return out;
        }
        // No usable sound device: keep time with the null device so progress and the end of
        // the file still work.
        out = makeNullOutput();
    }
    int r = out->open(format, done, context);
    if (result) *result = r;
    if (r != kOutputOk) return nullptr;
    return out;
}

}  // namespace vesperon::engine
