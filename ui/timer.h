#pragma once
// Timer: a non-visual widget that raises event 0 every `interval` milliseconds on the UI thread.
// Writing a negative interval gives 0 (stopped); writing the current value changes nothing, so a
// running period is not restarted. With a phase set (setPhase), each tick is instead armed for
// the moment the phase function names, re-armed before every tick, while the interval is above 0.

#include <functional>

#include "ui/widget_types.h"

class QTimer;

namespace vesperon::ui {

inline constexpr int kTimerInterval = 8;
inline constexpr int kTimerTick = 0;

class Timer : public NonVisualWidget {
    Q_OBJECT
public:
    Timer(Form& form, const layout::Unit& unit);
    std::int32_t interval() const { return interval_; }
    bool isRunning() const;
    // Milliseconds from now to the next tick, asked before each tick and when set; empty goes
    // back to the plain interval.
    void setPhase(std::function<int()> msToNextTick);

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    void liveDestroying() override;

private:
    void arm();

    std::int32_t interval_ = 0;
    std::function<int()> phase_;
    QTimer* timer_ = nullptr;  // child of the live widget
};

}  // namespace vesperon::ui
