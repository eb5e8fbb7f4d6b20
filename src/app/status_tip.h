#pragma once

#include <string>
#include <vector>

#include "engine/services.h"

namespace tavren::app {

// The tray icon's tip, in UTF-8: the program's name, then whether it
// watches and how many of its entries, naming those not watched by
// notification (waiting for their folder, polled, or not watched at all).
std::string StatusTip(bool running, const std::vector<engine::WatchStatus>& statuses);

}  // namespace tavren::app
