#pragma once
// The command layer's five playback commands around one application-wide player, replaced on
// every play, and its removal when the application shuts down.

#include <cstdint>
#include <string>

#include "engine/pipeline/heard_position.h"
#include "engine/player/playback.h"
#include "engine/port/message_port.h"

namespace vesperon::engine {

// Removes the current player; then, for a non-empty name, creates one for that file with play
// count 1 and starts it with the notify target, password and start position (startMicroseconds,
// when positive, instead of the percent).
void PlayMp3File(const std::string& fileName, int startPercent = 0, WindowHandle notify = 0,
                 const char* password = nullptr, std::int64_t startMicroseconds = 0);
void PausePlayback();
void ResumePlayback();
void StopPlaying();
// The current player's state (1 playing, -1 paused, 0 stopped); 0 without a player.
int QueryPlayState();
// False while the sound the device held when the play was paused still plays; never blocks.
bool PauseHeard();
// Where the sound heard stands in the current play: the window's bar and MPRIS Position follow
// it (microseconds()); `play` changes with every start and seek. Never blocks on the engine.
HeardPosition CurrentHeardPosition();
// How the current player's play ended (read at its end notice), or why it did not start (a
// file that does not open leaves the player stopped); Ok without a player.
PlayEnd CurrentPlayEnd();
// At start-up: connects to the sound server now, so that the first play finds it answering.
// Returns at once.
void PrepareAudioOutput();
// At shut-down: removes the current player.
void RemoveCurrentPlayer();

}  // namespace vesperon::engine
