#include "ui/runtime_error.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace vesperon::ui {
namespace {

FatalErrorHooks& hooks() {
    static FatalErrorHooks h;
    return h;
}

void showMessageBox(const std::string& message) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::fputs(message.c_str(), stderr);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8("错误"), QString::fromUtf8(message),
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace

std::string formatRuntimeError(std::optional<int> code, const std::string& text) {
    std::string s = "运行时出错!\r\n\r\n";
    if (code) s += "错误代码：" + std::to_string(*code) + "\r\n\r\n";
    if (!text.empty()) s += "错误信息：" + text + "\r\n";
    return s;
}

void setFatalErrorHooks(FatalErrorHooks h) { hooks() = std::move(h); }

void reportRuntimeError(std::optional<int> code, const std::string& text) {
    const std::string message = formatRuntimeError(code, text);
    if (hooks().show)
        hooks().show(message);
    else
        showMessageBox(message);
    if (hooks().stopAllPlayback) hooks().stopAllPlayback();
    if (hooks().exit) {
        hooks().exit(-1);
        return;
    }
    std::fflush(nullptr);
    // Straight out: the widgets that misbehaved must not run any further code.
    std::_Exit(-1);
}

}  // namespace vesperon::ui
