#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <sddl.h>
#include <shlobj.h>

#include <vector>

#include "platform/env.h"

namespace tavren::platform {

std::optional<std::string> GetEnv(const char* name) {
    const std::wstring wide = win32::Widen(name);
    std::vector<wchar_t> value(256);
    for (;;) {
        const DWORD n =
            ::GetEnvironmentVariableW(wide.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return std::nullopt;  // unset, or set to nothing
        if (n < value.size()) return win32::Narrow(std::wstring_view(value.data(), n));
        value.resize(n);  // n counts the terminator when the buffer was short
    }
}

bool UserLanguageIsJapanese() {
    // Set by hand, or by a POSIX-like shell around the program.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const auto value = GetEnv(name)) return value->starts_with("ja");
    }
    return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

std::optional<std::filesystem::path> UserDataHome() {
    // The roaming application data folder (CSIDL_APPDATA), not created here.
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_APPDATA, FALSE) || buffer[0] == L'\0') {
        return std::nullopt;
    }
    return std::filesystem::path(buffer);
}

std::string CurrentUserId() {
    // The user's security identifier, "S-1-5-21-...".
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return "unknown";
    win32::UniqueHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return "unknown";
    }
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        return "unknown";
    }
    std::string id = win32::Narrow(text);
    ::LocalFree(text);
    return id;
}

}  // namespace tavren::platform
