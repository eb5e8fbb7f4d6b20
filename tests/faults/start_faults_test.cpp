// A start under failing calls. The data folder is left as a previous run
// leaves it: an entry whose folder holds files recorded in its snapshot
// (one of them in the journal only), a pending file naming a file still to
// act on, and a file that arrived while nothing watched; after a crash the
// session file is there too. The data folder is prepared and the engine
// started with one call after the other failing (the settings, session,
// pending, snapshot and journal reads, their rewrites, the preparation),
// left to settle and stopped; then started again without faults, as the
// program would be next time. Across both runs no recorded file may be
// acted on, each file owed work must be acted on exactly once, every
// failure must be told, the settings file must stay as it was, and no
// temporary file of ours may be left.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/tavren_doc.h"
#include "faults/fault_driver.h"
#include "platform/change_watcher.h"
#include "platform/file_mover.h"
#include "platform/fs.h"
#include "store/session_file.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/snapshot_journal.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::faults {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// In the snapshot file, in its journal only, owed by the pending file, new.
constexpr std::string_view kRecorded[] = {"r1.txt", "r2.txt"};
constexpr std::string_view kJournalled = "r3.txt";
constexpr std::string_view kOwed = "p.txt";
constexpr std::string_view kArrived = "n.txt";

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

bool IsOurTemporary(const std::string& name) {
    return name.find(".tmp.") != std::string::npos ||
           name.starts_with(platform::kMoveTemporaryPrefix);
}

struct StartCase {
    std::string_view path;
    // The last run was killed (its session file is there) rather than
    // stopped: a file that arrived meanwhile is owed too.
    bool crashed = false;
    // The failure outlasts the read's second try. The start then goes on
    // without what it could not read: a file owed may be left undone, and
    // that is told, but nothing is done twice.
    bool lasting = false;
};

// Once the planned call failed, the next call of its kind fails too.
class LastingFault final : public platform::FaultPlan {
public:
    LastingFault(CountingPlan& plan, platform::Fault fault) : plan_(plan), fault_(fault) {}
    platform::Fault Next(platform::SysCall call) override {
        if (const platform::Fault f = plan_.Next(call); f != platform::Fault::None) {
            kind_ = call;
            again_ = true;
            return f;
        }
        if (call == kind_.load() && again_.exchange(false)) return fault_;
        return platform::Fault::None;
    }

private:
    CountingPlan& plan_;
    const platform::Fault fault_;
    std::atomic<platform::SysCall> kind_{platform::SysCall::Open};
    std::atomic<bool> again_{false};
};

// What lives across both runs: the folders and the fakes that count what
// the engine did.
struct Rig {
    test::TempDir dir;
    const fs::path watched = dir / "in";
    store::DataFolder data{dir / "data"};
    store::WatchEntry entry;
    test::EventLog log;
    test::FakeClock clock;
    test::FakeSound sound{log};
    test::RecordingSink sink{log};
    test::FakeLauncher launcher{log};
    std::unique_ptr<platform::FileMover> mover = platform::MakeFileMover();

    // How often `name` was opened, over both runs.
    std::size_t Opened(std::string_view name) const {
        std::size_t n = 0;
        for (const std::string& e : log.Matching("open:"))
            n += fs::path(e.substr(5)).filename() == name ? 1 : 0;
        return n;
    }
    std::size_t Told() const {
        return log.Matching("problem:").size() + log.Matching("message:").size();
    }
};

store::FoundFile Found(Rig& rig, std::string_view name) {
    std::vector<store::FoundFile> found;
    store::ListTargetFiles(rig.entry, platform::SystemFolderReader(), rig.clock, found);
    for (store::FoundFile& f : found) {
        if (f.fileName == name) return f;
    }
    ADD_FAILURE() << "no " << name << " in the folder";
    return {};
}

