#pragma once
// The player as the desktop drives it from outside the window: files named on the command
// line, files handed over by a later start of the same session, and MPRIS. Every command goes
// through the routines the window's buttons run.

#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "ui/result.h"

namespace vesperon::desktop {
class InstanceChannel;
class MprisService;
class MediaPlayer;
}  // namespace vesperon::desktop

namespace vesperon::app {

// Whether the playlist takes a path from outside: an absolute path of an existing file whose
// name ends in ".mp3".
Done AcceptableTrack(const std::string& path);

class OutsideControl {
public:
    OutsideControl();
    ~OutsideControl();

    enum class HandOver {
        RunOn,        // this start is the session's player
        Done,         // the session's player took the files: end with success
        OwnerSilent,  // a player of the session runs but did not answer: end with failure
    };
    // Before the window opens. Keeps the command line's files (reporting each one skipped on
    // standard error) and claims the session on the session bus.
    HandOver handOver(const CommandLine& line);
    // Once the window is loaded: adds the files, takes later hand-overs, serves MPRIS.
    void start();

private:
    std::vector<std::string> tracks_;
    bool haveBus_ = false;
    std::unique_ptr<desktop::InstanceChannel> channel_;
    std::unique_ptr<desktop::MediaPlayer> player_;
    std::unique_ptr<desktop::MprisService> mpris_;
};

}  // namespace vesperon::app
