// How the watch engine fares next to the least a folder watcher has to do.
// The engine runs in this process on real inotify and real folders; only
// the actions' outside effects are replaced (a launcher that records when
// it was asked to start a program, a message sink that counts, a silent
// sound player). Each measure runs the engine and a reference in the same
// run and prints the figures with a verdict:
//
//   a latency  from creating a file in a watched folder to the engine
//              starting the entry's program, against a plain inotify wait
//              loop that "acts" on IN_CREATE; samples interleaved. No
//              target: it shows what the rescan adds over reading the
//              event itself (a notification does not name the file, so the
//              folder is listed first). The target against a loop that
//              starts a program, as a user's script would, is bench_latency's.
//   b rescan   engine::RescanEntry on a 100,000-file folder in which nothing
//              changed, against a bare readdir + fstatat listing of it, in
//              interleaved pairs; each pair's ratio is printed. Target: a
//              median of at most 1.5x, every rescan a full look (called
//              without notified names, RescanEntry lists the folder).
//   c idle     200 running entries left alone: CPU time, wake-ups (context
//              switches of the engine's threads) and memory growth over the
//              window, with a plain inotify loop on the same 200 folders
//              beside it. Target: no wake-up at all, no CPU, no growth.
//   d burst    10,000 files created at once in the folder of an entry that
//              moves each file to another folder, with the real mover and
//              clock: every file must be moved exactly once. Run in pairs,
//              the engine checking each file for writers as it does, and
//              with that check taking every file as complete: target, the
//              checks add under 10% to the engine's CPU time.
//   e log      the burst of d, the engine writing its activity log and
//              writing none, in pairs: target, the log adds at most 5% to
//              the burst's time. (The idle entries of c write theirs too.)
//
// Usage: bench_engine [--quick] [--only=abcde] [--idle-seconds=N]
//   --quick          smaller sizes and fewer samples, for a quick look.
//   --only=...       run only the measures named by their letters.
//   --idle-seconds   length of the idle window; 10 by default, 60 for a
//                    longer look.
//
// Prints PASS or FAIL per target; exits 0 unless the benchmark itself
// could not run.

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common.h"
#include "engine/activity_log_writer.h"
#include "engine/rescan.h"
#include "engine/services.h"
#include "engine/tavren_doc.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/file_mover.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/sound.h"
#include "platform/wake_event.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/watch_entry.h"

namespace {

namespace fs = std::filesystem;
namespace store = tavren::store;
namespace engine = tavren::engine;
namespace platform = tavren::platform;
using namespace tavren::bench;
using namespace std::chrono_literals;

constexpr double kRescanTarget = 1.5;
// What the idle window may add to the process's resident memory: a few pages
// for this benchmark's own readings of /proc, none for the engine.
constexpr long kIdleGrowthToleranceKb = 16;

// --- small helpers -----------------------------------------------------------

double Seconds(std::int64_t ns) {
    return static_cast<double>(ns) / 1e9;
}

// Names in a folder, "." and ".." left out.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename());
    return names;
}

// Times at which something happened, for a waiter on another thread.
class Arrivals {
public:
    void Add(std::int64_t ns) {
        {
            std::lock_guard lock(mutex_);
            times_.push_back(ns);
        }
        changed_.notify_all();
    }
    // The `count`-th time (1-based) once there, or nullopt at the deadline.
    std::optional<std::int64_t> Wait(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, limit, [&] { return times_.size() >= count; })) {
            return std::nullopt;
        }
        return times_[count - 1];
    }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return times_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::int64_t> times_;
};

// --- stand-ins for the actions' outside effects ---------------------------

// Real time, but every reading 10 seconds after the previous one, so that
// the 3-second debounce never holds a sample back.
class AdvancingClock final : public platform::Clock {
public:
    std::int64_t NowSeconds() override { return platform::NowSeconds() + 10 * step_++; }
    platform::LocalTime ToLocal(std::int64_t s) override { return platform::ToLocalTime(s); }
    void Sleep(std::chrono::milliseconds d, const platform::WakeEvent& cancel) override {
        cancel.WaitFor(d);
    }

private:
    std::atomic<std::int64_t> step_{0};
};

// The moment the engine acts: it asks to start the entry's program.
class RecordingLauncher final : public platform::ProcessLauncher {
public:
    bool RunAndWait(std::string_view, const platform::WakeEvent&,
                    const platform::LaunchContext&) override {
        started.Add(NowNs());
        return true;
    }
    bool StartProgram(std::string_view, const platform::LaunchContext&) override {
        started.Add(NowNs());
        return true;
    }
    OpenResult OpenDocument(const fs::path&) override {
        started.Add(NowNs());
        return OpenResult::Opened;
    }
    Arrivals started;
};

