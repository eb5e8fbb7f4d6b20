#pragma once

#include "app/usage.h"
#include "store/settings_list.h"

namespace tavren::app {

// Prints `list` on standard output as a table, one line per entry, its
// columns lined up for a terminal.
void PrintList(const store::SettingsList& list, Lang L);

}  // namespace tavren::app
