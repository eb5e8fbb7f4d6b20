#pragma once

#include <windows.h>

namespace tavren::app::win32 {

// The version box, modal over `owner`; closes with OK, Enter or Escape.
void ShowAboutBox(HWND owner);

}  // namespace tavren::app::win32
