#include "platform/wildcard.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "platform/upper_case_table.h"
#include "platform/utf8.h"

namespace tavren::platform {
namespace {

// The character of `len` bytes at s[i] as a number to compare: its code
// point, or for a byte that forms no UTF-8 a value past every code point,
// so that it equals only the same stray byte.
char32_t CharValue(std::string_view s, std::size_t i, std::size_t len) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (len == 1) return lead < 0x80 ? lead : 0x110000 + lead;
    char32_t cp = lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    return cp;
}

// The capital of a letter through the upper-case table, as Windows
// compares names; anything else as it is.
char32_t Fold(char32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
    if (c > 0xFFFF) return c;
    // The last run that starts at or before c.
    const auto run =
        std::upper_bound(std::begin(kUpperCaseRuns), std::end(kUpperCaseRuns), c,
                         [](char32_t v, const UpperCaseRun& r) { return v < r.first; });
    if (run == std::begin(kUpperCaseRuns)) return c;
    const UpperCaseRun& r = *std::prev(run);
    if (c > r.last || (c - r.first) % r.stride != 0) return c;
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + r.delta);
}

bool SameChar(std::string_view p, std::size_t pi, std::size_t plen, std::string_view n,
              std::size_t ni, std::size_t nlen) {
    return Fold(CharValue(p, pi, plen)) == Fold(CharValue(n, ni, nlen));
}

// Plain `*`/`?` matching; on a mismatch it backtracks to the most recent
// star only, which is enough because an earlier star can never do better.
bool MatchPlain(std::string_view p, std::string_view n) {
    std::size_t pi = 0, ni = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (ni < n.size()) {
        const std::size_t nlen = Utf8CharLength(n, ni);
        if (pi < p.size() && p[pi] == '*') {
            starP = ++pi;
            starN = ni;
            continue;
        }
        if (pi < p.size()) {
            const std::size_t plen = Utf8CharLength(p, pi);
            if ((p[pi] == '?' && plen == 1) || SameChar(p, pi, plen, n, ni, nlen)) {
                pi += plen;
                ni += nlen;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        pi = starP;
        starN += Utf8CharLength(n, starN);
        ni = starN;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

// A pattern ending in a single '.' selects names without an extension:
// the dot stands for the end of the name, and a star just before it stops
// at the name's last dot, so `*.` and `abc*.` match only names without one.
bool MatchNoExtension(std::string_view stem, std::string_view name) {
    if (stem.empty() || stem.back() != '*') return MatchPlain(stem, name);
    const std::string_view head = stem.substr(0, stem.size() - 1);
    // The star takes a tail of the name after its last dot ('.' is never
    // part of a longer character, so the tail starts on a character).
    const std::size_t dot = name.rfind('.');
    for (std::size_t cut = dot == std::string_view::npos ? 0 : dot + 1;;
         cut += Utf8CharLength(name, cut)) {
        if (MatchPlain(head, name.substr(0, cut))) return true;
        if (cut == name.size()) return false;
    }
}

}  // namespace

bool HasWildcards(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

bool MatchWildcard(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") return true;
    if (pattern.ends_with('.') && !pattern.ends_with("..")) {
        return MatchNoExtension(pattern.substr(0, pattern.size() - 1), name);
    }
    if (MatchPlain(pattern, name)) return true;
    // A trailing ".*" may match nothing at all, as in a Windows listing.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
        return MatchPlain(pattern.substr(0, pattern.size() - 2), name);
    }
    return false;
}

bool MatchPatternList(std::string_view patterns, std::string_view name) {
    if (patterns.find(';') == std::string_view::npos) return MatchWildcard(patterns, name);
    for (std::size_t start = 0; start <= patterns.size();) {
        const std::size_t end = std::min(patterns.find(';', start), patterns.size());
        std::string_view one = patterns.substr(start, end - start);
        one.remove_prefix(std::min(one.find_first_not_of(" \t"), one.size()));
        one.remove_suffix(one.size() - std::min(one.find_last_not_of(" \t") + 1, one.size()));
        if (!one.empty() && MatchWildcard(one, name)) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace tavren::platform
