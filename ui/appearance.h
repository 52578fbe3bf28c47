#pragma once
// Colours and fonts of the layout applied to Qt widgets.

#include <QPalette>
#include <cstdint>
#include <optional>

#include "ui/layout/form_layout.h"

class QWidget;

namespace vesperon::ui {

// Sets one palette role in every colour group, so a disabled widget keeps the layout's colours
// (the current-time boxes are disabled and show silver text).
void setRoleColour(QWidget* w, QPalette::ColorRole role, std::uint32_t colour);
// The widget's font from a font record; none = the system font.
void applyFont(QWidget* w, const std::optional<layout::Font>& font);

// Qt alignment flags of the layout's horizontal (0 left, 1 centre, 2 right) and vertical (0 top,
// 1 centre, 2 bottom) alignments.
Qt::Alignment captionAlignment(int horizontal, int vertical);

// The program's system font: a CJK face at 12 pixels, as the captions need.
void installSystemFont();

}  // namespace vesperon::ui
