#include "skin/skin_state.h"

#include <QtWidgets/QAbstractSpinBox>
#include <QtWidgets/QCalendarWidget>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QCommandLinkButton>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QSlider>
#include <QtWidgets/QTabBar>

namespace vesperon::skin {

PainterType painterTypeOf(const QWidget* w) {
    if (!w) return kNotSkinned;
    if (qobject_cast<const QCommandLinkButton*>(w)) return kNotSkinned;  // draws itself
    if (auto* b = qobject_cast<const QPushButton*>(w)) {
        // A picture-only button is a bitmap button: it keeps its picture.
        if (b->text().isEmpty() && !b->icon().isNull()) return kNotSkinned;
        return kPushButton;
    }
    if (qobject_cast<const QCheckBox*>(w)) return kCheckBox;
    if (qobject_cast<const QRadioButton*>(w)) return kRadioButton;
    if (qobject_cast<const QGroupBox*>(w)) return kGroupBox;
    if (qobject_cast<const QLineEdit*>(w)) return kEditBox;
    if (qobject_cast<const QComboBox*>(w)) return kComboBox;
    if (qobject_cast<const QAbstractSpinBox*>(w)) return kUpDown;
    if (qobject_cast<const QScrollBar*>(w)) return kScrollBar;
    if (qobject_cast<const QCalendarWidget*>(w)) return kCalendar;
    if (qobject_cast<const QTabBar*>(w)) return kTabControl;
    if (qobject_cast<const QProgressBar*>(w)) return kProgressBar;
    if (qobject_cast<const QSlider*>(w)) return kTrackBar;
    return kNotSkinned;
}

bool isSkinnedType(PainterType t) {
    return (t >= kPushButton && t <= kUpDown) || t == kGroupBox || t == kDropDownList;
}

}  // namespace vesperon::skin
