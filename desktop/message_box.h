#pragma once
// The message box: a text, buttons, an icon and a default button chosen by the named flags below;
// modal, without owner. Returns which button was pressed (MessageResult).

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace vesperon::desktop {

// What may be shown: texts unchanged, numbers in decimal (bytes unsigned), booleans as "真" /
// "假"; anything else (std::monostate) as an empty text.
using MessageValue = std::variant<std::monostate, std::string, std::int32_t, std::uint8_t, std::int16_t,
                                  std::int64_t, double, bool>;
std::string messageText(const MessageValue& value);

// Flags: low 4 bits the buttons, 0xF0 the icon, 0xF00 the default button, 0x1000 / 0x2000 the
// modality.
inline constexpr std::uint32_t kMbOk = 0, kMbOkCancel = 1, kMbAbortRetryIgnore = 2, kMbYesNoCancel = 3,
                               kMbYesNo = 4, kMbRetryCancel = 5, kMbCancelTryContinue = 6;
inline constexpr std::uint32_t kMbIconError = 0x10, kMbIconQuestion = 0x20, kMbIconWarning = 0x30,
                               kMbIconInformation = 0x40;
inline constexpr std::uint32_t kMbSystemModal = 0x1000, kMbTaskModal = 0x2000;

// Results.
enum MessageResult : int {
    kResultOk = 0,
    kResultCancel = 1,
    kResultAbort = 2,
    kResultRetry = 3,
    kResultIgnore = 4,
    kResultYes = 5,
    kResultNo = 6
};

// The flags the box is shown with: task-modal added arithmetically unless system-modal is set.
std::uint32_t effectiveMessageBoxFlags(std::int64_t flags);

inline constexpr const char* kDefaultMessageCaption = "信息：";

int ShowMessageBox(const MessageValue& message, std::optional<std::int64_t> flags = std::nullopt,
                   std::optional<std::string> caption = std::nullopt);
inline int ShowMessageBox(const char* message, std::optional<std::int64_t> flags = std::nullopt,
                          std::optional<std::string> caption = std::nullopt) {
    return ShowMessageBox(MessageValue(std::string(message)), flags, std::move(caption));
}

}  // namespace vesperon::desktop
