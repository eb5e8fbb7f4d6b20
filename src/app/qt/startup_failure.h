#pragma once

#include <string>

namespace tavren::app {

// Shows why the tray program cannot start (`text`, already written to
// standard error) in a box captioned "Tavren3" and waits for its OK: started
// from a menu or at login, the program has no terminal to read. Needs a
// display; makes its own application when none exists yet.
void ShowStartupFailure(int& argc, char** argv, const std::string& text);

}  // namespace tavren::app