// The real mover, with a count of the moves asked for per file.
class CountingMover final : public platform::FileMover {
public:
    CountingMover() : real_(platform::MakeFileMover()) {}
    std::error_code Move(const fs::path& from, const fs::path& to, bool replace,
                         const platform::WakeEvent& cancel) override {
        const std::error_code ec = real_->Move(from, to, replace, cancel);
        const std::int64_t now = NowNs();
        std::lock_guard lock(mutex_);
        ++calls_[from.filename().string()];
        if (ec) {
            ++failed_;
        } else {
            ++moved_;
            moves_.push_back(now);
        }
        return ec;
    }
    bool Exists(const fs::path& path) override { return real_->Exists(path); }

    std::size_t moved() {
        std::lock_guard lock(mutex_);
        return moved_;
    }
    std::size_t failed() {
        std::lock_guard lock(mutex_);
        return failed_;
    }
    std::map<std::string, int> calls() {
        std::lock_guard lock(mutex_);
        return {calls_.begin(), calls_.end()};
    }
    std::vector<std::int64_t> moveTimes() {
        std::lock_guard lock(mutex_);
        return moves_;
    }

private:
    std::unique_ptr<platform::FileMover> real_;
    std::mutex mutex_;
    std::unordered_map<std::string, int> calls_;
    std::size_t moved_ = 0, failed_ = 0;
    std::vector<std::int64_t> moves_;
};

class NoChanges final : public platform::ChangeWatcher {
public:
    std::unique_ptr<platform::ChangeSubscription> Watch(const fs::path&, platform::ChangeKind,
                                                        std::error_code& ec) override {
        ec = std::make_error_code(std::errc::function_not_supported);
        return nullptr;
    }
    std::unique_ptr<platform::ChangeSubscription> WatchForFolder(const fs::path&,
                                                                 std::error_code& ec) override {
        ec = std::make_error_code(std::errc::function_not_supported);
        return nullptr;
    }
};

// The engine with its stand-ins, on its own data folder.
struct StandIns {
    explicit StandIns(std::unique_ptr<platform::Clock> c) : clock(std::move(c)) {}
    std::unique_ptr<platform::Clock> clock;
    std::unique_ptr<platform::ChangeWatcher> changes = platform::MakeChangeWatcher();
    RecordingLauncher launcher;
    CountingMover mover;
    SilentSound sound;
    CountingSink sink;
    // Times the engine's check for writers found a file still open.
    std::atomic<int> foundOpen{0};
    engine::Services services() {
        engine::Services s{*clock, *changes, launcher, mover, sound, sink};
        s.probeWriters = [this](const fs::path& file) {
            const platform::WriterState state = platform::ProbeWriters(file);
            if (state != platform::WriterState::None) ++foundOpen;
            return state;
        };
        return s;
    }
};

// --- the reference: a plain inotify wait loop --------------------------------

// One thread, one inotify descriptor, poll and read: what any watcher on
// Linux does at the least. It "acts" by noting the time of each IN_CREATE.
class InotifyLoop {
public:
    explicit InotifyLoop(const std::vector<fs::path>& folders) {
        inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (inotify_ < 0 || stop_ < 0) Die("cannot set up the inotify loop");
        for (const fs::path& folder : folders) {
            if (::inotify_add_watch(inotify_, folder.c_str(),
                                    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) < 0) {
                Die("cannot watch " + folder.string());
            }
        }
        thread_ = std::thread([this] { Run(); });
        while (tid_.load() == 0) std::this_thread::yield();
    }
    ~InotifyLoop() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
        thread_.join();
        ::close(inotify_);
        ::close(stop_);
    }
    InotifyLoop(const InotifyLoop&) = delete;
    InotifyLoop& operator=(const InotifyLoop&) = delete;

    pid_t tid() const { return tid_.load(); }
    Arrivals created;

private:
    void Run() {
        tid_.store(static_cast<pid_t>(::syscall(SYS_gettid)));
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if (fds[1].revents) return;
            DrainInotify(inotify_, [&](const inotify_event& ev) {
                if ((ev.mask & IN_CREATE) && !(ev.mask & IN_ISDIR)) created.Add(NowNs());
                return false;
            });
        }
    }

    int inotify_ = -1;
    int stop_ = -1;
    std::atomic<pid_t> tid_{0};
    std::thread thread_;
};

