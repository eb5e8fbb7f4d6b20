// Inputs on which a fuzz target once found a fault, kept as they were saved
// under data/fuzz/<target>/ and checked here for the right behaviour. The
// same folders are given to the fuzz targets as seeds.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/wildcard.h"
#include "support/temp_dir.h"

namespace tavren {
namespace {

std::string FuzzInput(const char* target, const char* name) {
    return test::ReadBytes(std::filesystem::path(TAVREN_TEST_DATA) / "fuzz" / target / name);
}

// A wildcard target input: the pattern, a NUL, the name.
struct PatternAndName {
    std::string pattern;
    std::string name;
};

PatternAndName SplitWildcardInput(const std::string& input) {
    const std::size_t nul = input.find('\0');
    if (nul == std::string::npos) return {input, ""};
    return {input.substr(0, nul), input.substr(nul + 1)};
}

// 0xFF starts no UTF-8 sequence, yet the matcher once took it as the lead
// of a three-byte character and swallowed the two continuation bytes after
// it: "?" matched three bytes that are three characters.
TEST(FuzzRegressions, WildcardCountsBytesThatFormNoUtf8AsOneCharacterEach) {
    const auto [pattern, name] =
        SplitWildcardInput(FuzzInput("wildcard", "byte-ff-before-continuations"));
    ASSERT_EQ(pattern, "?");
    ASSERT_EQ(name, "\xFF\xAF\xAF");
    EXPECT_FALSE(platform::MatchWildcard(pattern, name));
    EXPECT_TRUE(platform::MatchWildcard("???", name));
    EXPECT_TRUE(platform::MatchWildcard("\xFF*", name));

    // The same for the other byte runs that look like a sequence but are
    // not UTF-8: overlong forms, surrogates, values past U+10FFFF.
    for (const std::string bad : {"\xF8\x80\x80", "\xE0\x80\xAF", "\xED\xA0\x80",
                                  "\xF4\x90\x80\x80", "\xF0\x80\x80\x80"}) {
        EXPECT_FALSE(platform::MatchWildcard("?", bad)) << testing::PrintToString(bad);
        EXPECT_TRUE(platform::MatchWildcard(std::string(bad.size(), '?'), bad))
            << testing::PrintToString(bad);
    }
    // Well-formed sequences at the edges of those ranges stay one character.
    for (const std::string good : {"\xE0\xA0\x80", "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF",
                                   "\xF0\x90\x80\x80", "\xC2\x80"}) {
        EXPECT_TRUE(platform::MatchWildcard("?", good)) << testing::PrintToString(good);
    }
}

}  // namespace
}  // namespace tavren
