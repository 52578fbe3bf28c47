#pragma once
// The application-wide style that paints skinned controls in one colour scheme and leaves every
// other control to the plain style underneath.

#include <QtWidgets/QProxyStyle>

#include "skin/skin_scheme.h"

namespace vesperon::skin {

class SkinStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Takes ownership of base (nullptr: Qt's default style).
    SkinStyle(const SkinScheme& scheme, QStyle* base);

    using QProxyStyle::polish;
    using QProxyStyle::unpolish;
    void polish(QWidget* widget) override;
    void unpolish(QWidget* widget) override;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override;

private:
    bool paintPushButton(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    bool paintEditBox(const QStyleOption* option, QPainter* painter, const QWidget* widget) const;
    bool paintGroupBox(const QStyleOptionComplex* option, QPainter* painter, const QWidget* widget) const;

    const SkinScheme& scheme_;
};

}  // namespace vesperon::skin
