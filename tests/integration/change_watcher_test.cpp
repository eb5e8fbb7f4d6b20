#include "platform/change_watcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "platform/wake_event.h"
#include "support/temp_dir.h"

namespace tavren::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TempDir;

// Long enough for inotify to deliver on a loaded machine; used only where a
// change is expected NOT to arrive, so it costs time only there.
constexpr auto kQuiet = 300ms;
constexpr auto kSoon = 5000ms;

class ChangeWatcherTest : public ::testing::Test {
protected:
    std::unique_ptr<ChangeSubscription> Watch(const fs::path& folder, ChangeKind kind) {
        std::error_code ec;
        auto sub = watcher->Watch(folder, kind, ec);
        EXPECT_TRUE(sub) << ec.message();
        return sub;
    }

    TempDir dir;
    std::unique_ptr<ChangeWatcher> watcher = MakeChangeWatcher();
    WakeEvent stop;
};

// One write is several inotify events (truncate, write, close); a slow
// dispatcher may read them in more than one batch, so a wake-up may follow
// the first. At most one per event, then silence.
void ExpectQuietAfterAtMostEchoes(ChangeSubscription& sub, WakeEvent& stop, int echoes) {
    int extra = 0;
    while (sub.Wait(stop, kQuiet) == WaitResult::Changed) {
        ASSERT_LE(++extra, echoes) << "keeps waking after the change";
    }
}

TEST_F(ChangeWatcherTest, NamesReactToCreateRenameAndDeleteOnly) {
    test::WriteBytes(dir / "existing", "1");
    auto sub = Watch(dir.path(), ChangeKind::Names);

    test::WriteBytes(dir / "existing", "12");     // content only
    fs::create_directory(dir / "sub");            // folders are never targets
    test::WriteBytes(dir / "sub" / "deep", "x");  // nor is anything inside them
    EXPECT_EQ(sub->Wait(stop, kQuiet), WaitResult::TimedOut);

    test::WriteBytes(dir / "new", "x");
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);
    fs::rename(dir / "new", dir / "renamed");
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);
    fs::remove(dir / "renamed");
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);
}

// A look goes by the names of every change, whatever kind wakes it; a
// file it waits on wakes it when its writer closes it.
TEST_F(ChangeWatcherTest, NamesOfEveryChangeAreHandedOverOnceAndAWaitedFileWakesOnClose) {
    test::WriteBytes(dir / "existing", "1");
    auto sub = Watch(dir.path(), ChangeKind::Names);
    sub->WakeOnClose({"held"});

    const int fd = ::open((dir / "held").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);  // made
    ASSERT_EQ(::write(fd, "data", 4), 4);
    EXPECT_EQ(sub->Wait(stop, kQuiet), WaitResult::TimedOut);  // a write wakes nobody
    ::close(fd);
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Closed);

    test::WriteBytes(dir / "existing", "12");  // wakes nobody, but is named
    test::WriteBytes(dir / "other", "x");      // closed too, but not waited on
    fs::create_directory(dir / "sub");
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);
    ExpectQuietAfterAtMostEchoes(*sub, stop, 2);

    std::vector<std::string> names;
    EXPECT_TRUE(sub->TakeNames(names));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"existing", "held", "other", "sub"}));
    EXPECT_EQ(names.size(), 4u);
    EXPECT_TRUE(sub->TakeNames(names));
    EXPECT_TRUE(names.empty());
}

TEST_F(ChangeWatcherTest, UpdatesReactToWritesAndAttributes) {
    test::WriteBytes(dir / "f", "1");
    auto sub = Watch(dir.path(), ChangeKind::Updates);
    test::WriteBytes(dir / "f", "12");
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);
    ExpectQuietAfterAtMostEchoes(*sub, stop, 2);
    fs::permissions(dir / "f", fs::perms::owner_read);
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);
}

// A destination waited on beside the entry's folder wakes for what may let
// a waiting move succeed (a file removed, the folder made writable), never
// for the copies the moves write there themselves (unnamed, or under their
// temporary name), which would retry a failing move over and over.
TEST_F(ChangeWatcherTest, DestinationWakesAsCompanionButNotForTheMovesOwnCopies) {
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "dest");
    test::WriteBytes(dir / "dest" / "old", "x");
    auto sub = Watch(dir / "in", ChangeKind::Names);
    auto dest = Watch(dir / "dest", ChangeKind::Destination);
    {
        const int fd = ::open((dir / "dest").c_str(), O_TMPFILE | O_WRONLY, 0600);
        if (fd >= 0) {
            EXPECT_EQ(::write(fd, "copy", 4), 4);
            ::close(fd);
        }
    }
    test::WriteBytes(dir / "dest" / ".tavren-move-1-abcdef", "copy");
    fs::remove(dir / "dest" / ".tavren-move-1-abcdef");
    EXPECT_EQ(sub->WaitWith(stop, kQuiet, *dest), WaitResult::TimedOut);

    fs::remove(dir / "dest" / "old");
    EXPECT_EQ(sub->WaitWith(stop, kSoon, *dest), WaitResult::CompanionChanged);
    EXPECT_EQ(sub->WaitWith(stop, kQuiet, *dest), WaitResult::TimedOut);
    fs::permissions(dir / "dest", fs::perms::owner_all);
    EXPECT_EQ(sub->WaitWith(stop, kSoon, *dest), WaitResult::CompanionChanged);
    test::WriteBytes(dir / "in" / "f", "x");  // its own changes still come first
    EXPECT_EQ(sub->WaitWith(stop, kSoon, *dest), WaitResult::Changed);
}

