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
// previous one and rescans 3 s later instead. Several entries, each on its
// own folder, therefore take turns, and each sees a new file only once its
// previous program start is more than 3 s past; the run stays short and no
// sample meets the debounce.
//
// Usage: bench_latency [--samples=N] [--tavren3=PATH]
//   --samples  samples of each side, 100 by default.
//   --tavren3  the program to measure; by default the tavren3 in the build
//              folder above this benchmark's own folder.
//
// Prints PASS or FAIL for the target (median at most 1.2x the shell loop's);
// exits 0 unless the benchmark itself could not run.

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
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "store/watch_entry.h"

namespace {

namespace fs = std::filesystem;
namespace store = tavren::store;
using namespace tavren::bench;

constexpr double kTarget = 1.2;
constexpr int kDefaultSamples = 100;
// Entries taking turns; with the spacing below, one pair of samples every
// 0.33 s at most.
constexpr int kEntries = 10;
// Least time from an entry's previous program start to its next file: more
// than the 3-second debounce, which counts whole seconds of the clock.
constexpr std::int64_t kEntrySpacingNs = 3'300'000'000;
// A short pause between the two sides of a pair, so that the helper of one
// has exited before the other side's file appears.
constexpr std::int64_t kQuietNs = 20'000'000;
constexpr int kWaitLimitMs = 10'000;

std::int64_t MonotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The program both sides start: appends the moment it began to `file`.
int RecordStart(const char* file) {
    const std::int64_t now = MonotonicNs();
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
        const std::int64_t left = deadline - MonotonicNs();
        if (left <= 0) return;
        const std::int64_t step = std::min<std::int64_t>(left, 50'000'000);
        const timespec ts{0, static_cast<long>(step)};
        ::nanosleep(&ts, nullptr);
    }
}

void MakeFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) Die("cannot create " + folder.string() + ": " + ec.message());
}

void CreateEmptyFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) Die("cannot create " + file.string() + ": " + std::strerror(errno));
    ::close(fd);
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
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
            if (MonotonicNs() >= deadline) return false;
        }
    }

    void Drain() { Wait(0); }

    static int RemainingMs(std::int64_t deadline) {
        return static_cast<int>(
            std::max<std::int64_t>(0, (deadline - MonotonicNs()) / 1'000'000 + 1));
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
            if (MonotonicNs() >= deadline) return std::nullopt;
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
        const std::int64_t deadline = MonotonicNs() + 3'000'000'000;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (MonotonicNs() > deadline) {
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
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
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

void WriteRunningEntries(const store::DataFolder& data,
                         const std::vector<store::WatchEntry>& entries) {
    if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());
    std::vector<store::SlotImage> slots;
    for (const store::WatchEntry& entry : entries) {
        store::SlotImage image = store::BlankSlotImage();
        if (const store::Status s = store::EncodeSlot({true, entry}, image); !s.ok())
            Die(s.message());
        slots.push_back(image);
    }
    if (const store::Status s = store::WriteAllSlots(data.settingsFile(), slots); !s.ok()) {
        Die(s.message());
    }
}

struct Summary {
    double median = 0, p90 = 0, min = 0, max = 0;
};

Summary Summarize(const std::vector<double>& v) {
    return {Median(v), Percentile(v, 90), *std::min_element(v.begin(), v.end()),
            *std::max_element(v.begin(), v.end())};
}

struct Tools {
    fs::path tavren3, inotifywait, bash;
};

