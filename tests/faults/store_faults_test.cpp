// The data folder's other write paths under failing calls: the commands
// that change the settings, the settings list's save, a snapshot and its
// journal, the pending file, the activity log and the data folder's lock.
// After any failure each file is its old state or its new one, whole, the
// failure is told, and a later start finds no temporary file of ours.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/command_args.h"
#include "app/entry_commands.h"
#include "engine/activity_log_writer.h"
#include "faults/fault_driver.h"
#include "platform/log_file.h"
#include "store/activity_log.h"
#include "store/data_folder.h"
#include "store/session_file.h"
#include "store/settings_list.h"
#include "store/snapshot.h"
#include "store/snapshot_journal.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::faults {
namespace {

namespace fs = std::filesystem;

bool IsOurTemporary(const std::string& name) {
    return name.find(".tmp.") != std::string::npos || name.rfind(".tavren-move-", 0) == 0;
}

// A start of the program once the failed write is older than any write that
// could still be under way: the data folder is opened again. Gives the
// temporary files of ours that are still anywhere below `root`.
std::vector<std::string> RestartLeaves(const fs::path& root) {
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (IsOurTemporary(e.path().filename().string())) fs::last_write_time(e.path(), longAgo);
    }
    std::vector<std::string> left;
    if (const store::Status s = store::DataFolder(root).Prepare(); !s) left.push_back(s.message());
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (IsOurTemporary(e.path().filename().string()))
            left.push_back("left " + fs::relative(e.path(), root).string() + " after a restart");
    }
    return left;
}

// Once the planned call failed, every removal fails too (a disk gone
// read-only, a process killed there): a failed write's temporary file stays
// for the next start to clear away.
class CleanupFails final : public platform::FaultPlan {
public:
    explicit CleanupFails(CountingPlan& plan) : plan_(plan) {}
    platform::Fault Next(platform::SysCall call) override {
        const platform::Fault fault = plan_.Next(call);
        if (fault == platform::Fault::None && plan_.Hit() && call == platform::SysCall::Remove)
            return platform::Fault::Io;
        return fault;
    }

private:
    CountingPlan& plan_;
};

void Append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// What a write of `what` must leave: the old bytes or the new ones, "done"
// only when the new ones are there, and a word with every failure.
void CheckOldOrNew(std::vector<std::string>& broken, const std::string& what,
                   const std::string& now, const std::string& old, const std::string& fresh,
                   bool reportedOk, const std::string& message) {
    const bool isNew = now == fresh;
    if (!isNew && now != old) broken.push_back(what + " is neither the old one nor the new one");
    if (reportedOk && !isNew) broken.push_back(what + ": a failed write was reported done");
    if (!reportedOk && message.empty()) broken.push_back(what + ": a failure told nothing");
}

// --- the commands that change the settings ---------------------------------

struct CommandCase {
    const char* path;
    std::vector<std::string> words;  // after --data-dir
};

int RunCommand(const fs::path& data, std::vector<std::string> words, std::string* err = nullptr) {
    words.insert(words.begin(), {"--data-dir", data.string()});
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = app::RunEntryCommand(words, "tavren3").value_or(-1);
    testing::internal::GetCapturedStdout();
    const std::string said = testing::internal::GetCapturedStderr();
    if (err) *err = said;
    return status;
}

int CommandLines(const fs::path& data) {
    std::uint64_t offset = 0;
    int n = 0;
    for (const store::LogRecord& r : store::ReadLogFrom(data / "tavren3.log", offset))
        n += r.event == store::log_event::kCommand ? 1 : 0;
    return n;
}

