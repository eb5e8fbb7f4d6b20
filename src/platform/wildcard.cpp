#include "platform/wildcard.h"

#include <cstddef>
#include <cstdint>

namespace tavren::platform {
namespace {

// Length in bytes of the character starting at s[i]: a well-formed UTF-8
// sequence, or a single byte for anything else. The range of the second
// byte rules out overlong forms, surrogates and values past U+10FFFF, and
// 0xF5..0xFF never start a sequence.
std::size_t CharLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = byte(0);
    std::size_t len = 1;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    }
    if (len == 1 || i + len > s.size()) return 1;
    if (byte(1) < lo || byte(1) > hi) return 1;
    for (std::size_t k = 2; k < len; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 1;
    }
    return len;
}

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameChar(std::string_view p, std::size_t pi, std::size_t plen, std::string_view n,
              std::size_t ni, std::size_t nlen) {
    if (plen != nlen) return false;
    if (plen == 1) return FoldAscii(p[pi]) == FoldAscii(n[ni]);
    return p.substr(pi, plen) == n.substr(ni, nlen);
}

// Plain `*`/`?` matching; on a mismatch it backtracks to the most recent
// star only, which is enough because an earlier star can never do better.
bool MatchPlain(std::string_view p, std::string_view n) {
    std::size_t pi = 0, ni = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (ni < n.size()) {
        const std::size_t nlen = CharLength(n, ni);
        if (pi < p.size() && p[pi] == '*') {
            starP = ++pi;
            starN = ni;
            continue;
        }
        if (pi < p.size()) {
            const std::size_t plen = CharLength(p, pi);
            if ((p[pi] == '?' && plen == 1) || SameChar(p, pi, plen, n, ni, nlen)) {
                pi += plen;
                ni += nlen;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        pi = starP;
        starN += CharLength(n, starN);
        ni = starN;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace

bool HasWildcards(std::string_view pattern) {
    return pattern.find_first_of("*?") != std::string_view::npos;
}

bool MatchWildcard(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") return true;
    if (MatchPlain(pattern, name)) return true;
    // A trailing ".*" may match nothing at all, as in a Windows listing.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
        return MatchPlain(pattern.substr(0, pattern.size() - 2), name);
    }
    return false;
}

}  // namespace tavren::platform
