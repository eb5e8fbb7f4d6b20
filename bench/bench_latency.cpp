// How quickly the real program starts an entry's program for a new file,
// next to the shell one-liner that does the same job:
//
//   tavren3  `tavren3 --headless --data-dir <scratch>` with running entries
//            that react to name changes, show no message, play no sound and
//            start a program, waiting for it to end.
//   shell    `inotifywait -m -q -e create,moved_to <folder>` piped into a
//            bash `while read` loop that starts the same program for each
//            event, also waiting for it.
//
// The program both start is this benchmark itself, run again with
// --record=FILE: the first thing it does is append the monotonic clock to
// FILE. A sample is the time from creating a file (taken just before the
// creation) to that reading. The two sides take turns within each pair of
// samples, the first side alternating, so that a busy machine slows both.
//
// tavren3 ignores a notification that comes less than 3 s after the entry's
// previous one and looks 3 s later instead. The measures:
//
//   a rotating   ten entries, each on its own folder, take turns, and each
//                gets a new file 3.5 s after its previous one: the run
//                stays short and no sample meets the debounce. Target:
//                median at most 1.2x the shell loop's.
//   b one entry  every file into one entry, 3.5 s apart, with two busy
//                processes spinning beside it: a look of its own must not
//                hold the next file back, nor must sharing the processors.
//                Target: median at most 1.0x the shell loop's.
//   c 1 s apart  files into one entry a second apart: the debounce gathers
//                them, but every file must be acted on within 3.5 s of its
//                creation.
//   d slow write a file written for 5 s (a chunk every 0.25 s, the writer
//                keeping it open), then closed 5 to 6 s after its
//                creation: its program must not start before the close,
//                and the median from the close to the start must be
//                under 1.5 s.
//   e large      one entry on a folder of 100,000 files and one on an empty
//                folder, taking turns, each a new file 3.5 s after its
//                previous: a look must cost what changed, not what the
//                folder holds. Targets: median at most 1.2x the empty
//                folder's; under 5 ms of the program's processor time per
//                file in the large folder; resident memory at most twice
//                the large folder's snapshot records.
//
// Usage: bench_latency [--samples=N] [--only=abcde] [--busy=N] [--tavren3=PATH]
//   --samples  pairs of samples in a, 100 by default; b takes half of that,
//              c and e a fifth, d a twentieth (at least 2 each).
//   --busy     processes spinning on the processors during b, 2 by default.
//   --only     run only the measures named by their letters.
//   --tavren3  the program to measure; by default the tavren3 in the build
//              folder above this benchmark's own folder.
//
// Prints PASS or FAIL per target; exits 0 unless the benchmark itself could
// not run.

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/watch_entry.h"