TEST(StoreFaults, SettingsCommandsChangeTheFileWholeOrToldNot) {
    test::TempDir shared;
    const fs::path in = shared / "in";
    fs::create_directories(in);
    test::WriteBytes(shared / "import.txt", "[entry]\ntitle = one\nfolder = " + in.string() +
                                                "\n[entry]\ntitle = two\nfolder = " + in.string() +
                                                "\npattern = *.csv\nfiles = pattern\n");
    const std::vector<CommandCase> cases = {
        {"settings: tavren3 add", {"add", "--title", "second", "--folder", in.string()}},
        {"settings: tavren3 change", {"change", "1", "--title", "renamed", "--delete"}},
        {"settings: tavren3 import", {"import", (shared / "import.txt").string()}},
    };
    const std::vector<std::string> first = {"add", "--title", "first", "--folder", in.string()};
    for (const CommandCase& c : cases) {
        // The file before and after the command, as a run without faults
        // makes them.
        std::string oldBytes, newBytes;
        {
            test::TempDir ref;
            ASSERT_EQ(RunCommand(ref / "data", first), 0);
            oldBytes = test::ReadBytes(ref / "data" / "tavdat" / "dirinfo.dat");
            ASSERT_EQ(RunCommand(ref / "data", c.words), 0);
            newBytes = test::ReadBytes(ref / "data" / "tavdat" / "dirinfo.dat");
            ASSERT_NE(oldBytes, newBytes);
        }
        const PathOutcome outcome = RunEveryFault(
            c.path,
            [&](FaultRun& run) {
                std::vector<std::string> broken;
                test::TempDir dir;
                const fs::path data = dir / "data";
                if (RunCommand(data, first) != 0) return std::vector<std::string>{"no setup"};
                const int before = CommandLines(data);
                std::string said;
                int status = 0;
                {
                    CleanupFails cleanupFails(run.plan);
                    ScopedPlan plan(cleanupFails);
                    status = RunCommand(data, c.words, &said);
                }
                const std::string now = test::ReadBytes(data / "tavdat" / "dirinfo.dat");
                CheckOldOrNew(broken, "dirinfo.dat", now, oldBytes, newBytes, status == 0, said);
                if (status != 0 && now == newBytes)
                    broken.push_back("a change that took effect was reported failed");
                // The change is in the activity log, or its loss was told.
                if (status == 0 && CommandLines(data) == before && said.empty())
                    broken.push_back("the command's log line was lost untold");
                Append(broken, RestartLeaves(data));
                return broken;
            },
            CommonFaults());
        EXPECT_EQ(outcome.runs, outcome.failed) << c.path;
    }
}

// --- the settings list's save (the dialogs' 決定) --------------------------

std::string Slots(int count, char mark) {
    std::vector<store::SlotImage> slots(static_cast<std::size_t>(count), store::BlankSlotImage());
    for (store::SlotImage& s : slots) s.title[0] = mark;
    return {reinterpret_cast<const char*>(slots.data()), slots.size() * sizeof(store::SlotImage)};
}

std::vector<fs::path> KeptCopies(const fs::path& folder) {
    std::vector<fs::path> copies;
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().filename().string().rfind("dirinfo.dat.damaged", 0) == 0)
            copies.push_back(e.path());
    }
    return copies;
}

// A file with bytes the list cannot hold: the save keeps it whole under
// another name first, once, however the save went.
TEST(StoreFaults, SettingsListSaveKeepsTheDamagedFileOnce) {
    const std::string oldBytes = Slots(2, 'o') + std::string(100, '\x7f');
    std::string newBytes;
    const PathOutcome outcome = RunEveryFault(
        "settings: list save over a damaged file",
        [&](FaultRun& run) {
            std::vector<std::string> broken;
            test::TempDir dir;
            const store::DataFolder data(dir.path());
            const fs::path file = data.settingsFile();
            if (!data.Prepare()) return std::vector<std::string>{"no setup"};
            test::WriteBytes(file, oldBytes);
            store::SettingsList list;
            if (!list.Load(file) || list.unreadBytes() != 100)
                return std::vector<std::string>{"no setup"};
            list.SetRunning(0, false);
            store::Status saved;
            {
                CleanupFails cleanupFails(run.plan);
                ScopedPlan plan(cleanupFails);
                saved = list.Save(file);
            }
            if (run.failAt == 0) newBytes = test::ReadBytes(file);
            CheckOldOrNew(broken, "dirinfo.dat", test::ReadBytes(file), oldBytes, newBytes,
                          saved.ok(), saved.message());
            if (saved.ok() && list.keptCopy().empty()) broken.push_back("no kept copy named");
            for (const fs::path& copy : KeptCopies(data.tavdat())) {
                if (test::ReadBytes(copy) != oldBytes)
                    broken.push_back(copy.filename().string() + " is not the old file whole");
            }
            Append(broken, RestartLeaves(dir.path()));
            // The user saves again: it works, and the old file is kept once.
            if (!saved.ok()) {
                if (const store::Status again = list.Save(file); !again)
                    broken.push_back("saving again failed: " + again.message());
                if (test::ReadBytes(file) != newBytes)
                    broken.push_back("saving again wrote another file");
            }
            const auto copies = KeptCopies(data.tavdat());
            if (copies.size() != 1)
                broken.push_back(std::to_string(copies.size()) + " kept copies after saving");
            return broken;
        },
        CommonFaults());
    EXPECT_EQ(outcome.runs, outcome.failed);
}

