// What the watcher costs to start and to keep, with 200 running entries on
// idle folders, for the two programs that can run it:
//
//   tavren3-headless                the watcher alone, linked without Qt
//   tavren3 --headless              the desktop program, Qt loaded but unused
//
// Each run starts the program on a fresh copy of the data folder (so every
// entry takes its baseline, as at a first start) and times it from before
// the fork to
//   - the first entry watched and every entry watched: the moments the
//     entries' folders show up among the watches of the process's inotify
//     descriptor (/proc/PID/fdinfo, read every half millisecond). From then
//     on, a change in the folder is seen, even while the baseline is still
//     being written;
//   - its line "200 件の監視を開始しました" on standard error, which it
//     prints once every baseline is on disk as well (each one flushed with
//     fsync, so the disk's flush time counts here).
// It then waits a second and reads the resident memory (VmRSS) and the
// shared libraries the process has mapped. The programs alternate.
//
// Targets for tavren3-headless: start to the first watch under 50 ms,
// resident memory with 200 idle entries at most 10 MB. The desktop
// program's figures are printed beside them, with the ratios.
//
// Usage: bench_start [--runs=N] [--bin=DIR]
//   --runs  runs of each program, 9 by default
//   --bin   the folder holding both programs; by default the build folder

#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <map>
#include <optional>
#include <set>

#include "common.h"

namespace tavren::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kEntries = 200;
constexpr int kFilesPerFolder = 10;
constexpr double kStartTargetMs = 50.0;
constexpr double kMemoryTargetMb = 10.0;
constexpr std::int64_t kStartLimitNs = 20'000'000'000;

struct Sample {
    double firstWatchMs = 0;
    double allWatchedMs = 0;
    double startMs = 0;
    double rssMb = 0;
    int libraries = 0;
};

// The kB figure of `key` in /proc/PID/status.
double StatusMb(pid_t pid, std::string_view key) {
    std::istringstream in(ReadText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(key)) return std::strtod(line.c_str() + key.size(), nullptr) / 1024.0;
    }
    Die("no " + std::string(key) + " for process " + std::to_string(pid));
}

// Distinct shared objects mapped into the process.
int MappedLibraries(pid_t pid) {
    std::istringstream in(ReadText("/proc/" + std::to_string(pid) + "/maps"));
    std::set<std::string> libraries;
    for (std::string line; std::getline(in, line);) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) continue;
        const std::string path = line.substr(slash);
        if (path.find(".so") != std::string::npos) libraries.insert(path);
    }
    return static_cast<int>(libraries.size());
}

// The inotify descriptor's fdinfo file of process `pid`, once it has one.
std::optional<fs::path> InotifyInfo(pid_t pid) {
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (fs::directory_iterator it(fds, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkEc;
        if (fs::read_symlink(it->path(), linkEc) == "anon_inode:inotify") {
            return fs::path("/proc/" + std::to_string(pid) + "/fdinfo") / it->path().filename();
        }
    }
    return std::nullopt;
}

// How many of `folders` (inode numbers) the inotify descriptor watches.
std::size_t WatchedCount(const fs::path& info, const std::set<std::uint64_t>& folders) {
    std::istringstream in(ReadText(info));
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find(" ino:");
        if (!line.starts_with("inotify wd:") || at == std::string::npos) continue;
        count += folders.count(std::strtoull(line.c_str() + at + 5, nullptr, 16));
    }
    return count;
}

