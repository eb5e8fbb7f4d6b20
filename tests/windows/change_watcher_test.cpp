#include "platform/change_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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

class ChangeWaitTest : public ::testing::Test {
protected:
    std::unique_ptr<ChangeSubscription> Watch(ChangeKind kind) {
        std::error_code ec;
        auto sub = watcher_->Watch(tmp_.path(), kind, ec);
        EXPECT_FALSE(ec) << ec.message();
        return sub;
    }

    TempDir tmp_;
    std::unique_ptr<ChangeWatcher> watcher_ = MakeChangeWatcher();
    WakeEvent stop_;
};

TEST_F(ChangeWaitTest, NewFileFromAnotherThreadWakesTheWaiter) {
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    std::thread writer([&] {
        std::this_thread::sleep_for(50ms);
        test::WriteBytes(tmp_.path() / test::U8("新着.txt"), "x");
    });
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
    writer.join();
}

TEST_F(ChangeWaitTest, ChangeBeforeTheWaitIsKeptAndReportedOnce) {
    auto sub = Watch(ChangeKind::Names);
    ASSERT_TRUE(sub);
    test::WriteBytes(tmp_ / "a.txt", "x");
    test::WriteBytes(tmp_ / "b.txt", "x");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
    // Both files were one change; nothing is left for the next wait.
    EXPECT_EQ(sub->Wait(stop_, kQuiet), WaitResult::TimedOut);
    // Deleting and renaming are name changes too.
    std::filesystem::remove(tmp_ / "a.txt");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
    std::filesystem::rename(tmp_ / "b.txt", tmp_ / "c.txt");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Changed);
}

TEST_F(ChangeWaitTest, NamesIgnoreWritesAndSubFoldersUpdatesSeeWrites) {
    test::WriteBytes(tmp_ / "log.txt", "1");
    auto names = Watch(ChangeKind::Names);
    auto updates = Watch(ChangeKind::Updates);
    ASSERT_TRUE(names && updates);

    test::WriteBytes(tmp_ / "log.txt", "12");
    EXPECT_EQ(updates->Wait(stop_, kPrompt), WaitResult::Changed);
    EXPECT_EQ(names->Wait(stop_, kQuiet), WaitResult::TimedOut);

    std::filesystem::create_directory(tmp_ / "sub");
    test::WriteBytes(tmp_ / "sub" / "inner.txt", "x");
    EXPECT_EQ(names->Wait(stop_, kQuiet), WaitResult::TimedOut);
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
    test::WriteBytes(tmp_ / "late.txt", "x");
    EXPECT_EQ(sub->Wait(stop_, kPrompt), WaitResult::Stopped);
}

TEST_F(ChangeWaitTest, MissingFolderCannotBeWatched) {
    std::error_code ec;
    EXPECT_EQ(watcher_->Watch(tmp_ / "missing", ChangeKind::Names, ec), nullptr);
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    test::WriteBytes(tmp_ / "file", "x");
    EXPECT_EQ(watcher_->Watch(tmp_ / "file", ChangeKind::Names, ec), nullptr);
    EXPECT_TRUE(ec);
}

TEST_F(ChangeWaitTest, ManyFoldersAreWatchedAtOnce) {
    // Each entry of a full settings file watches a folder of its own.
    std::vector<std::unique_ptr<ChangeSubscription>> subs;
    for (int i = 0; i < 200; ++i) {
        const auto folder = tmp_ / std::to_string(i);
        std::filesystem::create_directory(folder);
        std::error_code ec;
        subs.push_back(watcher_->Watch(folder, ChangeKind::Names, ec));
        ASSERT_TRUE(subs.back()) << i << ": " << ec.message();
    }
    test::WriteBytes(tmp_ / "199" / "x", "x");
    EXPECT_EQ(subs[199]->Wait(stop_, kPrompt), WaitResult::Changed);
    EXPECT_EQ(subs[0]->Wait(stop_, 0ms), WaitResult::TimedOut);
}

}  // namespace
}  // namespace tavren::platform
