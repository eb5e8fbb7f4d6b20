#include "platform/win32/console.h"
#include "platform/win32/win32_util.h"
// After <windows.h>, which win32_util.h includes and they build on.
#include <shellapi.h>

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

}  // namespace tavren::platform::win32
