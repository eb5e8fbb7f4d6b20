#include <gtest/gtest.h>

#include "engine/rescan.h"
#include "platform/change_watcher.h"
#include "platform/wake_event.h"
#include "store/snapshot.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::engine {
namespace {

namespace fs = std::filesystem;
using test::kSep;
using test::TempDir;

// How a look finds what changed: by the names the folder's notifications
// gave, or by listing the folder. Every scenario runs both ways, and both
// must come to the same.
enum class LookBy { Names, Listing };

// One entry rescanned against a real folder, with fakes for everything
// that acts and a clock the test moves. Looking by names, a real change
// watcher gathers the names.
class RescanEntryTest : public ::testing::TestWithParam<LookBy> {
protected:
    RescanEntryTest() : fakes(watcher), data(dir / "data") {
        EXPECT_TRUE(data.Prepare().ok());
        fs::create_directories(dir / "watch");
        fs::create_directories(dir / "dest");
        fs::create_directories(dir / "sync");
        entry.folder = (dir / "watch").string();
        entry.moveTo = (dir / "dest").string();
        entry.timing = 1;
        entry.messageMode = 1;
        state.slot = 0;
        state.lastEventTime = static_cast<std::uint32_t>(fakes.clock.NowSeconds() - 100);
        if (GetParam() == LookBy::Names) {
            std::error_code ec;
            names = changes->Watch(dir / "watch", platform::ChangeKind::Names, ec);
            syncing = changes->Watch(dir / "sync", platform::ChangeKind::Names, ec);
            EXPECT_TRUE(names && syncing) << ec.message();
            state.notified.Begin(kSource);
        }
    }

    void File(const std::string& name, std::string_view content = "x") {
        test::WriteBytes(dir / "watch" / name, content);
    }
    void Baseline() {
        RescanContext ctx = Context();
        TakeBaseline(ctx);
        ASSERT_TRUE(state.fileCurrent);
    }

    RescanContext Context(const Services& with) {
        RescanContext ctx{entry, data, with, state, cancel};
        if (names) {
            ctx.namesSource = kSource;
            ctx.gatherNames = [this] { GatherNames(); };
        }
        return ctx;
    }
    RescanContext Context() { return Context(services); }

