#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/wildcard.h"
#include "store/snapshot.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::platform {
namespace {

using test::TempDir;
using test::U8;

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

// True when FindFirstFileW with `pattern` finds `name` in `folder`.
bool SystemMatches(const std::filesystem::path& folder, std::string_view pattern) {
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileW((folder / U8(pattern)).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    ::FindClose(find);
    return true;
}

// Our matcher stands in for the system's on every platform, so it must
// agree with the system where the system can be asked. Each case gets a
// folder of its own: several names differ only in case.
TEST(SystemWildcards, AgreeWithOurMatcher) {
    struct Case {
        const char* pattern;
        const char* name;
    };
    const Case cases[] = {
        {"*", "anything.txt"},
        {"*", "noext"},
        {"*.*", "noext"},
        {"*.*", "a.b.c"},
        {"*.txt", "report.txt"},
        {"*.txt", "report.TXT"},
        {"*.txt", "txt"},
        {"abc*.*", "abc"},
        {"abc*.*", "abcdef"},
        {"abc*.*", "abc.txt"},
        {"abc*.*", "ABCdef.log"},
        {"abc*.*", "xabc.txt"},
        {"abc.*", "abc"},
        {"a?c", "abc"},
        {"a?c", "ac"},
        {"a?c", "abbc"},
        {"a?c", "a.c"},
        {"report.txt", "REPORT.TXT"},
        {"report.txt", "report.txt2"},
        {"*a*b*", "xxaYYbzz"},
        {"*a*b", "ab_ab_a"},
        {"?.log", "日.log"},
        {"日本*.txt", "日本語.txt"},
        {"日本*.txt", "日付.txt"},
        {"*.pdf", "請求書.PDF"},
        {"*.txt", "report.txt.bak"},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        test::WriteBytes(tmp.path() / U8(c.name), "x");
        EXPECT_EQ(SystemMatches(tmp.path(), c.pattern), MatchWildcard(c.pattern, c.name))
            << "pattern '" << c.pattern << "' name '" << c.name << "'";
    }
}

TEST(ListFolder, ReportsNamesInUtf8WithSizesAndFolders) {
    TempDir tmp;
    test::WriteBytes(tmp.path() / U8("売上表.csv"), std::string(1234, 'x'));
    test::WriteBytes(tmp.path() / U8("report.txt"), "");
    std::filesystem::create_directory(tmp.path() / U8("old"));

    std::vector<DirEntry> entries;
    ASSERT_FALSE(ListFolder(tmp.path(), entries));
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"old", "report.txt", "売上表.csv"}));
    for (const DirEntry& e : entries) {
        EXPECT_EQ(e.isDirectory, e.name == "old") << e.name;
        if (e.name == "売上表.csv") {
            EXPECT_EQ(e.size, 1234u);
        }
    }
}

TEST(ListFolder, MissingFolderIsAnErrorAndEmptyFolderIsNot) {
    TempDir tmp;
    std::vector<DirEntry> entries{DirEntry{}};
    EXPECT_EQ(ListFolder(tmp / "missing", entries), std::errc::no_such_file_or_directory);
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(ListFolder(tmp.path(), entries));
    EXPECT_TRUE(entries.empty());
}

// The snapshot's example: a file last written on 6 December 2026 at
// 15:04:09 local time is recorded as 20261206 and 150409, through
// FileTimeToLocalFileTime.
TEST(ListFolder, TimesBecomeTheLocalTimeOfTheSnapshot) {
    TempDir tmp;
    test::WriteBytes(tmp / "report.txt", std::string(1234, 'r'));
    test::SetLocalMtime(tmp / "report.txt", 2026, 12, 6, 15, 4, 9);
    std::vector<DirEntry> entries;
    ASSERT_FALSE(ListFolder(tmp.path(), entries));
    ASSERT_EQ(entries.size(), 1u);
    const store::SnapshotItem item = store::DescribeFile(entries[0]);
    EXPECT_EQ(item.size, 1234u);
    EXPECT_EQ(item.date, 20261206);
    EXPECT_EQ(item.time, 150409);
    EXPECT_EQ(item.name, "report.txt");
}

TEST(ReadFile, MissingFileIsNoSuchFileAndFolderIsRefused) {
    TempDir tmp;
    std::string bytes;
    // The settings loader tells "no settings yet" from a real failure by this.
    EXPECT_EQ(ReadFile(tmp / "dirinfo.dat", bytes), std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadFile(tmp.path(), bytes), std::errc::is_a_directory);
}

TEST(WriteFileAtomically, ReplacesTheFileAndLeavesNoTemporaryFile) {
    TempDir tmp;
    const auto file = tmp / "dirinfo.dat";
    ASSERT_FALSE(WriteFileAtomically(file, "first"));
    ASSERT_FALSE(WriteFileAtomically(file, std::string(70000, 'z')));
    EXPECT_EQ(test::ReadBytes(file), std::string(70000, 'z'));
    std::vector<DirEntry> entries;
    ASSERT_FALSE(ListFolder(tmp.path(), entries));
    EXPECT_EQ(Names(entries), std::vector<std::string>{"dirinfo.dat"});

    // A file another program holds open without sharing cannot be replaced;
    // the old content stays and so does nothing else.
    const HANDLE held = ::CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteFileAtomically(file, "third"));
    ::CloseHandle(held);
    EXPECT_EQ(test::ReadBytes(file), std::string(70000, 'z'));
    ASSERT_FALSE(ListFolder(tmp.path(), entries));
    EXPECT_EQ(Names(entries), std::vector<std::string>{"dirinfo.dat"});
}

TEST(RemoveStaleTemporaryFiles, RemovesOnlyOldLeftovers) {
    TempDir tmp;
    test::WriteBytes(tmp / ".dirinfo.dat.tmp.Ab12Cd", "old");
    test::SetLocalMtime(tmp / ".dirinfo.dat.tmp.Ab12Cd", 2020, 1, 1, 12, 0, 0);
    test::WriteBytes(tmp / ".0.dir.tmp.Xy98Zw", "a write under way");
    test::WriteBytes(tmp / "0.dir", "");
    RemoveStaleTemporaryFiles(tmp.path(), 600);
    std::vector<DirEntry> entries;
    ASSERT_FALSE(ListFolder(tmp.path(), entries));
    EXPECT_EQ(Names(entries), (std::vector<std::string>{".0.dir.tmp.Xy98Zw", "0.dir"}));
}

}  // namespace
}  // namespace tavren::platform
