#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/env.h"
#include "win_test_util.h"

namespace tavren::platform {
namespace {

// The conversion names code page 932 itself, so the stored bytes do not
// depend on the system's ANSI code page (1252 on an English Windows).
TEST(Cp932OnWindows, ConvertsWhateverTheSystemCodePage) {
    std::string out;
    ASSERT_TRUE(Utf8ToCp932("を実行します。", out));
    EXPECT_EQ(out, "\x82\xF0\x8E\xC0\x8D\x73\x82\xB5\x82\xDC\x82\xB7\x81\x42");
    std::string back;
    ASSERT_TRUE(Cp932ToUtf8(out, back));
    EXPECT_EQ(back, "を実行します。");
    // Text outside both the system's code page and CP932's ASCII part.
    ASSERT_TRUE(Utf8ToCp932("ｱｲｳ①", out));
    EXPECT_EQ(out, "\xB1\xB2\xB3\x87\x40");
}

TEST(Cp932OnWindows, LookAlikesOnlyWhenAllowed) {
    std::string out;
    EXPECT_FALSE(Utf8ToCp932("月〜金", out));  // U+301C WAVE DASH
    ASSERT_TRUE(Utf8ToCp932("月〜金", out, true));
    EXPECT_EQ(out, "\x8C\x8E\x81\x60\x8B\xE0");
    EXPECT_FALSE(Utf8ToCp932("¥100", out));
    ASSERT_TRUE(Utf8ToCp932("¥100", out, true));
    EXPECT_EQ(out, "\\100");
    // The full-width tilde has a form of its own.
    ASSERT_TRUE(Utf8ToCp932("月～金", out));
    EXPECT_EQ(out, "\x8C\x8E\x81\x60\x8B\xE0");
}

TEST(Cp932OnWindows, RefusesWhatCp932Lacks) {
    std::string out;
    EXPECT_FALSE(Utf8ToCp932("😀", out));
    EXPECT_FALSE(Utf8ToCp932("\xC2\x80", out));  // U+0080: Windows alone would take it
    EXPECT_FALSE(Utf8ToCp932("bad\xFF", out));
    EXPECT_FALSE(Cp932ToUtf8("\x80", out));
    EXPECT_FALSE(Cp932ToUtf8("\x82", out));     // a lead byte without its trail
    ASSERT_TRUE(Cp932ToUtf8("\x83\x80", out));  // 80 is a valid trail byte
    EXPECT_EQ(out, "ム");
}

// The command line's language: the locale variables first; without them,
// the user's Windows: Japanese on the test system of code page 932, English
// on that of 1252.
TEST(UserLanguage, FollowsTheLocaleVariablesElseTheUsersWindows) {
    const struct {
        const wchar_t* lcAll;
        bool japanese;
    } cases[] = {{L"ja_JP.UTF-8", true}, {L"C.UTF-8", false}, {nullptr, ::GetACP() == 932}};
    for (const auto& c : cases) {
        ::SetEnvironmentVariableW(L"LC_ALL", c.lcAll);
        ::SetEnvironmentVariableW(L"LC_MESSAGES", nullptr);
        ::SetEnvironmentVariableW(L"LANG", nullptr);
        EXPECT_EQ(platform::UserLanguageIsJapanese(), c.japanese) << (c.lcAll ? "set" : "unset");
    }
}

}  // namespace
}  // namespace tavren::platform
