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
    connect(timer_, &QTimer::timeout, this, [this] { raiseEvent(kTimerTick); });
    if (interval_ > 0) timer_->start(interval_);
    return w;
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
    if (timer_) {
        timer_->stop();
        if (v > 0) timer_->start(v);
    }
    return true;
}

}  // namespace vesperon::ui