namespace {

namespace fs = std::filesystem;
namespace store = tavren::store;
using namespace tavren::bench;

constexpr double kTarget = 1.2;
constexpr double kBusyTarget = 1.0;
constexpr int kDefaultSamples = 100;
constexpr int kDefaultBusy = 2;
// Measure e: the large folder, and what a look at one new file may cost.
constexpr std::size_t kLargeFiles = 100000;
constexpr double kLargeTarget = 1.2;
constexpr double kCpuPerFileTargetMs = 5.0;
constexpr double kMemoryTarget = 2.0;  // times the snapshot's records
// Entries taking turns in measure a; with the spacing below, one pair of
// samples every 0.35 s at most.
constexpr int kEntries = 10;
// From an entry's previous file to its next: more than the 3-second
// debounce, which counts whole seconds of the clock.
constexpr std::int64_t kSpacingNs = 3'500'000'000;
// Measure c: files this far apart, each acted on within the limit.
constexpr std::int64_t kGatherSpacingNs = 1'000'000'000;
constexpr double kGatherLimitS = 3.5;
// Measure d: the writer's pace, and the target from its close to the start.
constexpr std::int64_t kSlowWriteNs = 5'000'000'000;
constexpr std::int64_t kChunkEveryNs = 250'000'000;
constexpr std::int64_t kCloseStepNs = 230'000'000;
constexpr double kAfterCloseTargetS = 1.5;
// A short pause between the two sides of a pair, so that the helper of one
// has exited before the other side's file appears.
constexpr std::int64_t kQuietNs = 20'000'000;
constexpr std::int64_t kWaitLimitNs = 10'000'000'000;

// The program both sides start: appends the moment it began to `file`.
int RecordStart(const char* file) {
    const std::int64_t now = NowNs();
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%" PRId64 "\n", now);
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return 1;
    const bool written = ::write(fd, line, static_cast<std::size_t>(n)) == n;
    ::close(fd);
    return written ? 0 : 1;
}

// Sleeps until `deadline` on the monotonic clock, in short steps so that
// Ctrl-C is noticed.
void SleepUntil(std::int64_t deadline) {
    for (;;) {
        CheckInterrupted();
        const std::int64_t left = deadline - NowNs();
        if (left <= 0) return;
        const std::int64_t step = std::min<std::int64_t>(left, 50'000'000);
        const timespec ts{0, static_cast<long>(step)};
        ::nanosleep(&ts, nullptr);
    }
}

// Events of one folder, by name; waiting on them replaces polling the disk.
class FolderEvents {
public:
    FolderEvents(const fs::path& folder, std::uint32_t mask) {
        fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), mask) < 0) {
            Die("cannot watch " + folder.string() + ": " + std::strerror(errno));
        }
    }
    ~FolderEvents() { ::close(fd_); }
    FolderEvents(const FolderEvents&) = delete;
    FolderEvents& operator=(const FolderEvents&) = delete;

    // Names of the events that arrive within `ms` (at most 100 ms, so that
    // Ctrl-C is noticed); empty when none did.
    std::vector<std::string> Wait(int ms) {
        CheckInterrupted();
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, std::clamp(ms, 0, 100));
        std::vector<std::string> names;
        DrainInotify(fd_, [&](const inotify_event& ev) {
            names.emplace_back(ev.len > 0 ? ev.name : "");
            return false;
        });
        return names;
    }

    // Waits for an event on `name` until the monotonic `deadline`.
    bool WaitFor(const std::string& name, std::int64_t deadline) {
        for (;;) {
            for (const std::string& seen : Wait(RemainingMs(deadline))) {
                if (seen == name) return true;
            }
            if (NowNs() >= deadline) return false;
        }
    }

    void Drain() { Wait(0); }

    static int RemainingMs(std::int64_t deadline) {
        return static_cast<int>(std::max<std::int64_t>(0, (deadline - NowNs()) / 1'000'000 + 1));
    }

private:
    int fd_ = -1;
};

// The program starts that one side recorded, read in order as they come.
class StartLog {
public:
    StartLog(fs::path file, FolderEvents& folder) : file_(std::move(file)), folder_(folder) {}

    // The next recorded start, or nullopt when none came before `deadline`.
    std::optional<std::int64_t> Next(std::int64_t deadline) {
        for (;;) {
            if (const auto start = Take()) return start;
            if (NowNs() >= deadline) return std::nullopt;
            folder_.Wait(FolderEvents::RemainingMs(deadline));
        }
    }

    // Forgets whatever was recorded so far (warm-up starts).
    void Skip() {
        while (Take()) {
        }
    }

private:
    std::optional<std::int64_t> Take() {
        if (pending_.find('\n') == std::string::npos) {
            const std::string text = ReadText(file_);
            if (text.size() > consumed_) {
                pending_ += text.substr(consumed_);
                consumed_ = text.size();
            }
        }
        const std::size_t end = pending_.find('\n');
        if (end == std::string::npos) return std::nullopt;
        const std::int64_t start = std::strtoll(pending_.c_str(), nullptr, 10);
        pending_.erase(0, end + 1);
        return start;
    }

    fs::path file_;
    FolderEvents& folder_;
    std::size_t consumed_ = 0;
    std::string pending_;
};

// A program started in a process group of its own, so that everything it
// starts in turn (an entry's program) ends with it. It is also told to end
// when this benchmark dies without cleaning up.
class ChildGroup {
public:
    // Runs `argv` with the given standard input and output (standard error
    // goes to the output too); the descriptors stay the caller's.
    ChildGroup(const std::vector<std::string>& argv, int in, int out) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(127);
            ::dup2(in, STDIN_FILENO);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        if (pid_ < 0) Die(std::string("cannot start ") + argv[0] + ": " + std::strerror(errno));
        ::setpgid(pid_, pid_);  // also here, in case the child has not got there yet
    }
    ~ChildGroup() { Stop(); }
    ChildGroup(const ChildGroup&) = delete;
    ChildGroup& operator=(const ChildGroup&) = delete;

    pid_t pid() const { return pid_; }

    bool Running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ::kill(-pid_, SIGKILL);  // what it started must not outlive it
            pid_ = -1;
            return false;
        }
        return true;
    }

    // SIGTERM to the group, SIGKILL after 3 s; then reaped.
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        const std::int64_t deadline = NowNs() + 3'000'000'000;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (NowNs() > deadline) {
                ::kill(-pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            const timespec ts{0, 10'000'000};
            ::nanosleep(&ts, nullptr);
        }
        ::kill(-pid_, SIGKILL);  // stragglers of the group, if any
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// A descriptor closed when the object goes away.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

