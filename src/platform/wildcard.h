#pragma once

#include <string_view>

namespace tavren::platform {

// File-name matching with the rules of a Windows folder listing, so that a
// pattern selects the same files on every platform: `*` matches any run of
// characters, `?` exactly one, `*` and `*.*` match every name, a trailing
// `.*` may also match nothing (so `abc*.*` matches `abc`, `abcdef` and
// `abc.txt`), and a single trailing `.` means "no extension" (`*.` matches
// `noext` but not `a.txt`; `noext.` matches `noext`). Letters match either
// case, folded through Windows' upper-case table: full-width, accented,
// Greek and Cyrillic letters too, not only ASCII. Both strings are UTF-8;
// bytes that do not form UTF-8 count as one character each.
bool MatchWildcard(std::string_view pattern, std::string_view name);

// Several patterns separated by ';' ("*.csv; *.txt"): true when any of them
// matches, blanks around each ignored. Without a ';' it is MatchWildcard.
bool MatchPatternList(std::string_view patterns, std::string_view name);

// True when `pattern` contains `*` or `?`.
bool HasWildcards(std::string_view pattern);

}  // namespace tavren::platform
