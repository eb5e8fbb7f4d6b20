#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace tavren::app::win32 {

// UTF-8 text for the wide-character calls.
inline std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    std::wstring out(static_cast<std::size_t>(
                         ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)),
                     L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), static_cast<int>(out.size()));
    return out;
}

}  // namespace tavren::app::win32
