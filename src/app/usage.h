#pragma once

#include <string>
#include <string_view>

namespace tavren::app {

// What --help prints for `program` (the name the user started).
// `trayProgram`: the program that is the tray icon without --headless;
// the watcher-only program takes --headless too, as a no-op.
std::string UsageText(std::string_view program, bool trayProgram);

}  // namespace tavren::app
