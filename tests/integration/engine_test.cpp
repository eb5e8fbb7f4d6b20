#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "engine/tavren_doc.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/file_mover.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/snapshot_journal.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::engine {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TempDir;

// The engine on real folders with real change notifications; what it does
// is recorded by fakes. The clock moves 10 seconds at every reading, so
// the debounce never gets in the way unless a test uses the real clock.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() : fakes(*watcher), data(dir / "data") {
        EXPECT_TRUE(data.Prepare().ok());
        fakes.clock.AdvanceOnEveryReading();
    }

    store::WatchEntry Entry(const std::string& name) {
        store::WatchEntry e;
        e.title = name;
        e.folder = (dir / name).string();
        e.timing = 1;
        e.messageMode = 1;
        fs::create_directories(e.folder);
        return e;
    }

    void SaveSettings(const std::vector<store::Slot>& slots) {
        std::vector<store::SlotImage> images;
        for (const auto& slot : slots) {
            images.push_back(store::BlankSlotImage());
            ASSERT_TRUE(store::EncodeSlot(slot, images.back()).ok());
        }
        ASSERT_TRUE(store::WriteAllSlots(data.settingsFile(), images).ok());
    }

    std::unique_ptr<CTavrenDoc> Start(Services services) {
        return std::make_unique<CTavrenDoc>(data, std::move(services));
    }
    std::unique_ptr<CTavrenDoc> Start() { return Start(fakes.services()); }

    TempDir dir;
    std::unique_ptr<platform::ChangeWatcher> watcher = platform::MakeChangeWatcher();
    test::FakeServices fakes;
    store::DataFolder data;
};

TEST_F(EngineTest, NoRunningEntryLeavesWatchingOff) {
    auto doc = Start();  // no settings file at all
    EXPECT_FALSE(doc->watchRunning());
    SaveSettings({{false, Entry("stopped")}});
    doc->StartWatching();
    EXPECT_FALSE(doc->watchRunning());
    EXPECT_EQ(doc->loadedCount(), 0);
    EXPECT_TRUE(doc->Shutdown(1s));
}

TEST_F(EngineTest, EveryStartSnapshotsEachRunningEntryInItsSlot) {
    auto a = Entry("a"), b = Entry("b"), c = Entry("c");
    test::WriteBytes(dir / "c" / "one", "1");
    SaveSettings({{true, a}, {false, b}, {true, c}});
    auto doc = Start();
    EXPECT_TRUE(doc->watchRunning());
    EXPECT_EQ(doc->loadedCount(), 2);
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 0u);
    EXPECT_EQ(store::ReadSnapshot(data, 1).size(), 1u);  // c, packed into slot 1

    // Changes made while stopped are not reported: the start takes them in.
    doc->StopWatching();
    EXPECT_FALSE(doc->watchRunning());
    test::WriteBytes(dir / "a" / "while-stopped", "1");
    doc->StartWatching();
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 1u);
    EXPECT_TRUE(doc->Shutdown(2s));
    EXPECT_TRUE(fakes.log.Matching("message:").empty());
}

TEST_F(EngineTest, NewFileIsAnnouncedAndMoved) {
    auto e = Entry("in");
    e.afterMode = 2;
    e.moveTo = (dir / "out").string();
    fs::create_directories(e.moveTo);
    SaveSettings({{true, e}});
    auto doc = Start();
    test::WriteBytes(dir / "in" / "report.txt", "r");
    ASSERT_TRUE(fakes.log.WaitFor("move:", 1));
    EXPECT_EQ(fakes.log.Matching("message:"),
              std::vector<std::string>{"message:report.txtを実行します。"});
    EXPECT_TRUE(fs::exists(dir / "out" / "report.txt"));
    EXPECT_TRUE(doc->Shutdown(2s));
}

