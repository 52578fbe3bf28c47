#include "engine/output/audio_output.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "engine/output/output_keeper.h"

namespace vesperon::engine {

Status AudioOutput::prepareHeader(WaveHeader* header) {
    if (!header) return Status::HeaderUnprepared;
    header->flags |= WaveHeader::kPrepared;
    return Status::Ok;
}

Status AudioOutput::unprepareHeader(WaveHeader* header) {
    if (!header) return Status::HeaderUnprepared;
    if (header->flags & WaveHeader::kInQueue) return Status::StillPlaying;
    header->flags &= ~WaveHeader::kPrepared;
    return Status::Ok;
}

namespace {

std::string expandSequence(const std::string& path) {
    static std::atomic<int> sequence{0};
    auto at = path.find("%d");
    if (at == std::string::npos) return path;
    return path.substr(0, at) + std::to_string(++sequence) + path.substr(at + 2);
}

}  // namespace

void prepareAudioOutput() {
    const char* env = std::getenv("VESPERON_AUDIO_OUTPUT");
    const std::string choice = env ? env : "";
    if (choice.empty() || choice == "pulse") {
        connectPulseAhead();
        // Most plays are of 44.1 kHz stereo: a device for it, opened while the first play
        // starts, takes the stream's set-up and the worker's start off the way to its first
        // sound. Kept only if the server answers; closed with the idle ones if not taken.
        OutputKeeper::instance().openAhead(makePulseOutput(false), PcmFormat::pcm16(2, 44100));
    }
}

std::unique_ptr<AudioOutput> openAudioOutput(const PcmFormat& format, AudioOutput::DoneCallback done,
                                             void* context, Status* result) {
    const char* env = std::getenv("VESPERON_AUDIO_OUTPUT");
    const std::string choice = env ? env : "";
    auto opened = [&](std::unique_ptr<AudioOutput> out) -> std::unique_ptr<AudioOutput> {
        const Status r = out->open(format, done, context);
        if (result) *result = r;
        return r == Status::Ok ? std::move(out) : nullptr;
    };
    if (choice == "null") return opened(makeNullOutput());
    if (choice.rfind("wav:", 0) == 0) return opened(makeWavOutput(expandSequence(choice.substr(4))));
    if (choice == "pulse") return opened(makePulseOutput(pulseServerExpected()));
    std::unique_ptr<AudioOutput> out;
    if (choice != "alsa" && (out = opened(makePulseOutput()))) return out;
    if ((out = opened(makeAlsaOutput()))) return out;
    // No server answers and no device opens. A session that expects a server (one starting
    // after this program, say) waits for it; otherwise the null device keeps time, so that
    // progress and the end of the file still work.
    if (pulseServerExpected() &&
        (out = opened(choice == "alsa" ? makeAlsaOutput("default", true) : makePulseOutput(true))))
        return out;
    return opened(makeNullOutput());
}

}  // namespace vesperon::engine
