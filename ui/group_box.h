#pragma once
// GroupBox: a framed, optionally captioned container. The widgets it contains are placed relative
// to its top-left corner.

#include "ui/widget.h"

class QGroupBox;

namespace vesperon::ui {

enum GroupBoxProperty : int {
    kGroupCaption = 8,
    kGroupCaptionAlign = 9,
    kGroupTextColour = 10,
    kGroupBackground = 11,
    kGroupFont = 12,
};

class GroupBox : public Widget {
    Q_OBJECT
public:
    GroupBox(Form& form, const layout::Unit& unit);
    const layout::GroupBoxProps& props() const { return props_; }
    QGroupBox* group() const;

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    int fontPropertyNumber() const override { return kGroupFont; }

private:
    void apply(QGroupBox* g);
    layout::GroupBoxProps props_;
};

}  // namespace vesperon::ui
