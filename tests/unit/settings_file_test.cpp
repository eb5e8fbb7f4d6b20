#include "store/settings_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tavren::store {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Offsets of the settings-file slot, written out here rather than taken from
// SlotImage so that the layout itself is under test.
constexpr std::size_t kRunning = 0, kFileMode = 2, kTiming = 4, kMessageMode = 6, kSoundMode = 8,
                      kAfterMode = 10, kOpenFile = 12, kWaitExit = 14, kOverwrite = 16, kTitle = 18,
                      kFolder = 76, kPattern = 204, kProgram = 248, kMoveTo = 376, kWaveFile = 504;

// A slot image put together byte by byte.
class SlotBytes {
  public:
    explicit SlotBytes(char fill = '\0') : bytes_(kSlotSize, fill) {}

    SlotBytes& Int(std::size_t offset, unsigned char lo, unsigned char hi) {
        bytes_[offset] = static_cast<char>(lo);
        bytes_[offset + 1] = static_cast<char>(hi);
        return *this;
    }
    // `cp932` and its terminator.
    SlotBytes& Text(std::size_t offset, std::string_view cp932) {
        return Raw(offset, std::string(cp932) + '\0');
    }
    SlotBytes& Raw(std::size_t offset, std::string_view bytes) {
        bytes_.replace(offset, bytes.size(), bytes);
        return *this;
    }

    const std::string& bytes() const { return bytes_; }
    SlotImage Image() const {
        SlotImage image;
        std::memcpy(&image, bytes_.data(), kSlotSize);
        return image;
    }

  private:
    std::string bytes_;
};

std::string Bytes(const SlotImage& image) {
    return std::string(reinterpret_cast<const char*>(&image), sizeof image);
}

// The entry of a realistic slot with every field set, and its image.
Slot InvoiceSlot() {
    Slot s;
    s.running = true;
    s.entry.fileMode = 1;
    s.entry.timing = 1;
    s.entry.messageMode = 1;
    s.entry.soundMode = 2;
    s.entry.afterMode = 2;
    s.entry.openFile = 1;
    s.entry.waitExit = 1;
    s.entry.overwrite = 1;
    s.entry.title = "請求書の受信";
    s.entry.folder = "/srv/売上表";
    s.entry.pattern = "*.pdf";
    s.entry.program = "/usr/bin/lp -d office";
    s.entry.moveTo = "/srv/done";
    s.entry.waveFile = "/usr/share/sounds/chime.wav";
    return s;
}

SlotBytes InvoiceBytes() {
    SlotBytes b;
    b.Int(kRunning, 1, 0)
        .Int(kFileMode, 1, 0)
        .Int(kTiming, 1, 0)
        .Int(kMessageMode, 1, 0)
        .Int(kSoundMode, 2, 0)
        .Int(kAfterMode, 2, 0)
        .Int(kOpenFile, 1, 0)
        .Int(kWaitExit, 1, 0)
        .Int(kOverwrite, 1, 0)
        .Text(kTitle, "\x90\xBF\x8B\x81\x8F\x91\x82\xCC\x8E\xF3\x90\x4D")  // 請求書の受信
        .Text(kFolder, "/srv/\x94\x84\x8F\xE3\x95\x5C")                    // 売上表
        .Text(kPattern, "*.pdf")
        .Text(kProgram, "/usr/bin/lp -d office")
        .Text(kMoveTo, "/srv/done")
        .Text(kWaveFile, "/usr/share/sounds/chime.wav");
    return b;
}

TEST(SettingsSlot, DecodesHandMadeSlot) {
    SlotBytes b = InvoiceBytes();
    // Left-overs of longer earlier values after each terminator mean nothing.
    b.Raw(kTitle + 13, "old title").Raw(kFolder + 12, "/old/path").Raw(kPattern + 6, "*.txt");
    const Slot decoded = DecodeSlot(b.Image());
    EXPECT_TRUE(decoded.running);
    EXPECT_EQ(decoded.entry, InvoiceSlot().entry);
}

TEST(SettingsSlot, EncodesTheSameBytesAsTheHandMadeSlot) {
    SlotImage image = BlankSlotImage();
    ASSERT_TRUE(EncodeSlot(InvoiceSlot(), image));
    EXPECT_EQ(Bytes(image), InvoiceBytes().bytes());
}

