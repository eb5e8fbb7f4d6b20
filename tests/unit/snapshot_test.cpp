#include "store/snapshot.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "store/cp932.h"
#include "store/snapshot_journal.h"
#include "support/temp_dir.h"

namespace tavren::store {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::SetLocalMtime;
using test::TempDir;
using test::WriteBytes;

class Snapshot : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(data_.Prepare()); }

    void MakeFile(const std::string& name, std::size_t size = 0) {
        WriteBytes(watched_ / name, std::string(size, 'x'));
    }
    WatchEntry Entry(std::int16_t fileMode = 0, std::string pattern = "") const {
        WatchEntry e;
        e.folder = watched_.string();
        e.fileMode = fileMode;
        e.pattern = std::move(pattern);
        return e;
    }
    static std::vector<std::string> SortedNames(const SnapshotList& list) {
        std::vector<std::string> names;
        for (const SnapshotNode& node : list) names.push_back(node.item.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string Golden(const char* name) {
        std::string bytes = ReadBytes(fs::path(TAVREN_TEST_DATA) / name);
        if (bytes.empty()) ADD_FAILURE() << "golden file " << name << " is missing";
        return bytes;
    }

    TempDir tmp_;
    DataFolder data_{tmp_ / "data"};
    fs::path watched_ = tmp_ / "watched";
};

TEST_F(Snapshot, RecordsAFileAndSkipsSubFolders) {
    fs::create_directory(watched_);
    MakeFile("report.txt", 1234);
    SetLocalMtime(watched_ / "report.txt", 2026, 12, 6, 15, 4, 9);
    fs::create_directory(watched_ / "old");

    ASSERT_TRUE(WriteSnapshot(data_, 0, Entry()));

    const char fields[] =
        "\xD2\x04\x00\x00"   // size 1234
        "\x56\x29\x35\x01"   // date 20261206
        "\x89\x4B\x02\x00"   // time 150409
        "\x00\x00\x00\x00";  // reserved
    const std::string expected = std::string(fields, 16) + "report.txt" + std::string(118, '\0');
    ASSERT_EQ(expected.size(), kSnapshotRecordSize);
    EXPECT_EQ(ReadBytes(data_.tavdat() / "0.dir"), expected);
}

TEST_F(Snapshot, FileModeOneRecordsOnlyMatchingFiles) {
    fs::create_directory(watched_);
    for (const char* name : {"abc", "abcdef", "abc.txt", "ABC.log", "xabc.txt", "ab.txt"}) {
        MakeFile(name);
    }
    fs::create_directory(watched_ / "abc.dir");

    ASSERT_TRUE(WriteSnapshot(data_, 0, Entry(1, "abc*.*")));
    EXPECT_EQ(SortedNames(ReadSnapshot(data_, 0)),
              (std::vector<std::string>{"ABC.log", "abc", "abc.txt", "abcdef"}));

    // With fileMode 0 the pattern is not looked at.
    ASSERT_TRUE(WriteSnapshot(data_, 0, Entry(0, "abc*.*")));
    EXPECT_EQ(ReadSnapshot(data_, 0).size(), 6u);
}

TEST_F(Snapshot, EmptyOrMissingFolderGivesAnEmptyFile) {
    struct Case {
        const char* name;
        bool folderExists;
        std::vector<std::string> files;
        WatchEntry entry;
    };
    const Case cases[] = {
        {"empty folder", true, {}, Entry()},
        {"missing folder", false, {}, Entry()},
        {"nothing matches", true, {"notes.txt"}, Entry(1, "*.log")},
    };
    for (const Case& c : cases) {
        fs::remove_all(watched_);
        if (c.folderExists) fs::create_directory(watched_);
        for (const std::string& f : c.files) MakeFile(f, 5);
        // A snapshot left from an earlier look must not survive.
        WriteBytes(data_.snapshotFile(4), Golden("snapshot-three-records.dir"));

        ASSERT_TRUE(WriteSnapshot(data_, 4, c.entry)) << c.name;
        EXPECT_TRUE(fs::exists(data_.snapshotFile(4))) << c.name;
        EXPECT_EQ(fs::file_size(data_.snapshotFile(4)), 0u) << c.name;
        EXPECT_TRUE(ReadSnapshot(data_, 4).empty()) << c.name;
    }
}

TEST_F(Snapshot, SlotNumberNamesTheFile) {
    fs::create_directory(watched_);
    MakeFile("a.txt");
    EXPECT_EQ(data_.snapshotFile(12), data_.root() / "tavdat" / "12.dir");

    ASSERT_TRUE(WriteSnapshot(data_, 12, Entry()));
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(data_.tavdat())) {
        files.push_back(e.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"12.dir", "12.jnl"}));
    EXPECT_EQ(ReadSnapshot(data_, 12).size(), 1u);
    EXPECT_TRUE(ReadSnapshot(data_, 1).empty());
}

