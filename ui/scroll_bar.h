#pragma once
// VScrollBar: a vertical scroll bar whose stored position only user scrolling changes. A user's
// scroll request moves the stored position by the line or page change (or to the thumb, the top
// or the bottom), clamped into the live range; event 0 is raised only when that changes the
// stored position. A written position is stored as written (0..32767) and drawn clamped into
// the range.

#include "ui/widget.h"

class QScrollBar;

namespace vesperon::ui {

enum ScrollBarProperty : int {
    kScrollMinimum = 8,
    kScrollMaximum = 9,
    kScrollPageChange = 10,
    kScrollLineChange = 11,
    kScrollPosition = 12,
    kScrollTrack = 13,
};
inline constexpr int kScrollChanged = 0;

// The user's scroll requests.
enum class ScrollRequest {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbReleased,
    ThumbDragged,
    Top,
    Bottom,
    EndScroll
};

class VScrollBar : public Widget {
    Q_OBJECT
public:
    VScrollBar(Form& form, const layout::Unit& unit);
    const layout::VScrollBarProps& props() const { return props_; }
    QScrollBar* bar() const;
    // The live range shown: (the smaller, the larger) of minimum and maximum.
    std::int32_t rangeLow() const;
    std::int32_t rangeHigh() const;
    // Handles one scroll request of the user; `thumb` is the thumb's position for the thumb
    // requests. Raises event 0 when the stored position changed.
    void userScroll(ScrollRequest request, std::int32_t thumb = 0);

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyRange(QScrollBar* b);
    void showPosition();

    layout::VScrollBarProps props_;
};

}  // namespace vesperon::ui
