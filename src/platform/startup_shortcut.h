#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace tavren::platform {

// Shell shortcuts (.lnk files), for starting the program when the user logs
// on to Windows: a shortcut to it in the user's Startup folder (see
// start_with_desktop.h). Windows only.
//
// Each call sets up COM on the calling thread for its own duration.

// What a shortcut holds, as far as the program sets it.
struct ShortcutInfo {
    std::filesystem::path target;
    std::string arguments;    // UTF-8
    std::string description;  // UTF-8
    int showCommand = 0;      // SW_SHOWNORMAL is 1
};

// The user's Startup folder followed by `name`; the folder is created when
// it is missing. Empty when the system cannot tell where the folder is.
std::filesystem::path StartupShortcutPath(std::string_view name);

// Writes the shortcut `link` to `target` with `description` and
// `arguments` (a command line's arguments, UTF-8), no working folder, the
// target's own icon and shown normally; an existing shortcut of that name
// is replaced.
std::error_code CreateShortcut(const std::filesystem::path& link,
                               const std::filesystem::path& target, std::string_view description,
                               std::string_view arguments = {});

// Reads back what CreateShortcut writes.
std::error_code ReadShortcut(const std::filesystem::path& link, ShortcutInfo& out);

// Deletes the shortcut; one that does not exist is no error.
std::error_code RemoveShortcut(const std::filesystem::path& link);

// The full path of the running program's executable.
std::filesystem::path CurrentExecutable();

}  // namespace tavren::platform
