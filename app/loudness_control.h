#pragma once
// Even loudness in the program: the measuring thread and its cache (made by `main`, so the window
// tests run without), the gains handed to the engine for the tracks of the list, each period's
// level applied from its start to its end, and the playlist's menu and tool tips. Each entry
// point does nothing while no control exists.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/loudness_keys.h"
#include "engine/loudness/loudness_cache.h"
#include "engine/loudness/measurer.h"

namespace vesperon::ui {
class Form;
}

namespace vesperon::app {

class LoudnessControl {
public:
    // Loads the cache at `cachePath` and starts the measuring thread (idle priority).
    explicit LoudnessControl(const std::string& cachePath = loudness::defaultCachePath());
    // Abandons a measurement under way and saves what was measured.
    ~LoudnessControl();
    LoudnessControl(const LoudnessControl&) = delete;
    LoudnessControl& operator=(const LoudnessControl&) = delete;
    static LoudnessControl* current();

    // What the session holds: the mode, the target, the periods' levels.
    SessionLoudness session;
    // Measures what the list holds and is not measured yet, and hands the engine the list's
    // gains (again once a track has been measured).
    void update();
    std::optional<loudness::Loudness> measured(const std::string& path) { return measurer_.lookup(path); }

private:
    std::shared_ptr<bool> alive_;  // the measuring thread's posts check it on the UI thread
    loudness::LoudnessCache cache_;
    loudness::Measurer measurer_;  // last: its thread may call back as soon as it runs
};

// The session's keys as the control holds them, and a loaded session's put in place.
SessionLoudness CurrentSessionLoudness();
void ApplySessionLoudness(const SessionLoudness& keys);
// The list (or the loudness settings) changed: measure and hand the gains on, once the event
// loop comes round.
void LoudnessListChanged();
// A period started (0 .. 4) or ended (-1): its level applies to the plays started from now on.
void ApplyPeriodLevel(int period);
// A period's level in per cent, as its row's menu shows and sets it.
int PeriodLevel(int period);
void SetPeriodLevel(int period, int percent);
// The mode and the target, as the playlist's menu sets them: saved, and the gains handed on.
void SetLoudnessSettings(const loudness::Settings& settings);
// A playlist row's tool tip: its measured loudness and the gain it gets ("" outside the list).
std::string PlaylistRowTip(int row);
// The playlist's right-click menu (mode and target) and its rows' tool tips.
void AttachLoudnessMenu(ui::Form& form);

}  // namespace vesperon::app
