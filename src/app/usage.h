#pragma once

#include <string>
#include <string_view>

namespace tavren::app {

// Whether help and the command line's own messages are to be Japanese
// (platform::UserLanguageIsJapanese).
bool JapaneseLocale();

// The program's own texts in the run's language; the editor's messages
// stay as the dialogs show them.
struct Lang {
    bool ja = false;
    std::string operator()(std::string_view japanese, std::string_view english) const {
        return std::string(ja ? japanese : english);
    }
};

// What an option given without its value (--data-dir at the end) is told.
inline std::string MissingValueText(std::string_view option, Lang L) {
    return L(std::string(option) + " の値がありません", "missing value for " + std::string(option));
}

// What --help prints for `program` (the name the user started), in the
// locale's language. `trayProgram`: the program that is the tray icon
// without --headless; the watcher-only program takes --headless too, as a
// no-op.
std::string UsageText(std::string_view program, bool trayProgram);
std::string UsageText(std::string_view program, bool trayProgram, bool japanese);

// What `program COMMAND --help` prints for a subcommand (list, add, ...).
std::string SubcommandUsage(std::string_view program, std::string_view command, bool japanese);

}  // namespace tavren::app