TEST_F(ChangeWatcherTest, ChangesBeforeTheWaitAreKept) {
    auto sub = Watch(dir.path(), ChangeKind::Names);
    for (int i = 0; i < 50; ++i) test::WriteBytes(dir / ("f" + std::to_string(i)), "x");
    // Wait until the dispatcher has certainly seen them, then expect one
    // wake-up for the lot.
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::Changed);
    std::this_thread::sleep_for(50ms);
    ExpectQuietAfterAtMostEchoes(*sub, stop, 1);
}

TEST_F(ChangeWatcherTest, TwoKindsOnOneFolderStayApart) {
    test::WriteBytes(dir / "f", "1");
    auto names = Watch(dir.path(), ChangeKind::Names);
    auto updates = Watch(dir.path(), ChangeKind::Updates);
    test::WriteBytes(dir / "f", "12");
    EXPECT_EQ(updates->Wait(stop, kSoon), WaitResult::Changed);
    EXPECT_EQ(names->Wait(stop, kQuiet), WaitResult::TimedOut);

    updates.reset();  // the other subscriber keeps its watch
    test::WriteBytes(dir / "g", "1");
    EXPECT_EQ(names->Wait(stop, kSoon), WaitResult::Changed);
}

TEST_F(ChangeWatcherTest, DeletedFolderIsReportedOnceAndItsPlaceStaysWatched) {
    fs::create_directory(dir / "w");
    fs::create_directory(dir / "other");
    auto sub = Watch(dir / "w", ChangeKind::Names);
    fs::remove(dir / "w");
    // Gone, and its name left the parent, in either order.
    const std::set<WaitResult> both{sub->Wait(stop, kSoon), sub->Wait(stop, kSoon)};
    EXPECT_EQ(both, (std::set<WaitResult>{WaitResult::FolderGone, WaitResult::PathChanged}));
    EXPECT_EQ(sub->Wait(stop, kQuiet), WaitResult::TimedOut);
    fs::remove(dir / "other");  // other names in the parent do not count
    EXPECT_EQ(sub->Wait(stop, kQuiet), WaitResult::TimedOut);
    fs::create_directory(dir / "w");
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::PathChanged);
    test::WriteBytes(dir / "w" / "f", "x");  // the new folder is not this subscription's
    EXPECT_EQ(sub->Wait(stop, kQuiet), WaitResult::TimedOut);
    stop.Set();
    EXPECT_EQ(sub->Wait(stop, std::nullopt), WaitResult::Stopped);
}

TEST_F(ChangeWatcherTest, MissingFolderIsAwaitedThroughItsParent) {
    std::error_code ec;
    auto sub = watcher->WatchForFolder(dir / "later", ec);
    ASSERT_TRUE(sub) << ec.message();
    fs::create_directory(dir / "sibling");
    EXPECT_EQ(sub->Wait(stop, kQuiet), WaitResult::TimedOut);
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "later.tmp");
    fs::rename(dir / "later.tmp", dir / "later");  // a link put in place, as ln -sfn does
    EXPECT_EQ(sub->Wait(stop, kSoon), WaitResult::PathChanged);
    EXPECT_EQ(watcher->WatchForFolder(dir / "no" / "parent", ec), nullptr);
    EXPECT_TRUE(ec);
}

TEST_F(ChangeWatcherTest, MissingFolderCannotBeWatched) {
    std::error_code ec;
    EXPECT_EQ(watcher->Watch(dir / "missing", ChangeKind::Names, ec), nullptr);
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    test::WriteBytes(dir / "file", "x");
    EXPECT_EQ(watcher->Watch(dir / "file", ChangeKind::Names, ec), nullptr);
    EXPECT_TRUE(ec);
}

int CountInotifyInstances() {
    int count = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(e.path(), ec).string() == "anon_inode:inotify") ++count;
    }
    return count;
}

TEST_F(ChangeWatcherTest, TwoHundredFoldersShareOneInstanceAndOneStopWakesThemAll) {
    const int before = CountInotifyInstances();
    std::vector<std::unique_ptr<ChangeSubscription>> subs;
    for (int i = 0; i < 200; ++i) {
        fs::create_directory(dir / std::to_string(i));
        subs.push_back(Watch(dir / std::to_string(i), ChangeKind::Names));
    }
    EXPECT_LE(CountInotifyInstances() - before, 1);

    std::atomic<int> stopped{0};
    std::vector<std::thread> threads;
    for (auto& sub : subs) {
        threads.emplace_back([&, s = sub.get()] {
            // Making the later folders may still be reported to the earlier
            // subscriptions' parent watch, which shares the folder.
            WaitResult r;
            while ((r = s->Wait(stop, std::nullopt)) == WaitResult::PathChanged) {
            }
            if (r == WaitResult::Stopped) ++stopped;
        });
    }
    // The folders are independent: a change in one wakes nobody else.
    test::WriteBytes(dir / "0" / "x", "x");
    EXPECT_EQ(subs[1]->Wait(stop, kQuiet), WaitResult::TimedOut);

    const auto start = std::chrono::steady_clock::now();
    stop.Set();
    for (auto& t : threads) t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    // Thread 0 may have woken for its change first; all others by the stop.
    EXPECT_GE(stopped.load(), 199);
}

}  // namespace
}  // namespace tavren::platform
