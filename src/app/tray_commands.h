#pragma once

#include <functional>
#include <vector>

#include "engine/services.h"

namespace tavren::app {

// What the tray menu's commands do; each front end's tray program fills it
// in, and its icon and menu call it.
struct TrayCommands {
    std::function<bool()> watchRunning;
    std::function<void()> start;
    std::function<void()> stop;
    std::function<void()> watchSettings;
    std::function<void()> helpTopics;
    std::function<void()> about;
    std::function<void()> quit;
    // How each entry is watched now, for the icon's tip.
    std::function<std::vector<engine::WatchStatus>()> statuses;
};

}  // namespace tavren::app
