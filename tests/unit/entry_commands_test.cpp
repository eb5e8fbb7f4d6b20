#include "app/entry_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/command_args.h"
#include "app/usage.h"
#include "platform/folder_lock.h"
#include "support/temp_dir.h"
#include "ui/rules/entry_text.h"

namespace tavren::app {
namespace {

using rules::EntryRecord;
using rules::ExportText;
using rules::ImportParse;
using rules::ParseEntryText;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

store::WatchEntry Entry(std::string title, std::string folder) {
    store::WatchEntry e;
    e.title = std::move(title);
    e.folder = std::move(folder);
    return e;
}

// Every value a settings file may hold comes back from its text: stopped
// entries, stored codes without a word (message 2, delete 1, any 16-bit
// number), texts with blanks at their ends, quotes, backslashes, control
// characters and Japanese.
TEST(EntryTextTest, ExportThenImportGivesTheSameSlots) {
    std::vector<std::pair<bool, store::WatchEntry>> entries;
    store::WatchEntry plain = Entry("受信フォルダ", "/srv/in");
    entries.emplace_back(true, plain);
    store::WatchEntry odd = Entry("  two  spaces ", R"(C:\data\in "quoted")");
    odd.fileMode = 7;
    odd.timing = -3;
    odd.messageMode = store::message_mode::kAsIs;
    odd.soundMode = store::sound_mode::kWave;
    odd.afterMode = store::after_mode::kDelete;
    odd.openFile = 1;
    odd.waitExit = 1;
    odd.overwrite = 32767;
    odd.pattern = "\"*.csv\"";
    odd.program = "\"/opt/my tool\" --x \\";
    odd.moveTo = "/tmp/t\tab";
    odd.waveFile = "\"";
    entries.emplace_back(false, odd);
    entries.emplace_back(true, Entry("line\nbreak\x01", "#not a comment"));

    store::SettingsList list;
    for (const auto& [running, entry] : entries) {
        ASSERT_TRUE(list.Add(entry).ok());
        list.SetRunning(list.size() - 1, running);
    }
    const std::string text = ExportText(list);
    // A program path in quotes followed by arguments is written as typed.
    EXPECT_NE(text.find("\nprogram = \"/opt/my tool\" --x \\\n"), std::string::npos) << text;
    const ImportParse parsed = ParseEntryText(text, false);
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.records.size(), entries.size());
    store::SettingsList again;
    for (const EntryRecord& r : parsed.records) {
        ASSERT_TRUE(again.Add(r.entry).ok());
        again.SetRunning(again.size() - 1, r.running);
    }
    ASSERT_EQ(again.size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(std::memcmp(&again.images()[i], &list.images()[i], store::kSlotSize), 0) << i;
    }
}

// A fault names its line, and what is wrong there; nothing is taken.
TEST(EntryTextTest, FaultsNameTheLine) {
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"title = x\n", "line 1: a key before the first [entry]: title"},
        {"[entry]\ntitle = a\ntitle = b\n", "line 3: key given twice: title"},
        {"# Notepad's lines\r\n[entry]\r\ncolour = red\r\n", "line 3: unknown key: colour"},
        {"[entry]\n\non = sometimes\n", "line 3: on takes updates|names or a number: sometimes"},
        {"[entry]\nsound = 40000\n", "line 2: sound takes none|beep|wave or a number: 40000"},
        {"[entry]\nrunning = 1\n", "line 2: running takes yes or no"},
        {"[entry]\nfolder = \"/a\\q\"\n", "line 2: bad quoted text: \"/a\\q\""},
        {"[entry]\nfolder = \"/a\\\"\n", "line 2: bad quoted text: \"/a\\\""},
        {"[entries]\n", "line 1: only [entry] may head a record: [entries]"},
        {"[entry]\njust words\n", "line 2: not a \"key = value\" line: just words"},
        // The text's own bytes reach the terminal escaped.
        {"[entry]\ncolour\x1b]0;x\x07 = red\n", "line 2: unknown key: colour\\x1b]0;x\\x07"},
    };
    for (const auto& c : cases) {
        const ImportParse parsed = ParseEntryText(c.text, false);
        EXPECT_EQ(parsed.error, c.error) << c.text;
        EXPECT_TRUE(parsed.records.empty()) << c.text;
    }
}