// Integers are signed 16-bit little-endian and taken as stored; distinct
// values catch swapped fields.
TEST(SettingsSlot, IntegersAreLittleEndianAndUnchecked) {
    const SlotBytes b = SlotBytes()
                            .Int(kRunning, 0x00, 0x01)  // any non-zero value means running
                            .Int(kFileMode, 0x01, 0x02)
                            .Int(kTiming, 0xFF, 0xFF)
                            .Int(kMessageMode, 0x03, 0x00)
                            .Int(kSoundMode, 0x04, 0x00)
                            .Int(kAfterMode, 0x05, 0x00)
                            .Int(kOpenFile, 0x00, 0x80)
                            .Int(kWaitExit, 0xFF, 0x7F)
                            .Int(kOverwrite, 0x07, 0x00);
    const Slot s = DecodeSlot(b.Image());
    EXPECT_TRUE(s.running);
    EXPECT_EQ(s.entry.fileMode, 0x0201);
    EXPECT_EQ(s.entry.timing, -1);
    EXPECT_EQ(s.entry.messageMode, 3);
    EXPECT_EQ(s.entry.soundMode, 4);
    EXPECT_EQ(s.entry.afterMode, 5);
    EXPECT_EQ(s.entry.openFile, -32768);
    EXPECT_EQ(s.entry.waitExit, 32767);
    EXPECT_EQ(s.entry.overwrite, 7);

    EXPECT_FALSE(DecodeSlot(SlotBytes().Int(kRunning, 0, 0).Image()).running);
    EXPECT_TRUE(DecodeSlot(SlotBytes().Int(kRunning, 0xFF, 0xFF).Image()).running);
}

// A string that fills its whole field has no terminator; it ends at the
// field's end and does not run into the next field.
TEST(SettingsSlot, UnterminatedTextEndsAtTheFieldEnd) {
    const SlotBytes b = SlotBytes()
                            .Raw(kTitle, std::string(58, 'T'))
                            .Raw(kFolder, std::string(128, 'F'))
                            .Raw(kPattern, std::string(44, 'P'))
                            .Raw(kProgram, std::string(128, 'R'))
                            .Raw(kMoveTo, std::string(128, 'M'))
                            .Raw(kWaveFile, std::string(128, 'W'));
    const WatchEntry e = DecodeSlot(b.Image()).entry;
    EXPECT_EQ(e.title, std::string(58, 'T'));
    EXPECT_EQ(e.folder, std::string(128, 'F'));
    EXPECT_EQ(e.pattern, std::string(44, 'P'));
    EXPECT_EQ(e.program, std::string(128, 'R'));
    EXPECT_EQ(e.moveTo, std::string(128, 'M'));
    EXPECT_EQ(e.waveFile, std::string(128, 'W'));
}

TEST(SettingsSlot, EncodingKeepsTheBytesAfterEachTerminator) {
    SlotBytes before = InvoiceBytes();
    before.Raw(kTitle + 13, "old title").Raw(kWaveFile + 28, "tail");
    SlotImage image = before.Image();

    Slot changed = InvoiceSlot();
    changed.running = false;
    changed.entry.title = "受信";  // 4 bytes: 8E F3 90 4D
    changed.entry.waveFile = "";
    ASSERT_TRUE(EncodeSlot(changed, image));

    SlotBytes expected = before;
    expected.Int(kRunning, 0, 0).Text(kTitle, "\x8E\xF3\x90\x4D").Text(kWaveFile, "");
    EXPECT_EQ(Bytes(image), expected.bytes());
    EXPECT_EQ(DecodeSlot(image).entry, changed.entry);
}

struct TextField {
    const char* label;  // how the error message names it
    std::string WatchEntry::*member;
    std::size_t offset;
    std::size_t limit;  // longest text stored, in CP932 bytes
};

const TextField kTextFields[] = {
    {"タイトル", &WatchEntry::title, kTitle, 56},
    {"監視フォルダ", &WatchEntry::folder, kFolder, 126},
    {"ファイル名パターン", &WatchEntry::pattern, kPattern, 40},
    {"プログラム", &WatchEntry::program, kProgram, 126},
    {"移動先フォルダ", &WatchEntry::moveTo, kMoveTo, 126},
    {"WAVファイル", &WatchEntry::waveFile, kWaveFile, 126},
};

