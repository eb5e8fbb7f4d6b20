// How the watch engine fares with folders it has to poll: those on a file
// system whose changes from elsewhere the change notifications do not see
// (a network share, a FUSE mount), and those whose watch could not be set
// up. The engine runs in this process with stand-ins for the actions'
// outside effects, as in bench_engine:
//
//   a polled   from a file's arrival in a polled folder to the engine acting
//              on it. The folder is a bindfs mount, the files written into
//              its backing folder, so that no notification arrives; where
//              bindfs cannot mount, a change watcher whose watches fail
//              makes the engine poll a plain folder. Target: every file
//              within the poll interval (2 s for a small folder) + 1 s.
//   b cost     20 polled entries of 1,000 files each, none changing: the
//              CPU time of the process over a window, as CPU per hour and
//              as a share of one core, with the listings counted (each
//              opens the folder, which an inotify watch of the benchmark
//              sees) and the interval they came at. The watches fail, so
//              what is measured is the engine's own cost, not a FUSE
//              daemon's. Target: under 1% of one core.
//
// That entries waiting on notifications cost nothing while idle is
// bench_engine's measure c (200 entries; --idle-seconds=60 for a minute).
//
// Usage: bench_folders [--quick] [--only=ab] [--samples=N] [--seconds=N]
//   --quick     fewer samples and a shorter window, for a quick look.
//   --only=...  run only the measures named by their letters.
//   --samples   files in measure a; 20 by default.
//   --seconds   the window of measure b; 60 by default.
//
// Prints PASS or FAIL per target; exits 0 unless the benchmark itself
// could not run.

#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common.h"
#include "engine/folder_watch.h"
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
#include "store/snapshot.h"
#include "store/watch_entry.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace store = tavren::store;
namespace engine = tavren::engine;
namespace platform = tavren::platform;
using namespace tavren::bench;
using namespace std::chrono_literals;

constexpr int kPolledEntries = 20;
constexpr std::size_t kFilesPerEntry = 1000;
constexpr double kCoreShareTarget = 1.0;  // per cent of one core

// --- stand-ins for the actions' outside effects -----------------------------

// The moment the engine acts: it asks to start the entry's program.
class RecordingLauncher final : public platform::ProcessLauncher {
public:
    bool RunAndWait(std::string_view, const platform::WakeEvent&,
                    const platform::LaunchContext&) override {
        return Record();
    }
    bool StartProgram(std::string_view, const platform::LaunchContext&) override {
        return Record();
    }
    OpenResult OpenDocument(const fs::path&) override {
        Record();
        return OpenResult::Opened;
    }
    // The `count`-th start (1-based) once there, or nullopt at the deadline.
    std::optional<std::int64_t> Wait(std::size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, limit, [&] { return times_.size() >= count; }))
            return std::nullopt;
        return times_[count - 1];
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return times_.size();
    }

private:
    bool Record() {
        {
            std::lock_guard lock(mutex_);
            times_.push_back(NowNs());
        }
        changed_.notify_all();
        return true;
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::int64_t> times_;
};

// The system's change notifications, except that no folder can be watched:
// as when the system's watches have run out, the engine polls each entry.
// Waiting for a missing folder still goes through the real watcher.
class WatchesRunOut final : public platform::ChangeWatcher {
public:
    std::unique_ptr<platform::ChangeSubscription> Watch(const fs::path&, platform::ChangeKind,
                                                        std::error_code& ec) override {
        ec = std::make_error_code(std::errc::no_space_on_device);
        return nullptr;
    }
    std::unique_ptr<platform::ChangeSubscription> WatchForFolder(const fs::path& folder,
                                                                 std::error_code& ec) override {
        return real_->WatchForFolder(folder, ec);
    }

private:
    std::unique_ptr<platform::ChangeWatcher> real_ = platform::MakeChangeWatcher();
};

// The engine with its stand-ins, on the real clock.
struct StandIns {
    explicit StandIns(std::unique_ptr<platform::ChangeWatcher> c) : changes(std::move(c)) {}
    std::unique_ptr<platform::Clock> clock = platform::MakeSystemClock();
    std::unique_ptr<platform::ChangeWatcher> changes;
    std::unique_ptr<platform::FileMover> mover = platform::MakeFileMover();
    RecordingLauncher launcher;
    SilentSound sound;
    CountingSink sink;
    // Files the check for writers could not judge (no lease there): they
    // wait for a second of quiet instead.
    std::atomic<int> unjudged{0};
    engine::Services services() {
        engine::Services s{*clock, *changes, launcher, *mover, sound, sink};
        s.probeWriters = [this](const fs::path& file) {
            const platform::WriterState state = platform::ProbeWriters(file);
            if (state == platform::WriterState::Unknown) ++unjudged;
            return state;
        };
        return s;
    }
};

