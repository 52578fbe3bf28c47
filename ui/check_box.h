#pragma once
// CheckBox: an automatic two-state box; push-like, it is a button that stays pressed while
// checked. A user click toggles it and then raises event 0; writing "checked" raises nothing.

#include "ui/widget.h"

class QAbstractButton;

namespace vesperon::ui {

enum CheckBoxProperty : int {
    kCheckPicture = 8,
    kCheckPushLike = 9,
    kCheckFlat = 10,
    kCheckCaption = 11,
    kCheckCaptionLeft = 12,
    kCheckHAlign = 13,
    kCheckVAlign = 14,
    kCheckTextColour = 15,
    kCheckBackground = 16,
    kCheckFont = 17,
    kCheckChecked = 18,
    kCheckText1 = 19,
    kCheckText2 = 20,
};
inline constexpr int kCheckClicked = 0;

class CheckBox : public Widget {
    Q_OBJECT
public:
    CheckBox(Form& form, const layout::Unit& unit);
    const layout::CheckBoxProps& props() const { return props_; }
    // A checkable QPushButton when push-like, else a QCheckBox.
    QAbstractButton* button() const;

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    int fontPropertyNumber() const override { return kCheckFont; }

private:
    layout::CheckBoxProps props_;
};

}  // namespace vesperon::ui