TEST_F(Snapshot, WritingFailsWithoutTheDataFolder) {
    fs::create_directory(watched_);
    MakeFile("a.txt");
    fs::remove_all(data_.tavdat());
    EXPECT_FALSE(WriteSnapshot(data_, 0, Entry()));
    EXPECT_FALSE(fs::exists(data_.tavdat()));
}

TEST_F(Snapshot, ReadsRecordsInFileOrder) {
    struct Case {
        const char* golden;
        std::size_t records;
    };
    for (const Case& c :
         {Case{"snapshot-three-records.dir", 3}, Case{"snapshot-torn-record.dir", 2}}) {
        WriteBytes(data_.snapshotFile(7), Golden(c.golden));
        const SnapshotList list = ReadSnapshot(data_, 7);
        ASSERT_EQ(list.size(), c.records) << c.golden;
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].index, static_cast<std::int32_t>(i)) << c.golden;
            EXPECT_EQ(list[i].seen, 0) << c.golden;
        }
        const SnapshotItem& report = list[0].item;
        EXPECT_EQ(report.name, "report.txt");
        EXPECT_EQ(report.size, 1234u);
        EXPECT_EQ(report.date, 20261206);
        EXPECT_EQ(report.time, 150409);
        // Reserved bytes and the bytes after the name's NUL are ignored.
        const SnapshotItem& sales = list[1].item;
        EXPECT_EQ(sales.name, "\x94\x84\x8F\xE3\x95\x5C.csv");  // 売上表.csv
        EXPECT_EQ(sales.size, 99u);
        EXPECT_EQ(sales.date, 20250101);
        EXPECT_EQ(sales.time, 90000);
        if (c.records == 3) {
            EXPECT_EQ(list[2].item.name, "data.bin");
            EXPECT_EQ(list[2].item.size, 0xFFFFFFFFu);
        }
    }
}

TEST(SnapshotList, FindMatchesWholeNames) {
    const SnapshotItem items[] = {
        {1, 20260101, 0, "report.txt"},
        {2, 20260101, 0, "report.txt.bak"},
        {3, 20260101, 0, "\x95\x5C.txt"},  // 表.txt
    };
    SnapshotList list = DecodeSnapshot(EncodeSnapshot(items));
    ASSERT_EQ(list.size(), 3u);

    struct Lookup {
        const char* name;
        int index;  // -1: not found
    };
    const Lookup lookups[] = {
        {"report.txt", 0},  {"report.txt.bak", 1}, {"report.tx", -1}, {"report.txt.b", -1},
        {"REPORT.TXT", -1}, {"\x95\x5C.txt", 2},   {"\\.txt", -1},    {"", -1},
    };
    for (const Lookup& l : lookups) {
        const SnapshotNode* node = list.Find(l.name);
        if (l.index < 0) {
            EXPECT_EQ(node, nullptr) << l.name;
        } else {
            ASSERT_NE(node, nullptr) << l.name;
            EXPECT_EQ(node->index, l.index) << l.name;
            EXPECT_EQ(node->item.size, static_cast<std::uint32_t>(l.index + 1)) << l.name;
        }
    }

    // A list keeps its look-up when it is moved, as a rescan returns it.
    SnapshotList moved = std::move(list);
    ASSERT_NE(moved.Find("report.txt.bak"), nullptr);
    EXPECT_EQ(moved.Find("report.txt.bak")->index, 1);
}

