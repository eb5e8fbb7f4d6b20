#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/env.h"

namespace tavren::platform {

std::optional<std::string> GetEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

bool UserLanguageIsJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const auto value = GetEnv(name)) return value->starts_with("ja");
    }
    return false;
}

std::optional<std::filesystem::path> UserDataHome() {
    // XDG: a relative XDG_DATA_HOME is invalid and must be ignored.
    if (auto xdg = GetEnv("XDG_DATA_HOME"); xdg && xdg->front() == '/') return *xdg;
    std::optional<std::string> home = GetEnv("HOME");
    if (!home) {
        std::vector<char> buffer(16384);
        struct passwd pw {};
        struct passwd* result = nullptr;
        if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result &&
            result->pw_dir && *result->pw_dir) {
            home = result->pw_dir;
        }
    }
    if (!home || home->front() != '/') return std::nullopt;
    return std::filesystem::path(*home) / ".local" / "share";
}

std::string CurrentUserId() { return std::to_string(::getuid()); }

}  // namespace tavren::platform
