#include "skin/skin_style.h"

#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyleOption>

#include "skin/painters.h"
#include "skin/skin.h"
#include "skin/skin_state.h"

namespace vesperon::skin {
namespace {

// Whether the widget tracked hover before the skin took it over, so detaching can put it back.
constexpr const char* kHoverBeforeSkin = "vesperonHoverBeforeSkin";

// The system colours: the application's palette, not a widget's own.
QRgb systemColour(QPalette::ColorRole role) {
    return QGuiApplication::palette().color(QPalette::Active, role).rgb();
}

QRgb parentBackground(const QWidget* widget, const QStyleOption* option) {
    if (widget && widget->parentWidget()) {
        const QWidget* parent = widget->parentWidget();
        return parent->palette().color(QPalette::Active, parent->backgroundRole()).rgb();
    }
    return option->palette.color(QPalette::Active, QPalette::Window).rgb();
}

std::uint32_t commonFlags(const QStyleOption* option) {
    std::uint32_t flags = 0;
    if (!(option->state & QStyle::State_Enabled)) flags |= kDisabled;
    if (option->state & QStyle::State_HasFocus) flags |= kFocused;
    return flags;
}

}  // namespace

SkinStyle::SkinStyle(const SkinScheme& scheme, QStyle* base) : QProxyStyle(base), scheme_(scheme) {}

void SkinStyle::polish(QWidget* widget) {
    const PainterType type = painterTypeOf(widget);
    // Only push buttons show the mouse, so only they need hover repaints.
    const bool tracksHover = type == kPushButton;
    if (tracksHover && !widget->property(kHoverBeforeSkin).isValid())
        widget->setProperty(kHoverBeforeSkin, widget->testAttribute(Qt::WA_Hover));
    QProxyStyle::polish(widget);
    if (tracksHover) widget->setAttribute(Qt::WA_Hover, true);
}

void SkinStyle::unpolish(QWidget* widget) {
    QProxyStyle::unpolish(widget);
    const QVariant before = widget->property(kHoverBeforeSkin);
    if (before.isValid()) {
        widget->setAttribute(Qt::WA_Hover, before.toBool());
        widget->setProperty(kHoverBeforeSkin, QVariant());
    }
}

bool SkinStyle::paintPushButton(const QStyleOption* option, QPainter* painter, const QWidget* widget) const {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (!button || painterTypeOf(widget) != kPushButton || option->rect.isEmpty()) return false;

    PushButtonLook look;
    look.size = option->rect.size();
    look.flags = commonFlags(option);
    if (option->state & QStyle::State_Sunken) look.flags |= kPressed;
    if (option->state & QStyle::State_MouseOver) look.flags |= kMouseOver;
    if (option->state & QStyle::State_On) look.flags |= kChecked;
    if (option->state & QStyle::State_NoChange) look.flags |= kIndeterminate;
    if (button->features & QStyleOptionButton::DefaultButton) look.flags |= kDefaultButton;
    look.buttonFace = systemColour(QPalette::Button);
    look.parentBackground = parentBackground(widget, option);
    look.caption = button->text;
    look.font = widget ? widget->font() : painter->font();
    const QVariant alignment = widget ? widget->property(kCaptionAlignmentProperty) : QVariant();
    if (alignment.isValid()) {
        const auto a = Qt::Alignment(alignment.toInt());
        look.alignment = (a & Qt::AlignHorizontal_Mask ? a & Qt::AlignHorizontal_Mask : Qt::AlignHCenter) |
                         (a & Qt::AlignVertical_Mask ? a & Qt::AlignVertical_Mask : Qt::AlignVCenter);
    }
    painter->drawImage(option->rect.topLeft(), skin::paintPushButton(scheme_, look));
    return true;
}

bool SkinStyle::paintEditBox(const QStyleOption* option, QPainter* painter, const QWidget* widget) const {
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    const auto* edit = qobject_cast<const QLineEdit*>(widget);
    if (!frame || !edit || !edit->hasFrame() || painterTypeOf(widget) != kEditBox || option->rect.isEmpty())
        return false;

    // The plain panel first, then the two frames over its edge.
    QImage image(option->rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QStyleOptionFrame local(*frame);
        local.rect.moveTo(0, 0);
        QPainter p(&image);
        QProxyStyle::drawPrimitive(PE_PanelLineEdit, &local, &p, widget);
    }
    std::uint32_t flags = commonFlags(option);
    if (edit->isReadOnly()) flags |= kReadOnly;
    paintEditFrame(image, scheme_, flags, systemColour(QPalette::Button), systemColour(QPalette::Base));
    painter->drawImage(option->rect.topLeft(), image);
    return true;
}

bool SkinStyle::paintGroupBox(const QStyleOptionComplex* option, QPainter* painter,
                              const QWidget* widget) const {
    const auto* group = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    const auto* box = qobject_cast<const QGroupBox*>(widget);
    // A checkable group box has no counterpart here; it keeps the plain look.
    if (!group || !box || box->isCheckable() || painterTypeOf(widget) != kGroupBox || option->rect.isEmpty())
        return false;

    GroupBoxLook look;
    look.size = option->rect.size();
    look.caption = group->text;
    look.font = widget->font();
    look.defaultFont = QApplication::font();
    look.alignment = group->textAlignment;
    look.parentBackground = parentBackground(widget, option);
    look.textColour = widget->palette().color(QPalette::Active, QPalette::WindowText);
    painter->drawImage(option->rect.topLeft(), skin::paintGroupBox(look));
    return true;
}

void SkinStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const {
    if (element == CE_PushButton && paintPushButton(option, painter, widget)) return;
    QProxyStyle::drawControl(element, option, painter, widget);
}

void SkinStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
    if (element == PE_PanelLineEdit && paintEditBox(option, painter, widget)) return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void SkinStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                   QPainter* painter, const QWidget* widget) const {
    if (control == CC_GroupBox && paintGroupBox(option, painter, widget)) return;
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

}  // namespace vesperon::skin
