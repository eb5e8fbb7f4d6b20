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

// A program line may name the file it runs for: `{file}` (its full path),
// `{name}` (its bare name) and `{folder}` (the watched folder) are replaced,
// and `{{` and `}}` stand for single braces. None: the line has no brace
// and runs as it is; Invalid: some brace is none of these, and the line
// runs as it is too (a line stored before placeholders existed).
enum class Placeholders { None, Valid, Invalid };
Placeholders ScanPlaceholders(std::string_view commandLine);

struct PlaceholderValues {
    std::string file;
    std::string name;
    std::string folder;
};

// `text` (Valid or None by ScanPlaceholders) with its placeholders replaced.
std::string ExpandPlaceholders(std::string_view text, const PlaceholderValues& values);

// SplitProgramLine's words with the placeholders of a Valid line replaced
// in each: split first, so that a value never splits or unquotes a word;
// `isFile` is asked of the cuts with their placeholders replaced. Any other
// line is split as it is.
std::vector<std::string> SplitProgramLine(std::string_view commandLine,
                                          const std::function<bool(const std::string&)>& isFile,
                                          const PlaceholderValues& values);

// `argument` quoted so that SplitCommandLine (and CommandLineToArgvW, and
// the C runtime) reads it back as one word, whatever it holds.
std::string QuoteArgument(std::string_view argument);

// The command line to start for a stored line, on Windows: for a Valid line, each word that holds a
// placeholder is read as SplitCommandLine reads it, expanded and quoted
// again by QuoteArgument (the program word within plain quotes), and the
// rest of the line stays as it is; any other line comes back as it is.
std::string ExpandQuotedLine(std::string_view commandLine, const PlaceholderValues& values);

}  // namespace tavren::platform