TEST(SettingsSlot, EncodingRefusesTextWithoutCp932FormAndNamesTheField) {
    const char* texts[] = {"/tmp/\xF0\x9F\x98\x80", "/tmp/月〜金", "bad\xFF"};
    for (const TextField& f : kTextFields) {
        for (const char* text : texts) {
            // A title may use the CP932 look-alike of the wave dash; a path may not.
            if (f.member == &WatchEntry::title && std::string_view(text) == "/tmp/月〜金") continue;
            const SlotBytes before = InvoiceBytes();
            SlotImage image = before.Image();
            Slot s = InvoiceSlot();
            s.entry.*f.member = text;
            const Status status = EncodeSlot(s, image);
            EXPECT_FALSE(status) << f.label << " " << text;
            EXPECT_NE(status.message().find(f.label), std::string::npos) << status.message();
            EXPECT_EQ(Bytes(image), before.bytes()) << f.label << ": image changed";
        }
    }
}

TEST(SettingsSlot, TitleKeepsTheWaveDashAsItsCp932LookAlike) {
    SlotImage image = BlankSlotImage();
    Slot s;
    s.entry.title = "月〜金";  // U+301C, as Japanese input on Linux types it
    ASSERT_TRUE(EncodeSlot(s, image));
    EXPECT_EQ(std::string(image.title, 7), "\x8C\x8E\x81\x60\x8B\xE0" + std::string(1, '\0'));
}

TEST(SettingsSlot, EncodingBoundsLongTextWithoutSplittingACharacter) {
    std::string kanji;  // 70 × 表, whose trail byte 0x5C looks like a separator
    for (int i = 0; i < 70; ++i) kanji += "表";
    for (const TextField& f : kTextFields) {
        // With a leading ASCII byte, every cut at the limit would fall inside
        // a two-byte character, so one byte must stay unused.
        for (const std::string& text : {kanji, "a" + kanji}) {
            SlotImage image = SlotBytes('\xEE').Image();
            Slot s;
            s.entry.*f.member = text;
            ASSERT_TRUE(EncodeSlot(s, image)) << f.label;

            const std::string bytes = Bytes(image);
            const std::size_t stored = f.limit - (text[0] == 'a' ? 1 : 0);
            const std::string field = bytes.substr(f.offset, f.limit + 2);
            EXPECT_EQ(field.find('\0'), stored) << f.label;
            EXPECT_EQ(field[stored + 1], '\xEE') << f.label << ": byte after NUL changed";

            const std::string decoded = DecodeSlot(image).entry.*f.member;
            EXPECT_EQ(text.compare(0, decoded.size(), decoded), 0) << f.label;
            EXPECT_EQ(decoded.find("\xEF\xBF\xBD"), std::string::npos) << f.label;
        }
    }
}

class SettingsFile : public ::testing::Test {
  protected:
    static std::string Golden(const char* name) {
        std::string bytes = ReadBytes(fs::path(TAVREN_TEST_DATA) / name);
        if (bytes.empty()) ADD_FAILURE() << "golden file " << name << " is missing";
        return bytes;
    }
    static std::vector<std::string> Titles(const WatchTable& t) {
        std::vector<std::string> titles;
        for (const WatchEntry& e : t.entries) titles.push_back(e.title);
        return titles;
    }
    // A table holding something, to tell "kept" from "emptied".
    static WatchTable Preloaded() {
        WatchTable t;
        t.entries.push_back(InvoiceSlot().entry);
        return t;
    }
    // `count` running slots titled "entry 0", "entry 1", …
    static std::string RunningSlots(int count) {
        std::string bytes;
        for (int i = 0; i < count; ++i) {
            bytes +=
                SlotBytes().Int(kRunning, 1, 0).Text(kTitle, "entry " + std::to_string(i)).bytes();
        }
        return bytes;
    }

    TempDir tmp_;
    fs::path file_ = tmp_ / "dirinfo.dat";
};

TEST_F(SettingsFile, LoadsOnlyRunningEntriesPackedInFileOrder) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {"empty file", "", {}},
        {"running, stopped, running", Golden("dirinfo-two-running.dat"), {"請求書の受信", "ログ"}},
        {"all stopped", Golden("dirinfo-all-stopped.dat"), {}},
        {"trailing partial slot", Golden("dirinfo-short-slot.dat"), {"請求書の受信"}},
    };
    for (const Case& c : cases) {
        WriteBytes(file_, c.bytes);
        WatchTable table = Preloaded();
        EXPECT_TRUE(LoadWatchTable(file_, table)) << c.name;
        EXPECT_EQ(Titles(table), c.titles) << c.name;
    }
}

