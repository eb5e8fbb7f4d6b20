#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavren::platform {

// Splits a command line into words the way a Windows program's C runtime
// builds its argv, so that a stored command line means the same program and
// arguments on every platform. Words are separated by runs of spaces and
// tabs; leading blanks are skipped.
//
// The first word (the program) is read simply: a `"` toggles quoting and is
// dropped, a blank outside quotes ends the word, and backslashes are always
// literal, so `"C:\Program Files\x.exe"` is one word.
//
// The other words follow the runtime's escaping rules:
//   - 2n backslashes then `"`: n backslashes, and the quote toggles quoting;
//   - 2n+1 backslashes then `"`: n backslashes and a literal `"`;
//   - backslashes not followed by `"` are literal;
//   - `""` inside quotes is a literal `"` and quoting goes on;
//   - an empty pair of quotes standing alone is an empty word.
// An unclosed quote runs to the end of the line. Bytes other than blanks,
// quotes and backslashes are copied unchanged, so UTF-8 text passes through.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace tavren::platform
