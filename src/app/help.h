#pragma once

namespace tavren::app {

// Opens the program's help page in the desktop's browser. False when there
// is no page to open or nothing could open it.
bool OpenHelp();

}  // namespace tavren::app
