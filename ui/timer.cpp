#include "ui/timer.h"

#include <QTimer>
#include <QWidget>

namespace vesperon::ui {

Timer::Timer(Form& form, const layout::Unit& unit) : NonVisualWidget(form, unit) {
    if (auto* p = unit.as<layout::TimerProps>()) interval_ = std::max(0, p->interval);
}

QWidget* Timer::createLive(QWidget* parent) {
    QWidget* w = NonVisualWidget::createLive(parent);
    timer_ = new QTimer(w);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] {
        // Re-armed before the event: a handler that waits while processing events still lets
        // the following ticks in, as a periodic timer would.
        if (phase_) arm();
        raiseEvent(kTimerTick);
    });
    arm();
    return w;
}

void Timer::arm() {
    if (!timer_) return;
    timer_->stop();
    if (interval_ <= 0) return;
    timer_->setSingleShot(bool(phase_));
    timer_->start(phase_ ? std::max(0, phase_()) : interval_);
}

void Timer::setPhase(std::function<int()> msToNextTick) {
    phase_ = std::move(msToNextTick);
    arm();
}

bool Timer::isRunning() const {
    return timer_ && live() && timer_->isActive();
}

void Timer::liveDestroying() {
    if (timer_) timer_->stop();
    timer_ = nullptr;
}

Value Timer::typeProperty(int number) {
    if (number == kTimerInterval) return interval_;
    return std::int32_t(-1);
}

bool Timer::setTypeProperty(int number, const Value& value) {
    if (number != kTimerInterval) return false;
    const std::int32_t v = std::max(0, intOf(value));
    if (v == interval_) return true;
    interval_ = v;
    arm();
    return true;
}

}  // namespace vesperon::ui
