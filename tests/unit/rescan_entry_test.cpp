#include <gtest/gtest.h>

#include "engine/rescan.h"
#include "platform/wake_event.h"
#include "store/snapshot.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::engine {
namespace {

namespace fs = std::filesystem;
using test::kSep;
using test::TempDir;

// One entry rescanned against a real folder, with fakes for everything
// that acts and a clock the test moves.
class RescanEntryTest : public ::testing::Test {
protected:
    RescanEntryTest() : fakes(watcher), data(dir / "data") {
        EXPECT_TRUE(data.Prepare().ok());
        fs::create_directories(dir / "watch");
        fs::create_directories(dir / "dest");
        entry.folder = (dir / "watch").string();
        entry.moveTo = (dir / "dest").string();
        entry.timing = 1;
        entry.messageMode = 1;
        state.slot = 0;
        state.lastEventTime = static_cast<std::uint32_t>(fakes.clock.NowSeconds() - 100);
    }

    void File(const std::string& name, std::string_view content = "x") {
        test::WriteBytes(dir / "watch" / name, content);
    }
    void Baseline() {
        RescanContext ctx{entry, data, services, state, cancel};
        TakeBaseline(ctx);
        ASSERT_TRUE(state.fileCurrent);
    }

    RescanResult Rescan(Trigger trigger = Trigger::Notification) {
        RescanContext ctx{entry, data, services, state, cancel};
        return RescanEntry(ctx, trigger);
    }
    // Next notification comes 10 seconds later: no debounce.
    RescanResult RescanLater() {
        fakes.clock.Advance(10);
        return Rescan();
    }
    std::vector<std::string> Log() const { return fakes.log.Events(); }

    TempDir dir;
    test::NullChangeWatcher watcher;
    test::FakeServices fakes;
    Services services = fakes.services();
    store::DataFolder data;
    store::WatchEntry entry;
    WatchState state;
    std::atomic<std::uint32_t>& lastEventTime = state.lastEventTime;
    platform::WakeEvent cancel;
};

TEST_F(RescanEntryTest, DebounceCountsWholeSecondsSinceThePreviousNotification) {
    Baseline();
    struct Step {
        std::int64_t advance;
        RescanResult expected;
    };
    // Every notification renews the time, debounced or not; a clock that
    // went backwards gives a huge unsigned difference and a rescan.
    const Step steps[] = {{0, RescanResult::Completed}, {2, RescanResult::Debounced},
                          {2, RescanResult::Debounced}, {3, RescanResult::Completed},
                          {1, RescanResult::Debounced}, {-50, RescanResult::Completed}};
    fakes.clock.Set(lastEventTime + 100);
    for (const Step& s : steps) {
        fakes.clock.Advance(s.advance);
        EXPECT_EQ(Rescan(), s.expected) << "after +" << s.advance;
    }
    EXPECT_EQ(lastEventTime.load(), static_cast<std::uint32_t>(fakes.clock.NowSeconds()));
    // A catch-up look is no notification: it neither waits nor counts as one.
    const std::uint32_t before = lastEventTime;
    fakes.clock.Advance(1);
    EXPECT_EQ(Rescan(Trigger::CatchUp), RescanResult::Completed);
    EXPECT_EQ(lastEventTime.load(), before);
}

TEST_F(RescanEntryTest, DebouncedNotificationTouchesNothing) {
    Baseline();
    lastEventTime = static_cast<std::uint32_t>(fakes.clock.NowSeconds() - 1);
    File("new.txt");
    EXPECT_EQ(Rescan(), RescanResult::Debounced);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
}

TEST_F(RescanEntryTest, OnlyTheFirstNewFileIsAnnouncedButAllAreMoved) {
    Baseline();
    for (const char* n : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) File(n);
    entry.afterMode = 2;
    EXPECT_EQ(RescanLater(), RescanResult::Completed);

    const auto events = Log();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_TRUE(events[0].starts_with("message:") && events[0].ends_with("を実行します。"));
    EXPECT_EQ(fakes.log.Matching("move:").size(), 5u);
    EXPECT_TRUE(fs::is_empty(dir / "watch"));
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);  // the moved files are gone
}

TEST_F(RescanEntryTest, OpenFileOpensEachFileAndNeverRunsTheProgram) {
    Baseline();
    File("a.txt");
    File("b.txt");
    entry.openFile = 1;
    entry.program = "/bin/true";
    entry.messageMode = 0;
    RescanLater();
    EXPECT_EQ(fakes.log.Matching("open:").size(), 2u);
    EXPECT_EQ(fakes.log.Matching("sleep:1000").size(), 2u);
    EXPECT_TRUE(fakes.log.Matching("run:").empty());
}

TEST_F(RescanEntryTest, ChangedFileIsActedOnAndUnchangedOneIsNot) {
    File("same.txt", "1");
    File("grows.txt", "1");
    Baseline();
    File("grows.txt", "12");
    entry.program = "/usr/bin/handle";
    entry.waitExit = 1;
    RescanLater();
    EXPECT_EQ(Log(), (std::vector<std::string>{"message:/usr/bin/handleを実行します。",
                                               "run:/usr/bin/handle"}));
    fakes.log.Clear();
    RescanLater();
    EXPECT_TRUE(Log().empty());
}

