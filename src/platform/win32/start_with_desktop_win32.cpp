#include <string>
#include <string_view>

#include "platform/command_line.h"
#include "platform/start_with_desktop.h"
#include "platform/startup_shortcut.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {
namespace {

// Where the choice has always been kept: "nStart" in group "Tavren" of the
// program's settings (organisation QUORVALE, application Tavren3).
constexpr const wchar_t* kKey = L"Software\\QUORVALE\\Tavren3\\Tavren";
constexpr const wchar_t* kValue = L"nStart";
constexpr std::string_view kShortcut = "Tavren.lnk";
constexpr std::string_view kDescription = "フォルダ監視";

// Owns an open registry key.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_) ::RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY get() const { return key_; }
    HKEY* out() { return &key_; }

private:
    HKEY key_ = nullptr;
};

// One argument as the C runtime's command-line splitting reads it back: as
// it stands unless it is empty or holds blanks or quotes.
std::string PlainOrQuoted(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    return QuoteArgument(argument);
}

class StartupFolderSetting final : public StartSetting {
public:
    int Read() override {
        RegistryKey key;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, key.out()) !=
            ERROR_SUCCESS) {
            return 0;
        }
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        if (::RegQueryValueExW(key.get(), kValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                               &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value) {
            return 0;
        }
        return static_cast<int>(value);
    }

    void Apply(int enabled) override {
        {
            RegistryKey key;
            if (::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.out(), nullptr) == ERROR_SUCCESS) {
                const DWORD value = static_cast<DWORD>(enabled);
                ::RegSetValueExW(key.get(), kValue, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&value), sizeof value);
            }
        }
        const std::filesystem::path link = StartupShortcutPath(kShortcut);
        if (link.empty()) return;
        if (enabled != 1) {
            RemoveShortcut(link);
            return;
        }
        const std::filesystem::path program = CurrentExecutable();
        if (program.empty()) return;
        std::string arguments;
        for (const std::string& argument : StartArguments()) {
            if (!arguments.empty()) arguments += ' ';
            arguments += PlainOrQuoted(argument);
        }
        CreateShortcut(link, program, kDescription, arguments);
    }
};

}  // namespace

StartSetting& SystemStartSetting() {
    static StartupFolderSetting setting;
    return setting;
}

}  // namespace tavren::platform