// One start of `argv`, measured, then ended with SIGTERM.
Sample RunOnce(const std::vector<std::string>& argv, const std::set<std::uint64_t>& folders) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) Die("pipe failed");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);

    const std::int64_t t0 = NowNs();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(pipeFds[1], STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ::close(devNull);
    if (pid < 0) Die("fork failed");

    std::string output;
    std::optional<std::int64_t> ready, firstWatch, allWatched;
    std::optional<fs::path> info;
    while (!ready && NowNs() - t0 < kStartLimitNs) {
        if (!allWatched) {
            if (!info) info = InotifyInfo(pid);
            const std::size_t watched = info ? WatchedCount(*info, folders) : 0;
            if (watched > 0 && !firstWatch) firstWatch = NowNs();
            if (watched == folders.size()) allWatched = NowNs();
        }
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, allWatched ? 100 : 0) <= 0) {
            if (!allWatched) {
                const timespec pause{0, 500'000};
                ::nanosleep(&pause, nullptr);
            }
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        output.append(buffer, static_cast<std::size_t>(got));
        if (output.find("件の監視を開始しました") != std::string::npos) ready = NowNs();
    }
    Sample sample;
    if (ready) {
        auto ms = [t0](std::optional<std::int64_t> t) {
            return t ? static_cast<double>(*t - t0) / 1e6 : 0.0;
        };
        sample.startMs = ms(ready);
        // Both may come between two looks, the last ones before the line.
        sample.firstWatchMs = firstWatch ? ms(firstWatch) : sample.startMs;
        sample.allWatchedMs = allWatched ? ms(allWatched) : sample.startMs;
        const timespec idle{1, 0};
        ::nanosleep(&idle, nullptr);
        sample.rssMb = StatusMb(pid, "VmRSS:");
        sample.libraries = MappedLibraries(pid);
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(pipeFds[0]);
    if (!ready) Die(argv[0] + " did not report its start; its output:\n" + output);
    if (output.find(": " + std::to_string(kEntries) + " 件の監視を開始しました") ==
        std::string::npos) {
        Die(argv[0] + " did not watch every entry; its output:\n" + output);
    }
    return sample;
}

void Report(const char* what, const char* unit, double headless, double desktop, double target) {
    std::printf("  %-34s %8.2f %s   %8.2f %s   %6.2fx", what, headless, unit, desktop, unit,
                desktop / headless);
    if (target > 0)
        std::printf("   target <= %.0f %s: %s", target, unit, Verdict(headless <= target));
    std::printf("\n");
}

int Run(int runs, const fs::path& bin) {
    const fs::path headless = bin / "tavren3-headless";
    const fs::path desktop = bin / "tavren3";
    for (const fs::path& p : {headless, desktop}) {
        if (::access(p.c_str(), X_OK) != 0) {
            Die("no program at " + p.string() + " (build it, or give --bin=DIR)");
        }
    }

    ScratchFolder scratch("tavren3-bench-start");
    std::vector<store::WatchEntry> entries;
    std::set<std::uint64_t> folders;  // their inode numbers
    for (int n = 0; n < kEntries; ++n) {
        const fs::path folder = scratch.path() / "watched" / ("folder" + std::to_string(n));
        MakeFolder(folder);
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) Die("cannot stat " + folder.string());
        folders.insert(st.st_ino);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            CreateFile(folder / ("file" + std::to_string(f) + ".txt"), "x");
        }
        store::WatchEntry entry;
        entry.title = "entry " + std::to_string(n);
        entry.folder = folder.string();
        entry.timing = 1;
        entry.messageMode = 1;
        entries.push_back(entry);
    }
    const store::DataFolder master(scratch.path() / "master");
    WriteSettings(master, entries);

    std::printf("bench_start: %d entries on idle folders of %d files, %d runs each\n", kEntries,
                kFilesPerFolder, runs);
    std::map<std::string, std::vector<Sample>> samples;
    int run = 0;
    auto fresh = [&] {
        // A data folder of its own for each run: every entry takes its
        // baseline, as at a first start.
        const fs::path root = scratch.path() / ("data" + std::to_string(run++));
        const store::DataFolder data(root);
        if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());
        fs::copy_file(master.settingsFile(), data.settingsFile(),
                      fs::copy_options::overwrite_existing);
        return root.string();
    };
    for (int i = 0; i < runs; ++i) {
        CheckInterrupted();
        samples["headless"].push_back(RunOnce({headless.string(), "--data-dir", fresh()}, folders));
        samples["desktop"].push_back(
            RunOnce({desktop.string(), "--headless", "--data-dir", fresh()}, folders));
    }

    auto median = [&](const std::string& side, auto field) {
        std::vector<double> values;
        for (const Sample& s : samples[side]) values.push_back(field(s));
        return Median(values);
    };
    std::printf("\n  %-34s %11s   %11s   %7s\n", "median of the runs", "headless", "desktop",
                "ratio");
    Report("start to the first entry watched", "ms",
           median("headless", [](const Sample& s) { return s.firstWatchMs; }),
           median("desktop", [](const Sample& s) { return s.firstWatchMs; }), kStartTargetMs);
    Report("start to every entry watched", "ms",
           median("headless", [](const Sample& s) { return s.allWatchedMs; }),
           median("desktop", [](const Sample& s) { return s.allWatchedMs; }), 0);
    Report("start to every baseline on disk", "ms",
           median("headless", [](const Sample& s) { return s.startMs; }),
           median("desktop", [](const Sample& s) { return s.startMs; }), 0);
    Report("resident memory, idle", "MB",
           median("headless", [](const Sample& s) { return s.rssMb; }),
           median("desktop", [](const Sample& s) { return s.rssMb; }), kMemoryTargetMb);
    Report("shared libraries mapped", "  ",
           median("headless", [](const Sample& s) { return s.libraries; }),
           median("desktop", [](const Sample& s) { return s.libraries; }), 0);
    std::printf("\n  each run, headless / desktop (ms to first watch, every watch, baselines):\n");
    for (int i = 0; i < runs; ++i) {
        const Sample& h = samples["headless"][i];
        const Sample& d = samples["desktop"][i];
        std::printf("    %6.1f %6.1f %6.1f  /  %6.1f %6.1f %6.1f\n", h.firstWatchMs, h.allWatchedMs,
                    h.startMs, d.firstWatchMs, d.allWatchedMs, d.startMs);
    }
    std::printf("\n");
    return 0;
}

}  // namespace
}  // namespace tavren::bench

int main(int argc, char** argv) {
    using namespace tavren::bench;
    int runs = 9;
    std::optional<std::filesystem::path> bin;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--runs=")) {
            runs = std::atoi(std::string(arg.substr(7)).c_str());
        } else if (arg.starts_with("--bin=")) {
            bin = std::filesystem::path(arg.substr(6));
        } else {
            runs = 0;
        }
    }
    if (runs < 1) {
        std::fprintf(stderr, "usage: %s [--runs=N] [--bin=DIR]\n", argv[0]);
        return 2;
    }
    CatchInterrupts();
    try {
        // build/bench/bench_start beside build/tavren3 and build/tavren3-headless
        if (!bin) bin = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
        return Run(runs, std::filesystem::absolute(*bin));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_start: %s\n", e.what());
        return 1;
    }
}
