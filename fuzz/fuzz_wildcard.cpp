// The file-name pattern matcher against a plain dynamic-programming matcher
// that follows the documented rules. The input is the pattern, a NUL and
// the name, so a saved input reads as it stands.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/upper_case_table.h"
#include "platform/wildcard.h"

using namespace tavren;

namespace {

// The characters of `s`: well-formed UTF-8 sequences, and every other byte
// on its own.
std::vector<std::string_view> Characters(std::string_view s) {
    std::vector<std::string_view> chars;
    for (std::size_t i = 0; i < s.size();) {
        // A lead byte and continuation bytes that together are valid UTF-8
        // form exactly one character.
        std::size_t len = 1;
        if (static_cast<unsigned char>(s[i]) >= 0x80) {
            std::size_t n = 1;
            while (n < 4 && i + n < s.size() &&
                   (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80)
                ++n;
            for (; n >= 2; --n) {
                if (fuzz::IsValidUtf8(s.substr(i, n))) {
                    len = n;
                    break;
                }
            }
        }
        chars.push_back(s.substr(i, len));
        i += len;
    }
    return chars;
}

char Fold(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// A character as its capital through the upper-case table, searched from
// end to end; a stray byte as itself, apart from every code point.
char32_t FoldCharacter(std::string_view c) {
    const auto lead = static_cast<unsigned char>(c[0]);
    if (c.size() == 1) return lead < 0x80 ? static_cast<char32_t>(Fold(c[0])) : 0x110000 + lead;
    char32_t cp = lead & (0xFF >> (c.size() + 1));
    for (std::size_t k = 1; k < c.size(); ++k) cp = (cp << 6) | (c[k] & 0x3F);
    for (const platform::UpperCaseRun& r : platform::kUpperCaseRuns) {
        if (cp >= r.first && cp <= r.last && (cp - r.first) % r.stride == 0) {
            return static_cast<char32_t>(static_cast<std::int32_t>(cp) + r.delta);
        }
    }
    return cp;
}

bool SameCharacter(std::string_view p, std::string_view n) {
    return FoldCharacter(p) == FoldCharacter(n);
}

std::vector<char32_t> Folded(std::string_view s) {
    std::vector<char32_t> out;
    for (const std::string_view c : Characters(s)) out.push_back(FoldCharacter(c));
    return out;
}

// match[i][j]: the first i pattern characters match the first j name
// characters; one row kept at a time. With `lastStarSkipsDots`, the last
// star of the pattern matches no '.'.
bool ReferenceMatch(std::string_view pattern, std::string_view name,
                    bool lastStarSkipsDots = false) {
    const auto p = Characters(pattern);
    const auto n = Characters(name);
    std::vector<char> row(n.size() + 1, 0), next(n.size() + 1, 0);
    row[0] = 1;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const std::string_view pc = p[i];
        next.assign(n.size() + 1, 0);
        if (pc == "*") {
            const bool skipsDots = lastStarSkipsDots && i + 1 == p.size();
            next[0] = row[0];
            for (std::size_t j = 1; j <= n.size(); ++j) {
                next[j] = row[j] || (next[j - 1] && !(skipsDots && n[j - 1] == "."));
            }
        } else {
            for (std::size_t j = 1; j <= n.size(); ++j) {
                next[j] = row[j - 1] && (pc == "?" || SameCharacter(pc, n[j - 1]));
            }
        }
        row.swap(next);
    }
    return row[n.size()] != 0;
}

bool EndsInSingleDot(std::string_view s) {
    return s.ends_with('.') && !s.ends_with("..");
}

bool ReferenceWildcard(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") return true;
    // No extension: the dot is the end of the name, and a star before it
    // stops at the name's dots.
    if (EndsInSingleDot(pattern)) {
        return ReferenceMatch(pattern.substr(0, pattern.size() - 1), name, true);
    }
    if (ReferenceMatch(pattern, name)) return true;
    return pattern.ends_with(".*") && ReferenceMatch(pattern.substr(0, pattern.size() - 2), name);
}

std::string SwapAsciiCase(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input = fuzz::AsText(data, size);
    const std::size_t nul = std::min(input.find('\0'), input.size());
    const std::string pattern(input.substr(0, nul));
    const std::string name(input.substr(std::min(nul + 1, input.size())));

    const bool matches = platform::MatchWildcard(pattern, name);
    if (matches != ReferenceWildcard(pattern, name)) {
        fuzz::PrintEscaped("pattern", pattern);
        fuzz::PrintEscaped("name", name);
    }
    FUZZ_REQUIRE(matches == ReferenceWildcard(pattern, name));
    FUZZ_REQUIRE(platform::MatchWildcard(SwapAsciiCase(pattern), name) == matches);
    FUZZ_REQUIRE(platform::MatchWildcard(pattern, SwapAsciiCase(name)) == matches);
    if (!platform::HasWildcards(pattern) && !EndsInSingleDot(pattern)) {
        FUZZ_REQUIRE(matches == (Folded(pattern) == Folded(name)));
    }
    // A name always matches itself as a pattern (a name never ends in '.').
    if (!platform::HasWildcards(name) && !EndsInSingleDot(name)) {
        FUZZ_REQUIRE(platform::MatchWildcard(name, name));
    }
    return 0;
}
