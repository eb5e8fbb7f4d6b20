// Both builds, Linux and Windows, run this test against the same files in
// tests/data: the settings file and the snapshots that each build writes
// for the same entries and the same folder contents must be the same bytes.
//
// To rewrite the golden files after a deliberate format change, run the
// Linux build's golden_tests with TAVREN_UPDATE_GOLDEN=1 and review the diff.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/snapshot_journal.h"
#include "support/temp_dir.h"

namespace tavren::store {
namespace {

namespace fs = std::filesystem;
using platform::PathFromUtf8;
using test::TempDir;

fs::path GoldenFile(const char* name) {
    return fs::path(TAVREN_TEST_DATA) / name;
}

bool Updating() {
    return std::getenv("TAVREN_UPDATE_GOLDEN") != nullptr;
}

// Compares `written` with the golden file, or replaces the golden file.
void ExpectGolden(const char* name, const std::string& written) {
    if (Updating()) {
        ASSERT_FALSE(platform::WriteFileAtomically(GoldenFile(name), written));
        return;
    }
    std::string golden;
    ASSERT_FALSE(platform::ReadFile(GoldenFile(name), golden)) << name << " is missing";
    EXPECT_EQ(written.size(), golden.size()) << name;
    EXPECT_TRUE(written == golden) << name << " differs from what this build writes";
}

// Records in a canonical order: a snapshot keeps the order of the folder
// listing, and that order is the file system's own.
std::string SortedRecords(const std::string& snapshot) {
    std::vector<std::string> records;
    for (std::size_t at = 0; at + kSnapshotRecordSize <= snapshot.size();
         at += kSnapshotRecordSize) {
        records.push_back(snapshot.substr(at, kSnapshotRecordSize));
    }
    std::sort(records.begin(), records.end());
    std::string out;
    for (const std::string& r : records) out += r;
    return out;
}

std::vector<WatchEntry> Entries(const fs::path& folder) {
    const std::string watched = platform::PathToUtf8(folder);
    WatchEntry all;
    all.fileMode = 0;
    all.timing = 1;
    all.messageMode = 1;
    all.soundMode = 2;
    all.afterMode = 2;
    all.overwrite = 1;
    all.title = "請求書の受信〜月末";  // a title may use the wave dash's look-alike
    all.folder = watched;
    all.moveTo = "D:\\処理済み";
    all.waveFile = "C:\\Windows\\Media\\chimes.wav";

    WatchEntry csv;
    csv.fileMode = 1;
    csv.pattern = "*.csv";
    csv.timing = 0;
    csv.openFile = 1;
    csv.waitExit = 1;
    csv.title = "売上";
    csv.folder = watched;
    csv.program = "\"C:\\Program Files\\表計算\\calc.exe\" /r";
    return {all, csv};
}

// The folder of the snapshot example, with names that test the edges: one
// with no CP932 form and one too long for the record, both stored as keys.
void FillFolder(const fs::path& folder) {
    fs::create_directories(folder / "old");
    const struct {
        const char* name;
        std::size_t size;
        int date[6];
    } files[] = {
        {"report.txt", 1234, {2026, 12, 6, 15, 4, 9}},
        {"売上表.csv", 99, {2025, 1, 1, 9, 0, 0}},
        {"data.bin", 0, {2024, 2, 29, 23, 59, 59}},
        {"emoji-😀.csv", 7, {2023, 7, 15, 12, 30, 0}},
    };
    for (const auto& f : files) {
        const fs::path file = folder / PathFromUtf8(f.name);
        test::WriteBytes(file, std::string(f.size, 'x'));
        test::SetLocalMtime(file, f.date[0], f.date[1], f.date[2], f.date[3], f.date[4], f.date[5]);
    }
    const fs::path longName = folder / (std::string(140, 'L') + ".csv");
    test::WriteBytes(longName, "long");
    test::SetLocalMtime(longName, 2022, 11, 30, 8, 15, 45);
}

TEST(GoldenFiles, SettingsFileIsTheSameBytesOnEveryBuild) {
    TempDir tmp;
    std::vector<SlotImage> slots;
    bool running = true;
    for (const WatchEntry& e : Entries(PathFromUtf8("C:\\監視\\受信"))) {
        SlotImage image = BlankSlotImage();
        const Status s = EncodeSlot({running, e}, image);
        ASSERT_TRUE(s) << s.message();
        slots.push_back(image);
        running = !running;
    }
    const fs::path file = tmp / "dirinfo.dat";
    ASSERT_TRUE(WriteAllSlots(file, slots));
    std::string written;
    ASSERT_FALSE(platform::ReadFile(file, written));
    ExpectGolden("written-dirinfo.dat", written);

    // And read back: the running entry, text intact.
    WatchTable table;
    ASSERT_TRUE(LoadWatchTable(GoldenFile("written-dirinfo.dat"), table));
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(table.entries[0].title, "請求書の受信～月末");  // the look-alike as stored
    EXPECT_EQ(table.entries[0].moveTo, "D:\\処理済み");
}

TEST(GoldenFiles, SnapshotsAreTheSameBytesOnEveryBuild) {
    TempDir tmp;
    const fs::path watched = tmp / "watch";
    FillFolder(watched);
    const DataFolder data(tmp / "data");
    ASSERT_TRUE(data.Prepare());
    const std::vector<WatchEntry> entries = Entries(watched);
    const char* golden[] = {"written-snapshot-all.dir", "written-snapshot-csv.dir"};
    for (int slot = 0; slot < 2; ++slot) {
        ASSERT_TRUE(WriteSnapshot(data, slot, entries[slot]));
        std::string written;
        ASSERT_FALSE(platform::ReadFile(data.snapshotFile(slot), written));
        ExpectGolden(golden[slot], SortedRecords(written));
        // Its journal: two appends (the second checks how the first ended).
        const SnapshotChange gone[] = {{true, ReadSnapshot(data, slot)[0].item}};
        ASSERT_TRUE(AppendSnapshotJournal(data.snapshotFile(slot), gone) &&
                    AppendSnapshotJournal(data.snapshotFile(slot), gone));
        EXPECT_EQ(ReadSnapshot(data, slot).size(), written.size() / kSnapshotRecordSize - 1);
    }
}

// The two builds convert with different tables: glibc's CP932 and the
// system's code page 932. Every character must come out the same, in both
// directions; the digest covers all of them, and was taken from glibc.
TEST(GoldenFiles, Cp932ConversionsAgreeWithGlibc) {
    std::uint64_t digest = 0xcbf29ce484222325ULL;
    auto add = [&](std::string_view bytes) {
        for (const char c : bytes) {
            digest ^= static_cast<unsigned char>(c);
            digest *= 0x100000001b3ULL;
        }
        digest ^= 0xFF;  // separates the results
        digest *= 0x100000001b3ULL;
    };
    std::string out;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000) continue;
        char bytes[3];
        std::size_t n = 0;
        if (c < 0x800) {
            bytes[n++] = static_cast<char>(0xC0 | (c >> 6));
        } else {
            bytes[n++] = static_cast<char>(0xE0 | (c >> 12));
            bytes[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        bytes[n++] = static_cast<char>(0x80 | (c & 0x3F));
        const std::string_view utf8(bytes, n);
        add(platform::Utf8ToCp932(utf8, out, false) ? out : "-");
        add(platform::Utf8ToCp932(utf8, out, true) ? out : "-");
    }
    for (unsigned lead = 0x80; lead < 0x100; ++lead) {
        add(platform::Cp932ToUtf8(std::string(1, static_cast<char>(lead)), out) ? out : "-");
        for (unsigned trail = 0x40; trail < 0x100; ++trail) {
            const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
            add(platform::Cp932ToUtf8(code, out) ? out : "-");
        }
    }
    EXPECT_EQ(digest, 0x01a415333fdcea65ULL) << std::hex << "digest 0x" << digest;
}

}  // namespace
}  // namespace tavren::store
