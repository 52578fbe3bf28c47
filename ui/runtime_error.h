#pragma once
// Fatal run-time errors (misuse of a widget, a list index out of range): one message box
// "错误" with the error's code and text, all playback stopped, and the process ends with exit
// code -1. The application installs how playback is stopped; tests may replace how the report
// is shown and how the process ends.

#include <functional>
#include <optional>
#include <string>

namespace vesperon::ui {

// Error texts of the window framework.
inline constexpr const char* kErrorWindowNotLoaded = "未载入欲访问窗口组件所在的窗口";
inline constexpr const char* kErrorLiveWindowMissing = "指定窗口尚未载入";
// List index errors (code 4 and code 1).
inline constexpr const char* kErrorIndexBelowOne = "数组成员引用下标必须大于等于1";
inline constexpr const char* kErrorIndexBeyondEnd = "数组成员引用下标超出定义范围";

// "运行时出错!\r\n\r\n" [+ "错误代码：" code "\r\n\r\n"] [+ "错误信息：" text "\r\n"].
std::string formatRuntimeError(std::optional<int> code, const std::string& text);

struct FatalErrorHooks {
    std::function<void()> stopAllPlayback;                 // installed by the application
    std::function<void(const std::string& message)> show;  // default: an ownerless error message box
    std::function<void(int exitCode)> exit;                // default: end the process at once
};
// Installs the hooks; an unset member means the default behaviour.
void setFatalErrorHooks(FatalErrorHooks hooks);

// Shows the report, stops playback and ends the process with exit code -1. Returns only when a
// test's exit hook returns.
void reportRuntimeError(std::optional<int> code, const std::string& text);

}  // namespace vesperon::ui
