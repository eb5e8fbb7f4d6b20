#pragma once

#include <string_view>

#include "store/data_folder.h"

namespace tavren::app {

// Runs the watch engine without a display until SIGINT or SIGTERM; SIGHUP
// reloads the settings. `program` is the name the user started it by, for
// the hint on how to add entries. Returns the process exit status.
int RunHeadless(const store::DataFolder& data, std::string_view program);

}  // namespace tavren::app