void Measure(const fs::path& root, const Tools& tools, int samples) {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path records = root / "rec";
    const fs::path loopFolder = root / "loop";
    const store::DataFolder data(root / "data");
    MakeFolder(records);
    MakeFolder(loopFolder);
    const fs::path tavrenLog = records / "tavren3";
    const fs::path loopLog = records / "loop";
    CreateEmptyFile(tavrenLog);
    CreateEmptyFile(loopLog);

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
    std::vector<fs::path> folders;
    for (int k = 0; k < kEntries; ++k) {
        store::WatchEntry e;
        e.title = "latency " + std::to_string(k);
        e.folder = (root / "w" / std::to_string(k)).string();
        e.timing = 1;       // names changed: a new file wakes the entry
        e.messageMode = 0;  // no message
        e.soundMode = 0;    // no sound
        e.waitExit = 1;     // as the shell loop does, which runs it in the foreground
        e.program = programLine;
        MakeFolder(e.folder);
        folders.emplace_back(e.folder);
        entries.push_back(e);
    }
    WriteRunningEntries(data, entries);

    FolderEvents recorded(records, IN_CLOSE_WRITE);
    FolderEvents snapshots(data.tavdat(), IN_MOVED_TO);
    StartLog tavrenStarts(tavrenLog, recorded);
    StartLog loopStarts(loopLog, recorded);

    // tavren3 first: every entry has taken its first snapshot once it watches.
    const Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (devNull.get() < 0) Die("cannot open /dev/null");
    const Fd tavrenOut(OpenOutput(root / "tavren3.out"));
    ChildGroup tavren({tools.tavren3.string(), "--headless", "--data-dir", data.root().string()},
                      devNull.get(), tavrenOut.get());
    auto tavrenFailed = [&](const std::string& what) {
        Die(what + "; its output:\n" + ReadText(root / "tavren3.out"));
    };
    {
        const std::int64_t deadline = MonotonicNs() + kWaitLimitMs * 1'000'000LL;
        for (int k = 0; k < kEntries;) {
            if (!tavren.Running()) tavrenFailed("tavren3 ended at its start");
            if (fs::exists(data.snapshotFile(k))) {
                ++k;
                continue;
            }
            if (MonotonicNs() > deadline) tavrenFailed("tavren3 did not start watching");
            snapshots.Wait(50);
        }
    }

    // The shell side: inotifywait's output piped into a bash loop. Both are
    // started from here rather than from one `bash -c` line, so that each
    // gets the death signal and none can outlive the benchmark.
    const Fd loopOut(OpenOutput(root / "loop.out"));
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        Die(std::string("cannot make a pipe: ") + std::strerror(errno));
    Fd pipeRead(pipeEnds[0]);
    Fd pipeWrite(pipeEnds[1]);
    ChildGroup watcher(
        {tools.inotifywait.string(), "-m", "-q", "-e", "create,moved_to", loopFolder.string()},
        devNull.get(), pipeWrite.get());
    ChildGroup loop({tools.bash.string(), "-c", "while read -r _; do \"$1\" \"--record=$2\"; done",
                     "bash", helper.string(), loopLog.string()},
                    pipeRead.get(), loopOut.get());
    pipeRead.reset();  // the pipe now belongs to the two of them
    pipeWrite.reset();
    const auto shellFailed = [&](const std::string& what) {
        Die(what + "; its output:\n" + ReadText(root / "loop.out"));
    };

    // Warm-up: one start per entry, which also shows every entry works; and
    // files for the shell loop until it answers (it says nothing once its
    // watch is set up).
    std::vector<std::int64_t> lastStart(kEntries, 0);
    for (int k = 0; k < kEntries; ++k) {
        CreateEmptyFile(folders[k] / "warm-up");
        const auto start = tavrenStarts.Next(MonotonicNs() + kWaitLimitMs * 1'000'000LL);
        if (!start) tavrenFailed("tavren3 started no program for entry " + std::to_string(k));
        lastStart[k] = *start;
        if (!snapshots.WaitFor(std::to_string(k) + ".dir",
                               MonotonicNs() + kWaitLimitMs * 1'000'000LL)) {
            tavrenFailed("tavren3 did not finish its rescan");
        }
    }
    {
        const std::int64_t deadline = MonotonicNs() + kWaitLimitMs * 1'000'000LL;
        for (int i = 0;; ++i) {
            if (!loop.Running() || !watcher.Running())
                shellFailed("the shell loop ended at its start");
            CreateEmptyFile(loopFolder / ("warm-up-" + std::to_string(i)));
            if (loopStarts.Next(MonotonicNs() + 200'000'000)) break;
            if (MonotonicNs() > deadline) shellFailed("the shell loop started nothing");
        }
        SleepUntil(MonotonicNs() + 300'000'000);  // answers to the later warm-up files
        loopStarts.Skip();
    }

    std::printf("Latency from a new file to the entry's program starting\n");
    std::printf("   tavren3:  %s --headless, %d running entries taking turns\n",
                tools.tavren3.c_str(), kEntries);
    std::printf(
        "   shell:    inotifywait -m -q -e create,moved_to | while read; do program; done\n");
    std::printf(
        "   both wait for the program, which records when it started; %d samples each,\n"
        "   in pairs, the first side alternating\n",
        samples);

    std::vector<double> tavrenUs, loopUs, pairRatios;
    const auto waitNs = kWaitLimitMs * 1'000'000LL;
    for (int i = 0; i < samples; ++i) {
        const int k = i % kEntries;
        const std::string name = "new-" + std::to_string(i) + ".txt";
        auto tavrenSample = [&] {
            SleepUntil(lastStart[k] + kEntrySpacingNs);
            snapshots.Drain();
            const std::int64_t t0 = MonotonicNs();
            CreateEmptyFile(folders[k] / name);
            const auto start = tavrenStarts.Next(t0 + waitNs);
            if (!start) tavrenFailed("tavren3 started no program for " + name);
            if (*start < t0)
                Die("a program start came before its file: starts and files mismatched");
            tavrenUs.push_back(static_cast<double>(*start - t0) / 1e3);
            lastStart[k] = *start;
            // The rescan ends by storing the entry's snapshot.
            if (!snapshots.WaitFor(std::to_string(k) + ".dir", MonotonicNs() + waitNs)) {
                tavrenFailed("tavren3 did not finish its rescan");
            }
        };
        auto loopSample = [&] {
            const std::int64_t t0 = MonotonicNs();
            CreateEmptyFile(loopFolder / name);
            const auto start = loopStarts.Next(t0 + waitNs);
            if (!start) shellFailed("the shell loop started no program for " + name);
            if (*start < t0)
                Die("a program start came before its file: starts and files mismatched");
            loopUs.push_back(static_cast<double>(*start - t0) / 1e3);
        };
        if (i % 2 == 0) {
            tavrenSample();
            SleepUntil(MonotonicNs() + kQuietNs);
            loopSample();
        } else {
            loopSample();
            SleepUntil(MonotonicNs() + kQuietNs);
            tavrenSample();
        }
        SleepUntil(MonotonicNs() + kQuietNs);
        pairRatios.push_back(tavrenUs.back() / loopUs.back());
        if (!tavren.Running()) tavrenFailed("tavren3 ended during the run");
        if (!loop.Running() || !watcher.Running())
            shellFailed("the shell loop ended during the run");
    }
    // A start beyond the samples' would mean a file was acted on twice.
    SleepUntil(MonotonicNs() + 300'000'000);
    const bool extraTavren = tavrenStarts.Next(MonotonicNs()).has_value();
    const bool extraLoop = loopStarts.Next(MonotonicNs()).has_value();

    const Summary t = Summarize(tavrenUs);
    const Summary l = Summarize(loopUs);
    std::printf("   %-26s %8s %8s %8s %8s\n", "(microseconds)", "median", "p90", "min", "max");
    std::printf("   %-26s %8.0f %8.0f %8.0f %8.0f\n", "tavren3 --headless", t.median, t.p90, t.min,
                t.max);
    std::printf("   %-26s %8.0f %8.0f %8.0f %8.0f\n", "inotifywait | while read", l.median, l.p90,
                l.min, l.max);
    if (extraTavren || extraLoop) {
        std::printf("   UNEXPECTED: more program starts than files (%s)\n",
                    extraTavren ? "tavren3" : "shell loop");
    }
    const double ratio = t.median / l.median;
    std::printf("   ratio of medians %.3fx, of p90s %.2fx; median of the pairs' ratios %.2fx\n",
                ratio, t.p90 / l.p90, Median(pairRatios));
    std::printf("   target: median at most %.1fx the inotifywait loop's: %.3fx %s\n", kTarget,
                ratio, Verdict(ratio <= kTarget && !extraTavren && !extraLoop));
}

}  // namespace

int main(int argc, char** argv) {
    // The program both sides start: nothing else runs before the reading.
    if (argc == 2 && std::strncmp(argv[1], "--record=", 9) == 0) return RecordStart(argv[1] + 9);

    int samples = kDefaultSamples;
    std::optional<fs::path> tavren3;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--samples=")) {
            samples = std::atoi(std::string(arg.substr(10)).c_str());
            usable = usable && samples >= 2;
        } else if (arg.starts_with("--tavren3=")) {
            tavren3 = fs::path(arg.substr(10));
        } else {
            usable = false;
        }
    }
    if (!usable) {
        std::fprintf(stderr, "usage: %s [--samples=N] [--tavren3=PATH]\n", argv[0]);
        return 2;
    }
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
        Measure(scratch.path(), {*tavren3, *inotifywait, *bash}, samples);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_latency: %s\n", e.what());
        return 1;
    }
    return 0;
}
