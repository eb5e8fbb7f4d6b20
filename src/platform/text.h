#pragma once

#include <string>
#include <string_view>

namespace tavren::platform {

// Conversions between UTF-8 (in memory, on screen) and code page 932 (in
// stored files). Both are strict: they return false, leaving `out`
// unspecified, when a character has no form in the other encoding or the
// input is not valid in its own.
//
// A few characters have a look-alike in CP932 but no form of their own
// (U+301C WAVE DASH becomes the full-width tilde, U+00A5 a backslash). They
// are refused unless `allowLookAlikes` is set: in a path or a file name the
// look-alike would name another file; in a title it is what the user meant.
bool Utf8ToCp932(std::string_view utf8, std::string& out, bool allowLookAlikes = false);
bool Cp932ToUtf8(std::string_view cp932, std::string& out);

}  // namespace tavren::platform
