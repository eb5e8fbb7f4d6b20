#include "platform/win32/console.h"
#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace tavren::platform::win32 {

std::vector<std::string> CommandLineArguments() {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> out;
    if (args == nullptr) return out;
    for (int i = 0; i < count; ++i) out.push_back(Narrow(args[i]));
    ::LocalFree(args);
    return out;
}

void UseUtf8Console() {
    if (::GetConsoleOutputCP() != 0) ::SetConsoleOutputCP(CP_UTF8);
}

bool StartBesideWithSameArguments(const wchar_t* program) {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n == 0) return false;
        if (n < self.size()) {
            self.resize(n);
            break;
        }
        self.resize(self.size() * 2);
    }
    // The arguments after the program's name, split by the runtime's rule
    // for that name: up to the closing quote, or the first blank.
    std::wstring_view line = ::GetCommandLineW();
    std::size_t end = 0;
    if (!line.empty() && line[0] == L'"') {
        end = line.find(L'"', 1);
        end = end == std::wstring_view::npos ? line.size() : end + 1;
    } else {
        end = std::min(line.find_first_of(L" \t"), line.size());
    }
    const std::wstring_view rest = line.substr(end);
    std::wstring command = L"\"" + (std::filesystem::path(self).parent_path() / program).wstring() +
                           L"\"" + std::wstring(rest);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return false;
    }
    const UniqueHandle thread(info.hThread);
    const UniqueHandle process(info.hProcess);
    return true;
}

}  // namespace tavren::platform::win32
