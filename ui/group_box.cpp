#include "ui/group_box.h"

#include <QGroupBox>

#include "ui/appearance.h"

namespace vesperon::ui {

GroupBox::GroupBox(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::GroupBoxProps>()) props_ = *p;
}

QGroupBox* GroupBox::group() const {
    return static_cast<QGroupBox*>(live());
}

void GroupBox::apply(QGroupBox* g) {
    g->setTitle(QString::fromUtf8(props_.caption));
    g->setAlignment(props_.captionAlignment == 1   ? Qt::AlignHCenter
                    : props_.captionAlignment == 2 ? Qt::AlignRight
                                                   : Qt::AlignLeft);
    setRoleColour(g, QPalette::WindowText, props_.textColour);
    setRoleColour(g, QPalette::Window, props_.backgroundColour);
}

QWidget* GroupBox::createLive(QWidget* parent) {
    auto* g = new QGroupBox(parent);
    g->setFocusPolicy(Qt::NoFocus);
    applyFont(g, props_.font);
    apply(g);
    return g;
}

Value GroupBox::typeProperty(int number) {
    switch (number) {
        case kGroupCaption:
            return props_.caption;
        case kGroupCaptionAlign:
            return props_.captionAlignment;
        case kGroupTextColour:
            return std::int32_t(props_.textColour);
        case kGroupBackground:
            return std::int32_t(props_.backgroundColour);
        case kGroupFont:
            return props_.font ? encodeFont(*props_.font) : Bytes{};
        default:
            return std::int32_t(-1);
    }
}

bool GroupBox::setTypeProperty(int number, const Value& value) {
    switch (number) {
        case kGroupCaption:
            props_.caption = textOf(value);
            break;
        case kGroupCaptionAlign:
            props_.captionAlignment = clampInt(intOf(value), 0, 2);
            break;
        case kGroupTextColour:
            props_.textColour = std::uint32_t(intOf(value));
            break;
        case kGroupBackground:
            props_.backgroundColour = std::uint32_t(intOf(value));
            break;
        case kGroupFont:
            props_.font = decodeFont(bytesOf(value));
            applyFont(group(), props_.font);
            return true;
        default:
            return false;
    }
    apply(group());
    return true;
}

}  // namespace vesperon::ui