int OpenOutput(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Die("cannot create " + file.string() + ": " + std::strerror(errno));
    return fd;
}

std::optional<fs::path> FindInPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const fs::path candidate = fs::path(rest.substr(0, colon)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

// Processes that spin on the processors for as long as the object lives,
// so that a measure shares the machine as it would with a build running.
// Each is killed with the benchmark, should that die without cleaning up.
class BusyProcesses {
public:
    explicit BusyProcesses(int count) {
        const pid_t parent = ::getpid();
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent) ::_exit(0);
                volatile std::uint64_t n = 0;
                for (;;) n = n + 1;
            }
            if (pid < 0) Die(std::string("cannot start a busy process: ") + std::strerror(errno));
            pids_.push_back(pid);
        }
    }
    ~BusyProcesses() {
        for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
        for (const pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
    }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

private:
    std::vector<pid_t> pids_;
};

// Processor time (user + system) of every thread of process `pid`, those
// that have ended included, in nanoseconds: the sum /proc/PID/stat gives
// as utime + stime, without its rounding to clock ticks.
std::int64_t ProcessCpuNs(pid_t pid) {
    clockid_t clock{};
    timespec ts{};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &ts) != 0) {
        Die("cannot read the processor time of process " + std::to_string(pid));
    }
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// utime + stime from /proc/PID/stat, in clock ticks.
long long StatTicks(pid_t pid) {
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    // The fields after the command's closing parenthesis, from the third on.
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::atoll(field.c_str());
        if (i == 15) stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

// Resident memory of process `pid` now and at its peak, in kB.
struct Memory {
    long long rssKb = 0, hwmKb = 0;
};

Memory ReadMemory(pid_t pid) {
    std::istringstream status(ReadText("/proc/" + std::to_string(pid) + "/status"));
    Memory m;
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) m.rssKb = std::atoll(line.c_str() + 6);
        if (line.starts_with("VmHWM:")) m.hwmKb = std::atoll(line.c_str() + 6);
    }
    return m;
}

struct Summary {
    double median = 0, p90 = 0, min = 0, max = 0;
};

Summary Summarize(const std::vector<double>& v) {
    if (v.empty()) return {};
    return {Median(v), Percentile(v, 90), *std::min_element(v.begin(), v.end()),
            *std::max_element(v.begin(), v.end())};
}

double Seconds(std::int64_t ns) {
    return static_cast<double>(ns) / 1e9;
}

// Prints each of the times in seconds after `what`; returns their summary.
Summary PrintSeconds(const char* what, const std::vector<double>& seconds) {
    std::printf("   %s:", what);
    for (const double d : seconds) std::printf(" %.2f", d);
    std::printf("\n");
    return Summarize(seconds);
}

// A start recorded before the file it answers means the two are mismatched.
void CheckAfter(std::int64_t start, std::int64_t file) {
    if (start < file) Die("a program start came before its file: starts and files mismatched");
}

struct Tools {
    fs::path tavren3, inotifywait, bash;
};

// tavren3 with its running entries and the shell loop beside it, both warmed
// up; the measures run one after the other on it. With `large`, two more
// entries for measure e: kLarge on a folder of kLargeFiles files, kEmpty on
// an empty one.
class Rig {
public:
    static constexpr int kLarge = kEntries;
    static constexpr int kEmpty = kEntries + 1;

    Rig(const fs::path& root, const Tools& tools, bool large);

