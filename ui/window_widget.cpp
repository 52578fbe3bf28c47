#include "ui/window_widget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "ui/form.h"

namespace vesperon::ui {
namespace {

bool hasFrame(int borderStyle) {
    return borderStyle != 0;
}
bool resizable(int borderStyle) {
    return borderStyle == 1 || borderStyle == 3 || borderStyle == 5;
}

// The top-level Qt widget: its own area is the window's client area.
class FormWindow : public QWidget {
public:
    FormWindow(Form& form, WindowWidget& unit) : form_(form), unit_(unit) {}

    // Events 3 and 4 are raised for real changes only once the window has started.
    void markStarted() {
        started_ = true;
        lastPos_ = pos();
        lastSize_ = size();
    }

protected:
    bool focusNextPrevChild(bool next) override {
        form_.focusNext(next);
        return true;
    }
    void closeEvent(QCloseEvent* e) override {
        if (!form_.isLoaded()) return e->accept();
        EventResult r = unit_.raiseEvent(kWindowMayClose);
        if (r.value && *r.value == 0) return e->ignore();
        e->accept();
        form_.destroyWindow();
    }
    void moveEvent(QMoveEvent* e) override {
        QWidget::moveEvent(e);
        if (!started_ || pos() == lastPos_ || !form_.isLoaded()) return;
        lastPos_ = pos();
        unit_.raiseEvent(kWindowMoved);
    }
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        if (!started_ || size() == lastSize_ || !form_.isLoaded()) return;
        lastSize_ = size();
        unit_.raiseEvent(kWindowResized);
    }
    void showEvent(QShowEvent* e) override {
        QWidget::showEvent(e);
        if (form_.isLoaded() && !e->spontaneous()) unit_.raiseEvent(kWindowShown);
    }
    void hideEvent(QHideEvent* e) override {
        QWidget::hideEvent(e);
        if (form_.isLoaded() && !e->spontaneous()) unit_.raiseEvent(kWindowHidden);
    }
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() != QEvent::ActivationChange || !form_.isLoaded()) return;
        if (isActiveWindow()) {
            if (!activatedOnce_) {
                activatedOnce_ = true;
                unit_.raiseEvent(kWindowFirstActivation);
            }
            if (!form_.isLoaded()) return;
            unit_.raiseEvent(kWindowActivated);
            // Focus goes back to the widget that had it last, else to the first focus stop.
            if (Widget* last = form_.lastFocused())
                last->setFocus();
            else if (Widget* first = form_.firstFocusStop())
                first->setFocus();
        } else {
            unit_.raiseEvent(kWindowDeactivated);
        }
    }

private:
    Form& form_;
    WindowWidget& unit_;
    bool started_ = false, activatedOnce_ = false;
    QPoint lastPos_;
    QSize lastSize_;
};

}  // namespace

void markWindowStarted(QWidget* w) {
    if (auto* fw = dynamic_cast<FormWindow*>(w)) fw->markStarted();
}

WindowWidget::WindowWidget(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::WindowProps>()) props_ = *p;
}

QSize WindowWidget::clientSizeOf(int outerWidth, int outerHeight, int borderStyle) {
    if (!hasFrame(borderStyle)) return {std::max(0, outerWidth), std::max(0, outerHeight)};
    return {std::max(0, outerWidth - 2 * kFrameSide), std::max(0, outerHeight - kFrameTop - kFrameBottom)};
}

int WindowWidget::frameWidth() const {
    return hasFrame(props_.borderStyle) ? 2 * kFrameSide : 0;
}
int WindowWidget::frameHeight() const {
    return hasFrame(props_.borderStyle) ? kFrameTop + kFrameBottom : 0;
}

QWidget* WindowWidget::createLive(QWidget*) {
    auto* w = new FormWindow(form(), *this);
    w->setWindowTitle(QString::fromUtf8(props_.caption));
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, toQColor(props_.backgroundColour, pal));
    w->setPalette(pal);
    w->setFocusPolicy(Qt::NoFocus);
    // Start position: 1 centres the outer frame on the screen.
    if (props_.startPosition == 1) {
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            const QRect g = s->geometry();
            storedLeft_ = g.x() + (g.width() - storedWidth_) / 2;
            storedTop_ = g.y() + (g.height() - storedHeight_) / 2;
        }
    }
    return w;
}

void WindowWidget::applyFlags() {
    QWidget* w = live();
    if (!w) return;
    Qt::WindowFlags f = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (props_.borderStyle == 3 || props_.borderStyle == 4) f |= Qt::Tool;
    if (!hasFrame(props_.borderStyle)) f |= Qt::FramelessWindowHint;
    if (props_.controlBox) {
        f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (props_.minimiseButton) f |= Qt::WindowMinimizeButtonHint;
        if (props_.maximiseButton && resizable(props_.borderStyle)) f |= Qt::WindowMaximizeButtonHint;
    }
    if (props_.alwaysOnTop) f |= Qt::WindowStaysOnTopHint;
    if (w->windowFlags() == f) return;  // re-setting flags would hide and re-show the window
    const bool wasVisible = w->isVisible();
    w->setWindowFlags(f);
    if (wasVisible) w->show();
}

