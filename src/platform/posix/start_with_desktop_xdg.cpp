#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/posix/desktop_entry.h"
#include "platform/start_with_desktop.h"

namespace tavren::platform {
namespace xdg {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kGroup = "Tavren";
constexpr std::string_view kKey = "nStart";
constexpr std::string_view kIconName = "tavren3";
// More than any settings file of this program holds.
constexpr std::size_t kMaxSettingsBytes = 1 << 20;

std::optional<fs::path> Home() {
    if (auto home = GetEnv("HOME"); home && home->front() == '/') return fs::path(*home);
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir && result->pw_dir[0] == '/') {
        return fs::path(result->pw_dir);
    }
    return std::nullopt;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// The settings file is an INI file as Qt writes it: "[Tavren]" then
// "nStart=1". One line of it, taken apart.
struct IniLine {
    std::optional<std::string_view> group;  // set on a "[group]" line
    std::string_view key;                   // empty unless a "key=value" line
    std::string_view value;
};

IniLine ParseIniLine(std::string_view line) {
    const std::string_view text = Trim(line);
    IniLine parsed;
    if (text.starts_with('[')) {
        if (const auto end = text.find(']'); end != std::string_view::npos) {
            parsed.group = text.substr(1, end - 1);
        }
    } else if (!text.starts_with(';') && !text.starts_with('#')) {
        if (const auto eq = text.find('='); eq != std::string_view::npos) {
            parsed.key = Trim(text.substr(0, eq));
            parsed.value = Trim(text.substr(eq + 1));
        }
    }
    return parsed;
}

// A stored number as Qt reads it back: quotes and a trailing comment
// dropped; anything but a whole decimal number is 0.
int ParseStoredInt(std::string_view value) {
    if (value.starts_with('"')) {
        value.remove_prefix(1);
        value = value.substr(0, value.find('"'));
    } else {
        value = Trim(value.substr(0, value.find(';')));
    }
    if (value.starts_with('+')) value.remove_prefix(1);
    int number = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
    return ec == std::errc() && end == value.data() + value.size() && !value.empty() ? number : 0;
}

// Calls `each(line, group)` for every line of `text` with the group it is in.
template <typename Each>
void ForEachLine(std::string_view text, Each each) {
    std::string_view group;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const IniLine parsed = ParseIniLine(line);
        if (parsed.group) group = *parsed.group;
        each(line, parsed, group);
    }
}

int ReadStoredChoice(std::string_view text) {
    int choice = 0;  // the last one counts, as Qt reads it
    ForEachLine(text, [&](std::string_view, const IniLine& line, std::string_view group) {
        if (group == kGroup && line.key == kKey) choice = ParseStoredInt(line.value);
    });
    return choice;
}

// `text` with the choice set to `value`, every other line as it was.
std::string WithStoredChoice(std::string_view text, int value) {
    const std::string setting = std::string(kKey) + "=" + std::to_string(value);
    // Every line that holds the choice is replaced; without one, it goes
    // first into the group, or into a new group at the end.
    bool set = false;
    ForEachLine(text, [&](std::string_view, const IniLine& parsed, std::string_view group) {
        set = set || (group == kGroup && parsed.key == kKey);
    });
    std::string out;
    ForEachLine(text, [&](std::string_view line, const IniLine& parsed, std::string_view group) {
        const bool inGroup = group == kGroup;
        out += inGroup && parsed.key == kKey ? std::string_view(setting) : line;
        out += '\n';
        if (inGroup && parsed.group && !set) {
            out += setting + "\n";
            set = true;
        }
    });
    if (!set) {
        if (!out.empty()) out += '\n';
        out += "[" + std::string(kGroup) + "]\n" + setting + "\n";
    }
    return out;
}

// One argument of Exec=, before the string escapes.
std::string QuoteExecArgument(std::string_view argument) {
    // Characters that make the desktop entry rules require quoting.
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    if (argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos) {
        quoted += '"';
        for (const char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    } else {
        quoted = argument;
    }
    std::string out;
    for (const char c : quoted) {
        out += c;
        if (c == '%') out += '%';  // '%' starts a field code
    }
    return out;
}

// The general escapes of a string value.
std::string EscapeValue(std::string_view text) {
    std::string value;
    for (const char c : text) {
        switch (c) {
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            default: value += c;
        }
    }
    return value;
}

// Where the desktop looks for data, icons included: the user's data folder,
// then $XDG_DATA_DIRS (by default /usr/local/share and /usr/share).
std::vector<fs::path> DataFolders() {
    std::vector<fs::path> folders;
    if (auto home = UserDataHome()) folders.push_back(*home);
    std::string_view dirs = "/usr/local/share:/usr/share";
    const std::optional<std::string> set = GetEnv("XDG_DATA_DIRS");
    if (set) dirs = *set;
    while (!dirs.empty()) {
        const auto end = dirs.find(':');
        const std::string_view dir = dirs.substr(0, end);
        dirs = end == std::string_view::npos ? std::string_view() : dirs.substr(end + 1);
        if (dir.starts_with('/')) folders.emplace_back(dir);
    }
    return folders;
}

fs::path RunningProgram() {
    std::error_code ec;
    fs::path program = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : program;
}

class XdgStartSetting final : public StartSetting {
public:
    int Read() override {
        std::string text;
        if (ReadFile(SettingsFilePath(), text, kMaxSettingsBytes)) return 0;
        return ReadStoredChoice(text);
    }

    void Apply(int enabled) override {
        Store(enabled);
        const fs::path entry = AutostartFilePath();
        if (enabled != 1) {
            ::unlink(entry.c_str());  // a missing entry is fine
            return;
        }
        const fs::path program = RunningProgram();
        if (program.empty() || CreateFolders(entry.parent_path())) return;
        std::vector<std::string> command{program.string()};
        command.insert(command.end(), StartArguments().begin(), StartArguments().end());
        // Replaced atomically, so a failed write never leaves half an entry.
        WriteFileAtomically(entry,
                            AutostartEntryText(command, AutostartIcon(program.parent_path())));
    }

private:
    static void Store(int enabled) {
        const fs::path file = SettingsFilePath();
        std::string text;
        // A file that exists but cannot be read is left alone rather than
        // replaced without what else it holds.
        if (const std::error_code ec = ReadFile(file, text, kMaxSettingsBytes);
            ec && ec != std::errc::no_such_file_or_directory) {
            return;
        }
        if (CreateFolders(file.parent_path())) return;
        WriteFileAtomically(file, WithStoredChoice(text, enabled));
    }
};

}  // namespace

fs::path ConfigHome() {
    if (auto config = GetEnv("XDG_CONFIG_HOME"); config && config->front() == '/') return *config;
    const std::optional<fs::path> home = Home();
    return (home ? *home : fs::path("/")) / ".config";
}

fs::path SettingsFilePath() {
    return ConfigHome() / "QUORVALE" / "Tavren3.conf";
}

fs::path AutostartFilePath() {
    return ConfigHome() / "autostart" / "Tavren.desktop";
}

std::string DesktopExecValue(const std::vector<std::string>& command) {
    std::string joined;
    for (const std::string& argument : command) {
        if (!joined.empty()) joined += ' ';
        joined += QuoteExecArgument(argument);
    }
    return EscapeValue(joined);
}

std::string AutostartIcon(const fs::path& programFolder) {
    const fs::path share = (programFolder / ".." / "share").lexically_normal();
    const fs::path installed = share / "icons/hicolor/256x256/apps/tavren3.png";
    std::error_code ec;
    if (fs::exists(installed, ec)) {
        const fs::path canonicalShare = fs::canonical(share, ec);
        for (const fs::path& dataFolder : DataFolders()) {
            std::error_code other;
            if (!ec && fs::canonical(dataFolder, other) == canonicalShare) {
                return std::string(kIconName);
            }
        }
        return installed.string();
    }
    const fs::path built = (programFolder / "tavren3.png").lexically_normal();
    return fs::exists(built, ec) ? built.string() : std::string(kIconName);
}

std::string AutostartEntryText(const std::vector<std::string>& command, const std::string& icon) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tavren\n"
           "Comment=フォルダ監視\n"
           "Exec=" +
           DesktopExecValue(command) +
           "\n"
           // Once the program is uninstalled, the entry is not started.
           "TryExec=" +
           EscapeValue(command.front()) +
           "\n"
           "Icon=" +
           EscapeValue(icon) +
           "\n"
           "Terminal=false\n";
}

}  // namespace xdg

StartSetting& SystemStartSetting() {
    static xdg::XdgStartSetting setting;
    return setting;
}

}  // namespace tavren::platform