// No file may drop out of a snapshot because of its name: names without a
// CP932 form, names that only have a lossy one and names longer than the
// field all get a record of their own that a later look finds again.
TEST_F(Snapshot, OddNamesAreRecordedDistinctly) {
    std::string longKana, longKana2;  // 80 × あ: 160 CP932 bytes
    for (int i = 0; i < 80; ++i) longKana += "あ";
    longKana2 = longKana + ".log";
    std::string kanaPrefix;  // the part of the long names that would fit
    for (int i = 0; i < 47; ++i) kanaPrefix += "あ";

    const std::vector<std::string> names = {
        "report.txt",
        "\xF0\x9F\x98\x80.txt",  // emoji
        "\xFF.txt",              // not UTF-8 at all
        "\xFE.txt",
        "〜.txt",  // U+301C and U+FF5E: one CP932 code between them
        "～.txt",
        "¥.txt",  // U+00A5 and a real backslash
        "\\.txt",
        longKana,
        longKana2,
        kanaPrefix,
        std::string(127, 'n'),  // fits exactly
        std::string(128, 'n'),
        std::string(200, 'n'),
        std::string(199, 'n') + "m",
    };
    fs::create_directory(watched_);
    for (std::size_t i = 0; i < names.size(); ++i) MakeFile(names[i], i + 1);

    ASSERT_TRUE(WriteSnapshot(data_, 0, Entry()));
    const std::string bytes = ReadBytes(data_.snapshotFile(0));
    ASSERT_EQ(bytes.size(), names.size() * kSnapshotRecordSize);
    for (std::size_t r = 0; r < names.size(); ++r) {
        const char* name = bytes.data() + r * kSnapshotRecordSize + 16;
        EXPECT_NE(std::memchr(name, '\0', 128), nullptr)
            << "record " << r << " fills its name field";
    }

    SnapshotList list = ReadSnapshot(data_, 0);
    std::set<std::string> stored;
    for (const SnapshotNode& node : list) stored.insert(node.item.name);
    EXPECT_EQ(stored.size(), names.size()) << "two files share a record";

    for (std::size_t i = 0; i < names.size(); ++i) {
        // The key is what a later rescan computes for the same file.
        const std::string key = SnapshotKey(names[i]);
        EXPECT_EQ(key, SnapshotKey(names[i]));
        const SnapshotNode* node = list.Find(key);
        ASSERT_NE(node, nullptr) << names[i];
        EXPECT_EQ(node->item.size, i + 1) << names[i];
    }
    // Names that CP932 holds exactly are stored as they are.
    EXPECT_NE(list.Find("report.txt"), nullptr);
    EXPECT_NE(list.Find("\x81\x60.txt"), nullptr);  // ～.txt
    EXPECT_NE(list.Find("\\.txt"), nullptr);
    EXPECT_NE(list.Find(std::string(127, 'n')), nullptr);
}

// The part of a key from the '/' on: the hash of the whole name.
std::string HashPart(const std::string& key) {
    const std::size_t slash = key.find('/');
    return slash == std::string::npos ? std::string() : key.substr(slash);
}

