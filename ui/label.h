#pragma once
// Label: a caption drawn over its background colour. Message 0x8075 sent or posted to its handle
// (from any thread) raises its feedback event 0 with the message's two parameters; the routine's
// value is the message's result.

#include "ui/widget.h"

class QLabel;

namespace vesperon::ui {

enum LabelProperty : int {
    kLabelCaption = 8,
    kLabelEffect = 9,
    kLabelFont = 15,
    kLabelTextColour = 16,
    kLabelBackground = 17,
    kLabelPicture = 18,
    kLabelHAlign = 24,
    kLabelWordWrap = 25,
    kLabelVAlign = 26,
};
inline constexpr int kLabelFeedback = 0;

class Label : public Widget {
    Q_OBJECT
public:
    Label(Form& form, const layout::Unit& unit);
    const layout::LabelProps& props() const { return props_; }
    QLabel* label() const;

    std::intptr_t receiveMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override;

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    int fontPropertyNumber() const override { return kLabelFont; }

private:
    void applyAlignment(QLabel* l);
    void applyColours(QLabel* l);

    layout::LabelProps props_;
    std::int32_t extraValue_ = 0;  // property 28, inactive here
};

}  // namespace vesperon::ui
