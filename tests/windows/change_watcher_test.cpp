#include "platform/change_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_mover.h"
#include "platform/wake_event.h"
#include "support/temp_dir.h"
#include "win_test_util.h"

namespace tavren::platform {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

// Long enough for a notification to arrive, short enough to wait for its
// absence.
constexpr auto kQuiet = 300ms;
constexpr auto kPrompt = 5s;

// The watched folder lies in a folder of the test's own: a subscription
// also sees folders made and removed beside it, and other tests make theirs
// in the system's temporary folder.
class ChangeWaitTest : public ::testing::Test {
protected:
    ChangeWaitTest() { std::filesystem::create_directory(dir_); }

    std::unique_ptr<ChangeSubscription> Watch(ChangeKind kind) {
        std::error_code ec;
        auto sub = watcher_->Watch(dir_, kind, ec);
        EXPECT_FALSE(ec) << ec.message();
        return sub;
    }

    // Takes what is pending, so that the next wait sees only what follows.
    void Drain(ChangeSubscription& sub) {
        for (int i = 0; i < 10 && sub.Wait(stop_, kQuiet) != WaitResult::TimedOut; ++i) {
        }
    }

    TempDir parent_;
    const std::filesystem::path dir_ = parent_.path() / test::U8("受信");
    std::unique_ptr<ChangeWatcher> watcher_ = MakeChangeWatcher();
    WakeEvent stop_;
};

TEST_F(ChangeWaitTest, NewFileFromAnotherThreadWakesTheWaiter) {
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    std::thread writer([&] {
        std::this_thread::sleep_for(50ms);
        test::WriteBytes(dir_ / test::U8("新着.txt"), "x");
    });
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
    writer.join();
}

TEST_F(ChangeWaitTest, ChangeBeforeTheWaitIsKeptAndReportedOnce) {
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    test::WriteBytes(dir_ / "a.txt", "x");
    test::WriteBytes(dir_ / "b.txt", "x");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
    // Both files were one change; nothing is left for the next wait.
    EXPECT_EQ(sub->Wait(stop_, kQuiet), WaitResult::TimedOut);
    // Deleting and renaming are name changes too.
    std::filesystem::remove(dir_ / "a.txt");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
    std::filesystem::rename(dir_ / "b.txt", dir_ / "c.txt");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
}

TEST_F(ChangeWaitTest, NamesIgnoreWritesAndSubFoldersUpdatesSeeWrites) {
    test::WriteBytes(dir_ / "log.txt", "1");
    auto names = Watch(ChangeKind::Names);
    auto updates = Watch(ChangeKind::Updates);
    ASSERT_TRUE(names && updates);

    test::WriteBytes(dir_ / "log.txt", "12");
    EXPECT_EQ(updates->Wait(stop_, kPrompt), WaitResult::Changed);
    EXPECT_EQ(names->Wait(stop_, kQuiet), WaitResult::TimedOut);

    std::filesystem::create_directory(dir_ / "sub");
    test::WriteBytes(dir_ / "sub" / "inner.txt", "x");
    EXPECT_EQ(names->Wait(stop_, kQuiet), WaitResult::TimedOut);
}

// The names of everything that happened between two takes, each once,
// whether it woke the waiter or not.
TEST_F(ChangeWaitTest, NamesOfTheChangesAreHandedOverOnce) {
    for (const char* name : {"written.txt", "deleted.txt", "old.txt"})
        test::WriteBytes(dir_ / name, "1");
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    std::vector<std::string> names;
    EXPECT_TRUE(sub->TakeNames(names));
    EXPECT_TRUE(names.empty());

    test::WriteBytes(dir_ / "written.txt", "12");
    std::filesystem::create_directory(dir_ / "sub");
    EXPECT_EQ(sub->Wait(stop_, kQuiet), WaitResult::TimedOut);
    test::WriteBytes(dir_ / test::U8("新着.txt"), "x");
    std::filesystem::remove(dir_ / "deleted.txt");
    std::filesystem::rename(dir_ / "old.txt", dir_ / "new.txt");

    const std::set<std::string> expected = {"written.txt", "sub",     "新着.txt",
                                            "deleted.txt", "old.txt", "new.txt"};
    std::set<std::string> seen;
    bool whole = true;
    // The records may come in more than one read.
    test::WaitUntil([&] {
        sub->Wait(stop_, kQuiet);
        whole = sub->TakeNames(names) && whole;
        EXPECT_EQ(std::set(names.begin(), names.end()).size(), names.size());
        seen.insert(names.begin(), names.end());
        return seen == expected;
    });
    EXPECT_TRUE(whole);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(sub->Wait(stop_, kQuiet), WaitResult::TimedOut);
    EXPECT_TRUE(sub->TakeNames(names));
    EXPECT_TRUE(names.empty());
}

// More than a read holds piled up while nobody waited: the waiter hears of
// it once, and the next take of names cannot be relied on.
TEST_F(ChangeWaitTest, OverflowIsReportedAndSpoilsTheNamesOnce) {
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    for (int i = 0; i < 500; ++i) {
        std::string name(100, 'n');
        name += std::to_string(i);
        test::WriteBytes(dir_ / name, "x");
    }
    int overflows = 0;
    for (WaitResult r; (r = sub->Wait(stop_, kQuiet)) != WaitResult::TimedOut;)
        overflows += r == WaitResult::Overflowed;
    EXPECT_EQ(overflows, 1);
    std::vector<std::string> names;
    EXPECT_FALSE(sub->TakeNames(names));
    test::WriteBytes(dir_ / "after.txt", "x");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
    EXPECT_TRUE(sub->TakeNames(names));
    EXPECT_EQ(names, std::vector<std::string>{"after.txt"});
}

// A move's copy under way in a destination does not wake its waiter; the
// file it becomes does.
TEST_F(ChangeWaitTest, DestinationIgnoresTheCopiesOfMovesUnderWay) {
    auto sub = Watch(ChangeKind::Destination);
    ASSERT_TRUE(sub);
    const std::string copy = std::string(kMoveTemporaryPrefix) + "1-abcdef";
    test::WriteBytes(dir_ / copy, "data");
    EXPECT_EQ(sub->Wait(stop_, kQuiet), WaitResult::TimedOut);
    std::filesystem::rename(dir_ / copy, dir_ / "moved.txt");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
}

// Closing a change handle does not end a wait on it under Wine, so the stop
// comes through the event; it must end a wait that has no end of its own.
TEST_F(ChangeWaitTest, StopEventEndsAWaitWithoutTimeoutAtOnce) {
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop_.Set();
    });
    EXPECT_EQ(sub->Wait(stop_, std::nullopt), WaitResult::Stopped);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    // Once set, the stop wins over a pending change.
    test::WriteBytes(dir_ / "late.txt", "x");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Stopped);
}

