#include "store/cp932.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tavren::store {
namespace {

struct Pair {
    std::string utf8;
    std::string cp932;
};

TEST(Cp932, ConvertsBothWays) {
    const Pair pairs[] = {
        {"", ""},
        {"report.txt", "report.txt"},
        {"を実行します。", "\x82\xF0\x8E\xC0\x8D\x73\x82\xB5\x82\xDC\x82\xB7\x81\x42"},
        {"ｱｲｳ", "\xB1\xB2\xB3"},                 // half-width katakana: one byte each
        {"売上表", "\x94\x84\x8F\xE3\x95\x5C"},  // 表 ends in 0x5C, a backslash byte
        {"①ⅰ", "\x87\x40\xFA\x40"},              // NEC and IBM extensions
        {"～", "\x81\x60"},
        {"C:\\a~b", "C:\\a~b"},
    };
    for (const Pair& p : pairs) {
        EXPECT_EQ(ToCp932(p.utf8), p.cp932) << p.utf8;
        EXPECT_EQ(FromCp932(p.cp932), p.utf8) << p.utf8;
        EXPECT_EQ(Cp932Length(p.utf8), p.cp932.size()) << p.utf8;
    }
}

// Text that cannot be stored must be refused, not stored as something else:
// a path that reads back differently names another file.
TEST(Cp932, RefusesTextWithoutAFaithfulForm) {
    const char* texts[] = {
        "\xF0\x9F\x98\x80.txt",  // emoji
        "한국어",
        "a€",
        "bad\xFFutf8",
        "月〜金",  // U+301C WAVE DASH would come back as U+FF5E
        "¥100",    // U+00A5 would come back as a backslash
        "a‖b",     // U+2016 would come back as U+2225
        "−1",      // U+2212 would come back as U+FF0D
    };
    for (const char* t : texts) {
        EXPECT_EQ(ToCp932(t), std::nullopt) << t;
        EXPECT_EQ(Cp932Length(t), std::nullopt) << t;
    }
}

// Stored text is taken as it comes: each bad byte becomes U+FFFD and the
// characters around it survive.
TEST(Cp932, DecodesDamagedTextByteByByte) {
    const std::string bad = "\xEF\xBF\xBD";  // U+FFFD
    const Pair cases[] = {
        {"A" + bad, "A\x82"},          // lead byte cut off at the end
        {bad + " B", "\x82 B"},        // lead byte before a non-trail byte
        {bad + "あ", "\xFF\x82\xA0"},  // byte that is never valid
        {"x" + bad + "y" + bad + "z", "x\x80y\xA0z"},
        {"を" + bad + "を", "\x82\xF0\xFD\x82\xF0"},
    };
    for (const Pair& c : cases) EXPECT_EQ(FromCp932(c.cp932), c.utf8);
}

TEST(Cp932, FitLengthNeverSplitsACharacter) {
    struct Case {
        std::string cp932;
        std::size_t max;
        std::size_t fit;
    };
    const Case cases[] = {
        {"abc", 10, 3},
        {"abc", 2, 2},
        {"", 5, 0},
        {"\x82\xA0\x82\xA2", 3, 2},  // あい
        {"\x82\xA0\x82\xA2", 4, 4},
        {"\x82\xA0", 1, 0},
        {"a\x82\xA0", 2, 1},
        {"\x95\x5Cz", 2, 2},     // 表: the trail byte 0x5C is not a character
        {"\xB1\x82\xA0", 2, 1},  // a half-width kana is one byte
        {"a\x82", 2, 2},         // a stray lead byte at the end counts alone
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Cp932FitLength(c.cp932, c.max), c.fit) << c.max;
    }
}

TEST(Cp932, StoreFieldBoundsTextAndKeepsTheTail) {
    struct Case {
        std::string cp932;
        std::size_t width;
        std::string stored;
        bool whole;
    };
    const Case cases[] = {
        {"abc", 8, "abc", true},
        {"abcdefg", 8, "abcdefg", true},
        {"abcdefgh", 8, "abcdefg", false},
        {"\x82\xA0\x82\xA2\x82\xA4", 7, "\x82\xA0\x82\xA2\x82\xA4", true},
        {"a\x82\xA0\x82\xA2\x82\xA4", 7, "a\x82\xA0\x82\xA2", false},
        {"", 4, "", true},
    };
    for (const Case& c : cases) {
        char field[16];
        std::memset(field, 'X', sizeof field);
        EXPECT_EQ(StoreField(field, c.width, c.cp932), c.whole) << c.cp932;
        EXPECT_EQ(FieldText(field, c.width), c.stored) << c.cp932;
        // Everything after the terminator is left as it was.
        for (std::size_t i = c.stored.size() + 1; i < sizeof field; ++i) {
            EXPECT_EQ(field[i], 'X') << c.cp932 << " byte " << i;
        }
    }
}

TEST(Cp932, FieldTextStopsAtTheFirstNulOrTheFieldEnd) {
    const char full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(FieldText(full, 4), "abcd");
    const char tail[6] = {'a', '\0', 'o', 'l', 'd', '\0'};
    EXPECT_EQ(FieldText(tail, 6), "a");
    EXPECT_EQ(FieldText(tail, 0), "");
}

}  // namespace
}  // namespace tavren::store
