#include "ui/slider_bar.h"

#include <QSlider>

namespace vesperon::ui {

SliderBar::SliderBar(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::SliderBarProps>()) props_ = *p;
    props_.border = clampInt(props_.border, 0, 5);
    props_.orientation = clampInt(props_.orientation, 0, 1);
    props_.tickStyle = clampInt(props_.tickStyle, 0, 3);
    props_.selectionStart = clampInt(props_.selectionStart, 0, 32767);
    props_.selectionLength = clampInt(props_.selectionLength, 0, 32767);
    props_.pageSize = clampInt(props_.pageSize, 1, 32767);
    props_.lineSize = clampInt(props_.lineSize, 1, 32767);
    props_.minimum = clampInt(props_.minimum, 0, 32767);
    props_.maximum = clampInt(props_.maximum, 0, 32767);
    props_.position = clampInt(props_.position, 0, 32767);
}

QSlider* SliderBar::slider() const {
    return static_cast<QSlider*>(live());
}
std::int32_t SliderBar::rangeLow() const {
    return std::min(props_.minimum, props_.maximum);
}
std::int32_t SliderBar::rangeHigh() const {
    return std::max(props_.minimum, props_.maximum);
}

void SliderBar::apply(QSlider* s) {
    const QSignalBlocker block(s);
    s->setRange(rangeLow(), rangeHigh());
    // Steps and tick spacing never exceed the range's width, and are at least 1.
    const std::int32_t width = std::max(1, rangeHigh() - rangeLow());
    s->setPageStep(std::clamp(props_.pageSize, 1, width));
    s->setSingleStep(std::clamp(props_.lineSize, 1, width));
    s->setTickInterval(std::clamp(props_.tickFrequency, 1, width));
    s->setValue(std::clamp(props_.position, rangeLow(), rangeHigh()));
}

QWidget* SliderBar::createLive(QWidget* parent) {
    auto* s = new QSlider(props_.orientation ? Qt::Vertical : Qt::Horizontal, parent);
    static constexpr QSlider::TickPosition kTicks[] = {QSlider::NoTicks, QSlider::TicksAbove,
                                                       QSlider::TicksBelow, QSlider::TicksBothSides};
    s->setTickPosition(kTicks[props_.tickStyle]);
    s->setTracking(true);
    apply(s);
    // actionTriggered comes for line and page steps, keys, the wheel and each drag step, with the
    // slider's new position already in place.
    connect(s, &QAbstractSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderNoAction) userNotification();
    });
    connect(s, &QAbstractSlider::sliderReleased, this, [this] { userNotification(); });
    return s;
}

void SliderBar::userNotification() {
    QSlider* s = slider();
    if (!s) return;
    props_.position = s->sliderPosition();
    raiseEvent(kSliderChanged);
}

Value SliderBar::typeProperty(int number) {
    switch (number) {
        case kSliderBorder:
            return props_.border;
        case kSliderOrientation:
            return props_.orientation;
        case kSliderTickStyle:
            return props_.tickStyle;
        case kSliderTickFrequency:
            return props_.tickFrequency;
        case kSliderSelectionEnabled:
            return props_.selectionRangeEnabled;
        case kSliderSelectionStart:
            return props_.selectionStart;
        case kSliderSelectionLength:
            return props_.selectionLength;
        case kSliderPageSize:
            return props_.pageSize;
        case kSliderLineSize:
            return props_.lineSize;
        case kSliderMinimum:
            return props_.minimum;
        case kSliderMaximum:
            return props_.maximum;
        case kSliderPosition:
            return props_.position;
        default:
            return std::int32_t(-1);
    }
}

bool SliderBar::setTypeProperty(int number, const Value& value) {
    const std::int32_t n = intOf(value);
    switch (number) {
        case kSliderBorder:
            props_.border = clampInt(n, 0, 5);
            return true;
        case kSliderOrientation:
            props_.orientation = clampInt(n, 0, 1);
            return true;  // when created
        case kSliderTickStyle:
            props_.tickStyle = clampInt(n, 0, 3);
            return true;  // when created
        case kSliderTickFrequency:
            props_.tickFrequency = n;
            break;
        case kSliderSelectionEnabled:
            props_.selectionRangeEnabled = n != 0;
            return true;
        case kSliderSelectionStart:
            props_.selectionStart = clampInt(n, 0, 32767);
            return true;
        case kSliderSelectionLength:
            props_.selectionLength = clampInt(n, 0, 32767);
            return true;
        case kSliderPageSize:
            props_.pageSize = clampInt(n, 1, 32767);
            break;
        case kSliderLineSize:
            props_.lineSize = clampInt(n, 1, 32767);
            break;
        case kSliderMinimum:
            props_.minimum = clampInt(n, 0, 32767);
            break;
        case kSliderMaximum:
            props_.maximum = clampInt(n, 0, 32767);
            break;
        case kSliderPosition:
            props_.position = clampInt(n, 0, 32767);
            break;
        default:
            return false;
    }
    apply(slider());
    return true;
}

}  // namespace vesperon::ui
