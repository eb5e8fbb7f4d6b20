#pragma once

#include <string_view>

namespace tavren::platform {

// File-name matching with the rules of a Windows folder listing, so that a
// pattern selects the same files on every platform: `*` matches any run of
// characters, `?` exactly one, ASCII letters match either case, `*` and
// `*.*` match every name, and a trailing `.*` may also match nothing (so
// `abc*.*` matches `abc`, `abcdef` and `abc.txt`). Both strings are UTF-8;
// bytes that do not form UTF-8 count as one character each.
bool MatchWildcard(std::string_view pattern, std::string_view name);

// True when `pattern` contains `*` or `?`.
bool HasWildcards(std::string_view pattern);

}  // namespace tavren::platform
