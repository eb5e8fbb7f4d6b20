// The file-name pattern matcher against a plain dynamic-programming matcher
// that follows the documented rules. The input is the pattern, a NUL and
// the name, so a saved input reads as it stands.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
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
            while (n < 4 && i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80)
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

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameCharacter(std::string_view p, std::string_view n) {
    if (p.size() != n.size()) return false;
    if (p.size() == 1) return Fold(p[0]) == Fold(n[0]);
    return p == n;
}

// match[i][j]: the first i pattern characters match the first j name
// characters; one row kept at a time.
bool ReferenceMatch(std::string_view pattern, std::string_view name) {
    const auto p = Characters(pattern);
    const auto n = Characters(name);
    std::vector<char> row(n.size() + 1, 0), next(n.size() + 1, 0);
    row[0] = 1;
    for (const std::string_view pc : p) {
        next.assign(n.size() + 1, 0);
        if (pc == "*") {
            next[0] = row[0];
            for (std::size_t j = 1; j <= n.size(); ++j) next[j] = row[j] || next[j - 1];
        } else {
            for (std::size_t j = 1; j <= n.size(); ++j) {
                next[j] = row[j - 1] && (pc == "?" || SameCharacter(pc, n[j - 1]));
            }
        }
        row.swap(next);
    }
    return row[n.size()] != 0;
}

bool ReferenceWildcard(std::string_view pattern, std::string_view name) {
    if (pattern == "*" || pattern == "*.*") return true;
    if (ReferenceMatch(pattern, name)) return true;
    return pattern.ends_with(".*") && ReferenceMatch(pattern.substr(0, pattern.size() - 2), name);
}

std::string SwapAsciiCase(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s) c = Fold(c);
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
    if (!platform::HasWildcards(pattern)) {
        FUZZ_REQUIRE(matches == (Upper(pattern) == Upper(name)));
    }
    // A name always matches itself as a pattern.
    if (!platform::HasWildcards(name)) FUZZ_REQUIRE(platform::MatchWildcard(name, name));
    return 0;
}
