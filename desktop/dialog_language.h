#pragma once
// The dialogs' own texts (message box buttons, the file dialog) in the window's language.

namespace vesperon::desktop {

// Loads Qt's Simplified Chinese translations, whatever the system locale; false when they are not
// installed (Debian's qt6-translations-l10n), in which case Qt's English texts remain.
bool installDialogTranslations();

}  // namespace vesperon::desktop
