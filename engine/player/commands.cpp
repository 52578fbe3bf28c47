#include "engine/player/commands.h"

#include <mutex>
#include <vector>

#include "engine/output/audio_output.h"
#include "engine/player/entry_points.h"

namespace vesperon::engine {

namespace {

// The entry points as the command layer finds them: by name, once.
struct Engine {
    CreatePlayerFunction createPlayer = nullptr;
    NewPlayFunction newPlay = nullptr;
    GetPlayStateFunction getPlayState = nullptr;
    SetPauseStateFunction setPauseState = nullptr;
    RemovePlayerFunction removePlayer = nullptr;

    Engine() {
        if (InitialiseEngine() != 1) return;
        createPlayer = reinterpret_cast<CreatePlayerFunction>(LookupEngineFunction("CreatePlayer"));
        newPlay = reinterpret_cast<NewPlayFunction>(LookupEngineFunction("NewPlay"));
        getPlayState = reinterpret_cast<GetPlayStateFunction>(LookupEngineFunction("GetPlayState"));
        setPauseState = reinterpret_cast<SetPauseStateFunction>(LookupEngineFunction("SetPauseState"));
        removePlayer = reinterpret_cast<RemovePlayerFunction>(LookupEngineFunction("RemovePlayer"));
    }
};

const Engine& engine() {
    static const Engine e;
    return e;
}

// Serialises the commands: the UI thread runs them, and the fatal-error hook's StopPlaying may
// come from whichever thread fails. Held across a whole command, so it is taken before the
// player's lock_ and never by an engine thread (which would deadlock a removal that joins it).
std::mutex g_mutex;
// --- guarded by g_mutex
PlayerHandle g_current = 0;  // the one current player; 0 when none

void removeCurrentLocked() {
    if (g_current && engine().removePlayer) engine().removePlayer(g_current);
    g_current = 0;
}

}  // namespace

void PlayMp3File(const std::string& fileName, int startPercent, WindowHandle notify, const char* password,
                 std::int64_t startMicroseconds) {
    std::lock_guard lock(g_mutex);
    removeCurrentLocked();
    if (fileName.empty() || !engine().createPlayer) return;
    std::vector<char> list(fileName.begin(), fileName.end());
    list.push_back('\0');
    list.push_back('\0');
    g_current = engine().createPlayer(list.data(), 1);
    if (g_current && startMicroseconds > 0)
        NewPlayAt(g_current, notify, password, startMicroseconds);
    else if (g_current && engine().newPlay)
        engine().newPlay(g_current, notify, password, startPercent);
}

void PausePlayback() {
    std::lock_guard lock(g_mutex);
    if (g_current && engine().setPauseState) engine().setPauseState(g_current, 1);
}

void ResumePlayback() {
    std::lock_guard lock(g_mutex);
    if (g_current && engine().setPauseState) engine().setPauseState(g_current, 0);
}

void StopPlaying() {
    std::lock_guard lock(g_mutex);
    removeCurrentLocked();
}

int QueryPlayState() {
    std::lock_guard lock(g_mutex);
    return g_current && engine().getPlayState ? engine().getPlayState(g_current) : 0;
}

bool PauseHeard() {
    std::lock_guard lock(g_mutex);
    return GetPauseHeard(g_current) != 0;
}

HeardPosition CurrentHeardPosition() {
    std::lock_guard lock(g_mutex);
    return GetHeardPosition(g_current);
}

PlayEnd CurrentPlayEnd() {
    std::lock_guard lock(g_mutex);
    return GetPlayEnd(g_current);
}

void RemoveCurrentPlayer() {
    std::lock_guard lock(g_mutex);
    removeCurrentLocked();
}

void PrepareAudioOutput() {
    prepareAudioOutput();
}

}  // namespace vesperon::engine