// --- bindfs ------------------------------------------------------------------

// Runs a program found on PATH and waits for it; its exit status, or -1
// when it could not be started.
int Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `backing` seen through a bindfs mount at `mount`, unmounted again when
// the object goes. Files written into `backing` reach the mount without a
// notification, as files another machine writes to a share do.
class BindMount {
public:
    BindMount(const fs::path& backing, const fs::path& mount) : mount_(mount) {
        const int status = Run({"bindfs", backing.string(), mount.string()});
        mounted_ = status == 0 && platform::UnnotifiedFileSystem(mount) == "fuse";
        if (status == 0 && !mounted_) Unmount();
        why_ = status < 0 ? "bindfs was not found"
                          : "bindfs ended with status " + std::to_string(status);
    }
    ~BindMount() {
        if (mounted_) Unmount();
    }
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

private:
    void Unmount() {
        if (Run({"fusermount3", "-u", mount_.string()}) != 0 &&
            Run({"umount", mount_.string()}) != 0) {
            Run({"umount", "-l", mount_.string()});
        }
    }
    fs::path mount_;
    bool mounted_ = false;
    std::string why_;
};

std::string DescribeStatus(const engine::WatchStatus& s) {
    switch (s.mode) {
        case engine::WatchMode::Polled:
            return "polled (" + s.reason + ")";
        case engine::WatchMode::Notified:
            return "notified";
        case engine::WatchMode::Waiting:
            return "waiting (" + s.reason + ")";
        case engine::WatchMode::None:
            break;
    }
    return "not watched (" + s.reason + ")";
}

// --- a: arrival to action in a polled folder ---------------------------------

void MeasurePolledLatency(const fs::path& root, int samples) {
    const auto interval = engine::kMinPollInterval;
    const double targetS = std::chrono::duration<double>(interval + 1s).count();
    std::printf("a. Polled entry: a file's arrival to the engine acting on it, %d files\n",
                samples);

    const fs::path base = root / "polled";
    const fs::path backing = base / "backing";
    const fs::path share = base / "share";
    MakeFolder(backing);
    MakeFolder(share);
    // Declared before the engine, so that the mount outlives it.
    const BindMount mount(backing, share);
    std::unique_ptr<platform::ChangeWatcher> changes;
    fs::path watched, written;
    if (mount.mounted()) {
        std::printf("   way: a bindfs mount, files written into its backing folder\n");
        changes = platform::MakeChangeWatcher();
        watched = share;
        written = backing;
    } else {
        std::printf(
            "   way: %s; a change watcher whose watches fail makes the engine poll\n"
            "   a plain folder\n",
            mount.why().c_str());
        changes = std::make_unique<WatchesRunOut>();
        watched = written = backing;
    }

    store::WatchEntry e;
    e.title = "polled";
    e.folder = watched.string();
    e.timing = 1;
    e.program = "bench-program";
    const store::DataFolder data(base / "data");
    WriteSettings(data, {e});

    StandIns bench(std::move(changes));
    engine::CTavrenDoc doc(data, bench.services());
    const std::vector<engine::WatchStatus> statuses = doc.statuses();
    if (statuses.size() != 1) Die("the engine did not load the entry");
    std::printf("   the entry is %s\n", DescribeStatus(statuses[0]).c_str());
    if (statuses[0].mode != engine::WatchMode::Polled) Die("the entry is not polled");

    // Each file comes at another point of the poll's cycle: after the
    // previous action, a wait spread evenly over one interval.
    std::vector<double> latencies;
    int missed = 0;
    for (int i = 0; i < samples; ++i) {
        CheckInterrupted();
        const double phase = std::fmod(0.618034 * (i + 1), 1.0);
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(
            phase * static_cast<double>(interval.count())));
        const std::int64_t t0 = NowNs();
        CreateFile(written / ("arrival-" + std::to_string(i) + ".txt"), "x");
        const auto acted = bench.launcher.Wait(latencies.size() + missed + 1, interval * 3 + 5s);
        if (acted) {
            latencies.push_back(static_cast<double>(*acted - t0) / 1e9);
        } else {
            ++missed;
        }
    }
    std::this_thread::sleep_for(interval + 500ms);  // an action twice would show by now
    const std::size_t actions = bench.launcher.count();

    std::printf("   %-12s %8s %8s %8s %8s %8s %8s\n", "(seconds)", "median", "p90", "min", "max",
                "samples", "missed");
    std::printf("   %-12s %8.2f %8.2f %8.2f %8.2f %8zu %8d\n", "polled", Median(latencies),
                Percentile(latencies, 90),
                latencies.empty() ? 0.0 : *std::min_element(latencies.begin(), latencies.end()),
                latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()),
                latencies.size(), missed);
    std::printf("   actions %zu for %d files; files the check for writers could not judge: %d\n",
                actions, samples, bench.unjudged.load());
    const double worst =
        latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end());
    std::printf(
        "   target: each file acted on once, within %.0f s (interval %.0f s + 1 s): "
        "max %.2f s %s\n\n",
        targetS, std::chrono::duration<double>(interval).count(), worst,
        Verdict(missed == 0 && actions == static_cast<std::size_t>(samples) && worst < targetS));
}

