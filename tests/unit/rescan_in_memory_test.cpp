#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "engine/rescan.h"
#include "platform/path_text.h"
#include "platform/wake_event.h"
#include "store/snapshot.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::engine {
namespace {

using platform::DirEntry;
using test::kSep;

constexpr std::int64_t kT0 = 1'796'569'449;  // 2026-12-06 15:04:09 UTC

// A file as a listing gives it; its identity follows from its name unless
// given.
DirEntry F(const std::string& name, std::uint64_t size = 1, std::int64_t mtime = kT0,
           std::uint64_t index = 0) {
    DirEntry e;
    e.name = name;
    e.size = size;
    e.mtimeSeconds = mtime;
    e.id = {1, index != 0 ? index : std::hash<std::string>{}(name) | 1};
    return e;
}

// Looks at a folder held in memory: any listing, time or identity, and
// failures no real folder can be made to show. Every file acted on is
// opened, so the log names it.
class RescanInMemory : public ::testing::Test {
protected:
    RescanInMemory() : fakes(watcher), data(dir / "data") {
        EXPECT_TRUE(data.Prepare().ok());
        entry.folder = "watch";
        entry.timing = store::timing::kNames;
        entry.openFile = 1;
        services.probeWriters = [](const std::filesystem::path&) {
            return platform::WriterState::None;
        };
    }

    test::MemoryFolders::Folder& Folder() { return folders[platform::PathFromUtf8(entry.folder)]; }

    void Baseline(std::vector<DirEntry> files) {
        fakes.log.Clear();
        state = std::make_unique<WatchState>();
        state->slot = 0;
        Folder() = {};
        Folder().entries = std::move(files);
        RescanContext ctx{entry, data, services, *state, cancel};
        ASSERT_EQ(TakeBaseline(ctx), RescanResult::Completed);
    }

    // The next notification, 10 seconds later: no debounce.
    RescanResult RescanLater() {
        fakes.clock.Advance(10);
        RescanContext ctx{entry, data, services, *state, cancel};
        return RescanEntry(ctx);
    }

    // What the looks did, by file: "open <name>", "deleted <name>".
    std::vector<std::string> Acts() const {
        const std::string opened = "open:" + entry.folder + kSep;
        const std::string deleted = "message:" + entry.folder + kSep;
        std::vector<std::string> acts;
        for (const std::string& e : fakes.log.Events()) {
            if (e.starts_with(opened)) {
                acts.push_back("open " + e.substr(opened.size()));
            } else if (e.starts_with(deleted) && e.ends_with(kDeletedSuffix)) {
                acts.push_back("deleted " + e.substr(deleted.size(), e.size() - deleted.size() -
                                                                         kDeletedSuffix.size()));
            } else if (!e.starts_with("sleep:") && !e.starts_with("problem:")) {
                acts.push_back(e);
            }
        }
        return acts;
    }

    test::TempDir dir;
    test::NullChangeWatcher watcher;
    test::FakeServices fakes;
    test::MemoryFolders folders;
    Services services{fakes.clock, fakes.changes, fakes.launcher, fakes.mover,
                      fakes.sound, fakes.sink,    folders};
    store::DataFolder data;
    store::WatchEntry entry;
    std::unique_ptr<WatchState> state;
    platform::WakeEvent cancel;
};

// What a real folder cannot be made to show at will: times, identities.
TEST_F(RescanInMemory, ActsOnNewAndChangedFilesByTimeAndIdentity) {
    struct Case {
        const char* what;
        std::vector<DirEntry> before, after;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"new file", {F("a")}, {F("a"), F("b")}, {"open b"}},
        {"written a second later", {F("a")}, {F("a", 1, kT0 + 1)}, {"open a"}},
        {"another file with the name, size and time",
         {F("a", 1, kT0, 7)},
         {F("a", 1, kT0, 8)},
         {"open a"}},
        {"unchanged", {F("a"), F("b")}, {F("a"), F("b")}, {}},
        {"deleted", {F("a"), F("b")}, {F("a")}, {"deleted b"}},
    };
    for (const Case& c : cases) {
        Baseline(c.before);
        Folder().entries = c.after;
        EXPECT_EQ(RescanLater(), RescanResult::Completed) << c.what;
        EXPECT_EQ(Acts(), c.expected) << c.what;
        // The snapshot now holds what was found: the next look does nothing.
        fakes.log.Clear();
        RescanLater();
        EXPECT_EQ(Acts(), std::vector<std::string>{}) << c.what;
    }
}

TEST_F(RescanInMemory, FolderThatCannotBeReadKeepsTheSnapshotAndOnlyAnUnreadableOneIsTold) {
    struct Case {
        const char* what;
        std::error_code stat, list;
        RescanResult expected;
        std::size_t problems;
    };
    const auto error = [](std::errc e) { return std::make_error_code(e); };
    const Case cases[] = {
        {"unreadable", {}, error(std::errc::permission_denied), RescanResult::ListingFailed, 1},
        {"share not answering", error(std::errc::io_error), error(std::errc::io_error),
         RescanResult::FolderAway, 0},
        {"share lost while listed",
         {},
         error(std::errc::not_connected),
         RescanResult::FolderAway,
         0},
    };
    for (const Case& c : cases) {
        Baseline({F("a"), F("b")});
        Folder().entries = {F("a")};
        Folder().statError = c.stat;
        Folder().listError = c.list;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(RescanLater(), c.expected) << c.what;
        EXPECT_EQ(fakes.log.Matching("problem:").size(), c.problems) << c.what;
        EXPECT_EQ(Acts(), std::vector<std::string>{}) << c.what;
        // Readable again, it is compared with the snapshot taken before.
        Folder().statError.clear();
        Folder().listError.clear();
        EXPECT_EQ(RescanLater(), RescanResult::Completed) << c.what;
        EXPECT_EQ(Acts(), std::vector<std::string>{"deleted b"}) << c.what;
    }
}

TEST_F(RescanInMemory, RecordsFileTimesInTheClocksLocalTime) {
    fakes.clock.utcOffset = 9 * 3600;
    Baseline({F("a")});
    const store::SnapshotList list = store::ReadSnapshot(data, 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].item.date, 20261207);  // 00:04:09 of the next day
    EXPECT_EQ(list[0].item.time, 409);
}

}  // namespace
}  // namespace tavren::engine
