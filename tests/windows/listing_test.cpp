#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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

// True under Wine, whose listing is not Windows' in every detail.
bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Our matcher stands in for the system's on every platform, so it must
// agree with the system where the system can be asked. Each case gets a
// folder of its own: several names differ only in case.
TEST(SystemWildcards, AgreeWithOurMatcher) {
    struct Case {
        const char* pattern;
        const char* name;
        bool wineDiffers = false;
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
        {"ａｂｃ*.*", "ＡＢＣ資料.txt"},
        {"ä*", "Ä.TXT"},
        {"Ж*", "жук"},
        {"ı*", "I"},
        {"*.", "noext"},
        // Wine drops the trailing dot and lists every name; Windows lists
        // only names without an extension.
        {"*.", "a.txt", true},
        {"noext.", "noext"},
        {"noext.", "noext.txt"},
    };
    const bool underWine = UnderWine();
    for (const Case& c : cases) {
        if (underWine && c.wineDiffers) continue;
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
    const store::SnapshotItem item = store::DescribeFile(entries[0], *MakeSystemClock());
    EXPECT_EQ(item.size, 1234u);
    EXPECT_EQ(item.date, 20261206);
    EXPECT_EQ(item.time, 150409);
    EXPECT_EQ(item.name, "report.txt");
}

// Ids tell files apart where names cannot: two files differ, and a file
// renamed keeps its id, the same that FileIdentity gives.
TEST(ListFolder, IdsTellFilesApartAndSurviveARename) {
    TempDir tmp;
    test::WriteBytes(tmp / "a.txt", "a");
    test::WriteBytes(tmp / "b.txt", "b");
    auto idsByName = [&] {
        std::vector<DirEntry> entries;
        EXPECT_FALSE(ListFolder(tmp.path(), entries));
        std::map<std::string, FileId> ids;
        for (const DirEntry& e : entries) ids[e.name] = e.id;
        return ids;
    };
    auto before = idsByName();
    ASSERT_EQ(before.size(), 2u);
    EXPECT_TRUE(before["a.txt"].known());
    EXPECT_NE(before["a.txt"], before["b.txt"]);
    EXPECT_EQ(FileIdentity(tmp / "a.txt"), before["a.txt"]);

    std::filesystem::rename(tmp / "a.txt", tmp / "c.txt");
    auto after = idsByName();
    EXPECT_EQ(after["c.txt"], before["a.txt"]);
    EXPECT_EQ(after["b.txt"], before["b.txt"]);
}

// A rewrite within the same second still shows in the listing's time.
TEST(ListFolder, KeepsTheFractionOfASecond) {
    TempDir tmp;
    const auto file = tmp / "a.txt";
    test::WriteBytes(file, "a");
    // 2022-06-18 04:26:40 UTC and 0.1234567 s, in FILETIME ticks.
    const std::uint64_t ticks = 133'000'000'001'234'567ULL;
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const HANDLE h = ::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &time));
    ::CloseHandle(h);
    std::vector<DirEntry> entries;
    ASSERT_FALSE(ListFolder(tmp.path(), entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mtimeSeconds, 1655526400);
    EXPECT_EQ(entries[0].mtimeNanoseconds, 123456700);
}

// Anything but a disk file is refused without reading: a device may block.
TEST(ReadFile, MissingFileIsNoSuchFileAndOthersAreRefused) {
    TempDir tmp;
    std::string bytes;
    // The settings loader tells "no settings yet" from a real failure by this.
    EXPECT_EQ(ReadFile(tmp / "dirinfo.dat", bytes), std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadFile(tmp.path(), bytes), std::errc::invalid_argument);
    EXPECT_EQ(ReadFile(L"NUL", bytes), std::errc::invalid_argument);
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
