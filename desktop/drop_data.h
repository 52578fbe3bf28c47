#pragma once
// What a drop carries, as the drop target hands it on: the effect chosen from the keys held and
// the effects the source allows, and the texts of the four events.

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class QMimeData;

namespace vesperon::desktop {

// Drop effects (bits, as the source announces them) and key-state bits.
inline constexpr std::uint32_t kEffectNone = 0, kEffectCopy = 1, kEffectMove = 2, kEffectLink = 4;
inline constexpr std::uint32_t kKeyShift = 0x4, kKeyControl = 0x8;

// Sets `effect` (in: the effects the source allows; out: the one chosen) and returns whether a
// drop may happen. Ctrl+Shift asks for a link, which is never granted; with no key held the first
// allowed of copy, move, link is taken.
bool decideEffect(bool accepted, std::uint32_t keyState, std::uint32_t& effect);

// The key-state bits of Qt keyboard modifiers.
std::uint32_t keyStateOf(int qtModifiers);

// HTML as dropped: up to its first NUL, no-break spaces turned into spaces.
std::string htmlDropText(const QString& html);
// The file list: one path unchanged; otherwise each path followed by "\r\n".
std::string fileListText(const std::vector<std::string>& paths);

// The formats of the data as the drop target sees them.
bool offersText(const QMimeData& data);
bool offersHtml(const QMimeData& data);
bool offersUrl(const QMimeData& data);    // exactly one URL, not a local file
bool offersFiles(const QMimeData& data);  // at least one local file
std::string textOf(const QMimeData& data);
std::string urlOf(const QMimeData& data);
std::vector<std::string> filesOf(const QMimeData& data);

}  // namespace vesperon::desktop
