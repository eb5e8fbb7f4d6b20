#include "platform/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavren::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

struct Case {
    const char* line;
    std::vector<std::string> words;
};

void ExpectSplits(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_THAT(SplitCommandLine(c.line), ElementsAreArray(c.words)) << "line: " << c.line;
    }
}

TEST(CommandLine, BlanksSeparateWords) {
    ExpectSplits({
        {"prog", {"prog"}},
        {"prog a b", {"prog", "a", "b"}},
        {"  prog \t a\t\tb  ", {"prog", "a", "b"}},
        {"prog\ta", {"prog", "a"}},
        {"prog a\nb", {"prog", "a\nb"}},  // only space and tab separate
    });
    EXPECT_THAT(SplitCommandLine(""), IsEmpty());
    EXPECT_THAT(SplitCommandLine(" \t "), IsEmpty());
}

// The program word: quotes group and vanish, backslashes never escape.
TEST(CommandLine, ProgramWordKeepsBackslashes) {
    ExpectSplits({
        {R"("C:\Program Files\x.exe")", {R"(C:\Program Files\x.exe)"}},
        {R"("C:\Program Files\x.exe" -v "a b")", {R"(C:\Program Files\x.exe)", "-v", "a b"}},
        {R"(C:\tools\run.exe arg)", {R"(C:\tools\run.exe)", "arg"}},
        {R"("C:\dir\\" next)", {R"(C:\dir\\)", "next"}},
        {R"(C:\a\"b c" d)", {R"(C:\a\b c)", "d"}},
        {R"(/usr/bin/"my tool" x)", {"/usr/bin/my tool", "x"}},
        {R"("unclosed program)", {"unclosed program"}},
        {R"("" a)", {"", "a"}},
    });
}

// The argument rules, including the runtime's own examples.
TEST(CommandLine, ArgumentsFollowBackslashQuoteRules) {
    ExpectSplits({
        {R"(p "abc" d e)", {"p", "abc", "d", "e"}},
        {R"(p a\\b d"e f"g h)", {"p", R"(a\\b)", "de fg", "h"}},
        {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
        {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
        {R"(p a"b"" c d)", {"p", R"(ab" c d)"}},
        {R"(p \"quoted\")", {"p", R"("quoted")"}},
        {R"(p "a \"b\" c")", {"p", R"(a "b" c)"}},
        {R"(p C:\dir\ x)", {"p", R"(C:\dir\)", "x"}},
        {R"(p "C:\dir\\" x)", {"p", R"(C:\dir\)", "x"}},
        {R"(p "C:\dir\" x)", {"p", R"(C:\dir" x)"}},
        {R"(p "open ended)", {"p", "open ended"}},
        {R"(p trailing\)", {"p", R"(trailing\)"}},
    });
}

TEST(CommandLine, EmptyQuotesMakeEmptyWords) {
    ExpectSplits({
        {R"(p "" x)", {"p", "", "x"}},
        {R"(p "")", {"p", ""}},
        {R"(p """")", {"p", R"(")"}},
        {R"(p a"" b)", {"p", "a", "b"}},
        {R"(p """a b""")", {"p", R"("a b")"}},
    });
}

TEST(CommandLine, PassesUtf8Unchanged) {
    // "表" is 0x95 0x5C in CP932; in UTF-8 no byte can look like a backslash.
    ExpectSplits({
        {"/opt/表示/ツール \"日本語 ファイル.txt\" 報告",
         {"/opt/表示/ツール", "日本語 ファイル.txt", "報告"}},
        {"\"C:\\表示\\プログラム.exe\" 表\\\"", {"C:\\表示\\プログラム.exe", "表\""}},
    });
}

TEST(CommandLine, ShellCharactersAreOrdinary) {
    EXPECT_THAT(
        SplitCommandLine("/bin/echo $(touch x); rm -rf `y` | z > w &"),
        ElementsAre("/bin/echo", "$(touch", "x);", "rm", "-rf", "`y`", "|", "z", ">", "w", "&"));
    EXPECT_THAT(SplitCommandLine("prog 'single quotes' *.txt"),
                ElementsAre("prog", "'single", "quotes'", "*.txt"));
}

}  // namespace
}  // namespace tavren::platform