TEST_F(SettingsFile, LoadedEntryHoldsEveryFieldOfItsSlot) {
    WriteBytes(file_, Golden("dirinfo-two-running.dat"));
    WatchTable table;
    ASSERT_TRUE(LoadWatchTable(file_, table));
    ASSERT_EQ(table.count(), 2);

    WatchEntry invoices;
    invoices.fileMode = 1;
    invoices.timing = 1;
    invoices.messageMode = 1;
    invoices.soundMode = 2;
    invoices.afterMode = 2;
    invoices.overwrite = 1;
    invoices.title = "請求書の受信";
    invoices.folder = "/srv/受信";
    invoices.pattern = "*.pdf";
    invoices.moveTo = "/srv/処理済み";
    invoices.waveFile = "/usr/share/sounds/chime.wav";
    EXPECT_EQ(table.entries[0], invoices);

    // Its title once held a longer text whose bytes are still in the file.
    WatchEntry logs;
    logs.timing = 0;
    logs.waitExit = 1;
    logs.title = "ログ";
    logs.folder = "/var/log/app";
    logs.program = "/usr/local/bin/rotate --now";
    EXPECT_EQ(table.entries[1], logs);
}

TEST_F(SettingsFile, LoadsAtMost200Slots) {
    WriteBytes(file_, RunningSlots(201));
    WatchTable table;
    ASSERT_TRUE(LoadWatchTable(file_, table));
    ASSERT_EQ(table.count(), 200);
    EXPECT_EQ(table.entries.back().title, "entry 199");
}

TEST_F(SettingsFile, MissingFileKeepsTheTable) {
    WatchTable table = Preloaded();
    EXPECT_TRUE(LoadWatchTable(file_, table));
    EXPECT_EQ(table.entries, Preloaded().entries);
}

TEST_F(SettingsFile, UnreadableFileKeepsTheTableAndSaysWhy) {
    fs::create_directory(file_);
    WatchTable table = Preloaded();
    const Status status = LoadWatchTable(file_, table);
    EXPECT_FALSE(status);
    EXPECT_NE(status.message().find(file_.string()), std::string::npos) << status.message();
    EXPECT_EQ(table.entries, Preloaded().entries);

    std::vector<SlotImage> slots(3);
    EXPECT_FALSE(ReadAllSlots(file_, slots));
    EXPECT_TRUE(slots.empty());
}

TEST_F(SettingsFile, ReadAllSlotsReadsStoppedSlotsAndIgnoresTheRest) {
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t slots;
    };
    const Case cases[] = {
        {"empty file", "", 0},
        {"running, stopped, running", Golden("dirinfo-two-running.dat"), 3},
        {"trailing partial slot", Golden("dirinfo-short-slot.dat"), 1},
        {"201 slots", RunningSlots(201), 200},
    };
    for (const Case& c : cases) {
        WriteBytes(file_, c.bytes);
        std::vector<SlotImage> slots;
        ASSERT_TRUE(ReadAllSlots(file_, slots)) << c.name;
        ASSERT_EQ(slots.size(), c.slots) << c.name;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            EXPECT_EQ(Bytes(slots[i]), c.bytes.substr(i * kSlotSize, kSlotSize))
                << c.name << " " << i;
        }
    }

    std::vector<SlotImage> slots(2);
    EXPECT_TRUE(ReadAllSlots(tmp_ / "missing.dat", slots));
    EXPECT_TRUE(slots.empty());
}

TEST_F(SettingsFile, WriteAllSlotsRoundTripsByteForByte) {
    const std::string golden = Golden("dirinfo-two-running.dat");
    WriteBytes(file_, golden);
    std::vector<SlotImage> slots;
    ASSERT_TRUE(ReadAllSlots(file_, slots));

    const fs::path copy = tmp_ / "copy.dat";
    ASSERT_TRUE(WriteAllSlots(copy, slots));
    EXPECT_EQ(ReadBytes(copy), golden);

    // Deleting an entry writes the others packed, from offset 0.
    slots.erase(slots.begin() + 1);
    ASSERT_TRUE(WriteAllSlots(file_, slots));
    EXPECT_EQ(ReadBytes(file_), golden.substr(0, kSlotSize) + golden.substr(2 * kSlotSize));

    ASSERT_TRUE(WriteAllSlots(file_, {}));
    EXPECT_TRUE(fs::exists(file_));
    EXPECT_EQ(fs::file_size(file_), 0u);
}

}  // namespace
}  // namespace tavren::store
