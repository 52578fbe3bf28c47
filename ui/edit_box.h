#pragma once
// EditBox: a single-line text box with input modes. Typed characters are filtered by the mode
// and limited by the maximum length; the logic's writes are not. Every change of the content,
// typed or written, emits contentChanged() once (the content-changed notification); only the
// user's changes raise event 0. Modes 5-10 rewrite the text as a normalised number when the box
// loses the focus.

#include "ui/widget.h"

class QLineEdit;

namespace vesperon::ui {

enum EditBoxProperty : int {
    kEditContent = 8,
    kEditBorder = 9,
    kEditTextColour = 10,
    kEditBackground = 11,
    kEditFont = 12,
    kEditHideSelection = 13,
    kEditMaxLength = 14,
    kEditMultiLine = 15,
    kEditScrollBars = 16,
    kEditAlignment = 17,
    kEditInputMode = 18,
    kEditPasswordChar = 19,
    kEditCaseConversion = 20,
    kEditSpinBox = 21,
    kEditSpinMinimum = 22,
    kEditSpinMaximum = 23,
    kEditSelectionStart = 24,
    kEditSelectionLength = 25,
    kEditSelectedText = 26,
    kEditText1 = 27,
    kEditText2 = 28,
};
inline constexpr int kEditContentChanged = 0;

enum EditInputMode : int {
    kInputNormal = 0,
    kInputReadOnly = 1,
    kInputPassword = 2,
    kInputIntegerText = 3,
    kInputDecimalText = 4,
    kInputByte = 5,
    kInputShort = 6,
    kInputInt = 7,
    kInputLong = 8,
    kInputFloat = 9,
    kInputDouble = 10,
    kInputDateTime = 11,
};

// Whether a typed character (code 32 and above) passes an input mode; control characters always do.
bool inputModeAccepts(int mode, char32_t c);
// The text a numeric mode (5-10) shows after losing the focus; other modes keep the text.
std::string normaliseForMode(int mode, const std::string& text);

class EditBox : public Widget {
    Q_OBJECT
public:
    EditBox(Form& form, const layout::Unit& unit);
    const layout::EditBoxProps& props() const { return props_; }
    QLineEdit* edit() const;

signals:
    void contentChanged();

protected:
    QWidget* createLive(QWidget* parent) override;
    Value typeProperty(int number) override;
    bool setTypeProperty(int number, const Value& value) override;
    int fontPropertyNumber() const override { return kEditFont; }
    void applyGeometry() override;

private:
    friend class EditBoxView;
    void applyLook(QLineEdit* e);
    void userEdited(const QString& text);
    void lostFocus();

    layout::EditBoxProps props_;
    QString lastText_;
};

}  // namespace vesperon::ui
