#pragma once
// The engine as the application uses it inside the process: one Playback plays a list of files
// in order, a number of rounds, and tells the progress of the sound heard, a play's first sound
// and each track's end as typed notices. Every call returns at once; none waits for the device.
// The by-name entry points (entry_points.h) are a thin adapter over this class, for callers that
// know only numbers.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/pipeline/heard_position.h"
#include "engine/port/notice.h"
#include "engine/status/status.h"

namespace vesperon::engine {

class Player;

enum class PlayState { Stopped, Playing, Paused };

// How the last play ended, or why the last start failed.
struct PlayEnd {
    // Ok while none has ended; EndOfData when it played to its end; else why it failed (the
    // open's FileNotFound, AccessDenied, NotAFile, TooManyFiles, CannotOpen; or NoStreamFound,
    // DeviceFailed, ...).
    Status why = Status::Ok;
    bool soundPlayed = false;  // some of its sound reached the device, whatever ended it
};

struct PlayOptions {
    NoticeSink notices;    // none: the play tells nothing
    int startPercent = 0;  // of the file's audio; 0 plays from the beginning
    // The password the files are enciphered with. Given, it also serves the files the list
    // moves on to; not given, this file plays plain and the files after it keep the last
    // password given.
    std::optional<std::string> password = std::nullopt;
    // Positive: a time from the beginning, instead of startPercent (to within a frame).
    std::int64_t startMicroseconds = 0;
};

class Playback {
public:
    // rounds: 1 plays the list once, n times, 0 for ever. Empty names end the list.
    explicit Playback(const std::vector<std::string>& files, int rounds = 1);
    // Stops the play. No notice comes after it returns.
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // Starts the file at the list's cursor, replacing a running play, or resumes a paused one.
    // Ok, or why nothing plays: NothingToPlay, PasswordTooLong, or why the file did not open
    // (FileNotFound, AccessDenied, NotAFile, TooManyFiles, CannotOpen). A file that opens but
    // holds no stream, or a device that fails, ends the track later: a TrackEnded notice whose
    // `why` tells the reason (NoStreamFound, DeviceFailed, ...), and the list moves on.
    Status play(const PlayOptions& options = {});
    // true pauses a Playing play, false resumes a Paused one; otherwise nothing changes.
    void setPaused(bool paused);
    PlayState state() const;
    // False while the sound the device held at the pause still plays; true once it has been
    // heard, or when nothing is paused. Never blocks: ask again while it is false.
    bool pauseHeard();
    // Where the sound heard stands in the current play, for the bar and MPRIS Position; `play`
    // changes with every start and seek. Never blocks: while a track change is under way the
    // last answer is given again.
    HeardPosition heard();
    // How the last play ended (told before its TrackEnded notice), or why the last play()
    // failed. Never blocks for long.
    PlayEnd lastEnd() const;

    // For every player of the process, read as each play starts (so a change never breaks a
    // seam): the loudness gain of each file in decibels (a file not in the table plays at its
    // own level), and the stream level in per cent of full (0..100).
    static void setTrackGains(std::unordered_map<std::string, double> decibelsByPath);
    static void setStreamLevel(int percent);

private:
    std::unique_ptr<Player> player_;
};

}  // namespace vesperon::engine
