#include "ui/edit_box.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "ui/appearance.h"

namespace vesperon::ui {
namespace {

// A box's maximum length counts every character beyond ASCII as two (the GBK bytes the layout's
// limits were set in).
int codePageLength(const QString& s) {
    int n = 0;
    for (char32_t c : s.toUcs4()) n += c < 0x80 ? 1 : 2;
    return n;
}

}  // namespace

bool inputModeAccepts(int mode, char32_t c) {
    if (c < 32) return true;
    const bool digit = c >= '0' && c <= '9';
    switch (mode) {
        case kInputIntegerText:
        case kInputShort:
        case kInputInt:
        case kInputLong:
            return digit || c == '-';
        case kInputDecimalText:
        case kInputFloat:
        case kInputDouble:
            return digit || c == '-' || c == '.';
        case kInputByte:
            return digit;
        default:
            return true;
    }
}

std::string normaliseForMode(int mode, const std::string& text) {
    if (mode < kInputByte || mode > kInputDouble) return text;
    const double v = std::strtod(text.c_str(), nullptr);
    std::string out;
    auto integral = [&](double lo, double hi) {
        double t = std::trunc(v);
        if (!(t == t)) t = 0;  // NaN
        t = std::min(std::max(t, lo), hi);
        out = std::to_string(static_cast<long long>(t));
    };
    switch (mode) {
        case kInputByte:
            integral(0, 255);
            break;
        case kInputShort:
            integral(-32768, 32767);
            break;
        case kInputInt:
            integral(INT32_MIN, INT32_MAX);
            break;
        case kInputLong:
            integral(-9223372036854775807.0, 9223372036854774784.0);
            break;
        default: {
            char buf[64];
            if (!std::isfinite(v)) {
                out = "0";
                break;
            }
            std::snprintf(buf, sizeof buf, mode == kInputFloat ? "%.7g" : "%.15g",
                          mode == kInputFloat ? double(float(v)) : v);
            out = buf;
        }
    }
    return out == "0" || out == "-0" ? std::string() : out;
}

// The Qt side: filters what the user types before QLineEdit sees it.
class EditBoxView : public QLineEdit {
public:
    EditBoxView(EditBox& unit, QWidget* parent) : QLineEdit(parent), unit_(unit) {}

protected:
    void keyPressEvent(QKeyEvent* e) override {
        const QString text = e->text();
        const bool typed = !text.isEmpty() && text.at(0).unicode() >= 32 &&
                           !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (typed) {
            const auto& p = unit_.props_;
            const char32_t c = text.toUcs4().value(0);
            if (!inputModeAccepts(p.inputMode, c)) return e->accept();
            if (p.maxLength > 0 &&
                codePageLength(this->text()) - codePageLength(selectedText()) + codePageLength(text) >
                    p.maxLength)
                return e->accept();
            if (p.caseConversion == 1 || p.caseConversion == 2) {
                QKeyEvent converted(e->type(), e->key(), e->modifiers(),
                                    p.caseConversion == 1 ? text.toLower() : text.toUpper(),
                                    e->isAutoRepeat(), e->count());
                QLineEdit::keyPressEvent(&converted);
                return;
            }
        }
        QLineEdit::keyPressEvent(e);
    }
    void focusOutEvent(QFocusEvent* e) override {
        QLineEdit::focusOutEvent(e);
        unit_.lostFocus();
    }

private:
    EditBox& unit_;
};

EditBox::EditBox(Form& form, const layout::Unit& unit) : Widget(form, unit) {
    if (auto* p = unit.as<layout::EditBoxProps>()) props_ = *p;
}

QLineEdit* EditBox::edit() const {
    return static_cast<QLineEdit*>(live());
}

void EditBox::applyLook(QLineEdit* e) {
    e->setFrame(props_.border != 0);
    setRoleColour(e, QPalette::Text, props_.textColour);
    setRoleColour(e, QPalette::Base, props_.backgroundColour);
    e->setAlignment((props_.alignment == 1   ? Qt::AlignHCenter
                     : props_.alignment == 2 ? Qt::AlignRight
                                             : Qt::AlignLeft) |
                    Qt::AlignVCenter);
    e->setReadOnly(props_.inputMode == kInputReadOnly);
    e->setEchoMode(props_.inputMode == kInputPassword ? QLineEdit::Password : QLineEdit::Normal);
}

QWidget* EditBox::createLive(QWidget* parent) {
    auto* e = new EditBoxView(*this, parent);
    applyFont(e, props_.font);
    applyLook(e);
    e->setText(QString::fromUtf8(props_.content));
    lastText_ = e->text();
    connect(e, &QLineEdit::textEdited, this, &EditBox::userEdited);
    return e;
}

void EditBox::applyGeometry() {
    Widget::applyGeometry();
    QLineEdit* e = edit();
    if (!e || props_.multiLine) return;
    // A single-line box is at least as tall as its text plus the two edges of its border.
    const int edge = props_.border == 0 ? 0 : (props_.border == 3 || props_.border == 5) ? 1 : 2;
    const int least = QFontMetrics(e->font()).height() + 2 * edge;
    if (e->height() < least) e->resize(e->width(), least);
}

void EditBox::userEdited(const QString& edited) {
    QLineEdit* e = edit();
    // Text that did not come through keyPressEvent (an input method's commit, a paste, a drop)
    // meets the same rules: the inserted part is filtered by the input mode...
    QString text = edited;
    qsizetype head = 0;
    while (head < text.size() && head < lastText_.size() && text[head] == lastText_[head]) ++head;
    qsizetype tail = 0;
    while (tail < text.size() - head && tail < lastText_.size() - head &&
           text[text.size() - 1 - tail] == lastText_[lastText_.size() - 1 - tail])
        ++tail;
    const QString inserted = text.mid(head, text.size() - head - tail);
    QString kept;
    for (char32_t c : inserted.toUcs4())
        if (inputModeAccepts(props_.inputMode, c)) kept += QString::fromUcs4(&c, 1);
    if (kept != inserted) text = text.left(head) + kept + text.right(tail);
    // ...and going past the maximum length is refused like typing past it.
    if (props_.maxLength > 0 && codePageLength(text) > props_.maxLength &&
        codePageLength(text) > codePageLength(lastText_))
        text = lastText_;
    if (text != edited) {
        const QSignalBlocker block(e);
        e->setText(text);
        e->setCursorPosition(text == lastText_ ? int(head) : int(head + kept.size()));
    }
    if (text == lastText_) return;
    lastText_ = text;
    emit contentChanged();
    raiseEvent(kEditContentChanged);
}

void EditBox::lostFocus() {
    QLineEdit* e = edit();
    if (!e) return;
    const std::string now = e->text().toStdString();
    const std::string rewritten = normaliseForMode(props_.inputMode, now);
    if (rewritten == now) return;
    e->setText(QString::fromUtf8(rewritten));
    lastText_ = e->text();
    emit contentChanged();
}

Value EditBox::typeProperty(int number) {
    QLineEdit* e = edit();
    switch (number) {
        case kEditContent:
            return e->text().toStdString();
        case kEditBorder:
            return props_.border;
        case kEditTextColour:
            return std::int32_t(props_.textColour);
        case kEditBackground:
            return std::int32_t(props_.backgroundColour);
        case kEditFont:
            return props_.font ? encodeFont(*props_.font) : Bytes{};
        case kEditHideSelection:
            return props_.hideSelection;
        case kEditMaxLength:
            return props_.maxLength;
        case kEditMultiLine:
            return props_.multiLine;
        case kEditScrollBars:
            return props_.scrollBars;
        case kEditAlignment:
            return props_.alignment;
        case kEditInputMode:
            return props_.inputMode;
        case kEditPasswordChar:
            return std::int32_t(props_.passwordChar);
        case kEditCaseConversion:
            return props_.caseConversion;
        case kEditSpinBox:
            return props_.spinBox;
        case kEditSpinMinimum:
            return props_.spinMinimum;
        case kEditSpinMaximum:
            return props_.spinMaximum;
        case kEditSelectionStart:
            return std::int32_t(e->hasSelectedText() ? e->selectionStart() : e->cursorPosition());
        case kEditSelectionLength:
            return std::int32_t(e->selectionLength());
        case kEditSelectedText:
            return e->selectedText().toStdString();
        case kEditText1:
            return props_.extraText1;
        case kEditText2:
            return props_.extraText2;
        default:
            return std::int32_t(-1);
    }
}

bool EditBox::setTypeProperty(int number, const Value& value) {
    QLineEdit* e = edit();
    const std::int32_t n = intOf(value);
    switch (number) {
        case kEditContent: {
            // Not limited by the maximum length; the notification follows once.
            const QSignalBlocker block(e);
            e->setText(QString::fromUtf8(textOf(value)));
            lastText_ = e->text();
            props_.content = textOf(value);
            emit contentChanged();
            return true;
        }
        case kEditBorder:
            props_.border = clampInt(n, 0, 5);
            applyLook(e);
            applyGeometry();
            return true;
        case kEditTextColour:
            props_.textColour = std::uint32_t(n);
            applyLook(e);
            return true;
        case kEditBackground:
            props_.backgroundColour = std::uint32_t(n);
            applyLook(e);
            return true;
        case kEditFont:
            props_.font = decodeFont(bytesOf(value));
            applyFont(e, props_.font);
            applyGeometry();
            return true;
        case kEditHideSelection:
            props_.hideSelection = n != 0;
            return true;
        case kEditMaxLength:
            props_.maxLength = std::max(0, n);
            return true;
        case kEditMultiLine:
            props_.multiLine = n != 0;
            return true;  // takes effect when created
        case kEditScrollBars:
            props_.scrollBars = clampInt(n, 0, 3);
            return true;
        case kEditAlignment:
            props_.alignment = clampInt(n, 0, 2);
            applyLook(e);
            return true;
        case kEditInputMode:
            props_.inputMode = clampInt(n, 0, 11);
            applyLook(e);
            return true;
        case kEditPasswordChar:
            props_.passwordChar = std::uint16_t(n);
            return true;
        case kEditCaseConversion:
            props_.caseConversion = clampInt(n, 0, 2);
            return true;
        case kEditSpinBox:
            props_.spinBox = n != 0;
            return true;
        case kEditSpinMinimum:
            props_.spinMinimum = n;
            return true;
        case kEditSpinMaximum:
            props_.spinMaximum = n;
            return true;
        case kEditSelectionStart:
            e->setSelection(std::max(0, n), std::max(0, e->selectionLength()));
            return true;
        case kEditSelectionLength: {
            const int start = e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
            e->setSelection(start, std::max(0, n));
            return true;
        }
        case kEditSelectedText: {
            {
                const QSignalBlocker block(e);
                e->insert(QString::fromUtf8(textOf(value)));
            }
            lastText_ = e->text();
            emit contentChanged();
            return true;
        }
        case kEditText1:
            props_.extraText1 = textOf(value);
            return true;
        case kEditText2:
            props_.extraText2 = textOf(value);
            return true;
        default:
            return false;
    }
}

}  // namespace vesperon::ui