void WindowWidget::applyGeometry() {
    QWidget* w = live();
    if (!w) return;
    applyFlags();
    const QSize client = clientSizeOf(storedWidth_, storedHeight_, props_.borderStyle);
    if (resizable(props_.borderStyle)) {
        w->setMinimumSize(0, 0);
        w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        w->resize(client);
    } else {
        w->setFixedSize(client);
    }
    w->move(storedLeft_, storedTop_);
}

std::int32_t WindowWidget::liveGeometry(int number) const {
    QWidget* w = live();
    switch (number) {
        case kLeft:
            return w->pos().x();
        case kTop:
            return w->pos().y();
        case kWidth:
            return w->width() + frameWidth();
        default:
            return w->height() + frameHeight();
    }
}

Value WindowWidget::typeProperty(int number) {
    QWidget* w = live();
    switch (number) {
        case kWindowCaption:
            return props_.caption;
        case kWindowBorderStyle:
            return props_.borderStyle;
        case kWindowBackground:
            return std::int32_t(props_.backgroundColour);
        case 11:
            return Bytes(props_.picture);
        case 12:
            return props_.pictureMode;
        case 13:
            return Bytes(props_.music);
        case 14:
            return props_.musicSetting;
        case kWindowControlBox:
            return props_.controlBox;
        case kWindowMaximiseButton:
            return props_.maximiseButton;
        case kWindowMinimiseButton:
            return props_.minimiseButton;
        case kWindowPosition:
            return std::int32_t(w->isMinimized() ? 2 : w->isMaximized() ? 3 : 0);
        case kWindowMovable:
            return props_.movable;
        case 20:
            return Bytes(props_.icon);
        case kWindowEnterMovesFocus:
            return props_.enterMovesFocus;
        case kWindowEscCloses:
            return props_.escCloses;
        case kWindowF1OpensHelp:
            return props_.f1OpensHelp;
        case 24:
            return props_.helpFile;
        case 25:
            return props_.helpTopic;
        case kWindowShowInTaskBar:
            return props_.showInTaskBar;
        case 27:
            return props_.dragAnywhere;
        case 28:
            return props_.shape;
        case kWindowAlwaysOnTop:
            return props_.alwaysOnTop;
        case 30:
            return props_.keepTitleBarActive;
        case 31:
            return props_.className;
        default:
            return std::int32_t(-1);
    }
}

bool WindowWidget::setTypeProperty(int number, const Value& value) {
    QWidget* w = live();
    const std::int32_t n = intOf(value);
    auto flag = [&](std::int32_t& field) {
        field = n != 0;
        applyFlags();
        return true;
    };
    switch (number) {
        case kWindowCaption:
            props_.caption = textOf(value);
            w->setWindowTitle(QString::fromUtf8(props_.caption));
            return true;
        case kWindowBorderStyle:
            props_.borderStyle = clampInt(n, 0, 6);
            applyGeometry();
            return true;
        case kWindowBackground: {
            props_.backgroundColour = std::uint32_t(n);
            QPalette pal = w->palette();
            pal.setColor(QPalette::Window, toQColor(props_.backgroundColour, pal));
            w->setPalette(pal);
            return true;
        }
        case 11:
            props_.picture = bytesOf(value);
            return true;
        case 12:
            props_.pictureMode = n;
            return true;
        case 13:
            props_.music = bytesOf(value);
            return true;
        case 14:
            props_.musicSetting = n;
            return true;
        case kWindowControlBox:
            return flag(props_.controlBox);
        case kWindowMaximiseButton:
            return flag(props_.maximiseButton);
        case kWindowMinimiseButton:
            return flag(props_.minimiseButton);
        case kWindowPosition:
            if (n == 2)
                w->showMinimized();
            else if (n == 3 && resizable(props_.borderStyle))
                w->showMaximized();
            else if (w->isVisible())
                w->showNormal();
            return true;
        case kWindowMovable:
            props_.movable = n != 0;
            return true;
        case 20:
            props_.icon = bytesOf(value);
            return true;
        case kWindowEnterMovesFocus:
            props_.enterMovesFocus = n != 0;
            return true;
        case kWindowEscCloses:
            props_.escCloses = n != 0;
            return true;
        case kWindowF1OpensHelp:
            props_.f1OpensHelp = n != 0;
            return true;
        case 24:
            props_.helpFile = textOf(value);
            return true;
        case 25:
            props_.helpTopic = n;
            return true;
        case kWindowShowInTaskBar:
            props_.showInTaskBar = n != 0;
            return true;
        case 27:
            props_.dragAnywhere = n != 0;
            return true;
        case 28:
            props_.shape = n;
            return true;
        case kWindowAlwaysOnTop:
            return flag(props_.alwaysOnTop);
        case 30:
            props_.keepTitleBarActive = n != 0;
            return true;
        case 31:
            props_.className = textOf(value);
            return true;
        default:
            return false;
    }
}

}  // namespace vesperon::ui
