#pragma once
// Keeps the wave output open from one play to the next. A play takes the device for its format
// (the kept one when the rate and channels match, so the next track's sound follows the last
// one's with nothing added) and gives it back when it ends, with the rest of its sound still
// playing. A play of another format gets a device opened while the kept one plays out, handed
// out as the kept one's sound ends. A device nobody has taken for a few seconds is closed, so
// the sound server can suspend; so is one that failed for good.

#include <chrono>
#include <memory>

#include "engine/output/audio_output.h"

namespace vesperon::engine {

class OutputKeeper {
public:
    static OutputKeeper& instance();
    ~OutputKeeper();

    // An open device bound to (done, context): the kept one when it suits the format, else one
    // from openAudioOutput. Null with *result set when nothing opens.
    std::unique_ptr<AudioOutput> take(const PcmFormat& format, AudioOutput::DoneCallback done, void* context,
                                      Status* result);
    // A device whose headers have all been returned (release() succeeded); kept for the next take.
    void give(std::unique_ptr<AudioOutput> device, const PcmFormat& format);
    // Opens `device` for the format on a thread of its own and keeps it as a play would have
    // left it, unless a device is kept already: the first play of that format then takes it
    // with its stream set up and its worker running. A take() meanwhile waits for it. A device
    // that does not open is dropped.
    void openAhead(std::unique_ptr<AudioOutput> device, const PcmFormat& format);
    // Closes the kept device now (for tests and exit).
    void closeNow();
    // Waits (at most `seconds`) until the kept device has played what it holds, then closes it:
    // for a tool that exits after the last track.
    void playOutAndClose(double seconds);

private:
    OutputKeeper();
    // Sleeps until what the device holds will all be heard within `lead`.
    static void waitTail(AudioOutput& device, int rate, std::chrono::microseconds lead);
    // Closes the device once it has played what it holds.
    void retire(std::unique_ptr<AudioOutput> device);
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace vesperon::engine
