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
#include <set>
#include <string>
#include <thread>
#include <vector>

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
    EXPECT_EQ(files, std::vector<std::string>{"12.dir"});
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

TEST_F(Snapshot, UnreadableSnapshotIsEmpty) {
    EXPECT_TRUE(ReadSnapshot(data_, 3).empty());  // never written
    fs::create_directory(data_.snapshotFile(3));
    EXPECT_TRUE(ReadSnapshot(data_, 3).empty());
}

TEST(SnapshotList, FindMatchesWholeNamesAndPrefersTheFirst) {
    const SnapshotItem items[] = {
        {1, 20260101, 0, "report.txt"},
        {2, 20260101, 0, "report.txt.bak"},
        {3, 20260101, 0, "report.txt"},
        {4, 20260101, 0, "\x95\x5C.txt"},  // 表.txt
    };
    SnapshotList list = DecodeSnapshot(EncodeSnapshot(items));
    ASSERT_EQ(list.size(), 4u);

    struct Lookup {
        const char* name;
        int index;  // -1: not found
    };
    const Lookup lookups[] = {
        {"report.txt", 0},  {"report.txt.bak", 1}, {"report.tx", -1}, {"report.txt.b", -1},
        {"REPORT.TXT", -1}, {"\x95\x5C.txt", 3},   {"\\.txt", -1},    {"", -1},
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!failure && std::chrono::steady_clock::now() < deadline) {
        std::vector<FoundFile> found;
        failure = ListTargetFiles(Entry(), found);
    }
    stop = true;
    churn.join();
    EXPECT_FALSE(failure) << failure.message();
}

}  // namespace
}  // namespace tavren::store