// Waits for a file of a folder to be replaced by a rename: the end of a
// rescan, which stores its snapshot that way.
// A look has stored what it learnt: its snapshot file renamed into place,
// or the journal beside it (`stem`.jnl) written and closed.
class RenameWatch {
public:
    RenameWatch(const fs::path& folder, std::string name)
        : name_(std::move(name)), journal_(fs::path(name_).replace_extension(".jnl").string()) {
        fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
            Die("cannot watch " + folder.string());
        }
    }
    ~RenameWatch() { ::close(fd_); }
    RenameWatch(const RenameWatch&) = delete;
    RenameWatch& operator=(const RenameWatch&) = delete;

    bool Wait(std::chrono::milliseconds limit) {
        const std::int64_t deadline = NowNs() + limit.count() * 1'000'000;
        for (;;) {
            if (DrainInotify(fd_, [&](const inotify_event& ev) {
                    if (ev.len == 0) return false;
                    return (ev.mask & IN_MOVED_TO) ? name_ == ev.name : journal_ == ev.name;
                })) {
                return true;
            }
            const std::int64_t left = deadline - NowNs();
            if (left <= 0) return false;
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left / 1'000'000) + 1);
        }
    }

private:
    int fd_ = -1;
    std::string name_;
    std::string journal_;
};

// Counts the listings of a folder: each opens the folder itself once.
class ListingCount {
public:
    explicit ListingCount(const fs::path& folder) {
        fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_OPEN) < 0) {
            Die("cannot watch " + folder.string());
        }
    }
    ~ListingCount() { ::close(fd_); }
    ListingCount(const ListingCount&) = delete;
    ListingCount& operator=(const ListingCount&) = delete;

    // The folder's opens since the last call (a file's open carries its name).
    int Take() {
        int opens = 0;
        DrainInotify(fd_, [&](const inotify_event& ev) {
            opens += ev.len == 0 && (ev.mask & IN_Q_OVERFLOW) == 0 ? 1 : 0;
            return false;
        });
        return opens;
    }

private:
    int fd_ = -1;
};

// --- a: notice latency ----------------------------------------------------------

// True when every thread but the calling one sits blocked in poll or ppoll:
// the engine's dispatcher, worker and log writer, and the reference loop,
// are all waiting. A rescan's snapshot write ends with an fsync of the folder after
// the rename, so the rename alone does not say the worker is back.
bool OthersWaiting() {
    const auto self = static_cast<pid_t>(::syscall(SYS_gettid));
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
        if (std::stol(task.path().filename().string()) == self) continue;
        const std::string line = ReadText(task.path() / "syscall");
        char* end = nullptr;
        const long number = std::strtol(line.c_str(), &end, 10);
        if (end == line.c_str()) return false;  // "running"
        // The activity log's writer sleeps on a condition variable.
        bool polling = number == SYS_ppoll || number == SYS_futex;
#ifdef SYS_poll
        polling = polling || number == SYS_poll;
#endif
        if (!polling) return false;
    }
    return true;
}

void WaitUntilOthersWait() {
    const std::int64_t deadline = NowNs() + 10'000'000'000;
    while (!OthersWaiting()) {
        if (NowNs() > deadline) Die("the engine's threads did not return to their waits");
        std::this_thread::sleep_for(200us);
    }
}