// Refused commands leave the settings file byte for byte as it was, and
// say so with their exit status; words that are no subcommand go on to the
// program's own command line.
TEST(EntryCommandsTest, RefusalsChangeNothing) {
    TempDir dir;
    const std::string data = (dir / "data").string();
    const std::string in = (dir / "in").string();
    std::filesystem::create_directories(in);
    const auto run = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {"--data-dir", data});
        return RunEntryCommand(words, "tavren3");
    };
    ASSERT_EQ(run({"add", "--title", "a", "--folder", in}), 0);
    WriteBytes(dir / "empty.txt", "# no entries\n");
    WriteBytes(dir / "nowave.txt", "[entry]\ntitle = t\nfolder = " + in + "\nsound = wave\n");
    const std::filesystem::path settings = dir / "data" / "tavdat" / "dirinfo.dat";
    const std::string before = ReadBytes(settings);
    ASSERT_EQ(before.size(), store::kSlotSize);

    const struct {
        std::vector<std::string> words;
        std::optional<int> status;
    } cases[] = {
        {{"add", "--title", std::string(57, 'x'), "--folder", in}, 1},
        {{"add", "--title", "\xF0\x9F\x98\x80", "--folder", in}, 1},  // no CP932 form
        {{"add", "--title", "t", "--folder", in, "--pattern", ""}, 1},
        {{"add", "--title", "", "--folder", in}, 1},
        {{"add", "--title", "t", "--folder", in, "--move-to", ""}, 1},
        {{"add", "--title", "t", "--folder", in, "--pattern", std::string(41, '*')}, 1},
        {{"add", "--title", "t", "--folder", in, "--all-files", "--pattern", "*.csv"}, 1},
        {{"change", "1", "--pattern", "*.csv", "--all-files"}, 1},
        {{"change", "1", "--pattern", "sub/*.csv"}, 1},
        {{"change", "1", "--sound", "wave"}, 1},
        {{"change", "1", "--sound", "wave", "--wave-file", (dir / "none.wav").string()}, 1},
        {{"import", (dir / "nowave.txt").string()}, 1},
        {{"change", "1", "--pattern", "sub\\*.csv"}, 1},
        {{"change", "2", "--title", "t"}, 1},
        {{"change", "1", "--title", ""}, 1},
        {{"change", "x"}, 1},
        {{"remove", "0"}, 1},
        {{"add", "--on", "sometimes"}, 2},
        {{"add", "--colour"}, 2},
        {{"list", "extra"}, 2},
        {{"stop"}, 2},
        {{"import", (dir / "empty.txt").string()}, 1},
        // A command that only reads creates no data folder.
        {{"list", "--data-dir", (dir / "dtaa").string()}, 1},
        {{"export", "--data-dir", (dir / "dtaa").string()}, 1},
        {{"frobnicate"}, std::nullopt},
        {{"--version"}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.words), c.status) << c.words.front() << " " << c.words.back();
        EXPECT_EQ(ReadBytes(settings), before) << c.words.front() << " " << c.words.back();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "dtaa"));

    WriteBytes(dir / "one.txt", "[entry]\ntitle = one\nfolder = " + in + "\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(run({"import", (dir / "one.txt").string()}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind(
                  JapaneseLocale() ? "1 件を読み込みました。\n" : "1 entry imported.\n", 0),
              0u);

    // --delete is the text's "after = delete"; one entry written is told so.
    EXPECT_EQ(run({"change", "1", "--delete"}), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run({"export", (dir / "out.txt").string()}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind(
                  JapaneseLocale() ? "1 件を書き出しました: " : "1 entry written to ", 0),
              0u);
    EXPECT_NE(ReadBytes(dir / "out.txt").find("\nafter = delete\n"), std::string::npos);
}

// The 200th entry is the last: the list's own message, and the file stays.
TEST(EntryCommandsTest, TheListHoldsTwoHundredEntries) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "[entry]\ntitle = e\nfolder = " + dir.path().string() + "\n";
    WriteBytes(dir / "full.txt", text);
    const std::string data = (dir / "data").string();
    const auto run = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {"--data-dir", data});
        return RunEntryCommand(words, "tavren3");
    };
    ASSERT_EQ(run({"import", (dir / "full.txt").string()}), 0);
    const std::string full = ReadBytes(dir / "data" / "tavdat" / "dirinfo.dat");
    EXPECT_EQ(full.size(), 200 * store::kSlotSize);
    EXPECT_EQ(run({"add", "--title", "one more", "--folder", dir.path().string()}), 1);
    WriteBytes(dir / "more.txt", text + "[entry]\ntitle = e\nfolder = /\n");
    EXPECT_EQ(run({"import", (dir / "more.txt").string()}), 1);
    EXPECT_EQ(ReadBytes(dir / "data" / "tavdat" / "dirinfo.dat"), full);

    // Bytes past the 200th entry are not dropped by a change: the old file
    // is kept whole beside the new one.
    WriteBytes(dir / "data" / "tavdat" / "dirinfo.dat", full + "damaged");
    EXPECT_EQ(run({"stop", "1"}), 0);
    EXPECT_EQ(ReadBytes(dir / "data" / "tavdat" / "dirinfo.dat").size(), full.size());
    EXPECT_EQ(ReadBytes(dir / "data" / "tavdat" / "dirinfo.dat.damaged"), full + "damaged");
}

// A command looking for the watcher takes the data folder's lock for a
// moment; a watcher starting just then must still start. Another watcher
// holding the lock for good still keeps it out.
TEST(EntryCommandsTest, AWatcherStartingWhileACommandLooksStillStarts) {
    TempDir dir;
    const store::DataFolder data(dir.path());
    ASSERT_TRUE(data.Prepare().ok());
    long holder = 0;
    std::error_code ec;
    auto probe = platform::LockFile(data.lockFile(), holder, ec);
    ASSERT_TRUE(probe);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        probe.reset();
    });
    const DataFolderLock watcher = LockDataFolder(data);
    release.join();
    EXPECT_TRUE(watcher.lock);
    EXPECT_TRUE(watcher.busy.empty());
    EXPECT_FALSE(LockDataFolder(data).busy.empty());
}

}  // namespace
}  // namespace tavren::app
