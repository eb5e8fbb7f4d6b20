#pragma once

#include <windows.h>

#include <filesystem>

namespace tavren::app::win32 {

// The help page to open: help\index.html beside the program when it was
// installed with one, else the page built into the program, written out
// into `scratch` (the user's temporary folder when empty). Empty, with a
// box over `owner` saying why, when neither can be had.
std::filesystem::path HelpPage(HWND owner, const std::filesystem::path& scratch = {});

// Opens the help page in the user's browser; a box tells of a failure.
bool OpenHelp(HWND owner);

}  // namespace tavren::app::win32
