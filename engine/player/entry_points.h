#pragma once
// The engine's six entry points, found by name through LookupEngineFunction: its outer contract,
// in numbers, a thin adapter over Playback (playback.h).

#include <cstdint>

#include "engine/pipeline/heard_position.h"
#include "engine/player/playback.h"
#include "engine/port/message_port.h"

namespace vesperon::engine {

// Names one player; 0 = none. Every entry point accepts 0 and then does nothing.
using PlayerHandle = std::intptr_t;

// list: NUL-terminated file names followed by one more NUL; count: 1 plays the list once,
// n times, 0 (or negative) for ever. 0 when the player cannot be made.
PlayerHandle CreatePlayer(const char* list, std::int32_t count);
// Starts the file at the cursor (or resumes a paused play). password may be null; startPercent
// 0 plays from the beginning.
void NewPlay(PlayerHandle player, WindowHandle notify, const char* password, std::int32_t startPercent);
void Play(PlayerHandle player);
// Beside the six: NewPlay with the start as a time from the beginning (microseconds), which a
// caller that knows the time asks for to within a frame rather than a whole percent.
void NewPlayAt(PlayerHandle player, WindowHandle notify, const char* password,
               std::int64_t startMicroseconds);
// 1 Playing, -1 Paused, 0 Stopped or no player.
std::int32_t GetPlayState(PlayerHandle player);
void SetPauseState(PlayerHandle player, std::int32_t pause);
// The handle is invalid afterwards.
void RemovePlayer(PlayerHandle player);
// Beside the six, for the caller that fades out before a pause: 0 while the sound the device
// held at the pause still plays, 1 once it has been heard (or when nothing is paused). It
// never blocks; SetPauseState does not wait for that sound either.
std::int32_t GetPauseHeard(PlayerHandle player);
// Beside the six as well: where the sound heard stands in the player's current play (all zero
// without a player). Never blocks.
HeardPosition GetHeardPosition(PlayerHandle player);
// And: how the player's last play ended, or why its last start failed (Playback::lastEnd; Ok
// without a player). Never blocks for long.
PlayEnd GetPlayEnd(PlayerHandle player);

using CreatePlayerFunction = PlayerHandle (*)(const char*, std::int32_t);
using NewPlayFunction = void (*)(PlayerHandle, WindowHandle, const char*, std::int32_t);
using PlayFunction = void (*)(PlayerHandle);
using GetPlayStateFunction = std::int32_t (*)(PlayerHandle);
using SetPauseStateFunction = void (*)(PlayerHandle, std::int32_t);
using RemovePlayerFunction = void (*)(PlayerHandle);

// The engine's registration with the command layer.
using EngineFunction = void (*)();
int InitialiseEngine();  // 1
// The entry point of exactly that name (case-sensitive), or null.
EngineFunction LookupEngineFunction(const char* name);
void ShutDownEngine();

}  // namespace vesperon::engine