// --- a snapshot and its journal ---------------------------------------------

store::SnapshotItem Item(const std::string& name, std::uint32_t size) {
    return {size, 20261208, 120000 + static_cast<std::int32_t>(size), name};
}

using State = std::map<std::string, std::uint32_t>;  // name -> size

State Read(const fs::path& snapshot, store::SnapshotRead& how) {
    State state;
    for (const store::SnapshotNode& n : store::ReadSnapshotFile(snapshot, &how)) {
        if (!n.item.SameState(Item(n.item.name, n.item.size)) || state.count(n.item.name))
            state["garbled " + n.item.name] = n.item.size;
        else
            state[n.item.name] = n.item.size;
    }
    return state;
}

std::string Show(const State& s) {
    std::string out;
    for (const auto& [name, size] : s) out += name + ":" + std::to_string(size) + " ";
    return out;
}

std::vector<store::SnapshotItem> ItemsOf(const State& s) {
    std::vector<store::SnapshotItem> items;
    for (const auto& [name, size] : s) items.push_back(Item(name, size));
    return items;
}

// Before the trial: a snapshot {a1 b1 c1} and a journal that set b2 and
// removed c, so {a1 b2}. The trial changes a, adds d and removes b.
const State kBefore = {{"a", 1}, {"b", 2}};
const State kAfter = {{"a", 3}, {"d", 1}};

enum class Trial { Append, AppendAfterCrash, Fold };

std::vector<std::string> SnapshotTrial(FaultRun& run, Trial trial) {
    const bool fold = trial == Trial::Fold;
    std::vector<std::string> broken;
    test::TempDir dir;
    const store::DataFolder data(dir.path());
    const fs::path snapshot = data.snapshotFile(0);
    if (!data.Prepare()) return {"no setup"};
    const std::vector<store::SnapshotItem> first = {Item("a", 1), Item("b", 1), Item("c", 1)};
    const std::vector<store::SnapshotChange> journal = {{false, Item("b", 2)},
                                                        {true, Item("c", 0)}};
    if (!store::WriteSnapshotFile(snapshot, first) ||
        !store::AppendSnapshotJournal(snapshot, journal))
        return {"no setup"};
    // An append that a crash cut short: the next one first cuts it off.
    if (trial == Trial::AppendAfterCrash) {
        std::string cut(store::kSnapshotRecordSize + 40, '\0');
        store::EncodeSnapshotRecord(Item("z", 9), 1, cut.data());
        const fs::path jnl = store::JournalFileOf(snapshot);
        test::WriteBytes(jnl, test::ReadBytes(jnl) + cut);
    }
    const std::vector<store::SnapshotChange> changes = {
        {false, Item("a", 3)}, {false, Item("d", 1)}, {true, Item("b", 0)}};
    store::Status written;
    {
        CleanupFails cleanupFails(run.plan);
        ScopedPlan plan(cleanupFails);
        written = fold ? store::WriteSnapshotFile(snapshot, ItemsOf(kAfter))
                       : store::AppendSnapshotJournal(snapshot, changes);
    }
    Append(broken, RestartLeaves(dir.path()));
    store::SnapshotRead how = store::SnapshotRead::Ok;
    State now = Read(snapshot, how);
    if (how != store::SnapshotRead::Ok) broken.push_back("the snapshot reads back as not ok");
    if (now != kBefore && now != kAfter) broken.push_back("read back as " + Show(now));
    if (!written && written.message().empty()) broken.push_back("a failure told nothing");
    if (written && now != kAfter) broken.push_back("a write that did not land was reported done");
    // What the watcher does next: after a failure it writes the whole
    // snapshot; either way the following look appends its change, which
    // must read back on top of what is there.
    if (!written && !store::WriteSnapshotFile(snapshot, ItemsOf(now)))
        broken.push_back("writing the snapshot again failed");
    const std::vector<store::SnapshotChange> next = {{false, Item("e", 1)}};
    if (const store::Status s = store::AppendSnapshotJournal(snapshot, next); !s)
        broken.push_back("the next append failed: " + s.message());
    now["e"] = 1;
    if (const State later = Read(snapshot, how); later != now)
        broken.push_back("after the next append: " + Show(later) + "instead of " + Show(now));
    return broken;
}

