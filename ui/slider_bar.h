#pragma once
// SliderBar: a track bar. Every scroll notification of the user except the end of a track (line
// and page steps, each step of a thumb drag, the thumb's release, keyboard steps, the wheel)
// copies the live position into the stored one and raises event 0, even when it did not change.

#include "ui/widget.h"

class QSlider;

namespace vesperon::ui {

enum SliderBarProperty : int {
    kSliderBorder = 8,
    kSliderOrientation = 9,
    kSliderTickStyle = 10,
    kSliderTickFrequency = 11,
    kSliderSelectionEnabled = 12,
    kSliderSelectionStart = 13,
    kSliderSelectionLength = 14,
    kSliderPageSize = 15,
    kSliderLineSize = 16,
    kSliderMinimum = 17,
    kSliderMaximum = 18,
    kSliderPosition = 19,
};
inline constexpr int kSliderChanged = 0;

class SliderBar : public Widget {
    Q_OBJECT
public:
    SliderBar(Form& form, const layout::Unit& unit);
    const layout::SliderBarProps& props() const { return props_; }
    QSlider* slider() const;
    std::int32_t rangeLow() const;
    std::int32_t rangeHigh() const;

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;

private:
    void apply(QSlider* s);
    void userNotification();

    layout::SliderBarProps props_;
};

}  // namespace vesperon::ui