    // Pairs of samples, tavren3's files going to `entries` entries in turn;
    // `busy` processes spin meanwhile.
    void Pairs(int samples, int entries, int busy = 0);
    // Files into one entry, kGatherSpacingNs apart.
    void Gathered(int files);
    // Files written slowly into one entry.
    void SlowWrites(int writes);
    // Pairs of samples, one into the large folder, one into the empty one.
    void LargeFolder(int samples);

private:
    [[noreturn]] void TavrenFailed(const std::string& what) {
        Die(what + "; its output:\n" + ReadText(root_ / "tavren3.out"));
    }
    [[noreturn]] void ShellFailed(const std::string& what) {
        Die(what + "; its output:\n" + ReadText(root_ / "loop.out"));
    }
    void CheckRunning() {
        if (!tavren_->Running()) TavrenFailed("tavren3 ended during the run");
        if (!loop_->Running() || !watcher_->Running()) ShellFailed("the shell loop ended");
    }
    std::string NextName() { return "new-" + std::to_string(named_++) + ".txt"; }
    // The next program start tavren3 recorded, at or after `t0`.
    std::int64_t TavrenStart(std::int64_t t0, const std::string& what) {
        const auto start = tavrenStarts_->Next(NowNs() + kWaitLimitNs);
        if (!start) TavrenFailed("tavren3 started no program for " + what);
        CheckAfter(*start, t0);
        return *start;
    }
    // The look ends by storing what it found: the entry's snapshot replaced
    // (renamed into place as <slot>.dir) or a file of the slot written
    // (<slot>.<anything>, as a journal appended to); the temporary files
    // of a replacement start with a dot.
    void WaitForSnapshot(int k) {
        const std::string slot = std::to_string(k) + ".";
        const std::int64_t deadline = NowNs() + kWaitLimitNs;
        for (;;) {
            for (const std::string& seen : snapshots_->Wait(FolderEvents::RemainingMs(deadline))) {
                if (seen.starts_with(slot)) return;
            }
            if (NowNs() >= deadline) TavrenFailed("tavren3 did not finish its look");
        }
    }
    // A start beyond one per file, on either side, shows up now.
    bool ExtraStarts() {
        SleepUntil(NowNs() + 300'000'000);
        const bool extraTavren = tavrenStarts_->Next(NowNs()).has_value();
        const bool extraLoop = loopStarts_->Next(NowNs()).has_value();
        if (extraTavren || extraLoop) {
            std::printf("   UNEXPECTED: more program starts than files (%s)\n",
                        extraTavren ? "tavren3" : "shell loop");
        }
        return extraTavren || extraLoop;
    }

    fs::path root_;
    store::DataFolder data_;
    std::vector<fs::path> folders_;
    std::vector<std::int64_t> lastFile_;  // when each entry last got a new file
    fs::path loopFolder_;
    int named_ = 0;
    Memory atBaseline_;  // tavren3's, once every entry had its snapshot
    std::optional<FolderEvents> recorded_, snapshots_;
    std::optional<StartLog> tavrenStarts_, loopStarts_;
    Fd devNull_, tavrenOut_, loopOut_;
    std::optional<ChildGroup> tavren_, watcher_, loop_;
};

