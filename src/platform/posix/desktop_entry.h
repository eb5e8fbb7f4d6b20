#pragma once

// The pieces of the Linux start-with-the-desktop setting, for its tests.

#include <filesystem>
#include <string>
#include <vector>

namespace tavren::platform::xdg {

// $XDG_CONFIG_HOME, or ~/.config when the variable is unset or not
// absolute; read at each call.
std::filesystem::path ConfigHome();

// Where the choice is kept: the settings file that earlier versions wrote
// through Qt, ConfigHome()/QUORVALE/Tavren3.conf, "nStart" in [Tavren].
std::filesystem::path SettingsFilePath();

// ConfigHome()/autostart/Tavren.desktop.
std::filesystem::path AutostartFilePath();

// `command` (the program, then its arguments) as the Exec= value of a
// desktop entry: each argument quoted where it holds characters that the
// entry's command-line rules reserve, '%' doubled, and the whole escaped as
// a string value.
std::string DesktopExecValue(const std::vector<std::string>& command);

// The icon the entry names for the program in `programFolder`: the name
// "tavren3" when installed where the desktop looks for icons (the XDG data
// folders); else the full path of the icon installed beside it, or of the
// copy the build puts next to the program; else the name.
std::string AutostartIcon(const std::filesystem::path& programFolder);

// The whole text of the autostart entry that runs `command`.
std::string AutostartEntryText(const std::vector<std::string>& command, const std::string& icon);

}  // namespace tavren::platform::xdg