void MeasureLatency(const fs::path& root, bool quick) {
    const int samples = quick ? 30 : 200;
    std::printf("a. Notice latency: creating a file to the engine acting on it\n");

    const fs::path base = root / "latency";
    const fs::path watched = base / "watched";
    const fs::path loopFolder = base / "loop";
    MakeFolder(watched);
    MakeFolder(loopFolder);

    // The entry starts a program for each new file; the recording launcher
    // marks the moment. The clock keeps the debounce out of the way.
    store::WatchEntry e;
    e.title = "latency";
    e.folder = watched.string();
    e.timing = 1;  // name changes: a creation wakes the entry
    e.program = "bench-program";
    const store::DataFolder data(base / "data");
    WriteSettings(data, {e});

    StandIns bench(std::make_unique<AdvancingClock>());
    engine::CTavrenDoc doc(data, bench.services());
    if (!doc.watchRunning()) Die("the engine did not start watching");
    RenameWatch snapshotStored(data.tavdat(), "0.dir");
    InotifyLoop loop({loopFolder});

    std::vector<double> engineUs, loopUs, workUs;
    int engineMissed = 0, loopMissed = 0;
    for (int i = 0; i < samples; ++i) {
        CheckInterrupted();
        const std::string file = "new-" + std::to_string(i) + ".txt";
        auto engineSample = [&] {
            const std::int64_t t0 = NowNs();
            CreateFile(watched / file);
            const auto acted = bench.launcher.started.Wait(engineUs.size() + engineMissed + 1, 5s);
            if (acted) {
                engineUs.push_back(static_cast<double>(*acted - t0) / 1e3);
            } else {
                ++engineMissed;
            }
            // The rescan ends by storing its snapshot; only then is the
            // worker waiting again, ready for the next sample.
            if (!snapshotStored.Wait(5s)) Die("the engine did not finish its rescan");
        };
        auto loopSample = [&] {
            const std::int64_t t0 = NowNs();
            CreateFile(loopFolder / file);
            const auto acted = loop.created.Wait(loopUs.size() + loopMissed + 1, 5s);
            if (acted) {
                loopUs.push_back(static_cast<double>(*acted - t0) / 1e3);
            } else {
                ++loopMissed;
            }
        };
        // Alternate which goes first; each starts with every thread waiting.
        WaitUntilOthersWait();
        if (i % 2 == 0) {
            engineSample();
            WaitUntilOthersWait();
            loopSample();
        } else {
            loopSample();
            WaitUntilOthersWait();
            engineSample();
        }
        // The look's own work before it acts, timed here on the folder as
        // the engine just saw it; the engine keeps its snapshot in memory.
        store::SnapshotList snapshot = store::ReadSnapshot(data, 0);
        workUs.push_back(
            1e3 * TimeMs([&] {
                std::vector<store::FoundFile> found;
                store::ListTargetFiles(e, platform::SystemFolderReader(), *bench.clock, found);
                g_sink = g_sink + engine::PlanRescan(snapshot, found, e).targets.size();
            }));
    }
    if (engineMissed > 0 && bench.launcher.started.size() > engineUs.size()) {
        Die("the engine acted late; samples would be mismatched");
    }

    auto row = [](const char* what, const std::vector<double>& v, int missed) {
        std::printf("   %-24s %8.0f %8.0f %8.0f %8.0f %8zu %7d %9td\n", what, Median(v),
                    Percentile(v, 90), v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()),
                    v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()), v.size(), missed,
                    CountOver(v, 1e5));
    };
    std::printf("   %-24s %8s %8s %8s %8s %8s %7s %9s\n", "(microseconds)", "median", "p90", "min",
                "max", "samples", "missed", ">100 ms");
    row("engine (rescan + act)", engineUs, engineMissed);
    row("plain inotify loop", loopUs, loopMissed);
    const double ratio = Median(engineUs) / Median(loopUs);
    std::printf(
        "   the engine's extra share: %.0f us (median); the look's own work before\n"
        "   acting (list 1-%d files, compare), timed alone: %.0f us\n",
        Median(engineUs) - Median(loopUs), samples, Median(workUs));
    std::printf(
        "   ratio of medians %.3fx (p90 %.2fx), for information: the target against a\n"
        "   loop that starts the program is bench_latency's\n",
        ratio, Percentile(engineUs, 90) / Percentile(loopUs, 90));
    std::printf("   files the engine's check for writers found still open: %d\n",
                bench.foundOpen.load());
    std::printf("   target: every file acted on exactly once: %s\n\n",
                Verdict(engineMissed == 0 && loopMissed == 0));
}

// --- b: rescan of an unchanged folder ----------------------------------------