// A file whose name cannot be stored still gets a key that a notice can
// show: the name with '?' for what CP932 lacks, "…" where it is cut.
TEST(SnapshotKey, KeepsTheNameReadable) {
    std::string kana80, kana46, accents100;
    for (int i = 0; i < 80; ++i) kana80 += "あ";  // 160 CP932 bytes
    for (int i = 0; i < 46; ++i) kana46 += "あ";  // 92: room for "…" in 94
    for (int i = 0; i < 100; ++i) accents100 += "é";
    struct Case {
        std::string name;
        std::string shown;
        bool keyed;
    };
    const Case cases[] = {
        {"report.txt", "report.txt", false},
        {"売上表.csv", "売上表.csv", false},
        {std::string(127, 'n'), std::string(127, 'n'), false},
        {"Müller.txt", "M?ller.txt", true},
        {"\xF0\x9F\x98\x80", "?", true},  // emoji
        {"\xFF.txt", "?.txt", true},      // not UTF-8
        {"〜.txt", "?.txt", true},        // only a look-alike in CP932
        {kana80, kana46 + "…", true},
        {accents100, std::string(92, '?') + "…", true},
        {std::string(200, 'n'), std::string(92, 'n') + "…", true},
    };
    for (const Case& c : cases) {
        const std::string key = SnapshotKey(c.name);
        EXPECT_LE(key.size(), kSnapshotNameMaxBytes) << c.shown;
        EXPECT_EQ(HashPart(key).size(), c.keyed ? 33u : 0u) << c.shown;
        EXPECT_EQ(DisplayNameOfKey(key), c.shown);
    }
}

// Keys of the previous version held no readable part, or the name's CP932
// prefix cut without a mark; its files must not be taken for new ones.
TEST(SnapshotKey, KeysOfThePreviousVersionAreFoundAgain) {
    std::string kana80;
    for (int i = 0; i < 80; ++i) kana80 += "あ";
    const std::string names[] = {"Müller.txt", "\xF0\x9F\x98\x80.txt", kana80};
    const std::string kanaPrefix = *ToCp932(kana80.substr(0, 47 * 3));  // 94 bytes
    const SnapshotItem items[] = {
        {1, 20260101, 0, HashPart(SnapshotKey(names[0]))},
        {2, 20260101, 0, HashPart(SnapshotKey(names[1]))},
        {3, 20260101, 0, kanaPrefix + HashPart(SnapshotKey(kana80))},
    };
    SnapshotList list = DecodeSnapshot(EncodeSnapshot(items));
    ASSERT_EQ(list.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        const SnapshotNode* node = list.Find(SnapshotKey(names[i]));
        ASSERT_NE(node, nullptr) << names[i];
        EXPECT_EQ(node->item.size, i + 1) << names[i];
    }
    EXPECT_EQ(list.Find(SnapshotKey("Mñller.txt")), nullptr);  // also "M?ller.txt/..."
    EXPECT_EQ(DisplayNameOfKey(items[0].name), "…");
}

// Records that no writer makes are dropped as they are read; only the
// first record of a name counts.
TEST(SnapshotList, DecodingDropsRecordsThatMakeNoSense) {
    const std::string keyed = SnapshotKey("Müller.txt");
    const SnapshotItem items[] = {
        {1, 20260101, 120000, "a.txt"},  {2, 20260101, 120000, ""},
        {3, 0, 120000, "b.txt"},         {4, 101, 120000, "b.txt"},  // year 0
        {5, 20261301, 120000, "b.txt"},  {6, 20260100, 120000, "b.txt"},
        {7, 20260132, 120000, "b.txt"},  {8, -20260101, 120000, "b.txt"},
        {9, 20260101, 240000, "b.txt"},  {10, 20260101, 126000, "b.txt"},
        {11, 20260101, 235961, "b.txt"}, {12, 20260101, -1, "b.txt"},
        {13, 99991231, 235960, "b.txt"},  // a leap second
        {14, 10101, 0, "a.txt"},          // 1 January of year 1, a name seen before
        {15, 10101, 0, keyed},           {16, 10101, 0, "other" + HashPart(keyed)},
    };
    const SnapshotList list = DecodeSnapshot(EncodeSnapshot(items));
    std::vector<std::uint32_t> kept;
    for (const SnapshotNode& node : list) {
        EXPECT_EQ(node.index, static_cast<std::int32_t>(kept.size()));
        kept.push_back(node.item.size);
    }
    EXPECT_EQ(kept, (std::vector<std::uint32_t>{1, 13, 15}));

    // What a look records is always read back, also for a file dated
    // outside the years a record can hold.
    const auto clock = platform::MakeSystemClock();
    for (const std::int64_t mtime :
         {std::int64_t{-70'000'000'000}, std::int64_t{400'000'000'000}}) {
        platform::DirEntry entry;
        entry.name = "odd.txt";
        entry.mtimeSeconds = mtime;
        const SnapshotItem item = DescribeFile(entry, *clock);
        EXPECT_EQ(DecodeSnapshot(EncodeSnapshot({&item, 1})).size(), 1u) << mtime;
    }
}

