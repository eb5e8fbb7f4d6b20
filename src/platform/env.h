#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tavren::platform {

// The value of an environment variable; nullopt when unset or empty.
std::optional<std::string> GetEnv(const char* name);

// The user's per-user data folder for applications (XDG_DATA_HOME, else
// ~/.local/share on Linux); nullopt when it cannot be determined.
std::optional<std::filesystem::path> UserDataHome();

// Whether the user reads Japanese rather than English, for the command
// line's help and messages: the first of LC_ALL, LC_MESSAGES and LANG that
// is set starts with "ja"; on Windows, when none is set, the user's
// interface language is Japanese.
bool UserLanguageIsJapanese();

// A short text that tells this user apart from the others on the machine
// (the numeric user id on POSIX systems).
std::string CurrentUserId();

}  // namespace tavren::platform
