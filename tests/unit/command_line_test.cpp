#include "platform/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
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

struct ProgramCase {
    const char* line;
    std::set<std::string> files;     // what names an existing regular file
    std::vector<std::string> words;  // the program, then its arguments
    std::vector<std::string> tried;  // the names asked about, in turn
};

void ExpectProgramLines(const std::vector<ProgramCase>& cases) {
    for (const ProgramCase& c : cases) {
        std::vector<std::string> tried;
        const auto isFile = [&](const std::string& name) {
            tried.push_back(name);
            return c.files.count(name) != 0;
        };
        EXPECT_THAT(SplitProgramLine(c.line, isFile), ElementsAreArray(c.words))
            << "line: " << c.line;
        EXPECT_THAT(tried, ElementsAreArray(c.tried)) << "line: " << c.line;
    }
}

// An unquoted path with spaces is found as CreateProcess finds it: at the
// end of each word in turn, shortest first.
TEST(ProgramLine, UnquotedPathWithSpacesIsTriedAtEachSpace) {
    const std::string run = "/opt/My Tools/run";
    ExpectProgramLines({
        {"/opt/My Tools/run -x", {run}, {run, "-x"}, {"/opt/My", run}},
        {"/opt/My Tools/run", {run}, {run}, {"/opt/My", run}},
        {"  /opt/My Tools/run  -x  ", {run}, {run, "-x"}, {"/opt/My", run}},
        // The shortest that names a file wins, as on Windows.
        {"/opt/My Tools/run -x", {"/opt/My", run}, {"/opt/My", "Tools/run", "-x"}, {"/opt/My"}},
        // Blanks inside the program stay as they are, tabs included.
        {"/opt/A  B\tC/run x",
         {"/opt/A  B\tC/run"},
         {"/opt/A  B\tC/run", "x"},
         {"/opt/A", "/opt/A  B", "/opt/A  B\tC/run"}},
        // The whole line, a document with spaces in its name.
        {"/home/u/My Report 2024.pdf",
         {"/home/u/My Report 2024.pdf"},
         {"/home/u/My Report 2024.pdf"},
         {"/home/u/My", "/home/u/My Report", "/home/u/My Report 2024.pdf"}},
    });
}

TEST(ProgramLine, ArgumentsAfterTheProgramFollowTheRuntimeRules) {
    const std::string run = "/opt/My Tools/run";
    ExpectProgramLines({
        {R"(/opt/My Tools/run "a b" c\"d e\\\"f)",
         {run},
         {run, "a b", R"(c"d)", R"(e\"f)"},
         {"/opt/My", run}},
        {R"(/opt/My Tools/run "" x)", {run}, {run, "", "x"}, {"/opt/My", run}},
    });
}

// Nothing names a file: the first word is the program, as before, so the
// failure to start it is the same.
TEST(ProgramLine, WithoutAFileTheFirstWordIsTheProgram) {
    ExpectProgramLines({
        {"/opt/My Tools/run -x",
         {},
         {"/opt/My", "Tools/run", "-x"},
         {"/opt/My", "/opt/My Tools/run", "/opt/My Tools/run -x"}},
        // A cut never reaches past a quote: Windows names cannot hold one.
        {R"(/opt/My Tools/run "a b")",
         {R"(/opt/My Tools/run "a)"},
         {"/opt/My", "Tools/run", "a b"},
         {"/opt/My", "/opt/My Tools/run"}},
        {"/no/such", {}, {"/no/such"}, {"/no/such"}},
    });
}

TEST(ProgramLine, QuotedOrBareProgramsAreNotSearched) {
    ExpectProgramLines({
        // A quote in the first word: it is the program.
        {R"("/opt/My Tools/run" -x)", {"/opt/My"}, {"/opt/My Tools/run", "-x"}, {}},
        {R"(/opt/"My Tools"/run -x)", {"/opt/My"}, {"/opt/My Tools/run", "-x"}, {}},
        // A bare name is looked up in PATH by the launcher; the folder we
        // run in has no say.
        {"my tool -x", {"my tool"}, {"my", "tool", "-x"}, {}},
        {R"(sh -c "exit 3")", {"sh"}, {"sh", "-c", "exit 3"}, {}},
    });
    std::vector<std::string> tried;
    const auto isFile = [&](const std::string& name) {
        tried.push_back(name);
        return true;
    };
    EXPECT_THAT(SplitProgramLine("", isFile), IsEmpty());
    EXPECT_THAT(SplitProgramLine(" \t ", isFile), IsEmpty());
    EXPECT_THAT(tried, IsEmpty());
}

// A placeholder's value stays within the word it stands in, whatever the
// name holds: split before it is put in (Linux), or quoted for the reading
// of SplitCommandLine (Windows). Lines without valid placeholders run as
// they stand, on Windows byte for byte.
TEST(Placeholders, ValuesStayWithinTheirWord) {
    const struct {
        const char* line;
        std::string name;
        std::vector<std::string> words;
    } cases[] = {
        {"run --in={file} {name}", "a b.txt", {"run", "--in=/in/a b.txt", "a b.txt"}},
        {"run {name}", R"(q"u'o;$HOME.txt)", {"run", R"(q"u'o;$HOME.txt)"}},
        {"run {name}", "-n\nx", {"run", "-n\nx"}},
        {"run {name}", "\xFF\xFE.txt", {"run", "\xFF\xFE.txt"}},
        {R"(run "{name}" x)", R"(dir\)", {"run", R"(dir\)", "x"}},
        {"run {name}", R"(a\"b\\)", {"run", R"(a\"b\\)"}},
        {"run {{lit}} x{{ }}", "n", {"run", "{lit}", "x{", "}"}},
        {"{folder}/bin/run {name}", "a b", {"/in/bin/run", "a b"}},
        {R"(run "a  b"  {nope} {file})", "n", {"run", "a  b", "{nope}", "{file}"}},
        {R"(run "a  \"b"  c)", "n", {"run", R"(a  "b)", "c"}},
    };
    const auto noFile = [](const std::string&) { return false; };
    for (const auto& c : cases) {
        const PlaceholderValues values{"/in/" + c.name, c.name, "/in"};
        EXPECT_THAT(SplitProgramLine(c.line, noFile, values), ElementsAreArray(c.words)) << c.line;
        const std::string windowsLine = ExpandQuotedLine(c.line, values);
        EXPECT_THAT(SplitCommandLine(windowsLine), ElementsAreArray(c.words)) << windowsLine;
        if (ScanPlaceholders(c.line) != Placeholders::Valid) {
            EXPECT_EQ(windowsLine, c.line);
        }
    }
    EXPECT_EQ(ScanPlaceholders("run x"), Placeholders::None);
    for (const char* invalid : {"{nope}", "{file", "}", "{file}}", "{ file}"}) {
        EXPECT_EQ(ScanPlaceholders(invalid), Placeholders::Invalid) << invalid;
    }
}

}  // namespace
}  // namespace tavren::platform