// The data folder as the last run left it; false when it cannot be made.
bool LeaveLastRun(Rig& rig, const StartCase& c) {
    if (!rig.data.Prepare()) return false;
    fs::create_directories(rig.watched);
    rig.entry.title = "start";
    rig.entry.folder = rig.watched.string();
    rig.entry.timing = store::timing::kNames;
    rig.entry.openFile = 1;
    std::vector<store::SlotImage> images{store::BlankSlotImage()};
    if (!store::EncodeSlot({true, rig.entry}, images[0]).ok() ||
        !store::WriteAllSlots(rig.data.settingsFile(), images).ok()) {
        return false;
    }
    for (std::string_view name : kRecorded) test::WriteBytes(rig.watched / name, name);
    if (!store::WriteSnapshot(rig.data, 0, rig.entry)) return false;
    test::WriteBytes(rig.watched / kJournalled, "journalled");
    const store::SnapshotChange change{false, Found(rig, kJournalled).item};
    if (!store::AppendSnapshotJournal(rig.data.snapshotFile(0), {&change, 1})) return false;
    test::WriteBytes(rig.watched / kOwed, "owed");
    const store::FoundFile owed = Found(rig, kOwed);
    const engine::WatchKey key = engine::KeyOf(rig.entry);
    if (!store::WritePending(
            rig.data, {{key.folder, key.fileMode, key.pattern, store::PendingRecord::Kind::Act,
                        owed.fileName, owed.id.volume, owed.id.index}})) {
        return false;
    }
    if (c.crashed && !store::WriteSession(rig.data, {{0, key.folder, key.fileMode, key.pattern}}))
        return false;
    test::WriteBytes(rig.watched / kArrived, "arrived");
    // Writes a kill cut short long ago: the preparation clears them away.
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const fs::path& stale : {rig.data.tavdat() / ".0.dir.tmp.Ab12Cd",
                                  rig.data.root() / ".tavren3.pending.tmp.Ef34Gh"}) {
        test::WriteBytes(stale, "cut short");
        fs::last_write_time(stale, longAgo);
    }
    return true;
}

// One run of the program: the data folder prepared, the engine started,
// left until `opens` files were opened in all (or `limit` passed), stopped
// once its worker finished its look, ended. A failed preparation is returned:
// the program does not start then.
store::Status RunProgram(Rig& rig, std::size_t opens, std::chrono::milliseconds limit) {
    if (store::Status prepared = rig.data.Prepare(); !prepared) return prepared;
    const std::unique_ptr<platform::ChangeWatcher> watcher = platform::MakeChangeWatcher();
    engine::ActivityLog quiet({}, rig.clock, rig.sink);  // its calls are not the trial's
    engine::Services services{rig.clock, *watcher, rig.launcher, *rig.mover, rig.sound, rig.sink};
    services.log = &quiet;
    auto workers = std::make_shared<std::atomic<int>>(0);
    services.startThread = CountedThreads(workers);
    auto doc = std::make_unique<engine::CTavrenDoc>(rig.data, services);
    // The owner tells a settings file that could not be read.
    if (!doc->lastLoadStatus()) rig.log.Add("problem:" + doc->lastLoadStatus().message());
    // The look that acted writes the snapshot next; a stop in the middle of
    // it would make the runs' calls differ.
    if (WaitUntil([&] { return rig.log.Matching("open:").size() >= opens; }, limit))
        std::this_thread::sleep_for(20ms);
    doc->StopWatching();
    WaitUntil([&] { return *workers == 0; }, 5s);
    doc->Shutdown();
    doc.reset();
    return {};
}

// What a run left: the files it acted on and the data folder's state files
// (temporaries aside), to tell whether a failure made any difference.
std::string Outcome(Rig& rig) {
    std::string s;
    for (const std::string& e : rig.log.Matching("open:"))
        s += fs::path(e.substr(5)).filename().string() + ' ';
    s += "| snapshot:";
    for (const store::SnapshotNode& n : store::ReadSnapshot(rig.data, 0)) s += ' ' + n.item.name;
    s += " | pending:";
    for (const store::PendingRecord& r : store::ReadPending(rig.data))
        s += ' ' + r.name + static_cast<char>(r.kind);
    s += store::ReadSession(rig.data) ? " | session" : "";
    return s;
}

