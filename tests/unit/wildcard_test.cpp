#include <gtest/gtest.h>

#include "platform/wildcard.h"

namespace tavren::platform {
namespace {

struct Case {
    const char* pattern;
    const char* name;
    bool matches;
};

// The rules of a Windows folder listing, which stored patterns rely on.
TEST(Wildcard, FollowsWindowsListingRules) {
    const Case cases[] = {
        {"*", "anything.txt", true},
        {"*", "noext", true},
        {"*.*", "noext", true},
        {"*.*", "a.b.c", true},
        {"*.txt", "report.txt", true},
        {"*.txt", "report.TXT", true},
        {"*.txt", "report.txt.bak", false},
        {"*.txt", "txt", false},
        {"abc*.*", "abc", true},
        {"abc*.*", "abcdef", true},
        {"abc*.*", "abc.txt", true},
        {"abc*.*", "ABCdef.log", true},
        {"abc*.*", "xabc.txt", false},
        {"abc.*", "abc", true},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"a?c", "a.c", true},
        {"report.txt", "REPORT.TXT", true},
        {"report.txt", "report.txt2", false},
        {"*a*b*", "xxaYYbzz", true},
        {"*a*b", "ab_ab_a", false},
        {"?.log", "日.log", true},  // ? is one character, not one byte
        {"日本*.txt", "日本語.txt", true},
        {"日本*.txt", "日付.txt", false},
        {"", "a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.matches)
            << "pattern '" << c.pattern << "' name '" << c.name << "'";
    }
}

TEST(Wildcard, NonAsciiLettersAreNotFolded) {
    EXPECT_FALSE(MatchWildcard("ä.txt", "Ä.txt"));
    EXPECT_TRUE(MatchWildcard("?.txt", "\xff.txt"));  // a stray byte is one character
}

}  // namespace
}  // namespace tavren::platform
