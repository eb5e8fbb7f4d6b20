#pragma once

#include <string>
#include <string_view>

namespace tavren::app {

// The editor's messages (ui/rules), which the dialogs show in Japanese, in
// the language of the run: a command line under an English locale answers
// in English throughout. A text without a twin is shown as it is.
std::string InRunLanguage(std::string_view editorText, bool japanese);

// The name the program was started as, which its messages begin with: the
// last part of argv[0], without .exe or .com on Windows; `fallback` when
// there is none. Set once at start; "tavren3" until then.
void SetStartedAs(const char* argv0, std::string_view fallback);
const std::string& StartedAs();

}  // namespace tavren::app
