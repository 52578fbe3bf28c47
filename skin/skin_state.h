#pragma once
// Which painter a control gets, and the state bits a painter looks at.

#include <cstdint>

class QWidget;

namespace vesperon::skin {

enum PainterType : int {
    kNotSkinned = -1,
    kPushButton = 0,  // push buttons and push-like check boxes
    kCheckBox = 1,
    kRadioButton = 2,
    kEditBox = 3,
    kComboBox = 4,
    kUpDown = 5,
    kScrollBar = 6,  // 6 to 10 are recognised but left to the plain style
    kCalendar = 7,
    kTabControl = 8,
    kProgressBar = 9,
    kTrackBar = 10,
    kGroupBox = 11,
    kDropDownList = 12,
};

// State bits of a skinned control.
enum StateFlag : std::uint32_t {
    kDisabled = 0x1,
    kPressed = 0x2,
    kMouseOver = 0x4,
    kFocused = 0x10,
    kDefaultButton = 0x10000,
    kChecked = 0x20000,
    kIndeterminate = 0x40000,
    kReadOnly = 0x10000000,
};

PainterType painterTypeOf(const QWidget* widget);

// Types 0-5, 11 and 12 are skinned; the rest keep the plain look.
bool isSkinnedType(PainterType type);

}  // namespace vesperon::skin
