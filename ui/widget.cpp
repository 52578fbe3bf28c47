#include "ui/widget.h"

#include <QApplication>
#include <QCursor>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QWheelEvent>
#include <QWidget>

#include "ui/form.h"
#include "ui/runtime_error.h"
#include "ui/virtual_keys.h"

// The program's own hand pointer (hot spot 5, 0).
#include "resources/hand_pointer.xpm"

namespace vesperon::ui {
namespace {

constexpr std::int32_t kPositionLimit = 32627;

// The widget that took the last mouse press: releases and drags belong to it, as Qt delivers them.
QPointer<QWidget>& pressedWidget() {
    static QPointer<QWidget> w;
    return w;
}

// The widget Qt hands a mouse event to first; its parents only see it when it is passed on,
// and those copies must not raise events a second time.
QWidget* firstReceiverOf(QWidget* watched, const QSinglePointEvent& e) {
    const bool buttonsHeld = e.buttons() != Qt::NoButton;
    if ((e.type() == QEvent::MouseButtonRelease || (e.type() == QEvent::MouseMove && buttonsHeld)) &&
        pressedWidget())
        return pressedWidget();
    QWidget* top = watched->window();
    QWidget* hit = top->childAt(top->mapFromGlobal(e.globalPosition().toPoint()));
    return hit ? hit : top;
}

Qt::CursorShape cursorOf(std::int32_t pointer) {
    switch (pointer) {
        case 32512:
            return Qt::ArrowCursor;
        case 32513:
            return Qt::IBeamCursor;
        case 32514:
            return Qt::WaitCursor;
        case 32515:
            return Qt::CrossCursor;
        case 32516:
            return Qt::UpArrowCursor;
        case 32642:
            return Qt::SizeFDiagCursor;
        case 32643:
            return Qt::SizeBDiagCursor;
        case 32644:
            return Qt::SizeHorCursor;
        case 32645:
            return Qt::SizeVerCursor;
        case 32646:
            return Qt::SizeAllCursor;
        case 32648:
            return Qt::ForbiddenCursor;
        case 32649:
            return Qt::PointingHandCursor;
        case 32650:
            return Qt::BusyCursor;
        case 32651:
            return Qt::WhatsThisCursor;
        default:
            return Qt::ArrowCursor;
    }
}

QCursor handPointer() {
    static const QCursor hand(QPixmap(hand_pointer_xpm), 5, 0);
    return hand;
}

}  // namespace

Widget::Widget(Form& form, const layout::Unit& unit)
    : storedLeft_(unit.left),
      storedTop_(unit.top),
      storedWidth_(unit.width),
      storedHeight_(unit.height),
      storedVisible_(unit.visible()),
      storedDisabled_(unit.disabled()),
      form_(form),
      id_(unit.id),
      name_(unit.name),
      kind_(unit.kind),
      parentId_(unit.parent),
      tabOrder_(unit.tabOrder),
      focusStop_(unit.focusable()),
      tag_(unit.tag),
      pointer_(unit.pointer) {}

Widget::~Widget() {
    destroyLive();
}

void Widget::create(QWidget* parent) {
    QWidget* w = createLive(parent);
    live_ = w;
    if (!w) return;
    w->setObjectName(QString::fromUtf8(name_));
    applyGeometry();
    w->setEnabled(!storedDisabled_);
    if (focusStop_)
        w->setFocusPolicy(Qt::StrongFocus);
    else if (w->focusPolicy() & Qt::TabFocus)
        w->setFocusPolicy(Qt::ClickFocus);  // clicks may still focus it; Tab passes it by
    for (QWidget* input : inputWidgets()) watchInput(input);
    applyPointer();
    handle_ = registerHandle(this, w);
    connect(w, &QObject::destroyed, this, [this] {
        // Destroyed from outside (its parent went): forget it all the same.
        if (handle_) unregisterHandle(handle_);
        handle_ = 0;
        live_ = nullptr;
    });
    w->setVisible(storedVisible_ && showsLive());
}

void Widget::destroyLive() {
    if (!live_ && !handle_) return;
    if (live_) liveDestroying();
    if (handle_) unregisterHandle(handle_);
    handle_ = 0;
    if (live_) {
        live_->removeEventFilter(this);
        disconnect(live_, nullptr, this, nullptr);
    }
    live_ = nullptr;
}

std::vector<QWidget*> Widget::inputWidgets() const {
    if (!live_) return {};
    return {live_.data()};
}

void Widget::watchInput(QWidget* w) {
    if (w) w->installEventFilter(this);
}

void Widget::applyGeometry() {
    if (!live_) return;
    live_->setGeometry(storedLeft_, storedTop_, std::max(0, storedWidth_), std::max(0, storedHeight_));
}

std::int32_t Widget::liveGeometry(int number) const {
    switch (number) {
        case kLeft:
            return live_->x();
        case kTop:
            return live_->y();
        case kWidth:
            return live_->width();
        default:
            return live_->height();
    }
}

bool Widget::liveWindowMissing() const {
    reportRuntimeError(std::nullopt, kErrorLiveWindowMissing);
    return false;
}

void Widget::applyPointer() {
    if (!live_) return;
    if (pointer_.value == layout::kPointerDefault || pointer_.value == layout::kPointerCustom)
        live_->unsetCursor();  // custom pointer images are not used by this program
    else if (pointer_.value == layout::kPointerHand)
        live_->setCursor(handPointer());
    else
        live_->setCursor(cursorOf(pointer_.value));
}

Value Widget::property(int number, int part) {
    switch (number) {
        case kLeft:
        case kTop:
        case kWidth:
        case kHeight:
            if (live_) return liveGeometry(number);
            return number == kLeft    ? storedLeft_
                   : number == kTop   ? storedTop_
                   : number == kWidth ? storedWidth_
                                      : storedHeight_;
        case kTag:
            return tag_;
        case kVisible:
            return live_ ? std::int32_t(!live_->isHidden()) : std::int32_t(storedVisible_);
        case kDisabled:
            if (!live_) return std::int32_t(storedDisabled_);
            return std::int32_t(live_->parentWidget() ? !live_->isEnabledTo(live_->parentWidget())
                                                      : !live_->isEnabled());
        case kMousePointer: {
            Bytes b(4);
            auto u = static_cast<std::uint32_t>(pointer_.value);
            for (int i = 0; i < 4; ++i) b[i] = std::uint8_t(u >> (8 * i));
            b.insert(b.end(), pointer_.image.begin(), pointer_.image.end());
            return b;
        }
        default:
            break;
    }
    if (number < 0) return std::int32_t(-1);
    if (!live_) {
        liveWindowMissing();
        return std::int32_t(-1);
    }
    if (part >= 0) {
        if (number != fontPropertyNumber()) return std::int32_t(-1);
        layout::Font f = decodeFont(bytesOf(typeProperty(number))).value_or(layout::Font{});
        if (part == 6) return fontFaceName(f);
        return fontPart(f, part);
    }
    return typeProperty(number);
}

bool Widget::setProperty(int number, const Value& value, int part) {
    switch (number) {
        case kLeft:
        case kTop: {
            std::int32_t v = clampInt(intOf(value), -kPositionLimit, kPositionLimit);
            (number == kLeft ? storedLeft_ : storedTop_) = v;
            if (live_) {
                // Move only: the size stays as it is live.
                storedWidth_ = liveGeometry(kWidth);
                storedHeight_ = liveGeometry(kHeight);
                if (number == kLeft)
                    storedTop_ = liveGeometry(kTop);
                else
                    storedLeft_ = liveGeometry(kLeft);
                applyGeometry();
            }
            return true;
        }
        case kWidth:
        case kHeight: {
            std::int32_t v = clampInt(intOf(value), 0, kPositionLimit);
            (number == kWidth ? storedWidth_ : storedHeight_) = v;
            if (live_) {
                storedLeft_ = liveGeometry(kLeft);
                storedTop_ = liveGeometry(kTop);
                if (number == kWidth)
                    storedHeight_ = liveGeometry(kHeight);
                else
                    storedWidth_ = liveGeometry(kWidth);
                applyGeometry();
            }
            return true;
        }
        case kTag:
            tag_ = textOf(value);
            return true;
        case kVisible:
            storedVisible_ = intOf(value) != 0;
            if (live_) live_->setVisible(storedVisible_);
            return true;
        case kDisabled:
            storedDisabled_ = intOf(value) != 0;
            if (live_) live_->setEnabled(!storedDisabled_);
            return true;
        case kMousePointer: {
            Bytes b = bytesOf(value);
            if (b.size() < 4) {
                pointer_ = {};
                if (auto* i = std::get_if<std::int32_t>(&value)) pointer_.value = *i;
            } else {
                pointer_.value = std::int32_t(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                              std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24);
                pointer_.image.assign(b.begin() + 4, b.end());
            }
            applyPointer();
            return true;
        }
        default:
            break;
    }
    if (number < 0) return false;
    if (!live_) return liveWindowMissing();
    if (part >= 0) {
        if (number != fontPropertyNumber()) return false;
        layout::Font f = decodeFont(bytesOf(typeProperty(number))).value_or(layout::Font{});
        if (!setFontPart(f, part, value)) return false;
        return setTypeProperty(number, encodeFont(f));
    }
    return setTypeProperty(number, value);
}

Value Widget::typeProperty(int) {
    return std::int32_t(-1);
}
bool Widget::setTypeProperty(int, const Value&) {
    return false;
}

EventResult Widget::raiseEvent(int event, const std::vector<EventArg>& args) {
    return form_.raise(*this, event, args);
}

void Widget::setFocus() {
    if (live_) live_->setFocus(Qt::OtherFocusReason);
}

std::intptr_t Widget::receiveMessage(std::uint32_t, std::intptr_t, std::intptr_t) {
    return 0;
}

bool Widget::eventFilter(QObject* watched, QEvent* event) {
    if (auto* w = qobject_cast<QWidget*>(watched)) return filterInput(w, event);
    return false;
}

bool Widget::filterInput(QWidget* watched, QEvent* event) {
    if (replaying_) return false;
    auto swallowed = [](const EventResult& r) { return r.value && *r.value == 0; };
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: {
            auto* me = static_cast<QMouseEvent*>(event);
            if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
                if (firstReceiverOf(watched, *me) != watched) return false;
                pressedWidget() = watched;
            } else if (firstReceiverOf(watched, *me) != watched) {
                return false;
            }
            int ev = 0;
            const bool left = me->button() == Qt::LeftButton, right = me->button() == Qt::RightButton;
            switch (event->type()) {
                case QEvent::MouseButtonPress:
                    ev = left ? kLeftDown : right ? kRightDown : 0;
                    break;
                case QEvent::MouseButtonDblClick:
                    ev = left ? kDoubleClick : right ? kRightDown : 0;
                    break;
                case QEvent::MouseButtonRelease:
                    ev = left ? kLeftUp : right ? kRightUp : 0;
                    break;
                default:
                    ev = kMouseMove;
                    break;
            }
            if (!ev) return false;
            const QPoint p = me->position().toPoint();
            return swallowed(raiseEvent(ev, {p.x(), p.y(), keyStateOf(me->modifiers())}));
        }
        case QEvent::Wheel: {
            auto* we = static_cast<QWheelEvent*>(event);
            if (firstReceiverOf(watched, *we) != watched) return false;
            const auto delta = static_cast<std::int16_t>(we->angleDelta().y());
            return swallowed(raiseEvent(kWheel, {std::int32_t(delta / 120), keyStateOf(we->modifiers())}));
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            if (watched != QApplication::focusWidget()) return false;  // passed on from a child
            auto* ke = static_cast<QKeyEvent*>(event);
            const std::int32_t vk = virtualKeyOf(*ke), state = keyStateOf(ke->modifiers());
            if (event->type() == QEvent::KeyRelease) return swallowed(raiseEvent(kKeyUp, {vk, state}));
            if (swallowed(raiseEvent(kKeyDown, {vk, state}))) return true;
            if (form_.handleDialogKey(ke->key())) return true;
            const QString text = ke->text();
            if (text.isEmpty() || !live_) return false;
            const char32_t code = text.toUcs4().value(0);
            EventResult r = raiseEvent(kCharacter, {std::int32_t(code)});
            if (!r.value || *r.value == std::int64_t(code)) return false;
            if (*r.value == 0) return true;
            // The routine changed the character: hand the widget the new one instead.
            const char32_t replacement = char32_t(*r.value);
            QKeyEvent copy(QEvent::KeyPress, ke->key(), ke->modifiers(), QString::fromUcs4(&replacement, 1),
                           ke->isAutoRepeat(), ke->count());
            replaying_ = true;
            QCoreApplication::sendEvent(watched, &copy);
            replaying_ = false;
            return true;
        }
        case QEvent::FocusIn:
            if (watched == live_) raiseEvent(kGotFocus);
            return false;
        case QEvent::FocusOut:
            if (watched == live_) raiseEvent(kLostFocus);
            return false;
        default:
            return false;
    }
}

}  // namespace vesperon::ui
