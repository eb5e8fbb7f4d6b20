#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "store/data_folder.h"

namespace tavren::ui::win32 {

// The list of watch entries (the settings of `data`), modal over `owner`
// (may be null). Returns IDOK after the entries were saved, IDCANCEL when
// the user left without saving.
int RunWatchSettingsDialog(const store::DataFolder& data, HWND owner);

}  // namespace tavren::ui::win32
