// Volume and mute: the bar and the box drive the system mixer, follow it every second, and the
// fades ramp it down and up in 50 steps.

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

#include "app/logic.h"
#include "app/routines.h"
#include "app/tick_count.h"
#include "engine/player/commands.h"
#include "ui/check_box.h"
#include "ui/scroll_bar.h"
#include "volume/sys_volume_widget.h"

namespace vesperon::app {

namespace {

ui::Widget& volumeBar() { return widgets().volumeBar; }

}  // namespace

void WaitProcessingEvents(int ms) {
    const std::uint64_t t0 = TickCountMs();
    for (;;) {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        if (TickCountMs() > t0 + static_cast<std::uint64_t>(ms)) return;
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
}

void WaitUntilPauseHeard() {
    if (engine::PauseHeard()) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (engine::PauseHeard() || quitRequested() || std::chrono::steady_clock::now() >= until) loop.quit();
    });
    poll.start(5);
    loop.exec();
}

void SyncVolumeWidgets() {
    int v = 0;
    sysVolume().GetVolume(v, v);
    const int max = sysVolume().GetMaxVolume();
    // A mixer without a range cannot place the bar: leave it where it is.
    if (max != 0) {
        const double position = 100.0 - (static_cast<double>(v) * 100.0 / max);
        volumeBar().setProperty(ui::kScrollPosition, static_cast<std::int32_t>(position));
    }
    widgets().muteBox.setProperty(ui::kCheckChecked, sysVolume().GetMute() == 1 ? 1 : 0);
}

void FadeOut() {
    FadeScope fading;
    PlayerState& s = state();
    sysVolume().GetVolume(s.savedVolume, s.savedVolume);
    s.fadeStep = s.savedVolume / 50;
    int level = s.savedVolume;
    for (int i = 0; i < 50; ++i) {
        // A quit cuts the fade short; the caller puts the saved volume back.
        if (quitRequested()) break;
        level -= s.fadeStep;
        sysVolume().SetVolume(level, level);
        WaitProcessingEvents(1);
    }
    sysVolume().SetVolume(0, 0);
}

void FadeIn() {
    FadeScope fading;
    int level = 0;
    for (int i = 0; i < 50 && !quitRequested(); ++i) {
        level += state().fadeStep;
        sysVolume().SetVolume(level, level);
        WaitProcessingEvents(1);
    }
    // 50 whole steps fall short of the saved volume by its remainder; end exactly on it.
    sysVolume().SetVolume(state().savedVolume, state().savedVolume);
}

RoutineResult VolumeBarChanged(const ui::EventCall&) {
    auto levelOf = [] {
        const double p = volumeBar().intProperty(ui::kScrollPosition);
        const double max = sysVolume().GetMaxVolume();
        return static_cast<int>((100.0 - p) * max / 100.0);
    };
    const int left = levelOf();
    const int right = levelOf();
    sysVolume().SetVolume(left, right);
    return std::nullopt;
}

RoutineResult MuteClicked(const ui::EventCall&) {
    sysVolume().SetMute(widgets().muteBox.intProperty(ui::kCheckChecked) != 0 ? 1 : 0);
    return std::nullopt;
}

}  // namespace vesperon::app