void MeasureRescan(const fs::path& root, bool quick) {
    const std::size_t files = quick ? 10000 : 100000;
    const int repetitions = quick ? 5 : 9;
    std::printf("b. Rescan of an unchanged %zu-file folder against a bare listing\n", files);

    const fs::path folder = root / "rescan" / "watched";
    CreateDocumentFolder(folder, files);
    const store::DataFolder data(root / "rescan" / "data");
    if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());

    store::WatchEntry entry;
    entry.folder = folder.string();
    entry.timing = 1;  // name changes: the look for deleted files runs too

    AdvancingClock clock;
    NoChanges changes;
    RecordingLauncher launcher;
    CountingMover mover;
    SilentSound sound;
    CountingSink sink;
    const engine::Services services{clock, changes, launcher, mover, sound, sink};
    engine::WatchState state;
    state.slot = 0;
    platform::WakeEvent cancel;
    engine::RescanContext context{entry, data, services, state, cancel};
    // The snapshot in memory and in its file, as a running entry has it.
    engine::TakeBaseline(context);

    struct stat before {};
    ::stat(data.snapshotFile(0).c_str(), &before);
    // Called without the names a notification carried, RescanEntry lists
    // the whole folder: the full look this measure is about. A rescan that
    // did not list it would pass for the wrong reason.
    ListingCount listings(folder);
    int fullLooks = 0, rescanCount = 0;
    auto rescan = [&] {
        listings.Take();
        if (engine::RescanEntry(context) != engine::RescanResult::Completed) {
            Die("the rescan did not run to its end");
        }
        fullLooks += listings.Take() > 0 ? 1 : 0;
        ++rescanCount;
    };
    for (int i = 0; i < 2; ++i) {  // warm the caches
        if (BareListing(folder) != files) Die("bare listing missed files");
        rescan();
    }

    std::vector<double> listing, rescans, ratios, listFolder, list, plan;
    for (int rep = 0; rep < repetitions; ++rep) {
        CheckInterrupted();
        auto timeListing = [&] { listing.push_back(TimeMs([&] { BareListing(folder); })); };
        auto timeRescan = [&] { rescans.push_back(TimeMs(rescan)); };
        if (rep % 2 == 0) {
            timeListing();
            timeRescan();
        } else {
            timeRescan();
            timeListing();
        }
        ratios.push_back(rescans.back() / listing.back());
        // Where a rescan's time goes, each step on its own.
        std::vector<platform::DirEntry> entries;
        listFolder.push_back(TimeMs([&] { platform::ListFolder(folder, entries); }));
        std::vector<store::FoundFile> found;
        list.push_back(TimeMs(
            [&] { store::ListTargetFiles(entry, services.folders, services.clock, found); }));
        engine::RescanPlan p;
        plan.push_back(TimeMs([&] { p = engine::PlanRescan(state.list, found, entry); }));
        if (!p.unchanged || !p.targets.empty() || found.size() != files) {
            Die("the folder does not look unchanged to the rescan");
        }
    }

    struct stat after {};
    ::stat(data.snapshotFile(0).c_str(), &after);
    const bool untouched = before.st_ino == after.st_ino &&
                           before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
                           before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;
    const bool quiet =
        sink.messages.load() == 0 && launcher.started.size() == 0 && mover.moved() == 0;

    std::printf("   %d interleaved pairs; times are medians\n", repetitions);
    std::printf("   bare listing (readdir + fstatat)   %9.2f ms\n", Median(listing));
    std::printf("   RescanEntry, nothing changed       %9.2f ms\n", Median(rescans));
    std::printf("     of which, each timed on its own:\n");
    std::printf("       platform::ListFolder           %9.2f ms\n", Median(listFolder));
    std::printf("       ListTargetFiles (+ describe)   %9.2f ms\n", Median(list));
    std::printf("       PlanRescan                     %9.2f ms\n", Median(plan));
    std::printf(
        "   actions taken: %s; snapshot rewritten: %s; rescans that listed the folder: "
        "%d of %d\n",
        quiet ? "none" : "SOME", untouched ? "no" : "YES", fullLooks, rescanCount);
    const double ratio = PrintPairs("   rescan/listing ", ratios);
    const bool full = fullLooks == rescanCount;
    std::printf("   target: at most %.1fx the listing, every rescan a full look: %.3fx %s\n\n",
                kRescanTarget, ratio,
                Verdict(ratio <= kRescanTarget && untouched && quiet && full));

    std::error_code ec;
    fs::remove_all(root / "rescan", ec);
}

// --- c: idle -------------------------------------------------------------------

long StatusField(const std::string& status, std::string_view key) {
    const std::size_t at = status.find(key);
    if (at == std::string::npos) return 0;
    return std::strtol(status.c_str() + at + key.size(), nullptr, 10);
}

struct ThreadSample {
    long switches = 0;       // voluntary + involuntary context switches
    std::int64_t cpuNs = 0;  // time on a CPU
};

struct ProcessSample {
    std::map<pid_t, ThreadSample> threads;
    long rssKb = 0;
};

ProcessSample SampleSelf() {
    ProcessSample s;
    s.rssKb = StatusField(ReadText("/proc/self/status"), "\nVmRSS:");
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/self/task", ec)) {
        const pid_t tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
        const std::string status = ReadText(task.path() / "status");
        ThreadSample t;
        t.switches = StatusField(status, "\nvoluntary_ctxt_switches:") +
                     StatusField(status, "\nnonvoluntary_ctxt_switches:");
        t.cpuNs = std::strtoll(ReadText(task.path() / "schedstat").c_str(), nullptr, 10);
        s.threads[tid] = t;
    }
    return s;
}

// Switches and CPU time between two samples of the threads that `pick` accepts.
struct Usage {
    long wakeups = 0;
    double cpuMs = 0;
    int threads = 0;
};

template <typename Pick>
Usage Between(const ProcessSample& a, const ProcessSample& b, Pick pick) {
    Usage u;
    for (const auto& [tid, later] : b.threads) {
        if (!pick(tid)) continue;
        const auto it = a.threads.find(tid);
        const ThreadSample earlier = it == a.threads.end() ? ThreadSample{} : it->second;
        u.wakeups += later.switches - earlier.switches;
        u.cpuMs += static_cast<double>(later.cpuNs - earlier.cpuNs) / 1e6;
        ++u.threads;
    }
    return u;
}

