#pragma once

#include <functional>
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

// Splits a stored program line as Windows' CreateProcess finds its program,
// so that an unquoted path with spaces still names it; words[0] is the
// program, the rest its arguments (empty for a blank line).
//
// A first word with a quote in it is the program, as SplitCommandLine reads
// it. So is a first word without '/', a bare name to be looked up in PATH.
// Otherwise the line is cut at the end of each word in turn, shortest first
// (`/opt/My Tools/run -x`: `/opt/My`, then `/opt/My Tools/run`, ...), up to
// the whole line without its trailing blanks and never past a quote, and
// the first cut for which `isFile` says it names an existing regular file
// is the program, as it stands; what follows is split into arguments by
// SplitCommandLine's rules. When no cut names a file, the line is split as
// SplitCommandLine does, so the first word is the program that will fail.
std::vector<std::string> SplitProgramLine(std::string_view commandLine,
                                          const std::function<bool(const std::string&)>& isFile);

}  // namespace tavren::platform