    // A look as the entry's worker makes it: with the names notified so
    // far. One watcher reports its folders' changes in order, so a change
    // in another folder seen to arrive means every earlier one has.
    void GatherNames() {
        test::WriteBytes(dir / "sync" / std::to_string(++syncs), "");
        EXPECT_EQ(syncing->Wait(cancel, std::chrono::seconds(10)), platform::WaitResult::Changed);
        std::vector<std::string> notified;
        const bool complete = names->TakeNames(notified);
        state.notified.Add(kSource, complete, notified);
    }
    RescanResult Look(RescanContext& ctx, Trigger trigger = Trigger::Notification) {
        if (names) GatherNames();
        return RescanEntry(ctx, trigger);
    }
    RescanResult Rescan(Trigger trigger = Trigger::Notification) {
        RescanContext ctx = Context();
        return Look(ctx, trigger);
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
    static constexpr std::uint64_t kSource = 1;
    std::unique_ptr<platform::ChangeWatcher> changes = platform::MakeChangeWatcher();
    std::unique_ptr<platform::ChangeSubscription> names, syncing;
    int syncs = 0;
};

std::string WayName(const ::testing::TestParamInfo<LookBy>& way) {
    return way.param == LookBy::Names ? "ByNames" : "ByListing";
}
#ifdef _WIN32
// Windows' watcher gathers names as its waiter takes the system's reads,
// and these looks come without a wait: the engine's own tests there look
// by names.
INSTANTIATE_TEST_SUITE_P(BothWays, RescanEntryTest, ::testing::Values(LookBy::Listing), WayName);
#else
INSTANTIATE_TEST_SUITE_P(BothWays, RescanEntryTest,
                         ::testing::Values(LookBy::Names, LookBy::Listing), WayName);
#endif

TEST_P(RescanEntryTest, DebounceCountsWholeSecondsSinceThePreviousNotification) {
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

TEST_P(RescanEntryTest, DebouncedNotificationTouchesNothing) {
    Baseline();
    lastEventTime = static_cast<std::uint32_t>(fakes.clock.NowSeconds() - 1);
    File("new.txt");
    EXPECT_EQ(Rescan(), RescanResult::Debounced);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
}

TEST_P(RescanEntryTest, OnlyTheFirstNewFileIsAnnouncedButAllAreMoved) {
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

TEST_P(RescanEntryTest, OpenFileOpensEachFileAndNeverRunsTheProgram) {
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

TEST_P(RescanEntryTest, ChangedFileIsActedOnAndUnchangedOneIsNot) {
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

TEST_P(RescanEntryTest, DeletionsAreAnnouncedOnceAndRunTheProgramForEachFile) {
    for (const char* n : {"a", "b", "c", "d", "e"}) File(n);
    Baseline();
    fs::remove(dir / "watch" / "b");
    fs::remove(dir / "watch" / "d");
    entry.program = "/usr/bin/cleanup";
    entry.waitExit = 1;
    RescanLater();
    // A moment passes first: files gone with their folder are no deletions.
    EXPECT_EQ(Log(),
              (std::vector<std::string>{"sleep:200", "message:/usr/bin/cleanupを実行します。",
                                        "run:/usr/bin/cleanup", "run:/usr/bin/cleanup"}));
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 3u);
}

TEST_P(RescanEntryTest, DeletionNoticeOfAnOpeningEntryIsShownEvenWithoutMessages) {
    File("gone.txt");
    Baseline();
    fs::remove(dir / "watch" / "gone.txt");
    entry.openFile = 1;
    entry.messageMode = 0;
    RescanLater();
    EXPECT_EQ(Log(), (std::vector<std::string>{"sleep:200", "message:" + entry.folder + kSep +
                                                                "gone.txt が削除されました。"}));
}

TEST_P(RescanEntryTest, FileArrivingWhileTheUserReadsTheMessageIsActedOnNextTime) {
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

TEST_P(RescanEntryTest, ChangesTheActionsMakeToMetFilesAreAbsorbed) {
    File("index.txt", "0");
    Baseline();
    File("input.txt", "1");
    entry.messageMode = 0;
    entry.program = "/usr/bin/convert-in-place";
    entry.waitExit = 1;
    // The "program" rewrites the file it was started for.
    fakes.sink.onMessage = nullptr;
    struct Rewriter final : platform::ProcessLauncher {
        fs::path file;
        bool RunAndWait(std::string_view, const platform::WakeEvent&,
                        const platform::LaunchContext&) override {
            test::WriteBytes(file, "converted, longer");
            test::WriteBytes(file.parent_path() / "index.txt", "input.txt");  // another file
            return true;
        }
        bool StartProgram(std::string_view, const platform::LaunchContext&) override {
            return true;
        }
        OpenResult OpenDocument(const fs::path&) override { return OpenResult::Opened; }
    } rewriter;
    rewriter.file = dir / "watch" / "input.txt";
    Services s = services;
    Services withRewriter{s.clock, s.changes, rewriter, s.mover, s.sound, s.messages};
    fakes.clock.Advance(10);
    RescanContext ctx = Context(withRewriter);
    Look(ctx);
    store::SnapshotList list = store::ReadSnapshot(data, 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.Find("input.txt")->item.size, std::string("converted, longer").size());
    EXPECT_EQ(list.Find("index.txt")->item.size, std::string("input.txt").size());
    fakes.log.Clear();
    RescanLater();  // neither starts the program again
    EXPECT_TRUE(Log().empty());
}

TEST_P(RescanEntryTest, UnchangedFolderLeavesTheSnapshotFileAlone) {
    File("a.txt");
    Baseline();
    // A torn tail would vanish with any rewrite.
    const fs::path snap = data.snapshotFile(0);
    test::WriteBytes(snap, test::ReadBytes(snap) + "torn");
    RescanLater();
    EXPECT_TRUE(test::ReadBytes(snap).ends_with("torn"));
    EXPECT_TRUE(Log().empty());
}

TEST_P(RescanEntryTest, ExitStopsBetweenActionsAndKeepsTheOldSnapshot) {
    Baseline();
    File("a.txt");
    File("b.txt");
    entry.afterMode = 2;
    fakes.sink.onMessage = [&](std::string_view) { cancel.Set(); };
    EXPECT_EQ(RescanLater(), RescanResult::Cancelled);
    EXPECT_TRUE(fakes.log.Matching("move:").empty());
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
}

TEST_P(RescanEntryTest, SnapshotOfASlotTakenOverByANewerStartIsNotWritten) {
    Baseline();
    File("a.txt");
    RescanContext ctx = Context();
    ctx.guardSnapshotWrite = [](const std::function<void(int)>&) { return false; };
    fakes.clock.Advance(10);
    Look(ctx);
    EXPECT_EQ(fakes.log.Matching("message:").size(), 1u);
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
}

// The fakes' mover with its moves taken over by a test.
struct MoverWith final : platform::FileMover {
    using MoveFn = std::function<std::error_code(const fs::path&, const fs::path&, bool)>;
    MoverWith(platform::FileMover& real, MoveFn move) : real_(real), move_(std::move(move)) {}
    std::error_code Move(const fs::path& from, const fs::path& to, bool replace,
                         const platform::WakeEvent&) override {
        return move_(from, to, replace);
    }
    bool Exists(const fs::path& path) override { return real_.Exists(path); }

private:
    platform::FileMover& real_;
    MoveFn move_;
};

TEST(Readiness, CompleteAtOnceHeldOrUnknownAfterQuiet) {
    using platform::WriterState;
    using namespace std::chrono_literals;
    const SteadyTime t0{std::chrono::hours(1)};
    const std::int64_t wall = 1'000'000'000'000'000'000;
    const Observation grown{{1, 7}, 200, wall - 100'000'000};  // written 0.1 s ago
    const Observation old{{1, 7}, 100, wall - 5'000'000'000};  // written 5 s ago
    const WaitingFile seenJustNow{{1, 7}, 100, wall - 5'000'000'000, t0};
    const WaitingFile seenLongAgo{{1, 7}, 100, wall - 5'000'000'000, t0 - 61s};
    struct Case {
        const char* what;
        WriterState writers;
        Observation now;
        const WaitingFile* previous;
        Readiness expected;
    } cases[] = {
        {"nobody writes: at once, however fresh", WriterState::None, grown, nullptr,
         Readiness::Ready},
        {"unknown, written 0.1 s ago", WriterState::Unknown, grown, nullptr, Readiness::Wait},
        {"unknown, quiet for 5 s", WriterState::Unknown, old, nullptr, Readiness::Ready},
        {"unknown, grew since the last look", WriterState::Unknown, grown, &seenJustNow,
         Readiness::Wait},
        {"held, quiet for 5 s", WriterState::Writing, old, nullptr, Readiness::Wait},
        {"held, unchanged for 61 s", WriterState::Writing, old, &seenLongAgo, Readiness::Ready},
        {"held, changed after 61 s", WriterState::Writing, grown, &seenLongAgo, Readiness::Wait},
    };
    for (const Case& c : cases) {
        WaitingFile record;
        EXPECT_EQ(JudgeReadiness(c.writers, c.now, c.previous, wall, t0, record), c.expected)
            << c.what;
    }
}

TEST_P(RescanEntryTest, FileHeldByAWriterWaitsOutOfTheSnapshotAndIsActedOnOnceClosed) {
    Baseline();
    File("slow.bin", "part");
    File("done.txt");
    entry.afterMode = 2;
    bool held = true;
    services.probeWriters = [&](const fs::path& file) {
        return held && file.filename() == "slow.bin" ? platform::WriterState::Writing
                                                     : platform::WriterState::None;
    };
    RescanLater();
    EXPECT_EQ(fakes.log.Matching("move:").size(), 1u);  // done.txt alone
    EXPECT_TRUE(fs::exists(dir / "watch" / "slow.bin"));
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
    EXPECT_NE(state.recheckAt, kNever);  // it looks again by itself

    RescanContext ctx = Context();
    EXPECT_FALSE(CheckPending(ctx));  // still held
    File("slow.bin", "part and the rest");
    held = false;
    EXPECT_TRUE(CheckPending(ctx));
    EXPECT_EQ(Rescan(Trigger::CatchUp), RescanResult::Completed);
    EXPECT_EQ(fakes.log.Matching("move:").size(), 2u);
    EXPECT_EQ(fakes.log.Matching("message:").size(), 2u);
    EXPECT_EQ(state.recheckAt, kNever);  // nothing waits: no more wake-ups
}

// Moves that do not succeed (in use, destination full, then read-only): the
// file stays out of the snapshot, its move alone is tried again ever less
// often, each cause is told once (being in use only when it lasts), and the
// success after a told failure is told too; nothing is announced or run
// again, and the keeper of the pending moves hears of each change.
TEST_P(RescanEntryTest, FailedMoveIsRetriedAloneAndToldOncePerCause) {
    Baseline();
    File("a.txt");
    entry.afterMode = 2;
    entry.program = "/usr/bin/handle";
    entry.waitExit = 1;
    std::vector<std::errc> refusals = {
        std::errc::device_or_resource_busy, std::errc::device_or_resource_busy,
        std::errc::device_or_resource_busy, std::errc::no_space_on_device,
        std::errc::no_space_on_device,      std::errc::read_only_file_system};
    MoverWith failing(fakes.mover, [&](const fs::path& from, const fs::path& to, bool replace) {
        if (refusals.empty()) return fakes.mover.Move(from, to, replace, cancel);
        const std::errc e = refusals.front();
        refusals.erase(refusals.begin());
        return std::make_error_code(e);
    });
    Services s{services.clock, services.changes, services.launcher,
               failing,        services.sound,   services.messages};
    RescanContext ctx = Context(s);
    std::vector<std::size_t> recorded;  // pending moves, as their keeper heard
    ctx.movesChanged = [&](const std::vector<OwedFile>& moves) {
        recorded.push_back(moves.size());
    };
    fakes.clock.Advance(10);
    Look(ctx);
    ASSERT_EQ(state.pendingMoves.size(), 1u);
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);  // out of the snapshot while it waits
    std::vector<std::chrono::milliseconds> intervals;
    while (!refusals.empty()) {
        if (refusals.size() == 1) state.pendingMoves[0].attempts = 8;  // long refused
        state.pendingMoves[0].due = SteadyTime{};                      // due now
        EXPECT_FALSE(CheckPending(ctx));
        ASSERT_EQ(state.pendingMoves.size(), 1u);
        intervals.push_back(std::chrono::ceil<std::chrono::milliseconds>(
            state.pendingMoves[0].due - std::chrono::steady_clock::now()));
    }
    // 2, 4, 8, 16 s after the first second's failure; a minute at most.
    using std::chrono::seconds;
    EXPECT_TRUE(intervals.front() > seconds(1) && intervals.front() <= seconds(2));
    EXPECT_TRUE(intervals[1] > seconds(3) && intervals[1] <= seconds(4));
    EXPECT_TRUE(intervals.back() > seconds(59) && intervals.back() <= seconds(60));
    const auto told = fakes.log.Matching("problem:");
    ASSERT_EQ(told.size(), 3u);  // busy once it lasted, full, read-only
    EXPECT_NE(told[0].find("a.txt を " + (dir / "dest" / "a.txt").string() + " へ移動できません"),
              std::string::npos);
    EXPECT_NE(told[2].find(std::make_error_code(std::errc::read_only_file_system).message()),
              std::string::npos);

    fakes.clock.Advance(10);
    Look(ctx);  // a look tries the move at once: it succeeds
    EXPECT_FALSE(CheckPending(ctx));
    EXPECT_TRUE(fs::exists(dir / "dest" / "a.txt"));
    EXPECT_TRUE(fakes.log.Matching("problem:").back().ends_with("へ移動しました。"));
    fakes.clock.Advance(10);
    Look(ctx);  // the move is not a deletion, and nothing runs again
    EXPECT_EQ(fakes.log.Matching("run:").size(), 1u);
    EXPECT_EQ(fakes.log.Matching("message:").size(), 1u);
    EXPECT_EQ(recorded, (std::vector<std::size_t>{1, 0}));
}

// The record keeps whole seconds and the low bits of the size; a rewrite
// within the same second to the same size still counts while the engine
// runs.
TEST_P(RescanEntryTest, RewriteWithinTheSameSecondToTheSameSizeIsAChange) {
    entry.timing = 0;
    const std::int64_t second = 1'800'000'000'000'000'000;  // 2027-01-15, in ns
    File("f.txt", "AAAA");
    test::SetMtimeNs(dir / "watch" / "f.txt", second + 100'000'000);
    Baseline();
    File("f.txt", "BBBB");
    test::SetMtimeNs(dir / "watch" / "f.txt", second + 500'000'000);
    RescanLater();
    EXPECT_EQ(Log(), std::vector<std::string>{"message:f.txtを実行します。"});
}

TEST_P(RescanEntryTest, UnreadableSnapshotFileIsReportedOnceAndNothingIsRepeated) {
    File("before.txt");
    Baseline();
    // A folder in the snapshot file's place: every write of it fails.
    fs::remove(data.snapshotFile(0));
    fs::create_directories(data.snapshotFile(0) / "blocker");
    File("a.txt");
    RescanLater();
    File("b.txt");
    RescanLater();
    RescanLater();
    EXPECT_EQ(fakes.log.Matching("problem:").size(), 1u);
    EXPECT_EQ(fakes.log.Matching("message:").size(), 2u);  // a.txt and b.txt, once each
    fs::remove_all(data.snapshotFile(0));
    RescanLater();  // nothing new, but the file is behind: written now
    EXPECT_TRUE(state.fileCurrent);
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 3u);
}

TEST_P(RescanEntryTest, MoveIntoTheWatchedFolderItselfHappensOnce) {
    File("a.txt");
    Baseline();
    entry.afterMode = 2;
    entry.moveTo = entry.folder;
    File("b.txt");
    for (int i = 0; i < 4; ++i) RescanLater();
    EXPECT_EQ(fakes.log.Matching("move:").size(), 1u);
    EXPECT_EQ(fakes.log.Matching("message:").size(), 1u);
}

TEST_P(RescanEntryTest, FileTakingTheNameOfOneMovedDuringTheLookIsActedOn) {
    Baseline();
    File("a.csv", "old");
    File("b.csv");
    entry.afterMode = 2;
    entry.program = "/usr/bin/import";
    entry.waitExit = 1;
    // A new a.csv arrives as soon as the old one has been moved, while the
    // look still runs.
    bool refilled = false;
    MoverWith refill(fakes.mover, [&](const fs::path& from, const fs::path& to, bool replace) {
        const std::error_code ec = fakes.mover.Move(from, to, replace, cancel);
        if (from.filename() == "a.csv" && !std::exchange(refilled, true)) File("a.csv", "new");
        return ec;
    });
    Services s{services.clock, services.changes, services.launcher,
               refill,         services.sound,   services.messages};
    RescanContext ctx = Context(s);
    fakes.clock.Advance(10);
    Look(ctx);
    fakes.clock.Advance(10);
    Look(ctx);
    EXPECT_EQ(fakes.log.Matching("run:").size(), 3u);
    EXPECT_FALSE(fs::exists(dir / "watch" / "a.csv"));
}

TEST_P(RescanEntryTest, PatternEntriesSeeOnlyMatchingFiles) {
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
