#include "desktop/message_box.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <charconv>
#include <vector>

namespace vesperon::desktop {

std::string messageText(const MessageValue& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(std::int32_t v) const { return std::to_string(v); }
        std::string operator()(std::uint8_t v) const { return std::to_string(static_cast<unsigned>(v)); }
        std::string operator()(std::int16_t v) const { return std::to_string(v); }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const {
            char buf[64];
            auto r = std::to_chars(buf, buf + sizeof buf, v);
            return std::string(buf, r.ptr);
        }
        std::string operator()(bool v) const { return v ? "真" : "假"; }
    };
    return std::visit(Visitor{}, value);
}

std::uint32_t effectiveMessageBoxFlags(std::int64_t flags) {
    const auto f = static_cast<std::uint32_t>(flags);
    return (f & kMbSystemModal) ? f : f + kMbTaskModal;
}

namespace {
// Boxes that have neither Cancel nor a single button cannot be closed or escaped: the user must
// pick one of the buttons (Qt would otherwise answer a close with No or Abort).
class NoClose : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Close) {
            e->ignore();
            return true;
        }
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::ShortcutOverride)
            return static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape;
        return false;
    }
};

QString shown(const std::string& s) {
    QString q = QString::fromStdString(s);
    q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return q;
}
}  // namespace

int ShowMessageBox(const MessageValue& message, std::optional<std::int64_t> flagsArg,
                   std::optional<std::string> caption) {
    const std::uint32_t flags = effectiveMessageBoxFlags(flagsArg.value_or(0));
    struct Choice {
        QMessageBox::StandardButton standard;  // NoButton: a custom button
        const char* label;
        int result;
    };
    std::vector<Choice> choices;
    switch (flags & 0xF) {
        case kMbOk:
            choices = {{QMessageBox::Ok, nullptr, kResultOk}};
            break;
        case kMbOkCancel:
            choices = {{QMessageBox::Ok, nullptr, kResultOk}, {QMessageBox::Cancel, nullptr, kResultCancel}};
            break;
        case kMbAbortRetryIgnore:
            choices = {{QMessageBox::Abort, nullptr, kResultAbort},
                       {QMessageBox::Retry, nullptr, kResultRetry},
                       {QMessageBox::Ignore, nullptr, kResultIgnore}};
            break;
        case kMbYesNoCancel:
            choices = {{QMessageBox::Yes, nullptr, kResultYes},
                       {QMessageBox::No, nullptr, kResultNo},
                       {QMessageBox::Cancel, nullptr, kResultCancel}};
            break;
        case kMbYesNo:
            choices = {{QMessageBox::Yes, nullptr, kResultYes}, {QMessageBox::No, nullptr, kResultNo}};
            break;
        case kMbRetryCancel:
            choices = {{QMessageBox::Retry, nullptr, kResultRetry},
                       {QMessageBox::Cancel, nullptr, kResultCancel}};
            break;
        case kMbCancelTryContinue:
            // "Try again" and "Continue" have no result of their own and count as OK.
            choices = {{QMessageBox::Cancel, nullptr, kResultCancel},
                       {QMessageBox::NoButton, "Try Again", kResultOk},
                       {QMessageBox::NoButton, "Continue", kResultOk}};
            break;
        default:
            return kResultOk;  // no such button set: nothing can be shown
    }

    QMessageBox box;
    box.setWindowTitle(shown(caption.value_or(kDefaultMessageCaption)));
    box.setTextFormat(Qt::PlainText);
    box.setText(shown(messageText(message)));
    switch (flags & 0xF0) {
        case kMbIconError:
            box.setIcon(QMessageBox::Critical);
            break;
        case kMbIconQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case kMbIconWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case kMbIconInformation:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }
    std::vector<QAbstractButton*> buttons;
    for (const Choice& c : choices) {
        if (c.standard != QMessageBox::NoButton)
            buttons.push_back(box.addButton(c.standard));
        else
            buttons.push_back(box.addButton(QString::fromLatin1(c.label), QMessageBox::AcceptRole));
    }
    const size_t defaultIndex = (flags >> 8) & 0xF;
    if (auto* b = qobject_cast<QPushButton*>(buttons[defaultIndex < buttons.size() ? defaultIndex : 0]))
        box.setDefaultButton(b);
    const bool hasCancel = std::any_of(choices.begin(), choices.end(),
                                       [](const Choice& c) { return c.standard == QMessageBox::Cancel; });
    NoClose noClose;
    if (!hasCancel && choices.size() > 1) box.installEventFilter(&noClose);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i] == clicked) return choices[i].result;
    return kResultCancel;  // closed without a button
}

}  // namespace vesperon::desktop
