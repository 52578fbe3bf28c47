#include "ui/scroll_bar.h"

#include <QScrollBar>
#include <QWheelEvent>

namespace vesperon::ui {

VScrollBar::VScrollBar(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::VScrollBarProps>()) props_ = *p;
    props_.minimum = clampInt(props_.minimum, 0, 32767);
    props_.maximum = clampInt(props_.maximum, 0, 32767);
    props_.pageChange = clampInt(props_.pageChange, 1, 32767);
    props_.lineChange = clampInt(props_.lineChange, 1, 32767);
    props_.position = clampInt(props_.position, 0, 32767);
}

QScrollBar* VScrollBar::bar() const {
    return static_cast<QScrollBar*>(live());
}
std::int32_t VScrollBar::rangeLow() const {
    return std::min(props_.minimum, props_.maximum);
}
std::int32_t VScrollBar::rangeHigh() const {
    return std::max(props_.minimum, props_.maximum);
}

void VScrollBar::applyRange(QScrollBar* b) {
    const QSignalBlocker block(b);
    b->setRange(rangeLow(), rangeHigh());
    b->setSingleStep(props_.lineChange);
    b->setPageStep(props_.pageChange);
    b->setTracking(props_.trackWhileDragging != 0);
    b->setValue(std::clamp(props_.position, rangeLow(), rangeHigh()));
}

void VScrollBar::showPosition() {
    if (QScrollBar* b = bar()) {
        const QSignalBlocker block(b);
        b->setSliderPosition(std::clamp(props_.position, rangeLow(), rangeHigh()));
        b->setValue(b->sliderPosition());
    }
}

QWidget* VScrollBar::createLive(QWidget* parent) {
    auto* b = new QScrollBar(Qt::Vertical, parent);
    applyRange(b);
    // Every user action comes through here before Qt applies its own idea of the new position,
    // which is then replaced by ours.
    connect(b, &QAbstractSlider::actionTriggered, this, [this](int action) {
        QScrollBar* b = bar();
        switch (action) {
            case QAbstractSlider::SliderSingleStepSub:
                userScroll(ScrollRequest::LineUp);
                break;
            case QAbstractSlider::SliderSingleStepAdd:
                userScroll(ScrollRequest::LineDown);
                break;
            case QAbstractSlider::SliderPageStepSub:
                userScroll(ScrollRequest::PageUp);
                break;
            case QAbstractSlider::SliderPageStepAdd:
                userScroll(ScrollRequest::PageDown);
                break;
            case QAbstractSlider::SliderToMinimum:
                userScroll(ScrollRequest::Top);
                break;
            case QAbstractSlider::SliderToMaximum:
                userScroll(ScrollRequest::Bottom);
                break;
            case QAbstractSlider::SliderMove:
                userScroll(b->isSliderDown() ? ScrollRequest::ThumbDragged : ScrollRequest::ThumbReleased,
                           b->sliderPosition());
                break;
            default:
                break;
        }
        if (bar() && !bar()->isSliderDown())
            bar()->setSliderPosition(std::clamp(props_.position, rangeLow(), rangeHigh()));
    });
    connect(b, &QAbstractSlider::sliderReleased, this, [this] {
        if (QScrollBar* b = bar()) userScroll(ScrollRequest::ThumbReleased, b->sliderPosition());
    });
    b->installEventFilter(this);
    return b;
}

bool VScrollBar::eventFilter(QObject* watched, QEvent* event) {
    if (Widget::eventFilter(watched, event)) return true;
    if (watched == live() && event->type() == QEvent::Wheel) {
        // The wheel scrolls by lines, one request per notch.
        const int notches =
            static_cast<std::int16_t>(static_cast<QWheelEvent*>(event)->angleDelta().y()) / 120;
        for (int i = 0; i < std::abs(notches); ++i)
            userScroll(notches > 0 ? ScrollRequest::LineUp : ScrollRequest::LineDown);
        return true;
    }
    return false;
}

void VScrollBar::userScroll(ScrollRequest request, std::int32_t thumb) {
    if (request == ScrollRequest::EndScroll) return;
    std::int64_t p = props_.position;
    const std::int32_t lo = rangeLow(), hi = rangeHigh();
    switch (request) {
        case ScrollRequest::LineUp:
            p -= props_.lineChange;
            break;
        case ScrollRequest::LineDown:
            p += props_.lineChange;
            break;
        case ScrollRequest::PageUp:
            p -= props_.pageChange;
            break;
        case ScrollRequest::PageDown:
            p += props_.pageChange;
            break;
        case ScrollRequest::ThumbReleased:
            p = thumb;
            break;
        case ScrollRequest::ThumbDragged:
            if (!props_.trackWhileDragging) return;
            p = thumb;
            break;
        case ScrollRequest::Top:
            p = lo;
            break;
        case ScrollRequest::Bottom:
            p = hi;
            break;
        case ScrollRequest::EndScroll:
            return;
    }
    p = std::clamp<std::int64_t>(p, lo, hi);
    if (p == props_.position) {
        if (request != ScrollRequest::ThumbDragged) showPosition();
        return;
    }
    props_.position = static_cast<std::int32_t>(p);
    if (request != ScrollRequest::ThumbDragged) showPosition();
    raiseEvent(kScrollChanged);
}

Value VScrollBar::typeProperty(int number) {
    switch (number) {
        case kScrollMinimum:
            return props_.minimum;
        case kScrollMaximum:
            return props_.maximum;
        case kScrollPageChange:
            return props_.pageChange;
        case kScrollLineChange:
            return props_.lineChange;
        case kScrollPosition:
            return props_.position;
        case kScrollTrack:
            return props_.trackWhileDragging;
        default:
            return std::int32_t(-1);
    }
}

bool VScrollBar::setTypeProperty(int number, const Value& value) {
    const std::int32_t n = intOf(value);
    switch (number) {
        case kScrollMinimum:
            props_.minimum = clampInt(n, 0, 32767);
            break;
        case kScrollMaximum:
            props_.maximum = clampInt(n, 0, 32767);
            break;
        case kScrollPageChange:
            props_.pageChange = clampInt(n, 1, 32767);
            return true;  // the step only
        case kScrollLineChange:
            props_.lineChange = clampInt(n, 1, 32767);
            return true;
        case kScrollPosition:
            props_.position = clampInt(n, 0, 32767);
            break;
        case kScrollTrack:
            props_.trackWhileDragging = n != 0;
            break;
        default:
            return false;
    }
    applyRange(bar());
    return true;
}

}  // namespace vesperon::ui
