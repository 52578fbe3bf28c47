#include "ui/button.h"

#include <QPushButton>

#include "skin/skin.h"
#include "ui/appearance.h"

namespace vesperon::ui {

Button::Button(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::ButtonProps>()) props_ = *p;
}

QPushButton* Button::button() const {
    return static_cast<QPushButton*>(live());
}

QWidget* Button::createLive(QWidget* parent) {
    auto* b = new QPushButton(QString::fromUtf8(props_.caption), parent);
    b->setAutoDefault(false);
    b->setDefault(props_.defaultButton != 0);
    applyFont(b, props_.font);
    applyAlignment(b);
    connect(b, &QPushButton::clicked, this, [this] { raiseEvent(kButtonClicked); });
    return b;
}

void Button::applyAlignment(QWidget* b) {
    // Qt's push buttons always centre their text; the skin reads where the caption goes from here.
    b->setProperty(skin::kCaptionAlignmentProperty, int(captionAlignment(props_.hAlign, props_.vAlign)));
    b->update();
}

Value Button::typeProperty(int number) {
    switch (number) {
        case kButtonPicture:
            return Bytes(props_.picture);
        case kButtonDefault:
            return props_.defaultButton;
        case kButtonCaption:
            return props_.caption;
        case kButtonHAlign:
            return props_.hAlign;
        case kButtonVAlign:
            return props_.vAlign;
        case kButtonFont:
            return props_.font ? encodeFont(*props_.font) : Bytes{};
        default:
            return std::int32_t(-1);
    }
}

bool Button::setTypeProperty(int number, const Value& value) {
    switch (number) {
        case kButtonPicture:
            props_.picture = bytesOf(value);
            return true;
        case kButtonDefault:
            props_.defaultButton = intOf(value) != 0;
            button()->setDefault(props_.defaultButton);
            return true;
        case kButtonCaption:
            props_.caption = textOf(value);
            button()->setText(QString::fromUtf8(props_.caption));
            return true;
        case kButtonHAlign:
            props_.hAlign = clampInt(intOf(value), 0, 2);
            return true;
        case kButtonVAlign:
            props_.vAlign = clampInt(intOf(value), 0, 2);
            return true;
        case kButtonFont:
            props_.font = decodeFont(bytesOf(value));
            applyFont(live(), props_.font);
            return true;
        default:
            return false;
    }
}

}  // namespace vesperon::ui