void MeasureIdle(const fs::path& root, int seconds) {
    constexpr int kEntries = static_cast<int>(store::kMaxWatchEntries);
    std::printf("c. %d running entries left idle for %d s\n", kEntries, seconds);

    const fs::path base = root / "idle";
    std::vector<store::WatchEntry> table;
    std::vector<fs::path> folders;
    for (int i = 0; i < kEntries; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%03d", i);
        store::WatchEntry e;
        e.title = std::string("idle ") + name;
        e.folder = (base / "w" / name).string();
        e.timing = static_cast<std::int16_t>(i % 2);  // both kinds of change
        e.program = "bench-program";
        MakeFolder(e.folder);
        for (const char* file : {"a.txt", "b.txt", "c.txt"})
            CreateFile(fs::path(e.folder) / file, "x");
        folders.push_back(e.folder);
        table.push_back(e);
    }
    const store::DataFolder data(base / "data");
    WriteSettings(data, table);

    StandIns bench(platform::MakeSystemClock());
    engine::CTavrenDoc doc(data, bench.services());
    if (doc.loadedCount() != kEntries) Die("the engine did not load every entry");
    InotifyLoop loop(folders);
    std::this_thread::sleep_for(1s);  // let every worker reach its wait

    const pid_t self = ::getpid();
    const pid_t loopTid = loop.tid();
    SampleSelf();  // the first reading allocates; take the measured ones after it
    const ProcessSample t0 = SampleSelf();
    for (int i = 0; i < seconds * 10; ++i) {  // this thread's own wake-ups are not counted
        CheckInterrupted();
        std::this_thread::sleep_for(100ms);
    }
    const ProcessSample t1 = SampleSelf();

    const Usage engineUse =
        Between(t0, t1, [&](pid_t tid) { return tid != self && tid != loopTid; });
    const Usage loopUse = Between(t0, t1, [&](pid_t tid) { return tid == loopTid; });
    const long growthKb = t1.rssKb - t0.rssKb;
    const bool acted = bench.launcher.started.size() > 0 || bench.sink.messages.load() > 0;

    std::printf("   %-26s %8s %9s %10s\n", "", "threads", "wake-ups", "CPU ms");
    std::printf("   %-26s %8d %9ld %10.3f\n", "engine", engineUse.threads, engineUse.wakeups,
                engineUse.cpuMs);
    std::printf("   %-26s %8d %9ld %10.3f\n", "plain inotify loop", loopUse.threads,
                loopUse.wakeups, loopUse.cpuMs);
    std::printf("   process RSS %ld kB, growth over the window %+ld kB; actions taken: %s\n",
                t1.rssKb, growthKb, acted ? "SOME" : "none");
    std::printf(
        "   target: no wake-up, no CPU time, no growth: %.2f wake-ups/s, %.3f ms CPU, "
        "%+ld kB %s\n\n",
        static_cast<double>(engineUse.wakeups) / seconds, engineUse.cpuMs, growthKb,
        Verdict(engineUse.wakeups == 0 && engineUse.cpuMs < 1.0 &&
                growthKb <= kIdleGrowthToleranceKb && !acted));
}

// --- d: burst ------------------------------------------------------------------

// CPU time of the whole process but the calling thread: the engine's
// threads', those that have ended included.
double OtherThreadsCpuMs() {
    timespec process{}, self{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &process);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &self);
    return static_cast<double>(process.tv_sec - self.tv_sec) * 1e3 +
           static_cast<double>(process.tv_nsec - self.tv_nsec) / 1e6;
}

struct Burst {
    double lastS = 0;  // from the first creation to the last move
    double cpuMs = 0;  // the engine's threads, from its start to its end
    bool exact = false;
};