// The journal as written and as crashes, damage and other writers leave it:
// only committed batches of its own snapshot count, with any append after.
TEST_F(Snapshot, JournalAppliesTheCommittedBatchesOfItsOwnSnapshot) {
    const fs::path file = tmp_ / "5.dir";
    const fs::path journal = JournalFileOf(file);
    EXPECT_EQ(journal, tmp_ / "5.jnl");
    auto item = [](const char* name, std::uint32_t size) {
        return SnapshotItem{size, 20260101, 120000, name};
    };
    const SnapshotChange first[] = {{false, item("d", 4)}, {false, item("a", 10)}};
    const SnapshotChange second[] = {{true, item("b", 0)}};
    const SnapshotChange later[] = {{false, item("e", 5)}};
    // Header, then d, a, commit, then -b at 576, commit: 864 bytes.
    auto edit = [&](std::size_t size, std::size_t at = 0, char c = 0) {
        return [=, &journal] {
            std::string bytes = ReadBytes(journal).substr(0, size);
            if (at) bytes[at] = c;
            WriteBytes(journal, bytes);
        };
    };
    // A crash between replacing the snapshot and replacing the journal.
    auto crashInRewrite = [&] {
        const std::string old = ReadBytes(journal);
        ASSERT_TRUE(WriteSnapshotFile(file, std::vector{item("x", 7)}));
        WriteBytes(journal, old);
    };
    struct Case {
        const char* name;
        std::function<void()> damage;
        bool appendLater;
        std::vector<std::string> expected;
        SnapshotRead result = SnapshotRead::Ok;
    };
    const auto damaged = SnapshotRead::JournalDamaged;
    const Case cases[] = {
        {"as written", [] {}, false, {"a10", "c3", "d4"}},
        {"torn last record", edit(863), false, {"a10", "b2", "c3", "d4"}},
        {"batch without its commit", edit(720), true, {"a10", "b2", "c3", "d4", "e5"}},
        {"unknown kind", edit(864, 576 + 12, 9), false, {"a10", "b2", "c3", "d4"}, damaged},
        {"batch unlike its commit", edit(864, 600, 'z'), false, {"a10", "b2", "c3", "d4"}, damaged},
        {"journal of the last snapshot", crashInRewrite, true, {"e5", "x7"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteSnapshotFile(file, std::vector{item("a", 1), item("b", 2), item("c", 3)}));
        ASSERT_TRUE(AppendSnapshotJournal(file, first));
        std::uint64_t size = 0;
        ASSERT_TRUE(AppendSnapshotJournal(file, second, &size));
        EXPECT_EQ(size, 864u);
        c.damage();
        if (c.appendLater) {
            ASSERT_TRUE(AppendSnapshotJournal(file, later)) << c.name;
        }
        SnapshotRead result = SnapshotRead::Ok;
        std::vector<std::string> read;
        for (const SnapshotNode& n : ReadSnapshotFile(file, &result))
            read.push_back(n.item.name + std::to_string(n.item.size));
        std::sort(read.begin(), read.end());
        EXPECT_EQ(read, c.expected) << c.name;
        EXPECT_EQ(result, c.result) << c.name;
    }
}

// A snapshot too large to be one is refused before it is read into memory.
TEST_F(Snapshot, ReadingTellsAnUnreadableFromADamagedFile) {
    const fs::path huge = tmp_ / "huge.dir";
    WriteBytes(huge, "");
    if (::truncate(huge.c_str(), off_t{1} << 40) != 0) {  // 1 TiB, sparse
        GTEST_SKIP() << "the temporary file system cannot make a sparse 1 TiB file";
    }
    const fs::path good = tmp_ / "good.dir";
    WriteBytes(good, Golden("snapshot-three-records.dir"));
    const fs::path hugeJournal = tmp_ / "huge-journal.dir";
    ASSERT_TRUE(WriteSnapshotFile(hugeJournal, {}));
    WriteBytes(JournalFileOf(hugeJournal), "");
    ASSERT_EQ(::truncate(JournalFileOf(hugeJournal).c_str(), off_t{1} << 40), 0);
    struct Case {
        fs::path file;
        SnapshotRead result;
        std::size_t records;
    };
    const Case cases[] = {
        {good, SnapshotRead::Ok, 3},
        {tmp_ / "missing.dir", SnapshotRead::Unreadable, 0},
        {tmp_.path(), SnapshotRead::Unreadable, 0},
        {huge, SnapshotRead::Damaged, 0},
        {hugeJournal, SnapshotRead::Damaged, 0},
    };
    for (const Case& c : cases) {
        SnapshotRead result = SnapshotRead::Ok;
        EXPECT_EQ(ReadSnapshotFile(c.file, &result).size(), c.records) << c.file;
        EXPECT_EQ(result, c.result) << c.file;
    }
}

TEST_F(Snapshot, SizeKeepsTheLow32Bits) {
    fs::create_directory(watched_);
    const fs::path big = watched_ / "big.iso";
    const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const off_t fiveGiB = off_t{5} << 30;
    const bool truncated = ::ftruncate(fd, fiveGiB) == 0;
    struct stat st {};
    ::fstat(fd, &st);
    ::close(fd);
    if (!truncated || st.st_blocks * 512 >= (off_t{1} << 30)) {
        GTEST_SKIP() << "the temporary file system cannot make a sparse 5 GiB file";
    }

    ASSERT_TRUE(WriteSnapshot(data_, 0, Entry()));
    const std::string bytes = ReadBytes(data_.snapshotFile(0));
    ASSERT_EQ(bytes.size(), kSnapshotRecordSize);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x00\x00\x00\x40", 4));  // 1 GiB
}

// Files come and go while a folder is listed; a file that vanishes between
// being listed and being looked at is simply not there, not an error. The
// window is narrow, so the listing is repeated for a while.
TEST_F(Snapshot, ListingSurvivesFilesVanishing) {
    fs::create_directory(watched_);
    std::atomic<bool> stop{false};
    std::thread churn([&] {
        for (int i = 0; !stop; i = (i + 1) % 4) {
            const fs::path p = watched_ / ("f" + std::to_string(i));
            ::close(::open(p.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
            ::unlink((watched_ / ("f" + std::to_string((i + 2) % 4))).c_str());
        }
    });
    std::error_code failure;
    const auto clock = platform::MakeSystemClock();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!failure && std::chrono::steady_clock::now() < deadline) {
        std::vector<FoundFile> found;
        failure = ListTargetFiles(Entry(), platform::SystemFolderReader(), *clock, found);
    }
    stop = true;
    churn.join();
    EXPECT_FALSE(failure) << failure.message();
}

}  // namespace
}  // namespace tavren::store
