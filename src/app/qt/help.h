#pragma once

#include <QUrl>
#include <functional>

namespace tavren::app {

// Opens the program's help page in the desktop's browser through `open`
// (by default the desktop's opener, xdg-open on Linux). When there is no
// page to open or nothing could open it, says so on standard error and in a
// box captioned "Tavren3", and returns false.
bool OpenHelp(const std::function<bool(const QUrl&)>& open = {});

}  // namespace tavren::app