TEST_F(RescanEntryTest, DeletionsAreAnnouncedOnceAndRunTheProgramForEachFile) {
    for (const char* n : {"a", "b", "c", "d", "e"}) File(n);
    Baseline();
    fs::remove(dir / "watch" / "b");
    fs::remove(dir / "watch" / "d");
    entry.program = "/usr/bin/cleanup";
    entry.waitExit = 1;
    RescanLater();
    EXPECT_EQ(Log(), (std::vector<std::string>{"message:/usr/bin/cleanupを実行します。",
                                               "run:/usr/bin/cleanup", "run:/usr/bin/cleanup"}));
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 3u);
}

TEST_F(RescanEntryTest, DeletionNoticeOfAnOpeningEntryIsShownEvenWithoutMessages) {
    File("gone.txt");
    Baseline();
    fs::remove(dir / "watch" / "gone.txt");
    entry.openFile = 1;
    entry.messageMode = 0;
    RescanLater();
    EXPECT_EQ(Log(), std::vector<std::string>{"message:" + entry.folder + kSep +
                                              "gone.txt が削除されました。"});
}

TEST_F(RescanEntryTest, FileArrivingWhileTheUserReadsTheMessageIsActedOnNextTime) {
    Baseline();
    File("first.txt");
    entry.afterMode = 2;
    fakes.sink.onMessage = [&](std::string_view) {
        if (!fs::exists(dir / "watch" / "late.txt")) File("late.txt");
    };
    RescanLater();
    // late.txt was not met by the listing: not moved and not recorded...
    EXPECT_TRUE(fs::exists(dir / "watch" / "late.txt"));
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
    // ...so the next rescan finds it as new.
    fakes.log.Clear();
    RescanLater();
    EXPECT_EQ(fakes.log.Matching("move:").size(), 1u);
    EXPECT_FALSE(fs::exists(dir / "watch" / "late.txt"));
}

TEST_F(RescanEntryTest, ChangesTheActionsMakeToMetFilesAreAbsorbed) {
    Baseline();
    File("input.txt", "1");
    entry.messageMode = 0;
    entry.program = "/usr/bin/convert-in-place";
    entry.waitExit = 1;
    // The "program" rewrites the file it was started for.
    fakes.sink.onMessage = nullptr;
    struct Rewriter final : platform::ProcessLauncher {
        fs::path file;
        bool RunAndWait(std::string_view, const platform::WakeEvent&) override {
            test::WriteBytes(file, "converted, longer");
            return true;
        }
        bool StartProgram(std::string_view) override { return true; }
        OpenResult OpenDocument(const fs::path&) override { return OpenResult::Opened; }
    } rewriter;
    rewriter.file = dir / "watch" / "input.txt";
    Services s = services;
    Services withRewriter{s.clock, s.changes, rewriter, s.mover, s.sound, s.messages};
    fakes.clock.Advance(10);
    RescanContext ctx{entry, data, withRewriter, state, cancel};
    RescanEntry(ctx);
    const store::SnapshotList list = store::ReadSnapshot(data, 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].item.size, std::string("converted, longer").size());
}

TEST_F(RescanEntryTest, UnchangedFolderLeavesTheSnapshotFileAlone) {
    File("a.txt");
    Baseline();
    // A torn tail would vanish with any rewrite.
    const fs::path snap = data.snapshotFile(0);
    test::WriteBytes(snap, test::ReadBytes(snap) + "torn");
    RescanLater();
    EXPECT_TRUE(test::ReadBytes(snap).ends_with("torn"));
    EXPECT_TRUE(Log().empty());
}

TEST_F(RescanEntryTest, ExitStopsBetweenActionsAndKeepsTheOldSnapshot) {
    Baseline();
    File("a.txt");
    File("b.txt");
    entry.afterMode = 2;
    fakes.sink.onMessage = [&](std::string_view) { cancel.Set(); };
    EXPECT_EQ(RescanLater(), RescanResult::Cancelled);
    EXPECT_TRUE(fakes.log.Matching("move:").empty());
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
}

TEST_F(RescanEntryTest, SnapshotOfASlotTakenOverByANewerStartIsNotWritten) {
    Baseline();
    File("a.txt");
    RescanContext ctx{entry, data, services, state, cancel};
    ctx.guardSnapshotWrite = [](const std::function<void(int)>&) { return false; };
    fakes.clock.Advance(10);
    RescanEntry(ctx);
    EXPECT_EQ(fakes.log.Matching("message:").size(), 1u);
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
}

TEST_F(RescanEntryTest, PatternEntriesSeeOnlyMatchingFiles) {
    entry.fileMode = 1;
    entry.pattern = "abc*.*";
    File("abc.txt");
    File("other.txt");
    Baseline();
    fs::remove(dir / "watch" / "other.txt");  // invisible to the entry, so no deletion
    File("abcdef");
    fs::create_directory(dir / "watch" / "abc.dir");  // folders never count
    RescanLater();
    EXPECT_EQ(Log(), std::vector<std::string>{"message:abcdefを実行します。"});
}

}  // namespace
}  // namespace tavren::engine
