#pragma once
// Switching the window skin on and off for the whole application.

namespace vesperon::skin {

// Push-button captions are centred; a widget may carry this dynamic property (an int holding
// Qt::Alignment flags) to place its caption otherwise, as a left-aligned push-like check box does.
inline constexpr const char* kCaptionAlignmentProperty = "captionAlignment";

// Stores the scheme; 1, 2 or 3 switch the skin off and then on in that scheme, any other value
// switches it off. Returns 1 after switching on; after switching off, 0 when the skin was not on,
// otherwise 1. Needs a QApplication; without one nothing is switched on and the result is 0.
int SetSkin(int scheme);

// The number last given to SetSkin, even when out of range (0 before the first call).
int CurrentSkinScheme();

// Whether the skin is the application's style right now.
bool SkinIsOn();

}  // namespace vesperon::skin