Rig::Rig(const fs::path& root, const Tools& tools, bool large)
    : root_(root), data_(root / "data"), loopFolder_(root / "loop") {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path records = root / "rec";
    MakeFolder(records);
    MakeFolder(loopFolder_);
    const fs::path tavrenLog = records / "tavren3";
    const fs::path loopLog = records / "loop";
    CreateFile(tavrenLog);
    CreateFile(loopLog);

    // A short name for this benchmark, so that the program line fits the
    // settings file's field wherever the scratch folder is.
    const fs::path helper = root / "record";
    std::error_code ec;
    fs::create_symlink(self, helper, ec);
    if (ec) Die("cannot link " + helper.string() + ": " + ec.message());
    const std::string programLine =
        "\"" + helper.string() + "\" \"--record=" + tavrenLog.string() + "\"";
    if (programLine.size() > store::kPathMaxBytes) {
        Die("the scratch folder's path is too long for a program line (" + programLine +
            "); set TMPDIR to a shorter folder");
    }
    if (root.string().find_first_of("\"\\") != std::string::npos) {
        Die("the scratch folder's path cannot be quoted in a program line: " + root.string());
    }

    std::vector<store::WatchEntry> entries;
    const int count = large ? kEmpty + 1 : kEntries;
    if (large) {
        std::printf("Creating a folder of %zu files for measure e...\n", kLargeFiles);
        std::fflush(stdout);
        CreateDocumentFolder(root / "w" / std::to_string(kLarge), kLargeFiles);
    }
    for (int k = 0; k < count; ++k) {
        store::WatchEntry e;
        e.title = "latency " + std::to_string(k);
        e.folder = (root / "w" / std::to_string(k)).string();
        e.timing = 1;       // names changed: a new file wakes the entry
        e.messageMode = 0;  // no message
        e.soundMode = 0;    // no sound
        e.waitExit = 1;     // as the shell loop does, which runs it in the foreground
        e.program = programLine;
        MakeFolder(e.folder);
        folders_.emplace_back(e.folder);
        entries.push_back(e);
    }
    WriteSettings(data_, entries);
    lastFile_.assign(folders_.size(), 0);

    recorded_.emplace(records, IN_CLOSE_WRITE);
    snapshots_.emplace(data_.tavdat(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_MODIFY);
    tavrenStarts_.emplace(tavrenLog, *recorded_);
    loopStarts_.emplace(loopLog, *recorded_);

    // tavren3 first: every entry has taken its first snapshot once it watches.
    devNull_.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (devNull_.get() < 0) Die("cannot open /dev/null");
    tavrenOut_.reset(OpenOutput(root / "tavren3.out"));
    tavren_.emplace(std::vector<std::string>{tools.tavren3.string(), "--headless", "--data-dir",
                                             data_.root().string()},
                    devNull_.get(), tavrenOut_.get());
    {
        const std::int64_t deadline = NowNs() + kWaitLimitNs;
        for (int k = 0; k < count;) {
            if (!tavren_->Running()) TavrenFailed("tavren3 ended at its start");
            if (fs::exists(data_.snapshotFile(k))) {
                ++k;
                continue;
            }
            if (NowNs() > deadline) TavrenFailed("tavren3 did not start watching");
            snapshots_->Wait(50);
        }
        // Each worker tidies up after its baseline; the line that says every
        // entry is watched comes after that.
        while (ReadText(root / "tavren3.out").find("監視を開始しました") == std::string::npos) {
            if (!tavren_->Running()) TavrenFailed("tavren3 ended at its start");
            if (NowNs() > deadline) TavrenFailed("tavren3 did not say it watches");
            ::usleep(10'000);
        }
    }
    atBaseline_ = ReadMemory(tavren_->pid());

    // The shell side: inotifywait's output piped into a bash loop. Both are
    // started from here rather than from one `bash -c` line, so that each
    // gets the death signal and none can outlive the benchmark.
    loopOut_.reset(OpenOutput(root / "loop.out"));
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        Die(std::string("cannot make a pipe: ") + std::strerror(errno));
    Fd pipeRead(pipeEnds[0]);
    Fd pipeWrite(pipeEnds[1]);
    watcher_.emplace(std::vector<std::string>{tools.inotifywait.string(), "-m", "-q", "-e",
                                              "create,moved_to", loopFolder_.string()},
                     devNull_.get(), pipeWrite.get());
    loop_.emplace(std::vector<std::string>{tools.bash.string(), "-c",
                                           "while read -r _; do \"$1\" \"--record=$2\"; done",
                                           "bash", helper.string(), loopLog.string()},
                  pipeRead.get(), loopOut_.get());
    // The pipe now belongs to the two of them.

    // Warm-up: one start per entry, which also shows every entry works; and
    // files for the shell loop until it answers (it says nothing once its
    // watch is set up).
    for (int k = 0; k < count; ++k) {
        lastFile_[k] = NowNs();
        CreateFile(folders_[k] / "warm-up");
        TavrenStart(lastFile_[k], "entry " + std::to_string(k));
        WaitForSnapshot(k);
    }
    const std::int64_t deadline = NowNs() + kWaitLimitNs;
    for (int i = 0;; ++i) {
        if (!loop_->Running() || !watcher_->Running())
            ShellFailed("the shell loop ended at its start");
        CreateFile(loopFolder_ / ("warm-up-" + std::to_string(i)));
        if (loopStarts_->Next(NowNs() + 200'000'000)) break;
        if (NowNs() > deadline) ShellFailed("the shell loop started nothing");
    }
    SleepUntil(NowNs() + 300'000'000);  // answers to the later warm-up files
    loopStarts_->Skip();

    std::printf("Latency from a new file to the entry's program starting\n");
    std::printf("   tavren3:  %s --headless, %d running entries\n", tools.tavren3.c_str(), count);
    std::printf(
        "   shell:    inotifywait -m -q -e create,moved_to | while read; do program; done\n"
        "   both wait for the program, which records when it started\n\n");
}

void Rig::Pairs(int samples, int entries, int busy) {
    if (entries > 1) {
        std::printf("a. %d entries taking turns, each a new file 3.5 s after its previous one;\n",
                    entries);
    } else {
        std::printf("b. One entry, a new file every 3.5 s, %d busy process%s spinning beside it;\n",
                    busy, busy == 1 ? "" : "es");
    }
    std::printf("   %d pairs of samples, the first side alternating\n", samples);
    const BusyProcesses spinning(busy);
    const double target = entries > 1 ? kTarget : kBusyTarget;

    std::vector<double> tavrenUs, loopUs, pairRatios;
    for (int i = 0; i < samples; ++i) {
        const int k = i % entries;
        const std::string name = NextName();
        auto tavrenSample = [&] {
            SleepUntil(lastFile_[k] + kSpacingNs);
            snapshots_->Drain();
            const std::int64_t t0 = NowNs();
            lastFile_[k] = t0;
            CreateFile(folders_[k] / name);
            tavrenUs.push_back(static_cast<double>(TavrenStart(t0, name) - t0) / 1e3);
            WaitForSnapshot(k);
        };
        auto loopSample = [&] {
            const std::int64_t t0 = NowNs();
            CreateFile(loopFolder_ / name);
            const auto start = loopStarts_->Next(t0 + kWaitLimitNs);
            if (!start) ShellFailed("the shell loop started no program for " + name);
            CheckAfter(*start, t0);
            loopUs.push_back(static_cast<double>(*start - t0) / 1e3);
        };
        if (i % 2 == 0) {
            tavrenSample();
            SleepUntil(NowNs() + kQuietNs);
            loopSample();
        } else {
            loopSample();
            SleepUntil(NowNs() + kQuietNs);
            tavrenSample();
        }
        SleepUntil(NowNs() + kQuietNs);
        pairRatios.push_back(tavrenUs.back() / loopUs.back());
        CheckRunning();
    }
    const bool extra = ExtraStarts();

    const Summary t = Summarize(tavrenUs);
    const Summary l = Summarize(loopUs);
    std::printf("   %-26s %8s %8s %8s %8s\n", "(microseconds)", "median", "p90", "min", "max");
    std::printf("   %-26s %8.0f %8.0f %8.0f %8.0f\n", "tavren3 --headless", t.median, t.p90, t.min,
                t.max);
    std::printf("   %-26s %8.0f %8.0f %8.0f %8.0f\n", "inotifywait | while read", l.median, l.p90,
                l.min, l.max);
    std::printf("   samples over 100 ms: tavren3 %td, shell loop %td\n", CountOver(tavrenUs, 1e5),
                CountOver(loopUs, 1e5));
    const double ratio = t.median / l.median;
    std::printf("   ratio of medians %.3fx, of p90s %.2fx; median of the pairs' ratios %.2fx\n",
                ratio, t.p90 / l.p90, Median(pairRatios));
    std::printf("   target: median at most %.1fx the inotifywait loop's: %.3fx %s\n\n", target,
                ratio, Verdict(ratio <= target && !extra));
}

void Rig::Gathered(int files) {
    std::printf("c. One entry, %d new files 1 s apart\n", files);
    constexpr int k = 0;
    SleepUntil(lastFile_[k] + kSpacingNs);  // the entry's debounce is clear
    std::vector<std::int64_t> created;
    for (int i = 0; i < files; ++i) {
        if (i > 0) SleepUntil(created.back() + kGatherSpacingNs);
        created.push_back(NowNs());
        CreateFile(folders_[k] / NextName());
        CheckRunning();
    }
    lastFile_[k] = created.back();
    // The k-th start answers the k-th file: a look acts on every file it
    // finds, its starts milliseconds apart, so pairing them in order moves
    // no delay by more than that.
    std::vector<double> delays;
    for (const std::int64_t t0 : created) {
        const auto start = tavrenStarts_->Next(created.back() + kWaitLimitNs);
        if (!start) break;
        CheckAfter(*start, t0);
        delays.push_back(Seconds(*start - t0));
    }
    const bool extra = ExtraStarts();

    const Summary s =
        PrintSeconds("seconds from each file's creation to its program start", delays);
    const auto late = CountOver(delays, kGatherLimitS);
    std::printf("   acted on %zu of %d; median %.2f s, max %.2f s; over %.1f s: %td\n",
                delays.size(), files, s.median, s.max, kGatherLimitS, late);
    std::printf("   target: every file acted on within %.1f s of its creation: %s\n\n",
                kGatherLimitS,
                Verdict(delays.size() == static_cast<std::size_t>(files) && late == 0 && !extra));
}

void Rig::SlowWrites(int writes) {
    std::printf(
        "d. One entry, %d files each written for %.0f s (a chunk every %.2f s, kept open),\n"
        "   then closed 5 to 6 s after its creation\n",
        writes, Seconds(kSlowWriteNs), Seconds(kChunkEveryNs));
    constexpr int k = 0;
    const std::string chunk(4096, 'x');
    std::vector<double> afterClose;
    int early = 0;
    for (int i = 0; i < writes; ++i) {
        SleepUntil(lastFile_[k] + kSpacingNs);
        const fs::path file = folders_[k] / NextName();
        const std::int64_t t0 = NowNs();
        lastFile_[k] = t0;
        Fd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.get() < 0) Die("cannot create " + file.string() + ": " + std::strerror(errno));
        for (std::int64_t at = t0; at < t0 + kSlowWriteNs; at += kChunkEveryNs) {
            SleepUntil(at);
            if (::write(fd.get(), chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
                Die("cannot write " + file.string());
        }
        // The close comes 5 to 6 s after the creation, at a point that
        // differs from file to file: tavren3 checks waiting files
        // periodically, and a close always just before a check would
        // flatter it.
        SleepUntil(t0 + kSlowWriteNs + i * kCloseStepNs % 1'000'000'000);
        snapshots_->Drain();
        const std::int64_t closed = NowNs();
        fd.reset();
        const auto start = tavrenStarts_->Next(closed + kWaitLimitNs);
        if (!start) TavrenFailed("tavren3 started no program for " + file.filename().string());
        CheckAfter(*start, t0);
        if (*start < closed) {
            ++early;
        } else {
            afterClose.push_back(Seconds(*start - closed));
            WaitForSnapshot(k);
        }
        CheckRunning();
    }
    const bool extra = ExtraStarts();

    const Summary s = PrintSeconds("seconds from the close to the program start", afterClose);
    std::printf("   median %.2f s, max %.2f s; started before the close: %d\n", s.median, s.max,
                early);
    std::printf(
        "   target: never before the close, median under %.1f s: %.2f s %s\n\n", kAfterCloseTargetS,
        s.median,
        Verdict(early == 0 && !afterClose.empty() && s.median < kAfterCloseTargetS && !extra));
}

void Rig::LargeFolder(int samples) {
    std::printf(
        "e. One entry on a folder of %zu files and one on an empty folder, taking turns,\n"
        "   each a new file 3.5 s after its previous one; %d pairs of samples, the first\n"
        "   side alternating\n",
        kLargeFiles, samples);
    const pid_t pid = tavren_->pid();
    std::vector<double> latencyMs[2], cpuMs[2], pairRatios;
    long long ticks[2] = {0, 0};
    for (int i = 0; i < samples; ++i) {
        const std::string name = NextName();
        auto sample = [&](int side) {
            const int k = side == 0 ? kLarge : kEmpty;
            SleepUntil(lastFile_[k] + kSpacingNs);
            snapshots_->Drain();
            const long long ticks0 = StatTicks(pid);
            const std::int64_t cpu0 = ProcessCpuNs(pid);
            const std::int64_t t0 = NowNs();
            lastFile_[k] = t0;
            CreateFile(folders_[k] / name);
            latencyMs[side].push_back(static_cast<double>(TavrenStart(t0, name) - t0) / 1e6);
            WaitForSnapshot(k);
            cpuMs[side].push_back(static_cast<double>(ProcessCpuNs(pid) - cpu0) / 1e6);
            ticks[side] += StatTicks(pid) - ticks0;
        };
        sample(i % 2);
        SleepUntil(NowNs() + kQuietNs);
        sample(1 - i % 2);
        SleepUntil(NowNs() + kQuietNs);
        pairRatios.push_back(latencyMs[0].back() / latencyMs[1].back());
        CheckRunning();
    }
    const bool extra = ExtraStarts();
    const Memory after = ReadMemory(pid);

    const Summary large = Summarize(latencyMs[0]);
    const Summary empty = Summarize(latencyMs[1]);
    std::printf("   %-34s %8s %8s %8s %8s\n", "(milliseconds)", "median", "p90", "min", "max");
    std::printf("   %-34s %8.2f %8.2f %8.2f %8.2f\n", "creation to start, 100,000 files",
                large.median, large.p90, large.min, large.max);
    std::printf("   %-34s %8.2f %8.2f %8.2f %8.2f\n", "creation to start, empty folder",
                empty.median, empty.p90, empty.min, empty.max);
    const double cpuLarge = Median(cpuMs[0]);
    const double cpuEmpty = Median(cpuMs[1]);
    std::printf("   %-34s %8.2f %8.2f %8.2f %8.2f\n", "tavren3 CPU per file, 100,000 files",
                cpuLarge, Percentile(cpuMs[0], 90),
                *std::min_element(cpuMs[0].begin(), cpuMs[0].end()),
                *std::max_element(cpuMs[0].begin(), cpuMs[0].end()));
    std::printf("   %-34s %8.2f %8.2f %8.2f %8.2f\n", "tavren3 CPU per file, empty folder",
                cpuEmpty, Percentile(cpuMs[1], 90),
                *std::min_element(cpuMs[1].begin(), cpuMs[1].end()),
                *std::max_element(cpuMs[1].begin(), cpuMs[1].end()));
    // The same from /proc/PID/stat, whose clock ticks only show in a mean.
    const double tickMs = 1e3 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    std::printf(
        "   /proc/PID/stat utime+stime, mean per file: %.1f ms (100,000 files), %.1f ms (empty)\n",
        static_cast<double>(ticks[0]) * tickMs / samples,
        static_cast<double>(ticks[1]) * tickMs / samples);
    const double ratio = large.median / empty.median;
    std::printf("   ratio of medians %.3fx (CPU %.1fx); ", ratio,
                cpuEmpty > 0 ? cpuLarge / cpuEmpty : 0.0);
    PrintPairs("", pairRatios);

    // Every record in memory once, as the snapshot file holds them.
    const double recordsMb = static_cast<double>(kLargeFiles * store::kSnapshotRecordSize) / 1e6;
    auto mb = [](long long kb) { return static_cast<double>(kb) * 1024 / 1e6; };
    std::printf(
        "   tavren3 resident memory (MB): with every baseline VmRSS %.1f (peak %.1f), after\n"
        "   the files VmRSS %.1f (peak %.1f); the snapshot's records %.1f MB (%zu x %zu bytes)\n",
        mb(atBaseline_.rssKb), mb(atBaseline_.hwmKb), mb(after.rssKb), mb(after.hwmKb), recordsMb,
        kLargeFiles, store::kSnapshotRecordSize);
    const double memory = mb(std::max(atBaseline_.rssKb, after.rssKb)) / recordsMb;
    std::printf("   target: median at most %.1fx the empty folder's: %.3fx %s\n", kLargeTarget,
                ratio, Verdict(ratio <= kLargeTarget && !extra));
    std::printf("   target: CPU per file in the large folder under %.0f ms: %.2f ms %s\n",
                kCpuPerFileTargetMs, cpuLarge, Verdict(cpuLarge < kCpuPerFileTargetMs));
    std::printf("   target: VmRSS at most %.0fx the snapshot's records: %.2fx %s\n\n",
                kMemoryTarget, memory, Verdict(memory <= kMemoryTarget));
}

}  // namespace

int main(int argc, char** argv) {
    // The program both sides start: nothing else runs before the reading.
    if (argc == 2 && std::strncmp(argv[1], "--record=", 9) == 0) return RecordStart(argv[1] + 9);

    int samples = kDefaultSamples;
    int busy = kDefaultBusy;
    std::string only = "abcde";
    std::optional<fs::path> tavren3;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--samples=")) {
            samples = std::atoi(std::string(arg.substr(10)).c_str());
            usable = usable && samples >= 2;
        } else if (arg.starts_with("--only=")) {
            only = std::string(arg.substr(7));
        } else if (arg.starts_with("--busy=")) {
            busy = std::atoi(std::string(arg.substr(7)).c_str());
            usable = usable && busy >= 0;
        } else if (arg.starts_with("--tavren3=")) {
            tavren3 = fs::path(arg.substr(10));
        } else {
            usable = false;
        }
    }
    if (!usable) {
        std::fprintf(stderr, "usage: %s [--samples=N] [--only=abcde] [--busy=N] [--tavren3=PATH]\n",
                     argv[0]);
        return 2;
    }
    auto wanted = [&](char measure) { return only.find(measure) != std::string::npos; };
    CatchInterrupts();

    try {
        if (!tavren3) {
            // build/bench/bench_latency beside build/tavren3
            tavren3 = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tavren3";
        }
        *tavren3 = fs::absolute(*tavren3);
        if (::access(tavren3->c_str(), X_OK) != 0) {
            Die("no tavren3 program at " + tavren3->string() +
                " (build it, or give --tavren3=PATH)");
        }
        const auto inotifywait = FindInPath("inotifywait");
        if (!inotifywait) Die("inotifywait is not in PATH (package inotify-tools)");
        const auto bash = FindInPath("bash");
        if (!bash) Die("bash is not in PATH");

        ScratchFolder scratch("tavren-bench-latency");
        Rig rig(scratch.path(), {*tavren3, *inotifywait, *bash}, wanted('e'));
        if (wanted('a')) rig.Pairs(samples, kEntries);
        // Half: with the processors shared, 20 pairs gave medians from
        // 0.79x to 1.22x for one build within minutes.
        if (wanted('b')) rig.Pairs(std::max(2, samples / 2), 1, busy);
        if (wanted('c')) rig.Gathered(std::max(2, samples / 5));
        if (wanted('d')) rig.SlowWrites(std::max(2, samples / 20));
        if (wanted('e')) rig.LargeFolder(std::max(2, samples / 5));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_latency: %s\n", e.what());
        return 1;
    }
    return 0;
}