// One burst into a fresh entry under `base`; `checked`: whether the engine
// checks each file for writers as it does by default, or takes every file
// as complete; `logged`: whether it writes its activity log, as it does by
// default, or none.
Burst RunBurst(const fs::path& base, const std::vector<std::string>& names, bool checked,
               bool logged = true, const char* label = nullptr) {
    const fs::path source = base / "in";
    const fs::path destination = base / "out";
    MakeFolder(source);
    MakeFolder(destination);
    store::WatchEntry e;
    e.title = "burst";
    e.folder = source.string();
    e.timing = 1;
    e.messageMode = 2;  // one notice per look that acted: counts the looks
    e.afterMode = 2;    // move
    e.moveTo = destination.string();
    const store::DataFolder data(base / "data");
    WriteSettings(data, {e});

    StandIns bench(platform::MakeSystemClock());  // the real 3-second debounce
    engine::Services services = bench.services();
    if (!checked)
        services.probeWriters = [](const fs::path&) { return platform::WriterState::None; };
    engine::ActivityLog noLog({}, *bench.clock, bench.sink);
    if (!logged) services.log = &noLog;
    double createdS = 0;
    const double cpuBefore = OtherThreadsCpuMs();
    const std::int64_t start = NowNs();
    {
        engine::CTavrenDoc doc(data, services);
        if (!doc.watchRunning()) Die("the engine did not start watching");
        for (const std::string& name : names) CreateFile(source / name, "0123456789abcdef");
        createdS = Seconds(NowNs() - start);
        const std::int64_t deadline = NowNs() + 120'000'000'000;
        while (bench.mover.moved() < names.size() && NowNs() < deadline) {
            CheckInterrupted();
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(500ms);  // a late or second move would show now
    }
    Burst b;
    b.cpuMs = OtherThreadsCpuMs() - cpuBefore;
    const std::vector<std::int64_t> moveTimes = bench.mover.moveTimes();
    if (!moveTimes.empty()) b.lastS = Seconds(moveTimes.back() - start);

    const std::vector<std::string> left = Names(source);
    const std::vector<std::string> there = Names(destination);
    const std::set<std::string> expected(names.begin(), names.end());
    const std::set<std::string> got(there.begin(), there.end());
    std::size_t missing = 0, extra = 0, twice = 0;
    for (const std::string& n : expected) missing += got.count(n) == 0 ? 1 : 0;
    for (const std::string& n : got) extra += expected.count(n) == 0 ? 1 : 0;
    const std::map<std::string, int> calls = bench.mover.calls();
    for (const auto& [name, n] : calls) twice += n > 1 ? 1 : 0;
    const std::size_t failed = bench.mover.failed();
    b.exact = left.empty() && missing == 0 && extra == 0 && there.size() == names.size() &&
              twice == 0 && failed == 0 && calls.size() == names.size();

    // Moves come in runs, one per look; a pause of 0.3 s ends a run.
    std::string runs;
    double from = 0, to = -1;
    std::size_t inRun = 0;
    for (std::size_t i = 0; i <= moveTimes.size(); ++i) {
        const double t = i < moveTimes.size() ? Seconds(moveTimes[i] - start) : 1e9;
        if (inRun > 0 && t - to > 0.3) {
            char text[64];
            std::snprintf(text, sizeof text, " %.2f-%.2f s: %zu,", from, to, inRun);
            runs += text;
            inRun = 0;
        }
        if (inRun++ == 0) from = t;
        to = t;
    }
    std::printf(
        "   %-11s created in %.2f s, last move at %.2f s, engine CPU %.0f ms; moves in runs%s\n"
        "   %-11s moved %zu, left behind %zu, missing %zu, unexpected %zu, moved twice %zu, "
        "failed moves %zu; looks that acted: %d; found still open: %d\n",
        label     ? label
        : checked ? "checked:"
                  : "unchecked:",
        createdS, b.lastS, b.cpuMs, runs.c_str(), "", there.size(), left.size(), missing, extra,
        twice, failed, bench.sink.messages.load(), bench.foundOpen.load());
    // The files stay until the last burst: ext4 makes new files slowly just
    // after many were deleted, and the bursts would differ by that.
    return b;
}

void MeasureBurst(const fs::path& root, bool quick) {
    const std::size_t files = quick ? 2000 : 10000;
    const int pairs = quick ? 1 : 3;
    std::printf(
        "d. A burst of %zu new files in the folder of an entry that moves them away;\n"
        "   %d pair%s: the engine checking each file for writers (a read lease), and\n"
        "   taking every file as complete, the first side alternating\n",
        files, pairs, pairs == 1 ? "" : "s");

    std::vector<std::string> names;
    for (std::size_t i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "burst-%05zu.dat", i);
        names.emplace_back(name);
    }

    std::vector<double> cpuRatios, wallRatios;
    bool exact = true;
    for (int i = 0; i < pairs; ++i) {
        Burst checked, unchecked;
        auto run = [&](bool check) {
            const fs::path base = root / "burst" / (std::to_string(i) + (check ? "c" : "u"));
            (check ? checked : unchecked) = RunBurst(base, names, check);
        };
        run(i % 2 == 0);
        run(i % 2 != 0);
        cpuRatios.push_back(checked.cpuMs / unchecked.cpuMs);
        wallRatios.push_back(checked.lastS / unchecked.lastS);
        exact = exact && checked.exact && unchecked.exact;
    }

    // The reference: the same files created, then renamed, by one thread.
    const fs::path refIn = root / "burst" / "ref-in";
    const fs::path refOut = root / "burst" / "ref-out";
    MakeFolder(refIn);
    MakeFolder(refOut);
    const double refMs = TimeMs([&] {
        for (const std::string& name : names) CreateFile(refIn / name, "0123456789abcdef");
        for (const std::string& name : names) {
            if (::rename((refIn / name).c_str(), (refOut / name).c_str()) != 0)
                Die("rename failed");
        }
    });
    // The check itself, on every one of the same files, complete and closed.
    const double probeMs = TimeMs([&] {
        for (const std::string& name : names) {
            if (platform::ProbeWriters(refOut / name) != platform::WriterState::None)
                Die("a closed file looks written to");
        }
    });
    std::printf(
        "   a bare create + rename loop takes %.0f ms (%.0f files/s); the check alone on\n"
        "   each of its files %.0f ms (%.1f us a file)\n",
        refMs, static_cast<double>(files) / (refMs / 1000), probeMs,
        1e3 * probeMs / static_cast<double>(files));
    // The target is the time the burst takes to be handled, what a user
    // waits for; the CPU the engine spends meanwhile is shown beside it.
    const double ratio =
        PrintPairs("   first creation to last move, checked/unchecked ", wallRatios);
    PrintPairs("   engine CPU time, checked/unchecked (for information) ", cpuRatios);
    std::printf("   target: every file moved exactly once: %s\n", Verdict(exact));
    std::printf("   target: the checks add under 10%% to the burst's time: %.3fx %s\n\n", ratio,
                Verdict(ratio < 1.1));

    std::error_code ec;
    fs::remove_all(root / "burst", ec);
}