TEST(JournalFaults, AnAppendLandsWholeOrNotAndIsToldWhenNot) {
    for (const auto& [path, trial] :
         {std::pair{"snapshot: journal append", Trial::Append},
          {"snapshot: append after a cut-short one", Trial::AppendAfterCrash}}) {
        const PathOutcome outcome = RunEveryFault(
            path, [trial](FaultRun& run) { return SnapshotTrial(run, trial); }, CommonFaults());
        EXPECT_EQ(outcome.runs, outcome.failed) << path;
    }
}

TEST(JournalFaults, AFoldLeavesTheOldStateOrTheNewOne) {
    const PathOutcome outcome = RunEveryFault(
        "snapshot: write (fold)", [](FaultRun& run) { return SnapshotTrial(run, Trial::Fold); },
        CommonFaults());
    EXPECT_EQ(outcome.runs, outcome.failed);
}

// --- the pending file kept over a stop ---------------------------------------

TEST(StoreFaults, PendingFileIsTheOldOrTheNewWhole) {
    auto record = [](const std::string& name, std::uint64_t index) {
        return store::PendingRecord{"/srv/in", 1, "*.csv", store::PendingRecord::Kind::Act,
                                    name,      7, index};
    };
    const std::vector<store::PendingRecord> oldRecords = {record("a.csv", 1)};
    const std::vector<store::PendingRecord> newRecords = {record("b.csv", 2), record("c.csv", 3)};
    const PathOutcome outcome = RunEveryFault(
        "session: pending file",
        [&](FaultRun& run) {
            std::vector<std::string> broken;
            test::TempDir dir;
            const store::DataFolder data(dir.path());
            if (!data.Prepare() || !store::WritePending(data, oldRecords))
                return std::vector<std::string>{"no setup"};
            store::Status written;
            {
                CleanupFails cleanupFails(run.plan);
                ScopedPlan plan(cleanupFails);
                written = store::WritePending(data, newRecords);
            }
            Append(broken, RestartLeaves(dir.path()));
            const auto now = store::ReadPending(data);
            if (now != oldRecords && now != newRecords)
                broken.push_back("the pending file is neither the old nor the new");
            if (written && now != newRecords) broken.push_back("a failed write was reported done");
            if (!written && written.message().empty()) broken.push_back("a failure told nothing");
            return broken;
        },
        CommonFaults());
    EXPECT_EQ(outcome.runs, outcome.failed);
}

// --- the activity log ---------------------------------------------------------

// Lines of every log file, oldest first; a line that does not parse comes
// back as "torn: <line>".
std::vector<std::string> LogLines(const fs::path& log) {
    std::vector<std::string> lines;
    for (int n = engine::ActivityLog::kLogKeep; n >= 0; --n) {
        const std::string text = test::ReadBytes(n == 0 ? log : platform::RotatedLogPath(log, n));
        std::size_t at = 0;
        for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = text.substr(at, end - at);
            const auto record = store::ParseLogLine(line);
            lines.push_back(record ? record->file : "torn: " + line);
        }
        if (at != text.size()) lines.push_back("torn: " + text.substr(at));
    }
    return lines;
}