// --- b: the cost of polling ----------------------------------------------------

// Counts the times each folder is opened (every listing opens it once),
// through an inotify watch of this benchmark, with the time of each.
class ListingCounter {
public:
    explicit ListingCounter(const std::vector<fs::path>& folders) : opens_(folders.size()) {
        fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd_ < 0) Die("cannot set up inotify");
        for (std::size_t i = 0; i < folders.size(); ++i) {
            const int wd = ::inotify_add_watch(fd_, folders[i].c_str(), IN_OPEN | IN_ONLYDIR);
            if (wd < 0) {
                ::close(fd_);
                Die("cannot watch " + folders[i].string());
            }
            index_[wd] = i;
        }
    }
    ~ListingCounter() { ::close(fd_); }
    ListingCounter(const ListingCounter&) = delete;
    ListingCounter& operator=(const ListingCounter&) = delete;

    // Notes the listings since the last call, at the present time.
    void Drain() {
        const std::int64_t now = NowNs();
        DrainInotify(fd_, [&](const inotify_event& ev) {
            const auto it = index_.find(ev.wd);
            if ((ev.mask & IN_OPEN) && ev.len == 0 && it != index_.end())
                opens_[it->second].push_back(now);
            return false;
        });
    }
    // Listing times of each folder.
    const std::vector<std::vector<std::int64_t>>& opens() const { return opens_; }

private:
    int fd_ = -1;
    std::map<int, std::size_t> index_;
    std::vector<std::vector<std::int64_t>> opens_;
};

// CPU time of the whole process and of the calling thread, in ms.
double UsageMs(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}
double ProcessCpuMs() {
    return UsageMs(RUSAGE_SELF);
}
double ThreadCpuMs() {
    return UsageMs(RUSAGE_THREAD);
}
// The CPU time of this thread that `fn` takes, in microseconds, on a finer
// clock than getrusage's.
template <typename Fn>
double CpuUs(Fn&& fn) {
    timespec a{}, b{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    fn();
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return static_cast<double>(b.tv_sec - a.tv_sec) * 1e6 +
           static_cast<double>(b.tv_nsec - a.tv_nsec) / 1e3;
}

// One polled look at a 1,000-file folder and its parts, each timed alone
// on this thread: median wall and CPU time in microseconds.
struct LookCost {
    double listFolderUs = 0, listFolderCpuUs = 0;
    double listUs = 0, listCpuUs = 0;
    double planUs = 0, planCpuUs = 0;
    double lookUs = 0, lookCpuUs = 0;
};

LookCost MeasureLook(const fs::path& folder, const fs::path& dataFolder) {
    const store::DataFolder data(dataFolder);
    if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());
    store::WatchEntry entry;
    entry.folder = folder.string();
    entry.timing = 1;
    StandIns bench(std::make_unique<WatchesRunOut>());
    const engine::Services services = bench.services();
    engine::WatchState state;
    state.slot = 0;
    platform::WakeEvent cancel;
    engine::RescanContext context{entry, data, services, state, cancel};
    engine::TakeBaseline(context);

    std::array<std::vector<double>, 8> v;
    for (int rep = 0; rep < 21; ++rep) {
        std::vector<platform::DirEntry> entries;
        std::vector<store::FoundFile> found;
        engine::RescanPlan plan;
        auto timed = [&](std::vector<double>& wall, std::vector<double>& cpu, auto&& fn) {
            const std::int64_t t0 = NowNs();
            cpu.push_back(CpuUs(fn));
            wall.push_back(static_cast<double>(NowNs() - t0) / 1e3);
        };
        timed(v[0], v[1], [&] { platform::ListFolder(folder, entries); });
        timed(v[2], v[3],
              [&] { store::ListTargetFiles(entry, services.folders, services.clock, found); });
        timed(v[4], v[5], [&] {
            for (store::SnapshotNode& node : state.list) node.seen = 0;
            plan = engine::PlanRescan(state.list, found, entry);
        });
        timed(v[6], v[7], [&] {
            if (engine::RescanEntry(context, engine::Trigger::CatchUp) !=
                engine::RescanResult::Completed)
                Die("the look did not run to its end");
        });
        if (!plan.unchanged || found.size() != kFilesPerEntry)
            Die("the folder does not look unchanged");
    }
    if (bench.launcher.count() != 0) Die("the look acted on an unchanged folder");
    return {Median(v[0]), Median(v[1]), Median(v[2]), Median(v[3]),
            Median(v[4]), Median(v[5]), Median(v[6]), Median(v[7])};
}

