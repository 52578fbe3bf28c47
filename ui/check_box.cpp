#include "ui/check_box.h"

#include <QCheckBox>
#include <QPushButton>

#include "skin/skin.h"
#include "ui/appearance.h"

namespace vesperon::ui {

CheckBox::CheckBox(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::CheckBoxProps>()) props_ = *p;
}

QAbstractButton* CheckBox::button() const {
    return static_cast<QAbstractButton*>(live());
}

QWidget* CheckBox::createLive(QWidget* parent) {
    QAbstractButton* b;
    const QString caption = QString::fromUtf8(props_.caption);
    if (props_.pushLike) {
        auto* p = new QPushButton(caption, parent);
        p->setCheckable(true);
        p->setAutoDefault(false);
        p->setFlat(props_.flat != 0);
        b = p;
    } else {
        auto* c = new QCheckBox(caption, parent);
        if (props_.captionOnLeft) c->setLayoutDirection(Qt::RightToLeft);
        b = c;
    }
    b->setChecked(props_.checked == 1);
    setRoleColour(b, QPalette::ButtonText, props_.textColour);
    setRoleColour(b, QPalette::WindowText, props_.textColour);
    applyFont(b, props_.font);
    b->setProperty(skin::kCaptionAlignmentProperty, int(captionAlignment(props_.hAlign, props_.vAlign)));
    // clicked() comes from the user (or the button's own click), never from setChecked().
    connect(b, &QAbstractButton::clicked, this, [this] { raiseEvent(kCheckClicked); });
    return b;
}

Value CheckBox::typeProperty(int number) {
    switch (number) {
        case kCheckPicture:
            return Bytes(props_.picture);
        case kCheckPushLike:
            return props_.pushLike;
        case kCheckFlat:
            return props_.flat;
        case kCheckCaption:
            return props_.caption;
        case kCheckCaptionLeft:
            return props_.captionOnLeft;
        case kCheckHAlign:
            return props_.hAlign;
        case kCheckVAlign:
            return props_.vAlign;
        case kCheckTextColour:
            return std::int32_t(props_.textColour);
        case kCheckBackground:
            return std::int32_t(props_.backgroundColour);
        case kCheckFont:
            return props_.font ? encodeFont(*props_.font) : Bytes{};
        case kCheckChecked:
            return std::int32_t(button()->isChecked() ? 1 : 0);
        case kCheckText1:
            return props_.extraText1;
        case kCheckText2:
            return props_.extraText2;
        default:
            return std::int32_t(-1);
    }
}

bool CheckBox::setTypeProperty(int number, const Value& value) {
    QAbstractButton* b = button();
    switch (number) {
        case kCheckPicture:
            props_.picture = bytesOf(value);
            return true;
        case kCheckPushLike:
            props_.pushLike = intOf(value) != 0;
            return true;  // takes effect when created
        case kCheckFlat:
            props_.flat = intOf(value) != 0;
            if (auto* p = qobject_cast<QPushButton*>(b)) p->setFlat(props_.flat);
            return true;
        case kCheckCaption:
            props_.caption = textOf(value);
            b->setText(QString::fromUtf8(props_.caption));
            return true;
        case kCheckCaptionLeft:
            props_.captionOnLeft = intOf(value) != 0;
            if (qobject_cast<QCheckBox*>(b))
                b->setLayoutDirection(props_.captionOnLeft ? Qt::RightToLeft : Qt::LeftToRight);
            return true;
        case kCheckHAlign:
            props_.hAlign = clampInt(intOf(value), 0, 2);
            return true;
        case kCheckVAlign:
            props_.vAlign = clampInt(intOf(value), 0, 2);
            return true;
        case kCheckTextColour:
            props_.textColour = std::uint32_t(intOf(value));
            setRoleColour(b, QPalette::ButtonText, props_.textColour);
            setRoleColour(b, QPalette::WindowText, props_.textColour);
            return true;
        case kCheckBackground:
            props_.backgroundColour = std::uint32_t(intOf(value));
            return true;
        case kCheckFont:
            props_.font = decodeFont(bytesOf(value));
            applyFont(b, props_.font);
            return true;
        case kCheckChecked:
            // Value 1 checks, anything else unchecks; no click event.
            props_.checked = intOf(value) == 1;
            b->setChecked(props_.checked);
            return true;
        case kCheckText1:
            props_.extraText1 = textOf(value);
            return true;
        case kCheckText2:
            props_.extraText2 = textOf(value);
            return true;
        default:
            return false;
    }
}

}  // namespace vesperon::ui
