#pragma once
// Button: a push button; event 0 when it is clicked.

#include "ui/widget.h"

class QPushButton;

namespace vesperon::ui {

enum ButtonProperty : int {
    kButtonPicture = 8,
    kButtonDefault = 9,
    kButtonCaption = 10,
    kButtonHAlign = 11,
    kButtonVAlign = 12,
    kButtonFont = 13,
};
inline constexpr int kButtonClicked = 0;

class Button : public Widget {
    Q_OBJECT
public:
    Button(Form& form, const layout::Unit& unit);
    const layout::ButtonProps& props() const { return props_; }
    QPushButton* button() const;

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    int fontPropertyNumber() const override { return kButtonFont; }

private:
    void applyAlignment(QWidget* b);
    layout::ButtonProps props_;
};

}  // namespace vesperon::ui
