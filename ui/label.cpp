#include "ui/label.h"

#include <QLabel>

#include "ui/appearance.h"
#include "ui/handle_registry.h"

namespace vesperon::ui {

Label::Label(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::LabelProps>()) props_ = *p;
}

QLabel* Label::label() const {
    return static_cast<QLabel*>(live());
}

QWidget* Label::createLive(QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);  // no "&" prefix or markup processing
    l->setText(QString::fromUtf8(props_.caption));
    l->setAutoFillBackground(true);
    l->setWordWrap(props_.wordWrap != 0);
    applyFont(l, props_.font);
    applyAlignment(l);
    applyColours(l);
    return l;
}

void Label::applyAlignment(QLabel* l) {
    Qt::Alignment a = props_.hAlign == 1   ? Qt::AlignHCenter
                      : props_.hAlign == 2 ? Qt::AlignRight
                                           : Qt::AlignLeft;
    a |= props_.vAlign == 0 ? Qt::AlignTop : props_.vAlign == 2 ? Qt::AlignBottom : Qt::AlignVCenter;
    l->setAlignment(a);
}

void Label::applyColours(QLabel* l) {
    setRoleColour(l, QPalette::WindowText, props_.textColour);
    setRoleColour(l, QPalette::Window, props_.backgroundColour);
}

std::intptr_t Label::receiveMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) {
    if (message != kPlayerNotifyMessage) return 0;
    EventResult r = raiseEvent(kLabelFeedback, {std::int32_t(wParam), std::int32_t(lParam)});
    return r.value ? static_cast<std::intptr_t>(*r.value) : 0;
}

Value Label::typeProperty(int number) {
    switch (number) {
        case kLabelCaption:
            return props_.caption;
        case kLabelEffect:
            return props_.effect;
        case 10:
            return props_.decorWidth;
        case 11:
            return props_.decorChoice1;
        case 12:
            return std::int32_t(props_.decorColour1);
        case 13:
            return std::int32_t(props_.decorColour2);
        case 14:
            return std::int32_t(props_.decorColour3);
        case kLabelFont:
            return props_.font ? encodeFont(*props_.font) : Bytes{};
        case kLabelTextColour:
            return std::int32_t(props_.textColour);
        case kLabelBackground:
            return std::int32_t(props_.backgroundColour);
        case kLabelPicture:
            return Bytes(props_.picture);
        case 19:
            return props_.decorChoice2;
        case 20:
            return props_.decorChoice3;
        case 21:
            return std::int32_t(props_.decorColour4);
        case 22:
            return std::int32_t(props_.decorColour5);
        case 23:
            return std::int32_t(props_.decorColour6);
        case kLabelHAlign:
            return props_.hAlign;
        case kLabelWordWrap:
            return props_.wordWrap;
        case kLabelVAlign:
            return props_.vAlign;
        case 27:
            return props_.extraText;
        case 28:
            return extraValue_;
        default:
            return std::int32_t(-1);
    }
}

bool Label::setTypeProperty(int number, const Value& value) {
    const std::int32_t n = intOf(value);
    switch (number) {
        case kLabelCaption:
            props_.caption = textOf(value);
            label()->setText(QString::fromUtf8(props_.caption));
            return true;
        case kLabelEffect:
            props_.effect = n;
            return true;
        case 10:
            props_.decorWidth = n;
            return true;
        case 11:
            props_.decorChoice1 = n;
            return true;
        case 12:
            props_.decorColour1 = std::uint32_t(n);
            return true;
        case 13:
            props_.decorColour2 = std::uint32_t(n);
            return true;
        case 14:
            props_.decorColour3 = std::uint32_t(n);
            return true;
        case kLabelFont:
            props_.font = decodeFont(bytesOf(value));
            applyFont(label(), props_.font);
            return true;
        case kLabelTextColour:
            props_.textColour = std::uint32_t(n);
            applyColours(label());
            return true;
        case kLabelBackground:
            props_.backgroundColour = std::uint32_t(n);
            applyColours(label());
            return true;
        case kLabelPicture:
            props_.picture = bytesOf(value);
            return true;
        case 19:
            props_.decorChoice2 = n;
            return true;
        case 20:
            props_.decorChoice3 = n;
            return true;
        case 21:
            props_.decorColour4 = std::uint32_t(n);
            return true;
        case 22:
            props_.decorColour5 = std::uint32_t(n);
            return true;
        case 23:
            props_.decorColour6 = std::uint32_t(n);
            return true;
        case kLabelHAlign:
            props_.hAlign = clampInt(n, 0, 2);
            applyAlignment(label());
            return true;
        case kLabelWordWrap:
            props_.wordWrap = n != 0;
            label()->setWordWrap(props_.wordWrap);
            return true;
        case kLabelVAlign:
            props_.vAlign = clampInt(n, 0, 2);
            applyAlignment(label());
            return true;
        case 27:
            props_.extraText = textOf(value);
            return true;
        case 28:
            extraValue_ = n;
            return true;
        default:
            return false;
    }
}

}  // namespace vesperon::ui