// A log near its limit, appended by a writer that rotates it on the way:
// whatever fails, no line is torn, every older line stays, each new line is
// there once or lost, and a loss is told.
TEST(StoreFaults, ActivityLogKeepsWholeLinesThroughRotation) {
    constexpr int kOld = 6;
    constexpr int kNew = 6;
    const PathOutcome outcome = RunEveryFault(
        "activity log: append and rotate",
        [&](FaultRun& run) {
            std::vector<std::string> broken;
            test::TempDir dir;
            const fs::path log = dir / "tavren3.log";
            test::FakeClock clock;
            test::EventLog events;
            test::RecordingSink problems(events);
            std::string old;
            for (int i = 0; i < kOld; ++i) {
                old += store::FormatLogLine({"2026-12-08T14:03:05.123+09:00", 1, "t", "new",
                                             "old" + std::to_string(i), ""}) +
                       '\n';
            }
            test::WriteBytes(platform::RotatedLogPath(log, 1), old.substr(0, old.size() / 2));
            test::WriteBytes(log, old.substr(old.size() / 2));
            std::size_t toldBefore = 0;
            {
                // Room for about three lines a file: two rotations.
                engine::ActivityLog writer(log, clock, problems, nullptr, 3 * 64);
                {
                    ScopedPlan plan(run.plan);
                    for (int i = 0; i < kNew; ++i) {
                        writer.Write(1, "t", store::log_event::kNew, "new" + std::to_string(i));
                        if (i % 2 == 1) writer.Flush();  // batches of two
                    }
                }
                // The log works again; a later failure is a new one to tell.
                writer.Write(1, "t", store::log_event::kNew, "again");
                writer.Flush();
                toldBefore = events.Matching("problem:").size();
                CountingPlan later(1, platform::Fault::NoSpace);
                ScopedPlan plan(later);
                writer.Write(1, "t", store::log_event::kNew, "later");
                writer.Flush();
            }
            Append(broken, RestartLeaves(dir.path()));
            const std::vector<std::string> lines = LogLines(log);
            std::map<std::string, int> seen;
            for (const std::string& l : lines) {
                if (l.rfind("torn: ", 0) == 0) broken.push_back(l);
                ++seen[l];
            }
            for (int i = 0; i < kOld; ++i) {
                if (seen["old" + std::to_string(i)] != 1)
                    broken.push_back("old line " + std::to_string(i) + " lost");
            }
            int lost = 0;
            for (int i = 0; i < kNew; ++i) {
                const int n = seen["new" + std::to_string(i)];
                if (n > 1) broken.push_back("new line " + std::to_string(i) + " twice");
                lost += n == 0 ? 1 : 0;
            }
            if (lost > 0 && toldBefore == 0)
                broken.push_back(std::to_string(lost) + " lines lost untold");
            if (seen["again"] != 1) broken.push_back("the log did not come back");
            if (seen["later"] == 0 && events.Matching("problem:").size() == toldBefore)
                broken.push_back("a failure after the log came back was not told");
            return broken;
        },
        CommonFaults());
    EXPECT_GT(outcome.calls, 6);
}

// --- the data folder's lock ----------------------------------------------------

// A watcher that cannot take the lock does not watch: with another one
// running, or the lock unknown, two would act on every file.
TEST(StoreFaults, AFailedLockRefusesToWatch) {
    // Against a holder the start tries again for half a second; only the
    // calls of its first try are counted and failed.
    auto tried = std::make_shared<int>(0);
    const CountingPlan::Filter firstTry = [tried](platform::SysCall) { return ++*tried <= 3; };
    for (const bool other : {false, true}) {
        RunEveryFault(
            other ? "lock: a second watcher starts" : "lock: a watcher starts",
            [&](FaultRun& run) {
                std::vector<std::string> broken;
                test::TempDir dir;
                const store::DataFolder data(dir.path());
                if (!data.Prepare()) return std::vector<std::string>{"no setup"};
                std::unique_ptr<platform::FileLock> first;
                if (other) {
                    long holder = 0;
                    std::error_code ec;
                    first = platform::LockFile(data.lockFile(), holder, ec);
                    if (!first) return std::vector<std::string>{"no setup"};
                }
                app::DataFolderLock lock;
                testing::internal::CaptureStderr();
                *tried = 0;
                {
                    ScopedPlan plan(run.plan);
                    lock = app::LockDataFolder(data);
                }
                const std::string said = testing::internal::GetCapturedStderr();
                const bool watches = lock.busy.empty();
                if (watches && other) broken.push_back("a second watcher runs");
                if (watches && !lock.lock) broken.push_back("watches without the lock");
                if (!watches && said.empty()) broken.push_back("refused without a word");
                if (watches) {
                    // Held for real: the next one is turned away.
                    testing::internal::CaptureStderr();
                    if (app::LockDataFolder(data).busy.empty())
                        broken.push_back("the lock taken does not exclude another watcher");
                    testing::internal::GetCapturedStderr();
                }
                first.reset();
                lock = {};
                Append(broken, RestartLeaves(dir.path()));
                return broken;
            },
            CommonFaults(), other ? firstTry : nullptr);
    }
}

}  // namespace
}  // namespace tavren::faults
