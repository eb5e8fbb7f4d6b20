#pragma once

namespace tavren::app {

// Loads Qt's own Japanese texts into the running application, so that the
// standard buttons (はい, いいえ, キャンセル) and the file and folder
// choosers speak the program's language. Japanese whatever the locale: the
// rest of the program is Japanese too. False when the translations are not
// installed (Debian's qt6-translations-l10n); Qt's English texts stay then.
bool LoadQtTranslations();

}  // namespace tavren::app
