#include "platform/wildcard.h"

#include <gtest/gtest.h>

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

TEST(Wildcard, TrailingDotMeansNoExtension) {
    const Case cases[] = {
        {"*.", "noext", true},     {"*.", "a.txt", false},
        {"*.", ".profile", false}, {"noext.", "noext", true},
        {"noext.", "NOEXT", true}, {"noext.", "noext.txt", false},
        {"abc*.", "abcdef", true}, {"abc*.", "abc.def", false},
        {"a*b.", "a.b", true},  // only a star right before the dot stops at it
        {"v1.2.", "v1.2", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.matches)
            << "pattern '" << c.pattern << "' name '" << c.name << "'";
    }
}

// Windows folds every letter of its upper-case table, whatever the length
// of its UTF-8 form, and nothing else: no accents are dropped, and letters
// whose capital lowers to another letter keep their case.
TEST(Wildcard, FoldsTheLettersWindowsFolds) {
    const Case cases[] = {
        {"ａｂｃ*.*", "ＡＢＣ資料.txt", true},  // full-width
        {"ä.txt", "Ä.TXT", true},
        {"ÿ", "Ÿ", true},       // U+00FF and U+0178, far apart
        {"Ā", "ā", true},       // a run of every other code point
        {"Ā", "ă", false},      // ... and its neighbour
        {"ɐ?", "Ɐx", true},     // two UTF-8 bytes and three
        {"σ*", "ΣΟΦΙΑ", true},  // Greek
        {"Ж*", "жук", true},    // Cyrillic
        {"ⅳ", "Ⅳ", true},       // Roman numerals
        {"ⓐ", "Ⓐ", true},       // circled letters
        {"ä", "a", false},
        {"ı", "I", false},     // dotless i
        {"ſ", "S", false},     // long s
        {"\xFF", "ÿ", false},  // a stray byte is not U+00FF
        {"?.txt", "\xFF.txt", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchWildcard(c.pattern, c.name), c.matches)
            << "pattern '" << c.pattern << "' name '" << c.name << "'";
    }
}

// Any of several patterns separated by ';', blanks around each ignored;
// without a ';' blanks stay part of the one pattern.
TEST(Wildcard, PatternListMatchesAnyOfItsParts) {
    const Case cases[] = {{"*.csv;*.txt", "a.TXT", true},      {"*.csv;*.txt", "a.log", false},
                          {" *.csv ;\t*.txt ", "a.csv", true}, {";", "a", false},
                          {" *.txt", "a.txt", false},          {"abc*.*;*.", "noext", true}};
    for (const Case& c : cases)
        EXPECT_EQ(MatchPatternList(c.pattern, c.name), c.matches) << c.pattern;
}

}  // namespace
}  // namespace tavren::platform
