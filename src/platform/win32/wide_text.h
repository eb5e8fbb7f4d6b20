#pragma once

#include <string>
#include <string_view>

namespace tavren::platform::win32 {

// UTF-8 (the program's text in memory) to UTF-16 (the system's) and back,
// for the wide-character calls of the Windows front end and platform layer.
// Bytes that are not UTF-8 become U+FFFD; so do unpaired surrogates.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

}  // namespace tavren::platform::win32