void MeasurePollingCost(const fs::path& root, int seconds, bool quick) {
    std::printf("b. %d polled entries of %zu files each, none changing, for %d s\n", kPolledEntries,
                kFilesPerEntry, seconds);

    const fs::path base = root / "cost";
    std::vector<store::WatchEntry> table;
    std::vector<fs::path> folders;
    for (int i = 0; i < kPolledEntries; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%02d", i);
        const fs::path folder = base / "w" / name;
        CreateDocumentFolder(folder, kFilesPerEntry);
        store::WatchEntry e;
        e.title = std::string("polled ") + name;
        e.folder = folder.string();
        e.timing = static_cast<std::int16_t>(i % 2);  // both kinds of change
        e.program = "bench-program";
        folders.push_back(folder);
        table.push_back(e);
    }
    const store::DataFolder data(base / "data");
    WriteSettings(data, table);

    // What one look costs, timed before the engine runs.
    const LookCost look = MeasureLook(folders[0], base / "look-data");

    ListingCounter counter(folders);
    StandIns bench(std::make_unique<WatchesRunOut>());
    engine::CTavrenDoc doc(data, bench.services());
    int polled = 0;
    for (const engine::WatchStatus& s : doc.statuses())
        polled += s.mode == engine::WatchMode::Polled ? 1 : 0;
    if (polled != kPolledEntries) Die("not every entry is polled");

    // The window begins once every entry was listed three times: at its
    // start, at its first poll 2 s later (all entries at once), and after
    // the first interval, which that crowded first poll can stretch; or,
    // to keep the run short, 45 s after the start (15 s in a quick run).
    const std::int64_t warmDeadline = NowNs() + (quick ? 15 : 45) * 1'000'000'000LL;
    int stillFirst = 0;
    for (bool settled = false; !settled;) {
        CheckInterrupted();
        std::this_thread::sleep_for(100ms);
        counter.Drain();
        settled = true;
        for (const auto& times : counter.opens()) settled = settled && times.size() >= 3;
        if (!settled && NowNs() > warmDeadline) {
            for (const auto& times : counter.opens()) {
                if (times.size() < 2) Die("an entry was not polled in the warm-up");
                stillFirst += times.size() < 3 ? 1 : 0;
            }
            break;
        }
    }
    std::vector<double> firstIntervals;
    for (const auto& times : counter.opens()) {
        if (times.size() >= 3)
            firstIntervals.push_back(static_cast<double>(times[2] - times[1]) / 1e9);
    }
    std::vector<std::size_t> before;
    for (const auto& times : counter.opens()) before.push_back(times.size());

    // The process's CPU less this thread's: the engine's threads, those
    // that ended included. This thread wakes every 100 ms to read the
    // counter and is not counted.
    const std::int64_t t0 = NowNs();
    const double cpu0 = ProcessCpuMs() - ThreadCpuMs();
    while (NowNs() - t0 < static_cast<std::int64_t>(seconds) * 1'000'000'000) {
        CheckInterrupted();
        std::this_thread::sleep_for(100ms);
        counter.Drain();
    }
    const double cpuMs = ProcessCpuMs() - ThreadCpuMs() - cpu0;
    const double windowS = static_cast<double>(NowNs() - t0) / 1e9;
    counter.Drain();

    // Listings in the window, and the gaps between one folder's listings
    // that end in it (the first after the last listing before it).
    std::size_t listings = 0;
    std::vector<double> gaps;
    for (std::size_t i = 0; i < counter.opens().size(); ++i) {
        const auto& times = counter.opens()[i];
        listings += times.size() - before[i];
        for (std::size_t k = before[i]; k < times.size(); ++k)
            gaps.push_back(static_cast<double>(times[k] - times[k - 1]) / 1e9);
    }
    const bool quiet = bench.launcher.count() == 0 && bench.sink.messages.load() == 0;
    const double share = 100.0 * cpuMs / 1e3 / windowS;
    const auto rule = engine::PollInterval(
        std::chrono::nanoseconds(static_cast<std::int64_t>(look.lookCpuUs * 1e3)),
        std::chrono::nanoseconds(static_cast<std::int64_t>(look.listUs * 1e3)), kPolledEntries);

    std::printf("   one look at a %zu-file folder, each part timed alone (median of 21):\n",
                kFilesPerEntry);
    std::printf("   %-36s %10s %10s\n", "(microseconds)", "wall", "CPU");
    std::printf("   %-36s %10.0f %10.0f\n", "platform::ListFolder", look.listFolderUs,
                look.listFolderCpuUs);
    std::printf("   %-36s %10.0f %10.0f\n", "ListTargetFiles (+ describe)", look.listUs,
                look.listCpuUs);
    std::printf("   %-36s %10.0f %10.0f\n", "PlanRescan", look.planUs, look.planCpuUs);
    std::printf("   %-36s %10.0f %10.0f\n", "RescanEntry, a poll in all", look.lookUs,
                look.lookCpuUs);
    std::printf("   the interval rule for that listing time and %d entries: %.2f s\n",
                kPolledEntries, std::chrono::duration<double>(rule).count());
    std::printf(
        "   in the window of %.1f s: %zu listings, one per entry every %.1f s on average;\n"
        "   gaps between an entry's listings: median %.1f s (%.1f-%.1f s, %zu gaps)\n"
        "   engine CPU %.0f ms, %.0f us a listing\n",
        windowS, listings,
        listings == 0 ? 0.0 : windowS * kPolledEntries / static_cast<double>(listings),
        Median(gaps), gaps.empty() ? 0.0 : *std::min_element(gaps.begin(), gaps.end()),
        gaps.empty() ? 0.0 : *std::max_element(gaps.begin(), gaps.end()), gaps.size(), cpuMs,
        listings == 0 ? 0.0 : 1e3 * cpuMs / static_cast<double>(listings));
    std::printf(
        "   before the window, the first interval after the first poll: median %.1f s, "
        "max %.1f s;\n   entries still in their first interval when the window began: %d\n",
        Median(firstIntervals),
        firstIntervals.empty() ? 0.0
                               : *std::max_element(firstIntervals.begin(), firstIntervals.end()),
        stillFirst);
    std::printf("   actions taken: %s; problems reported: %d (the watch limit, once)\n",
                quiet ? "none" : "SOME", bench.sink.problems.load());
    std::printf("   CPU per hour: %.1f s\n", cpuMs / 1e3 / windowS * 3600.0);
    std::printf("   target: under %.0f%% of one core: %.3f%% %s\n\n", kCoreShareTarget, share,
                Verdict(share < kCoreShareTarget && quiet && listings > 0));
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string only = "ab";
    int samples = 0, seconds = 0;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg.starts_with("--only=")) {
            only = std::string(arg.substr(7));
        } else if (arg.starts_with("--samples=")) {
            samples = std::atoi(std::string(arg.substr(10)).c_str());
            usable = usable && samples >= 1;
        } else if (arg.starts_with("--seconds=")) {
            seconds = std::atoi(std::string(arg.substr(10)).c_str());
            usable = usable && seconds >= 1;
        } else {
            usable = false;
        }
    }
    if (!usable) {
        std::fprintf(stderr, "usage: %s [--quick] [--only=ab] [--samples=N] [--seconds=N]\n",
                     argv[0]);
        return 2;
    }
    if (samples == 0) samples = quick ? 6 : 20;
    if (seconds == 0) seconds = quick ? 30 : 60;
    auto wanted = [&](char measure) { return only.find(measure) != std::string::npos; };
    CatchInterrupts();

    try {
        ScratchFolder scratch("tavren-bench-folders");
        std::printf("Polled folders: how soon they are acted on and what polling costs%s\n\n",
                    quick ? " (quick run)" : "");
        if (wanted('a')) MeasurePolledLatency(scratch.path(), samples);
        if (wanted('b')) MeasurePollingCost(scratch.path(), seconds, quick);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_folders: %s\n", e.what());
        return 1;
    }
    return 0;
}