std::vector<std::string> RunStart(const StartCase& c, FaultRun& run, std::string& unfailed) {
    Rig rig;
    rig.clock.AdvanceOnEveryReading();  // no debounce between looks
    if (!LeaveLastRun(rig, c)) return {"no setup"};
    const std::string settings = test::ReadBytes(rig.data.settingsFile());
    const std::size_t owed = c.crashed ? 2 : 1;
    // What a lasting failure left undone stays undone: not worth a long wait.
    const auto limit = c.lasting ? 300ms : 1000ms;
    std::vector<std::string> broken;

    store::Status started;
    {
        LastingFault lasting(run.plan, run.fault);
        ScopedPlan plan(c.lasting ? static_cast<platform::FaultPlan&>(lasting) : run.plan);
        started = RunProgram(rig, owed, limit);
    }
    // A start refused for want of its data folder says why on its way out.
    if (!started && started.message().empty()) broken.push_back("refused to start without a word");
    // A failure that made a difference was told. One that made none (a
    // read tried again, a file that was not there anyway) need not be.
    const std::string outcome = Outcome(rig);
    if (run.failAt == 0) unfailed = outcome;
    if (run.plan.Hit() && started && outcome != unfailed && rig.Told() == 0)
        broken.push_back("the failure was not told");
    // The restart.
    if (!RunProgram(rig, owed, limit))
        broken.push_back("the restart could not prepare the data folder");

    for (std::string_view name : {kRecorded[0], kRecorded[1], kJournalled}) {
        if (const std::size_t n = rig.Opened(name); n > 0)
            broken.push_back("recorded " + std::string(name) + " acted on " + std::to_string(n) +
                             "x");
    }
    // Files owed are acted on once. One may be left undone only under a
    // lasting failure to read what named it, and when that was told.
    const auto once = [&](std::string_view name, std::size_t wanted,
                          std::initializer_list<std::string> namedIn) {
        const std::size_t n = rig.Opened(name);
        if (n == wanted) return;
        const std::vector<std::string> told = rig.log.Matching("problem:");
        if (c.lasting && n < wanted &&
            std::any_of(told.begin(), told.end(), [&](const std::string& t) {
                return std::any_of(namedIn.begin(), namedIn.end(), [&](const std::string& file) {
                    return t.find(file) != std::string::npos;
                });
            })) {
            return;
        }
        broken.push_back(std::string(name) + " acted on " + std::to_string(n) + "x");
    };
    once(kOwed, 1, {"tavren3.pending"});
    // After a clean stop what came meanwhile is not acted on: the next
    // start takes a fresh listing.
    once(kArrived, c.crashed ? 1 : 0, {"tavren3.session", "0.dir", "0.jnl"});
    if (test::ReadBytes(rig.data.settingsFile()) != settings)
        broken.push_back("the settings file was rewritten");
    for (const auto& e : fs::recursive_directory_iterator(rig.dir.path())) {
        if (IsOurTemporary(e.path().filename().string()))
            broken.push_back("left " + fs::relative(e.path(), rig.dir.path()).string());
    }
    return broken;
}

void TryEveryFault(const StartCase& c) {
    std::string unfailed;
    // A lasting failure is tried on the reads; others fail once anyway.
    const CountingPlan::Filter reads = [](platform::SysCall k) {
        return k == platform::SysCall::Open || k == platform::SysCall::Read;
    };
    const PathOutcome outcome = RunEveryFault(
        c.path, [&](FaultRun& run) { return RunStart(c, run, unfailed); }, CommonFaults(),
        c.lasting ? reads : nullptr);
    EXPECT_GT(outcome.failed, 0);
}

TEST(StartFaults, AfterACrash) {
    TryEveryFault({.path = "start: after a crash", .crashed = true});
}

TEST(StartFaults, AfterACleanStop) {
    TryEveryFault({.path = "start: after a clean stop"});
}

TEST(StartFaults, ReadsFailingOnTheirSecondTryToo) {
    TryEveryFault(
        {.path = "start: after a crash, reads failing twice", .crashed = true, .lasting = true});
    TryEveryFault({.path = "start: after a clean stop, reads failing twice", .lasting = true});
}

}  // namespace
}  // namespace tavren::faults
