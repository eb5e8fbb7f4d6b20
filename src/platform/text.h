#pragma once

#include <string>
#include <string_view>

namespace tavren::platform {

// Conversions between UTF-8 (in memory, on screen) and code page 932 (in
// stored files). Both are strict: they return false, leaving `out`
// unspecified, when a character has no form in the other encoding or the
// input is not valid in its own.
bool Utf8ToCp932(std::string_view utf8, std::string& out);
bool Cp932ToUtf8(std::string_view cp932, std::string& out);

}  // namespace tavren::platform