TEST_F(ChangeWaitTest, MissingFolderCannotBeWatched) {
    std::error_code ec;
    EXPECT_EQ(watcher_->Watch(dir_ / "missing", ChangeKind::Names, ec), nullptr);
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    test::WriteBytes(dir_ / "file", "x");
    EXPECT_EQ(watcher_->Watch(dir_ / "file", ChangeKind::Names, ec), nullptr);
    EXPECT_TRUE(ec);
}

TEST_F(ChangeWaitTest, ManyFoldersAreWatchedAtOnce) {
    // Each entry of a full settings file watches a folder of its own.
    // All folders are made first: each new one would wake the watches of
    // those beside it through their parent.
    for (int i = 0; i < 200; ++i) std::filesystem::create_directory(dir_ / std::to_string(i));
    std::vector<std::unique_ptr<ChangeSubscription>> subs;
    for (int i = 0; i < 200; ++i) {
        std::error_code ec;
        subs.push_back(watcher_->Watch(dir_ / std::to_string(i), ChangeKind::Names, ec));
        ASSERT_TRUE(subs.back()) << i << ": " << ec.message();
    }
    test::WriteBytes(dir_ / "199" / "x", "x");
    EXPECT_EQ(subs[199]->Wait(stop_, kPrompt), WaitResult::Changed);
    EXPECT_EQ(subs[0]->Wait(stop_, 0ms), WaitResult::TimedOut);
}

// The watched folder goes and comes back. Its parent is watched for folder
// names: Windows cannot say which name changed, so a folder made beside it
// wakes the waiter too, and the engine looks whether it was its own.
struct FolderTrip {
    const char* name;
    bool deletes;  // the folder is deleted, not moved
    void (*away)(const std::filesystem::path& folder);
    void (*back)(const std::filesystem::path& folder);
};
void PrintTo(const FolderTrip& trip, std::ostream* os) {
    *os << trip.name;
}

class FolderTripWaitTest : public ChangeWaitTest,
                           public ::testing::WithParamInterface<FolderTrip> {};

TEST_P(FolderTripWaitTest, FolderThatGoesAndComesBackIsSeenThroughItsParent) {
    if (GetParam().deletes && test::DeletedFolderStaysWhileWatched(parent_.path() / "probe"))
        GTEST_SKIP() << test::kDeletedFolderStays;
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    GetParam().away(dir_);
    const WaitResult gone = sub->Wait(stop_, kPrompt);
    EXPECT_TRUE(gone == WaitResult::FolderGone || gone == WaitResult::PathChanged)
        << static_cast<int>(gone);
    Drain(*sub);
    std::filesystem::create_directory(parent_.path() / "beside");
    Drain(*sub);
    // The parent's watch is armed again after each change it reported.
    GetParam().back(dir_);
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::PathChanged);
}

INSTANTIATE_TEST_SUITE_P(
    Trips, FolderTripWaitTest,
    ::testing::Values(FolderTrip{"deleted_and_made_again", true,
                                 [](const std::filesystem::path& f) { std::filesystem::remove(f); },
                                 [](const std::filesystem::path& f) {
                                     std::filesystem::create_directory(f);
                                 }},
                      FolderTrip{"renamed_away_and_back", false,
                                 [](const std::filesystem::path& f) {
                                     std::filesystem::rename(f, f.parent_path() / "away");
                                 },
                                 [](const std::filesystem::path& f) {
                                     std::filesystem::rename(f.parent_path() / "away", f);
                                 }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ChangeWaitTest, MissingFolderIsAwaitedThroughItsParent) {
    std::filesystem::remove(dir_);
    std::error_code ec;
    auto sub = watcher_->WatchForFolder(dir_, ec);
    ASSERT_TRUE(sub) << ec.message();
    test::WriteBytes(parent_.path() / "beside.txt", "x");  // no folder's name
    EXPECT_EQ(sub->Wait(stop_, kQuiet), WaitResult::TimedOut);
    std::filesystem::create_directory(dir_);
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::PathChanged);
    EXPECT_EQ(watcher_->WatchForFolder(dir_ / "no" / "parent", ec), nullptr);
    EXPECT_TRUE(ec);
}

}  // namespace
}  // namespace tavren::platform