// --- e: the activity log in the burst -----------------------------------------

void MeasureLogCost(const fs::path& root, bool quick) {
    const std::size_t files = quick ? 2000 : 10000;
    const int pairs = quick ? 1 : 3;
    std::printf(
        "e. The burst of d, writing the activity log (a line for each file found,\n"
        "   and one for each move) and writing none; %d pair%s, the first side alternating\n",
        pairs, pairs == 1 ? "" : "s");
    std::vector<std::string> names;
    for (std::size_t i = 0; i < files; ++i) names.push_back("log-" + std::to_string(i) + ".dat");
    std::vector<double> cpuRatios, wallRatios;
    bool exact = true;
    for (int i = 0; i < pairs; ++i) {
        Burst logged, bare;
        auto run = [&](bool log) {
            const fs::path base = root / "logcost" / (std::to_string(i) + (log ? "l" : "n"));
            (log ? logged : bare) = RunBurst(base, names, true, log, log ? "logged:" : "no log:");
        };
        run(i % 2 == 0);
        run(i % 2 != 0);
        cpuRatios.push_back(logged.cpuMs / bare.cpuMs);
        wallRatios.push_back(logged.lastS / bare.lastS);
        exact = exact && logged.exact && bare.exact;
    }
    const double ratio = PrintPairs("   first creation to last move, logged/not ", wallRatios);
    PrintPairs("   engine CPU time, logged/not (for information) ", cpuRatios);
    std::printf("   target: every file moved exactly once: %s\n", Verdict(exact));
    std::printf("   target: the log adds at most 5%% to the burst's time: %.3fx %s\n\n", ratio,
                Verdict(ratio <= 1.05));
    std::error_code ec;
    fs::remove_all(root / "logcost", ec);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string only = "abcde";
    int idleSeconds = 10;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg.starts_with("--only=")) {
            only = std::string(arg.substr(7));
        } else if (arg.starts_with("--idle-seconds=")) {
            idleSeconds = std::atoi(std::string(arg.substr(15)).c_str());
            usable = usable && idleSeconds >= 1;
        } else {
            usable = false;
        }
    }
    if (!usable) {
        std::fprintf(stderr, "usage: %s [--quick] [--only=abcde] [--idle-seconds=N]\n", argv[0]);
        return 2;
    }
    auto wanted = [&](char measure) { return only.find(measure) != std::string::npos; };
    CatchInterrupts();

    try {
        ScratchFolder scratch("tavren-bench-engine");
        std::printf("Watch engine against the least a folder watcher has to do%s\n\n",
                    quick ? " (quick run: smaller sizes)" : "");
        if (wanted('a')) MeasureLatency(scratch.path(), quick);
        if (wanted('b')) MeasureRescan(scratch.path(), quick);
        if (wanted('c')) MeasureIdle(scratch.path(), idleSeconds);
        if (wanted('d')) MeasureBurst(scratch.path(), quick);
        if (wanted('e')) MeasureLogCost(scratch.path(), quick);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_engine: %s\n", e.what());
        return 1;
    }
    return 0;
}
