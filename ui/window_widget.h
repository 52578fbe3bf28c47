#pragma once
// The window unit: a top-level window with a fixed frame. Its left/top are screen coordinates
// and its width/height are outer sizes: the client area, where the widgets' coordinates start,
// is smaller by a fixed frame allowance (3 px left, right and bottom, 26 px at the top).

#include "ui/widget.h"

namespace vesperon::ui {

inline constexpr int kFrameSide = 3, kFrameTop = 26, kFrameBottom = 3;

// Window event numbers.
enum WindowEvent : int {
    kWindowCreated = 0,
    kWindowMayClose = 1,
    kWindowDestroying = 2,
    kWindowMoved = 3,
    kWindowResized = 4,
    kWindowActivated = 5,
    kWindowDeactivated = 6,
    kWindowFirstActivation = 8,
    kWindowShown = 10,
    kWindowHidden = 11,
};

// Window property numbers.
enum WindowProperty : int {
    kWindowCaption = 8,
    kWindowBorderStyle = 9,
    kWindowBackground = 10,
    kWindowControlBox = 15,
    kWindowMaximiseButton = 16,
    kWindowMinimiseButton = 17,
    kWindowPosition = 18,
    kWindowMovable = 19,
    kWindowEnterMovesFocus = 21,
    kWindowEscCloses = 22,
    kWindowF1OpensHelp = 23,
    kWindowShowInTaskBar = 26,
    kWindowAlwaysOnTop = 29,
};

class WindowWidget : public Widget {
    Q_OBJECT
public:
    WindowWidget(Form& form, const layout::Unit& unit);

    const layout::WindowProps& props() const { return props_; }
    // The client size that an outer size gives.
    static QSize clientSizeOf(int outerWidth, int outerHeight, int borderStyle);

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    void applyGeometry() override;
    std::int32_t liveGeometry(int number) const override;

private:
    void applyFlags();
    int frameWidth() const;
    int frameHeight() const;

    layout::WindowProps props_;
};

}  // namespace vesperon::ui
