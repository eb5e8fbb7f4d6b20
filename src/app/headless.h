#pragma once

#include "store/data_folder.h"

namespace tavren::app {

// Runs the watch engine without a display until SIGINT or SIGTERM; SIGHUP
// reloads the settings. Returns the process exit status.
int RunHeadless(const store::DataFolder& data);

}  // namespace tavren::app