TEST_F(EngineTest, StopEndsWaitingWorkersAtOnceWithoutRescanning) {
    std::vector<store::Slot> slots;
    for (int i = 0; i < 3; ++i) slots.push_back({true, Entry("e" + std::to_string(i))});
    SaveSettings(slots);
    auto doc = Start();
    const auto start = std::chrono::steady_clock::now();
    doc->StopWatching();
    EXPECT_TRUE(doc->Shutdown(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(fakes.log.Events().empty());
}

TEST_F(EngineTest, WorkerBusyWithAProgramOutlivesAStopButNeverTheNewOwnerOfItsSlot) {
    auto old = Entry("old");
    old.program = "/usr/bin/slow";
    old.waitExit = 1;
    old.messageMode = 0;
    SaveSettings({{true, old}});
    fakes.launcher.blockUntilReleased = true;
    auto doc = Start();
    test::WriteBytes(dir / "old" / "a.txt", "a");
    ASSERT_TRUE(fakes.log.WaitFor("run:", 1));

    // Stop returns at once although the worker still waits for its program.
    const auto start = std::chrono::steady_clock::now();
    doc->StopWatching();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

    // Slot 0 now belongs to another entry, watched by a new worker.
    auto fresh = Entry("fresh");
    test::WriteBytes(dir / "fresh" / "existing", "e");
    SaveSettings({{true, fresh}});
    doc->StartWatching();
    test::WriteBytes(dir / "fresh" / "b.txt", "b");
    ASSERT_TRUE(fakes.log.WaitFor("message:b.txt", 1));

    // The old worker finishes its rescan but leaves slot 0's snapshot alone.
    fakes.launcher.release = true;
    ASSERT_TRUE(fakes.log.WaitFor("run-done:", 1));
    doc->StopWatching();
    EXPECT_TRUE(doc->Shutdown(2s));
    const store::SnapshotList snap = store::ReadSnapshot(data, 0);
    for (const auto& node : snap) EXPECT_NE(node.item.name, "a.txt");
}

TEST_F(EngineTest, ExitCancelsAProgramWaitAndJoinsEveryWorker) {
    auto e = Entry("w");
    e.program = "/usr/bin/forever";
    e.waitExit = 1;
    SaveSettings({{true, e}});
    fakes.launcher.blockUntilReleased = true;
    auto doc = Start();
    test::WriteBytes(dir / "w" / "a", "a");
    ASSERT_TRUE(fakes.log.WaitFor("run:", 1));
    EXPECT_TRUE(doc->Shutdown(2s));
}

TEST_F(EngineTest, ThreadCreationFailureIsReportedAndStopsTheStart) {
    std::vector<store::Slot> slots;
    for (int i = 0; i < 3; ++i) slots.push_back({true, Entry("e" + std::to_string(i))});
    SaveSettings(slots);
    int started = 0;
    Services services = fakes.services();
    services.startThread = [&](std::function<void()> f) {
        if (started == 1)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        ++started;
        return std::thread(std::move(f));
    };
    fs::remove(data.snapshotFile(2));
    auto doc = Start(services);
    EXPECT_EQ(fakes.log.Matching("message:"),
              std::vector<std::string>{"message:1 番目のスレッド作成に失敗しました。"});
    EXPECT_TRUE(doc->watchRunning());
    EXPECT_FALSE(fs::exists(data.snapshotFile(2)));  // entries after it are not started
    EXPECT_TRUE(doc->Shutdown(2s));
}

TEST_F(EngineTest, EntryWithAMissingFolderCostsNothingAndOthersWork) {
    auto missing = Entry("missing");
    fs::remove(missing.folder);
    auto ok = Entry("ok");
    SaveSettings({{true, missing}, {true, ok}});
    auto doc = Start();
    test::WriteBytes(dir / "ok" / "f", "f");
    ASSERT_TRUE(fakes.log.WaitFor("message:f", 1));
    EXPECT_TRUE(doc->Shutdown(2s));
    EXPECT_EQ(fakes.log.Matching("message:").size(), 1u);
}

// The watched folder itself goes and comes back in the ways folders do.
// Each time: nothing is reported deleted, the file that came with the
// folder is acted on once, the file that was there before is not acted on
// again, and the folder is watched again afterwards.
struct FolderTrip {
    const char* name;
    bool viaLink;  // the entry's folder is a symbolic link to the real one
    bool mount;    // a tmpfs is mounted on the folder
    // Takes the folder away; returns false to skip (with the reason logged).
    std::function<bool(const fs::path& place, const fs::path& real)> away;
    // Brings it back with new.txt in it (old.txt as it was, where it can be).
    std::function<void(const fs::path& place, const fs::path& real)> back;
};

void PrintTo(const FolderTrip& trip, std::ostream* os) {
    *os << trip.name;
}

bool Mount(const fs::path& at) {
    return std::system(("mount -t tmpfs tmpfs '" + at.string() + "' 2>/dev/null").c_str()) == 0;
}
void Unmount(const fs::path& at) {
    [[maybe_unused]] const int status = std::system(("umount '" + at.string() + "'").c_str());
}

class FolderTripTest : public EngineTest, public ::testing::WithParamInterface<FolderTrip> {};

TEST_P(FolderTripTest, FolderThatGoesAndComesBackIsWatchedAgain) {
    const FolderTrip& trip = GetParam();
    auto e = Entry("place");
    e.openFile = 1;  // every file acted on is opened; deletions are always shown
    const fs::path place = e.folder;
    fs::path real = place;
    if (trip.viaLink) {
        fs::remove(place);
        real = dir / "first";
        fs::create_directories(real);
        fs::create_directory_symlink(real, place);
    }
    if (trip.mount && !Mount(place)) GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    const fs::file_time_type oldTime = fs::file_time_type::clock::now() - 1h;
    test::WriteBytes(real / "old.txt", "old");
    fs::last_write_time(real / "old.txt", oldTime);
    SaveSettings({{true, e}});
    fakes.clock.sleepForReal = true;
    auto doc = Start();

    ASSERT_TRUE(trip.away(place, real));
    if (!trip.viaLink) {
        ASSERT_TRUE(fakes.log.WaitFor("status:0:waiting", 1)) << trip.name;
        EXPECT_EQ(doc->statuses()[0].mode, WatchMode::Waiting);
    }
    trip.back(place, real);
    ASSERT_TRUE(fakes.log.WaitFor("open:", 1)) << trip.name;
    // Watched again: a later file is acted on too.
    test::WriteBytes(place / "later.txt", "later");
    ASSERT_TRUE(fakes.log.WaitFor("open:", 2)) << trip.name;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(fakes.log.Matching("open:"),
              (std::vector<std::string>{"open:" + e.folder + "/new.txt",
                                        "open:" + e.folder + "/later.txt"}))
        << trip.name;
    EXPECT_TRUE(fakes.log.Matching("message:/").empty()) << "no deletion: " << trip.name;
    EXPECT_EQ(doc->statuses()[0].mode, WatchMode::Notified);
    EXPECT_TRUE(doc->Shutdown(2s));
    if (trip.mount) Unmount(place);
}

INSTANTIATE_TEST_SUITE_P(
    Trips, FolderTripTest,
    ::testing::Values(
        FolderTrip{"deleted_and_made_again", false, false,
                   [](const fs::path& place, const fs::path&) { return fs::remove_all(place) > 0; },
                   [](const fs::path& place, const fs::path&) {
                       fs::create_directory(place);
                       test::WriteBytes(place / "new.txt", "new");
                   }},
        FolderTrip{"renamed_away_and_back", false, false,
                   [](const fs::path& place, const fs::path&) {
                       fs::rename(place, place.string() + ".away");
                       return true;
                   },
                   [](const fs::path& place, const fs::path&) {
                       test::WriteBytes(place.string() + ".away/new.txt", "new");
                       fs::rename(place.string() + ".away", place);
                   }},
        FolderTrip{"link_pointed_elsewhere", true, false,
                   [](const fs::path& place, const fs::path& real) {
                       const fs::path second = real.parent_path() / "second";
                       fs::create_directory(second);
                       fs::copy_file(real / "old.txt", second / "old.txt");
                       fs::last_write_time(second / "old.txt",
                                           fs::last_write_time(real / "old.txt"));
                       test::WriteBytes(second / "new.txt", "new");
                       fs::create_directory_symlink(second, place.string() + ".tmp");
                       return true;
                   },
                   [](const fs::path& place, const fs::path&) {
                       fs::rename(place.string() + ".tmp", place);  // as ln -sfn does
                   }},
        FolderTrip{
            "unmounted_and_mounted_again", false, true,
            [](const fs::path& place, const fs::path&) {
                fs::copy_file(place / "old.txt", place.parent_path() / "old.copy");
                fs::last_write_time(place.parent_path() / "old.copy",
                                    fs::last_write_time(place / "old.txt"));
                Unmount(place);
                return true;
            },
            [](const fs::path& place, const fs::path&) {
                // The drive comes with its files, as a real one does.
                const fs::path drive = place.parent_path() / "drive";
                fs::create_directory(drive);
                Mount(drive);
                fs::copy_file(place.parent_path() / "old.copy", drive / "old.txt");
                fs::last_write_time(drive / "old.txt",
                                    fs::last_write_time(place.parent_path() / "old.copy"));
                test::WriteBytes(drive / "new.txt", "new");
                [[maybe_unused]] const int moved = std::system(
                    ("mount --move '" + drive.string() + "' '" + place.string() + "'").c_str());
            }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(EngineTest, PresentButEmptiedFolderStillReportsItsDeletions) {
    auto e = Entry("emptied");
    e.openFile = 1;
    test::WriteBytes(dir / "emptied" / "last.txt", "x");
    SaveSettings({{true, e}});
    auto doc = Start();
    fs::remove(dir / "emptied" / "last.txt");
    ASSERT_TRUE(fakes.log.WaitFor("message:", 1));
    EXPECT_EQ(fakes.log.Matching("message:"),
              std::vector<std::string>{"message:" + e.folder + "/last.txt が削除されました。"});
    EXPECT_TRUE(fakes.log.Matching("status:").empty());
    EXPECT_TRUE(doc->Shutdown(2s));
}

// The system's notifications running short: watches that cannot be had
// (the per-user limit), or a queue that overflowed once.
class ShortWatcher final : public platform::ChangeWatcher {
public:
    enum class Fault { NoWatches, Overflow };
    ShortWatcher(platform::ChangeWatcher& real, Fault fault) : real_(real), fault_(fault) {}

    std::unique_ptr<platform::ChangeSubscription> Watch(const fs::path& folder,
                                                        platform::ChangeKind kind,
                                                        std::error_code& ec) override {
        if (fault_ == Fault::NoWatches) {
            ec = std::make_error_code(std::errc::no_space_on_device);
            return nullptr;
        }
        return std::make_unique<OverflowOnce>(real_.Watch(folder, kind, ec));
    }
    std::unique_ptr<platform::ChangeSubscription> WatchForFolder(const fs::path& folder,
                                                                 std::error_code& ec) override {
        return real_.WatchForFolder(folder, ec);
    }

private:
    class OverflowOnce final : public platform::ChangeSubscription {
    public:
        explicit OverflowOnce(std::unique_ptr<platform::ChangeSubscription> real)
            : real_(std::move(real)) {}
        platform::WaitResult Wait(const platform::WakeEvent& stop,
                                  std::optional<std::chrono::milliseconds> timeout) override {
            const platform::WaitResult r = real_->Wait(stop, timeout);
            if (r != platform::WaitResult::Changed || overflowed_) return r;
            overflowed_ = true;
            return platform::WaitResult::Overflowed;
        }

    private:
        std::unique_ptr<platform::ChangeSubscription> real_;
        bool overflowed_ = false;
    };

    platform::ChangeWatcher& real_;
    const Fault fault_;
};

TEST_F(EngineTest, EntriesWithoutNotificationsArePolledAndTheLimitIsToldOnce) {
    for (const auto fault : {ShortWatcher::Fault::NoWatches, ShortWatcher::Fault::Overflow}) {
        fakes.log.Clear();
        ShortWatcher shortWatcher(*watcher, fault);
        const std::string tag = fault == ShortWatcher::Fault::NoWatches ? "a" : "b";
        auto one = Entry(tag + "1"), two = Entry(tag + "2");
        SaveSettings({{true, one}, {true, two}});
        auto doc = Start(Services{fakes.clock, shortWatcher, fakes.launcher, fakes.mover,
                                  fakes.sound, fakes.sink});
        const WatchMode expected =
            fault == ShortWatcher::Fault::NoWatches ? WatchMode::Polled : WatchMode::Notified;
        for (const WatchStatus& s : doc->statuses()) EXPECT_EQ(s.mode, expected) << tag;
        test::WriteBytes(dir / (tag + "1") / "new1", "x");
        test::WriteBytes(dir / (tag + "2") / "new2", "x");
        // Polled: within the 2-second interval and a second of quiet.
        EXPECT_TRUE(fakes.log.WaitFor("message:new", 2, 6000)) << tag;
        const auto problems = fakes.log.Matching("problem:");
        ASSERT_EQ(problems.size(), 1u) << tag;
        EXPECT_NE(problems[0].find(fault == ShortWatcher::Fault::NoWatches
                                       ? "fs.inotify.max_user_watches"
                                       : "fs.inotify.max_queued_events"),
                  std::string::npos);
        EXPECT_TRUE(doc->Shutdown(2s));
    }
}

TEST_F(EngineTest, TwoHundredEntriesAreWatchedAtOnce) {
    std::vector<store::Slot> slots;
    for (int i = 0; i < 200; ++i) slots.push_back({true, Entry(std::to_string(i))});
    SaveSettings(slots);
    auto doc = Start();
    EXPECT_EQ(doc->loadedCount(), 200);
    for (int i = 0; i < 200; ++i) test::WriteBytes(dir / std::to_string(i) / "new", "n");
    EXPECT_TRUE(fakes.log.WaitFor("message:new", 200, 30000));
    EXPECT_TRUE(doc->Shutdown(5s));
}

TEST_F(EngineTest, BurstWithinTheDebounceIsCaughtUpAfterThreeSeconds) {
    auto clock = platform::MakeSystemClock();
    auto e = Entry("burst");
    e.afterMode = 2;
    e.moveTo = (dir / "out").string();
    fs::create_directories(e.moveTo);
    SaveSettings({{true, e}});
    Services services = fakes.services();
    services.clock = *clock;
    auto doc = std::make_unique<CTavrenDoc>(
        data, Services{*clock, *watcher, fakes.launcher, fakes.mover, fakes.sound, fakes.sink});
    for (int i = 0; i < 20; ++i) {
        test::WriteBytes(dir / "burst" / ("f" + std::to_string(i)), "x");
        std::this_thread::sleep_for(20ms);  // a burst spread over ~0.4 s
    }
    // Without a catch-up rescan some of these would wait for the next change.
    EXPECT_TRUE(fakes.log.WaitFor("move:", 20, 10000));
    EXPECT_TRUE(fs::is_empty(dir / "burst"));
    EXPECT_TRUE(doc->Shutdown(2s));
}

TEST_F(EngineTest, ReloadGoesOnWithAnUnchangedEntryEvenInAnotherSlotAndWhileItIsBusy) {
    auto kept = Entry("kept");
    kept.program = "/usr/bin/slow";
    kept.waitExit = 1;
    kept.messageMode = 0;
    test::WriteBytes(dir / "kept" / "before.txt", "b");
    SaveSettings({{true, kept}});
    fakes.launcher.blockUntilReleased = true;
    auto doc = Start();
    test::WriteBytes(dir / "kept" / "a.txt", "a");
    ASSERT_TRUE(fakes.log.WaitFor("run:", 1));

    // Reloaded while its program runs, with another entry now in front of it.
    SaveSettings({{true, Entry("other")}, {true, kept}});
    doc->Reload();
    test::WriteBytes(dir / "kept" / "while-reloading.txt", "w");
    fakes.launcher.release = true;
    ASSERT_TRUE(fakes.log.WaitFor("run-done:", 2));
    std::this_thread::sleep_for(300ms);
    // a.txt ran once, the newcomer once, the file from before never.
    EXPECT_EQ(fakes.log.Matching("run:").size(), 2u);
    EXPECT_TRUE(doc->Shutdown(2s));
    const store::SnapshotList snap = store::ReadSnapshot(data, 1);
    EXPECT_EQ(snap.size(), 3u);
}

TEST_F(EngineTest, StartAfterAKillGoesOnFromTheSnapshotsButOneAfterAStopDoesNot) {
    auto e = Entry("in");
    e.afterMode = 2;
    e.moveTo = (dir / "out").string();
    fs::create_directories(e.moveTo);
    test::WriteBytes(dir / "in" / "old.txt", "o");
    SaveSettings({{true, e}});
    const fs::path copy = dir / "data-at-kill";
    {
        auto doc = Start();
        // The data folder as a kill would leave it: watching was still on.
        fs::copy(data.root(), copy, fs::copy_options::recursive);
        EXPECT_TRUE(doc->Shutdown(2s));
    }
    test::WriteBytes(dir / "in" / "during-outage.txt", "d");

    // A start after a clean end takes a fresh listing: nothing is acted on.
    {
        auto doc = Start();
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(fakes.log.Matching("move:").empty());
        EXPECT_TRUE(doc->Shutdown(2s));
    }
    // After the kill, files that came meanwhile are acted on, once.
    CTavrenDoc doc(store::DataFolder(copy), fakes.services());
    ASSERT_TRUE(fakes.log.WaitFor("move:", 1));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(fakes.log.Matching("move:").size(), 1u);
    EXPECT_TRUE(fs::exists(dir / "out" / "during-outage.txt"));
    EXPECT_TRUE(fs::exists(dir / "in" / "old.txt"));
}

// While watching, a look records what changed in the journal beside the
// snapshot: a kill leaves both, and they read back as what was known. A
// clean end folds them: the snapshot file alone holds it all.
TEST_F(EngineTest, JournalHoldsTheChangesUntilACleanEndFoldsThemIntoTheSnapshot) {
    SaveSettings({{true, Entry("in")}});
    auto doc = Start();
    for (const char* name : {"a.txt", "b.txt"}) {
        test::WriteBytes(dir / "in" / name, "x");
        ASSERT_TRUE(fakes.log.WaitFor(std::string("message:") + name, 1));
        fakes.clock.Advance(10);
    }
    const fs::path snapshot = data.snapshotFile(0), journal = store::JournalFileOf(snapshot);
    for (int i = 0; i < 500 && store::ReadSnapshot(data, 0).size() != 2; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(store::ReadSnapshot(data, 0).size(), 2u);
    EXPECT_EQ(fs::file_size(snapshot), 0u);  // the baseline's: the looks appended
    EXPECT_TRUE(doc->Shutdown(2s));
    EXPECT_EQ(fs::file_size(snapshot), 2 * store::kSnapshotRecordSize);
    EXPECT_EQ(fs::file_size(journal), store::kSnapshotRecordSize);  // its header alone
    EXPECT_EQ(store::ReadSnapshot(data, 0).size(), 2u);
}

// Work owed when watching stops (a file its writer still holds, a move its
// destination refused) is done by the next start (停止 then 開始) once: the
// moved file is not acted on again, and a file that came while nothing
// watched is left alone. (A restart of the program: scenario_accounted.)
TEST_F(EngineTest, WorkOwedAtAStopIsDoneOnceByTheNextStart) {
    auto e = Entry("in");
    e.afterMode = 2;
    e.moveTo = (dir / "out").string();  // missing at first: moves fail
    e.program = "/usr/bin/handle";
    e.waitExit = 1;
    SaveSettings({{true, e}});
    std::atomic<bool> held{true};
    Services services = fakes.services();
    services.probeWriters = [&held](const fs::path& file) {
        return held && file.filename() == "open" ? platform::WriterState::Writing
                                                 : platform::WriterState::None;
    };
    auto doc = Start(services);
    test::WriteBytes(dir / "in" / "stuck", "s");
    ASSERT_TRUE(fakes.log.WaitFor("problem:", 1));
    test::WriteBytes(dir / "in" / "open", "o");
    std::this_thread::sleep_for(200ms);  // seen, and held by its writer
    doc->StopWatching();
    test::WriteBytes(dir / "in" / "down", "d");
    fs::create_directories(dir / "out");
    held = false;
    doc->StartWatching();
    for (int i = 0;
         i < 500 && !(fs::exists(dir / "out" / "stuck") && fs::exists(dir / "out" / "open")); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(fs::exists(dir / "out" / "stuck") && fs::exists(dir / "out" / "open"));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(fs::exists(dir / "in" / "down"));
    EXPECT_EQ(fakes.log.Matching("run:").size(), 2u);  // stuck and open, once each
    EXPECT_TRUE(doc->Shutdown(2s));
}

}  // namespace
}  // namespace tavren::engine
