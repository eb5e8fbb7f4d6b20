// How the watch engine fares next to the least a folder watcher has to do.
// Each part measures the engine and a reference in the same run and prints
// the figures with a ratio or a verdict:
//
//   1 latency  from creating a file to the entry's program starting, with the
//              real `tavren3 --headless`, against an inotifywait loop that
//              starts the same program; median at most 1.2x the loop's.
//   2 rescan   engine::RescanEntry on a 100,000-file folder in which nothing
//              changed, against a bare readdir + fstatat listing of it;
//              median at most 1.5x the listing's.
//   3 idle     tavren3 --headless with 200 running entries left alone: CPU
//              time, wake-ups (context switches of all its threads) and
//              memory over the window; no wake-up at all is the goal.
//   4 burst    10,000 files created at once in a watched folder whose entry
//              moves them away: every file must arrive exactly once; files
//              per second from the first creation to the last move.
//
// Usage: bench_engine [--quick] [--parts=1,2,3,4] [--tavren3=PATH]
//   --quick     smaller sizes and a 10-second idle window, for a quick look.
//   --tavren3   the program to run; by default the tavren3 of the build
//               folder this benchmark was built in.
//
// The latency programs are this benchmark itself: a script whose
// interpreter line names it with --stamp-into=FILE, so that it appends the
// time it started at (CLOCK_REALTIME, ns) to FILE and ends.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common.h"
#include "engine/rescan.h"
#include "engine/services.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/file_mover.h"
#include "platform/process.h"
#include "platform/sound.h"
#include "platform/wake_event.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/watch_entry.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace store = tavren::store;
namespace engine = tavren::engine;
namespace platform = tavren::platform;
using tavren::bench::Median;
using tavren::bench::ScratchFolder;
using tavren::bench::TimeMs;
using namespace std::chrono_literals;

constexpr double kLatencyTarget = 1.2;
constexpr double kRescanTarget = 1.5;

// --- small helpers ---------------------------------------------------------

std::vector<pid_t> g_children;    // process groups to end on the way out
fs::path g_scratch;               // removed on the way out

void EndChildren() {
    for (pid_t pid : g_children) ::kill(-pid, SIGKILL);
    for (pid_t pid : g_children) ::waitpid(pid, nullptr, 0);
    g_children.clear();
}

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "bench_engine: %s\n", what.c_str());
    EndChildren();
    if (!g_scratch.empty()) {
        std::error_code ec;
        fs::remove_all(g_scratch, ec);
    }
    std::exit(1);
}

std::int64_t RealNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Nearest-rank percentile, p in (0, 100].
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    std::size_t rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    rank = std::clamp<std::size_t>(rank, 1, v.size());
    return v[rank - 1];
}

const char* Verdict(bool met) { return met ? "MET" : "MISSED"; }

void MakeFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) Die("cannot create " + folder.string() + ": " + ec.message());
}

void CreateFile(const fs::path& file, std::string_view content = {}) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) Die("cannot create " + file.string() + ": " + std::strerror(errno));
    if (!content.empty() && ::write(fd, content.data(), content.size()) < 0) Die("write failed");
    ::close(fd);
}

void WriteText(const fs::path& file, const std::string& text, mode_t mode) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        Die("cannot write " + file.string());
    }
    ::fchmod(fd, mode);
    ::close(fd);
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Names in a folder, "." and ".." left out.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
        names.emplace_back(n);
    }
    ::closedir(dir);
    return names;
}

// --- child processes ---------------------------------------------------------

// A program run in a process group of its own, with its output in files.
class Child {
public:
    Child(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err) {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attr;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attr);
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::posix_spawnattr_setpgroup(&attr, 0);
        ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int rc = ::posix_spawnp(&pid_, args[0], &actions, &attr, args.data(), environ);
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attr);
        if (rc != 0) Die("cannot start " + argv[0] + ": " + std::strerror(rc));
        g_children.push_back(pid_);
        err_ = err;
    }
    ~Child() { Stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Waits until the error output holds `text`; false at the deadline or
    // when the child ended.
    bool WaitForError(std::string_view text, std::chrono::milliseconds limit) const {
        const double deadline = SteadySeconds() + std::chrono::duration<double>(limit).count();
        while (SteadySeconds() < deadline) {
            if (ReadText(err_).find(text) != std::string::npos) return true;
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // SIGTERM to the group, SIGKILL after a grace time; returns the exit
    // status of the leader (-1 when it had to be killed).
    int Stop() {
        if (pid_ <= 0) return -1;
        ::kill(-pid_, SIGTERM);
        int status = 0;
        int result = -1;
        for (int i = 0; i < 500; ++i) {
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (r < 0) break;
            std::this_thread::sleep_for(10ms);
        }
        if (result < 0 && ::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        ::kill(-pid_, SIGKILL);  // whatever of the group is left
        std::erase(g_children, pid_);
        pid_ = -1;
        return result;
    }

private:
    pid_t pid_ = -1;
    fs::path err_;
};

// tavren3 --headless on its own data folder, started and watching.
class Headless {
public:
    Headless(const fs::path& tavren3, const fs::path& dataDir, int expectedEntries)
        : child_({tavren3.string(), "--headless", "--data-dir", dataDir.string()},
                 dataDir / "stdout.txt", dataDir / "stderr.txt"),
          dataDir_(dataDir) {
        const std::string started = std::to_string(expectedEntries) + " 件の監視を開始しました";
        if (!child_.WaitForError(started, 60s)) {
            Die("tavren3 did not report " + started + "; its error output:\n" +
                ReadText(dataDir / "stderr.txt"));
        }
    }
    pid_t pid() const { return child_.pid(); }
    std::string Output() const { return ReadText(dataDir_ / "stdout.txt"); }
    int Stop() { return child_.Stop(); }

private:
    Child child_;
    fs::path dataDir_;
};

// Writes the settings file of `dataDir` with every entry running.
void WriteSettings(const fs::path& dataDir, const std::vector<store::WatchEntry>& entries) {
    const store::DataFolder data(dataDir);
    if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());
    std::vector<store::SlotImage> slots;
    for (const store::WatchEntry& entry : entries) {
        store::SlotImage image = store::BlankSlotImage();
        if (const store::Status s = store::EncodeSlot({true, entry}, image); !s.ok()) {
            Die(s.message());
        }
        slots.push_back(image);
    }
    if (const store::Status s = store::WriteAllSlots(data.settingsFile(), slots); !s.ok()) {
        Die(s.message());
    }
}

fs::path SelfExe() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) Die("cannot find this program: " + ec.message());
    return self;
}

std::optional<fs::path> FindInPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return std::nullopt;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

// --- 1: latency --------------------------------------------------------------

// Appends the current CLOCK_REALTIME in ns to `file`: the stamp of a
// started program.
int Stamp(const char* file) {
    const std::int64_t now = RealNs();
    char line[32];
    const int n = std::snprintf(line, sizeof line, "%" PRId64 "\n", now);
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return 1;
    const bool ok = ::write(fd, line, static_cast<std::size_t>(n)) == n;
    ::close(fd);
    return ok ? 0 : 1;
}

// Waits for the stamp files of a folder to gain lines.
class StampWatch {
public:
    explicit StampWatch(const fs::path& folder) : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_CLOSE_WRITE) < 0) {
            Die("cannot watch " + folder.string());
        }
    }
    ~StampWatch() { ::close(fd_); }

    // The `count`-th stamp of `file` (1-based), once it is there.
    std::optional<std::int64_t> Wait(const fs::path& file, std::size_t count,
                                     std::chrono::milliseconds limit) {
        const double deadline = SteadySeconds() + std::chrono::duration<double>(limit).count();
        for (;;) {
            std::vector<std::int64_t> stamps;
            std::stringstream in(ReadText(file));
            std::int64_t v = 0;
            while (in >> v) stamps.push_back(v);
            if (stamps.size() >= count) return stamps[count - 1];
            const double left = deadline - SteadySeconds();
            if (left <= 0) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left * 1000) + 1);
            alignas(inotify_event) char buffer[4096];
            while (::read(fd_, buffer, sizeof buffer) > 0) {
            }
        }
    }

private:
    int fd_;
};

struct LatencyFigures {
    std::vector<double> tavren, loop, direct;  // ms
    int tavrenMissed = 0, loopMissed = 0, directMissed = 0;
};

void PartLatency(const fs::path& root, const fs::path& tavren3, bool quick) {
    const int entries = quick ? 10 : 20;
    const int rounds = quick ? 1 : 3;
    std::printf("1. Latency from creating a file to the entry's program starting\n");

    const auto inotifywait = FindInPath("inotifywait");
    if (!inotifywait) {
        std::printf("   skipped: inotifywait is missing (scripts/install-deps.sh installs it)\n\n");
        return;
    }

    const fs::path base = root / "latency";
    const fs::path bin = base / "bin";
    const fs::path stamps = base / "stamps";
    const fs::path watched = base / "watched";
    const fs::path loopFolder = base / "loop-watched";
    for (const fs::path& f : {bin, stamps, watched, loopFolder}) MakeFolder(f);

    // The interpreter line must be short; a link to this program keeps it so.
    const fs::path stampTool = bin / "stamp";
    fs::create_symlink(SelfExe(), stampTool);
    auto makeProgram = [&](const std::string& name) {
        const fs::path program = bin / name;
        WriteText(program,
                  "#!" + stampTool.string() + " --stamp-into=" + (stamps / name).string() + "\n",
                  0755);
        return program;
    };

    // One entry and folder per sample slot, so that the 3-second debounce
    // of one entry never holds back another's sample.
    std::vector<store::WatchEntry> table;
    std::vector<fs::path> folders, outputs;
    for (int i = 0; i < entries; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%02d", i);
        store::WatchEntry e;
        e.title = std::string("latency ") + name;
        e.folder = (watched / name).string();
        e.timing = 1;  // file names: a creation wakes the entry
        e.program = makeProgram(name).string();
        MakeFolder(e.folder);
        folders.push_back(e.folder);
        outputs.push_back(stamps / name);
        table.push_back(e);
    }
    const fs::path loopProgram = makeProgram("loop");
    const fs::path loopOutput = stamps / "loop";
    const fs::path directProgram = makeProgram("direct");
    const fs::path directOutput = stamps / "direct";

    const fs::path dataDir = base / "data";
    WriteSettings(dataDir, table);
    Headless tavren(tavren3, dataDir, entries);
    Child loop({"bash", "-c",
                "\"$1\" -m -e create --format %f \"$2\" | while read f; do \"$3\"; done", "bash",
                inotifywait->string(), loopFolder.string(), loopProgram.string()},
               base / "loop-out.txt", base / "loop-err.txt");
    if (!loop.WaitForError("Watches established", 30s)) Die("inotifywait did not start");
    std::this_thread::sleep_for(500ms);

    StampWatch watch(stamps);
    LatencyFigures fig;
    std::vector<double> lastUse(static_cast<std::size_t>(entries), -1e9);
    std::size_t loopCount = 0;
    int sample = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < entries; ++i, ++sample) {
            // Stay clear of the entry's debounce: 3 s in whole seconds.
            const double wait = lastUse[static_cast<std::size_t>(i)] + 3.5 - SteadySeconds();
            if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));

            auto tavrenSample = [&] {
                const std::string file = "new-" + std::to_string(r) + ".txt";
                const std::int64_t t0 = RealNs();
                CreateFile(folders[static_cast<std::size_t>(i)] / file);
                lastUse[static_cast<std::size_t>(i)] = SteadySeconds();
                auto stamp = watch.Wait(outputs[static_cast<std::size_t>(i)],
                                        static_cast<std::size_t>(r) + 1, 5s);
                if (stamp) {
                    fig.tavren.push_back(static_cast<double>(*stamp - t0) / 1e6);
                } else {
                    ++fig.tavrenMissed;
                }
            };
            auto loopSample = [&] {
                const std::string file = "new-" + std::to_string(sample) + ".txt";
                const std::int64_t t0 = RealNs();
                CreateFile(loopFolder / file);
                auto stamp = watch.Wait(loopOutput, loopCount + 1, 5s);
                if (stamp) {
                    fig.loop.push_back(static_cast<double>(*stamp - t0) / 1e6);
                    ++loopCount;
                } else {
                    ++fig.loopMissed;
                    // A late stamp would shift the count; take it if it comes.
                    if (watch.Wait(loopOutput, loopCount + 1, 5s)) ++loopCount;
                }
            };
            // The floor: the program started straight from here, so that
            // its own start-up can be told apart from the watchers' share.
            auto directSample = [&] {
                char* args[] = {const_cast<char*>(directProgram.c_str()), nullptr};
                pid_t pid = 0;
                const std::int64_t t0 = RealNs();
                if (::posix_spawn(&pid, directProgram.c_str(), nullptr, nullptr, args, environ) != 0) {
                    Die("cannot start " + directProgram.string());
                }
                auto stamp = watch.Wait(directOutput, fig.direct.size() + 1, 5s);
                ::waitpid(pid, nullptr, 0);
                if (stamp) {
                    fig.direct.push_back(static_cast<double>(*stamp - t0) / 1e6);
                } else {
                    ++fig.directMissed;
                }
            };
            // Alternate which watcher goes first; a pause lets each settle.
            if (sample % 2 == 0) {
                tavrenSample();
                std::this_thread::sleep_for(150ms);
                loopSample();
            } else {
                loopSample();
                std::this_thread::sleep_for(150ms);
                tavrenSample();
            }
            std::this_thread::sleep_for(150ms);
            if (fig.directMissed == 0) {
                directSample();
                std::this_thread::sleep_for(50ms);
            }
        }
    }
    tavren.Stop();
    loop.Stop();

    auto row = [](const char* what, const std::vector<double>& v, int missed) {
        std::printf("   %-22s %8.2f %8.2f %8.2f %8.2f %7zu %7d\n", what, Median(v),
                    Percentile(v, 90), v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()),
                    v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()), v.size(), missed);
    };
    std::printf("   %d entries, %d round(s), samples interleaved with the reference\n", entries,
                rounds);
    std::printf("   %-22s %8s %8s %8s %8s %7s %7s\n", "", "median", "p90", "min", "max", "samples",
                "missed");
    row("tavren3 --headless ms", fig.tavren, fig.tavrenMissed);
    row("inotifywait loop ms", fig.loop, fig.loopMissed);
    row("started directly ms", fig.direct, fig.directMissed);
    const double floor = Median(fig.direct);
    std::printf("   above a direct start (medians): tavren3 %.2f ms, inotifywait loop %.2f ms\n",
                Median(fig.tavren) - floor, Median(fig.loop) - floor);
    const double ratio = Median(fig.tavren) / Median(fig.loop);
    std::printf("   ratio of medians %.2fx (p90 %.2fx); target at most %.1fx: %s\n\n", ratio,
                Percentile(fig.tavren, 90) / Percentile(fig.loop, 90), kLatencyTarget,
                Verdict(fig.tavrenMissed == 0 && !fig.tavren.empty() && ratio <= kLatencyTarget));
}

// --- 2: rescan of an unchanged folder ----------------------------------------

// Real time, but every reading 10 seconds on: the debounce never holds.
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

class NoChanges final : public platform::ChangeWatcher {
public:
    std::unique_ptr<platform::ChangeSubscription> Watch(const fs::path&, platform::ChangeKind,
                                                        std::error_code& ec) override {
        ec = std::make_error_code(std::errc::function_not_supported);
        return nullptr;
    }
};

class CountingSink final : public engine::MessageSink {
public:
    void ShowMessage(std::string_view, const platform::WakeEvent&) override { ++count; }
    std::atomic<int> count{0};
};

// Names as a document folder has them: mostly ASCII, some Japanese.
std::string MakeName(std::size_t i) {
    char buffer[96];
    const unsigned n = static_cast<unsigned>(i);
    switch (i % 6) {
        case 0: std::snprintf(buffer, sizeof buffer, "報告書_%06u.txt", n); break;
        case 1: std::snprintf(buffer, sizeof buffer, "IMG_%06u.jpg", n); break;
        case 2: std::snprintf(buffer, sizeof buffer, "report-2026-12-%06u.pdf", n); break;
        case 3: std::snprintf(buffer, sizeof buffer, "議事録 %06u.docx", n); break;
        case 4: std::snprintf(buffer, sizeof buffer, "Invoice %06u (final).xlsx", n); break;
        default: std::snprintf(buffer, sizeof buffer, "scan%06u.tif", n); break;
    }
    return buffer;
}

volatile std::uint64_t g_sink = 0;

// The reference: the least work that gives name, size and time of every entry.
std::size_t BareListing(const fs::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) Die("cannot list " + folder.string());
    const int dfd = ::dirfd(dir);
    std::size_t count = 0;
    std::uint64_t sum = 0;
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        struct stat st {};
        if (::fstatat(dfd, name, &st, 0) != 0) continue;
        sum += static_cast<std::uint64_t>(st.st_size) + static_cast<std::uint64_t>(st.st_mtim.tv_sec);
        ++count;
    }
    ::closedir(dir);
    g_sink = g_sink + sum;
    return count;
}

void PartRescan(const fs::path& root, bool quick) {
    const std::size_t files = quick ? 10000 : 100000;
    const int repetitions = quick ? 5 : 9;
    std::printf("2. Rescan of an unchanged %zu-file folder against a bare listing\n", files);

    const fs::path folder = root / "rescan" / "watched";
    MakeFolder(folder);
    for (std::size_t i = 0; i < files; ++i) {
        const fs::path file = folder / MakeName(i);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) Die("cannot create " + file.string());
        // Sparse sizes: varied, yet no disk space.
        if (::ftruncate(fd, static_cast<off_t>((i * 7919) % 300000)) != 0) Die("ftruncate failed");
        ::close(fd);
    }
    const store::DataFolder data(root / "rescan" / "data");
    if (const store::Status s = data.Prepare(); !s.ok()) Die(s.message());

    store::WatchEntry entry;
    entry.folder = folder.string();
    entry.timing = 1;  // names: the deletion phase is looked at too
    if (const store::Status s = store::WriteSnapshot(data, 0, entry); !s.ok()) Die(s.message());

    AdvancingClock clock;
    NoChanges changes;
    auto launcher = platform::MakeProcessLauncher();
    auto mover = platform::MakeFileMover();
    auto sound = platform::MakeSoundPlayer();
    CountingSink sink;
    const engine::Services services{clock, changes, *launcher, *mover, *sound, sink};
    std::atomic<std::uint32_t> lastEventTime{0};
    platform::WakeEvent cancel;
    engine::RescanContext context{0, entry, data, services, lastEventTime, cancel};

    struct stat before {};
    ::stat(data.snapshotFile(0).c_str(), &before);
    auto rescan = [&] {
        if (engine::RescanEntry(context) != engine::RescanResult::Completed) {
            Die("the rescan did not run to its end");
        }
    };
    for (int i = 0; i < 2; ++i) {  // warm the caches
        if (BareListing(folder) != files) Die("bare listing missed files");
        rescan();
    }

    std::vector<double> listing, rescans, read, list, plan;
    for (int rep = 0; rep < repetitions; ++rep) {
        auto timeListing = [&] { listing.push_back(TimeMs([&] { BareListing(folder); })); };
        auto timeRescan = [&] { rescans.push_back(TimeMs(rescan)); };
        if (rep % 2 == 0) {
            timeListing();
            timeRescan();
        } else {
            timeRescan();
            timeListing();
        }
        // Where a rescan's time goes, each step on its own.
        store::SnapshotList snapshot;
        read.push_back(TimeMs([&] { snapshot = store::ReadSnapshot(data, 0); }));
        std::vector<store::FoundFile> found;
        list.push_back(TimeMs([&] { store::ListTargetFiles(entry, found); }));
        engine::RescanPlan p;
        plan.push_back(TimeMs([&] { p = engine::PlanRescan(snapshot, found, entry); }));
        if (!p.unchanged || !p.targets.empty() || found.size() != files) {
            Die("the folder does not look unchanged to the rescan");
        }
    }

    struct stat after {};
    ::stat(data.snapshotFile(0).c_str(), &after);
    const bool untouched = before.st_ino == after.st_ino && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
                           before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;

    const double ratio = Median(rescans) / Median(listing);
    std::printf("   medians of %d interleaved runs\n", repetitions);
    std::printf("   bare listing (readdir + fstatat)   %9.2f ms\n", Median(listing));
    std::printf("   RescanEntry, nothing changed       %9.2f ms\n", Median(rescans));
    std::printf("     of which, each timed on its own:\n");
    std::printf("       ReadSnapshot                   %9.2f ms\n", Median(read));
    std::printf("       ListTargetFiles                %9.2f ms\n", Median(list));
    std::printf("       PlanRescan                     %9.2f ms\n", Median(plan));
    std::printf("   messages %d, snapshot rewritten: %s\n", sink.count.load(),
                untouched ? "no" : "YES (it should not be)");
    std::printf("   ratio %.2fx; target at most %.1fx: %s\n\n", ratio, kRescanTarget,
                Verdict(ratio <= kRescanTarget && untouched && sink.count.load() == 0));

    std::error_code ec;
    fs::remove_all(root / "rescan", ec);
}

// --- 3: idle -------------------------------------------------------------------

struct ProcessSample {
    double cpuSeconds = 0;
    std::map<std::string, long> switchesByThread;  // "tid comm" -> switches
    long switches = 0;
    long rssKb = 0, hwmKb = 0;
    int threads = 0;
};

long StatusField(const std::string& status, std::string_view key) {
    const std::size_t at = status.find(key);
    if (at == std::string::npos) return 0;
    return std::strtol(status.c_str() + at + key.size(), nullptr, 10);
}

ProcessSample SampleProcess(pid_t pid) {
    ProcessSample s;
    const fs::path proc = "/proc/" + std::to_string(pid);
    const std::string stat = ReadText(proc / "stat");
    const std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos) Die("cannot read " + (proc / "stat").string());
    // Fields after the command: state is field 3, utime 14, stime 15.
    std::stringstream fields(stat.substr(paren + 2));
    std::vector<std::string> f;
    std::string word;
    while (fields >> word) f.push_back(word);
    if (f.size() < 13) Die("short " + (proc / "stat").string());
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    s.cpuSeconds = (std::stod(f[11]) + std::stod(f[12])) / tick;

    const std::string status = ReadText(proc / "status");
    s.rssKb = StatusField(status, "VmRSS:");
    s.hwmKb = StatusField(status, "VmHWM:");
    s.threads = static_cast<int>(StatusField(status, "Threads:"));

    std::error_code ec;
    for (const auto& task : fs::directory_iterator(proc / "task", ec)) {
        const std::string ts = ReadText(task.path() / "status");
        if (ts.empty()) continue;
        std::string comm = ReadText(task.path() / "comm");
        if (!comm.empty() && comm.back() == '\n') comm.pop_back();
        const long n = StatusField(ts, "\nvoluntary_ctxt_switches:") +
                       StatusField(ts, "nonvoluntary_ctxt_switches:");
        s.switchesByThread[task.path().filename().string() + " " + comm] = n;
        s.switches += n;
    }
    return s;
}

void PartIdle(const fs::path& root, const fs::path& tavren3, bool quick) {
    constexpr int kEntries = 200;
    const int seconds = quick ? 10 : 60;
    std::printf("3. %d running entries left idle for %d s\n", kEntries, seconds);

    const fs::path base = root / "idle";
    std::vector<store::WatchEntry> table;
    std::vector<std::string> folders;
    for (int i = 0; i < kEntries; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e%03d", i);
        store::WatchEntry e;
        e.title = std::string("idle ") + name;
        e.folder = (base / "watched" / name).string();
        e.timing = static_cast<std::int16_t>(i % 2);  // both kinds of change
        MakeFolder(e.folder);
        for (const char* file : {"a.txt", "b.txt", "c.txt"}) CreateFile(fs::path(e.folder) / file, "x");
        folders.push_back(e.folder);
        table.push_back(e);
    }
    WriteSettings(base / "data", table);
    Headless tavren(tavren3, base / "data", kEntries);

    // For scale: inotifywait watching the same folders, idle beside it.
    std::optional<Child> reference;
    if (auto inotifywait = FindInPath("inotifywait")) {
        std::vector<std::string> argv{inotifywait->string(), "-m", "-e", "create,delete,move,modify,attrib,close_write"};
        argv.insert(argv.end(), folders.begin(), folders.end());
        reference.emplace(argv, base / "ref-out.txt", base / "ref-err.txt");
        if (!reference->WaitForError("Watches established", 30s)) Die("inotifywait did not start");
    }
    std::this_thread::sleep_for(1s);  // let start-up settle

    const ProcessSample t0 = SampleProcess(tavren.pid());
    const std::optional<ProcessSample> r0 =
        reference ? std::optional(SampleProcess(reference->pid())) : std::nullopt;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const ProcessSample t1 = SampleProcess(tavren.pid());
    const std::optional<ProcessSample> r1 =
        reference ? std::optional(SampleProcess(reference->pid())) : std::nullopt;

    const long wakeups = t1.switches - t0.switches;
    std::printf("   %-22s %9s %9s %9s %9s %8s\n", "", "CPU ms", "wake-ups", "VmRSS kB", "VmHWM kB",
                "threads");
    std::printf("   %-22s %9.0f %9ld %9ld %9ld %8d\n", "tavren3 --headless",
                (t1.cpuSeconds - t0.cpuSeconds) * 1000, wakeups, t1.rssKb, t1.hwmKb, t1.threads);
    if (r0 && r1) {
        std::printf("   %-22s %9.0f %9ld %9ld %9ld %8d\n", "inotifywait (same dirs)",
                    (r1->cpuSeconds - r0->cpuSeconds) * 1000, r1->switches - r0->switches,
                    r1->rssKb, r1->hwmKb, r1->threads);
        std::printf("   memory: VmRSS %.1fx inotifywait's, %.1f kB per entry above it\n",
                    static_cast<double>(t1.rssKb) / static_cast<double>(r1->rssKb),
                    static_cast<double>(t1.rssKb - r1->rssKb) / kEntries);
    }
    for (const auto& [thread, n] : t1.switchesByThread) {
        const auto it = t0.switchesByThread.find(thread);
        const long d = n - (it == t0.switchesByThread.end() ? 0 : it->second);
        if (d != 0) std::printf("   woke: thread %s, %ld times\n", thread.c_str(), d);
    }
    std::printf("   %.2f wake-ups per second; target none at all: %s\n\n",
                static_cast<double>(wakeups) / seconds, Verdict(wakeups == 0));
    tavren.Stop();
    if (reference) reference->Stop();
}

// --- 4: burst ------------------------------------------------------------------

void PartBurst(const fs::path& root, const fs::path& tavren3, bool quick) {
    const std::size_t files = quick ? 2000 : 10000;
    std::printf("4. A burst of %zu new files in a folder whose entry moves them away\n", files);

    const fs::path base = root / "burst";
    const fs::path source = base / "in";
    const fs::path destination = base / "out";
    MakeFolder(source);
    MakeFolder(destination);
    store::WatchEntry e;
    e.title = "burst";
    e.folder = source.string();
    e.timing = 1;
    e.afterMode = 2;  // move
    e.moveTo = destination.string();
    WriteSettings(base / "data", {e});
    Headless tavren(tavren3, base / "data", 1);

    const int inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify < 0 || ::inotify_add_watch(inotify, destination.c_str(), IN_MOVED_TO | IN_CREATE) < 0) {
        Die("cannot watch " + destination.string());
    }

    std::vector<std::string> names;
    for (std::size_t i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "burst-%05zu.dat", i);
        names.emplace_back(name);
    }
    const double start = SteadySeconds();
    for (const std::string& name : names) CreateFile(source / name, "0123456789abcdef");
    const double created = SteadySeconds();

    // Count arrivals by the destination's events; list it when the queue
    // overflowed or the count is reached.
    std::size_t arrived = 0;
    double last = created;
    bool overflow = false;
    const double deadline = start + 120;
    while (SteadySeconds() < deadline) {
        pollfd p{inotify, POLLIN, 0};
        ::poll(&p, 1, overflow ? 100 : 1000);
        alignas(inotify_event) char buffer[64 * 1024];
        ssize_t n;
        while ((n = ::read(inotify, buffer, sizeof buffer)) > 0) {
            const double now = SteadySeconds();
            for (ssize_t off = 0; off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->mask & IN_Q_OVERFLOW) overflow = true;
                if (ev->mask & IN_MOVED_TO) {
                    ++arrived;
                    last = now;
                }
            }
        }
        if (overflow) {
            const std::size_t there = Names(destination).size();
            if (there != arrived) last = SteadySeconds();
            arrived = there;
        }
        if (arrived >= files) break;
    }
    ::close(inotify);
    std::this_thread::sleep_for(500ms);  // anything late would show now

    const std::vector<std::string> left = Names(source);
    const std::vector<std::string> there = Names(destination);
    const std::set<std::string> expected(names.begin(), names.end());
    const std::set<std::string> got(there.begin(), there.end());
    std::size_t missing = 0, extra = 0;
    for (const std::string& n : expected) missing += got.count(n) == 0 ? 1 : 0;
    for (const std::string& n : got) extra += expected.count(n) == 0 ? 1 : 0;
    const std::string output = tavren.Output();
    tavren.Stop();

    // The reference: the same files created and renamed in one process.
    const fs::path refIn = base / "ref-in";
    const fs::path refOut = base / "ref-out";
    MakeFolder(refIn);
    MakeFolder(refOut);
    const double refMs = TimeMs([&] {
        for (const std::string& name : names) CreateFile(refIn / name, "0123456789abcdef");
        for (const std::string& name : names) {
            if (::renameat2(AT_FDCWD, (refIn / name).c_str(), AT_FDCWD, (refOut / name).c_str(),
                            RENAME_NOREPLACE) != 0) {
                Die("rename failed");
            }
        }
    });

    const bool exact = left.empty() && missing == 0 && extra == 0 && there.size() == files;
    const double span = last - start;
    const double rate = static_cast<double>(files) / span;
    const double refRate = static_cast<double>(files) / (refMs / 1000);
    std::printf("   created in %.2f s; last move %.2f s after the first creation, %.2f s after "
                "the last%s\n",
                created - start, span, last - created, overflow ? " (event queue overflowed)" : "");
    std::printf("   moved: %zu; left behind: %zu; missing: %zu; unexpected names: %zu; "
                "messages printed: %zu\n",
                there.size(), left.size(), missing, extra,
                static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n')));
    std::printf("   tavren3 %.0f files/s; create + rename in one process %.0f files/s (%.3fx)\n",
                rate, refRate, rate / refRate);
    std::printf("   every file moved exactly once: %s\n\n", exact ? "MET" : "MISSED");

    std::error_code ec;
    fs::remove_all(base, ec);
}

fs::path FindTavren3(const std::optional<fs::path>& given) {
    if (given) return *given;
    const fs::path self = SelfExe();
    for (const fs::path& candidate :
         {self.parent_path().parent_path() / "tavren3", self.parent_path() / "tavren3"}) {
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    Die("tavren3 not found next to this program; pass --tavren3=PATH");
}

}  // namespace

int main(int argc, char** argv) {
    // A started latency program: stamp and end, before anything else.
    if (argc >= 2 && std::strncmp(argv[1], "--stamp-into=", 13) == 0) return Stamp(argv[1] + 13);

    bool quick = false;
    std::string parts = "1234";
    std::optional<fs::path> tavren3;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--quick") {
            quick = true;
        } else if (arg.starts_with("--parts=")) {
            parts = std::string(arg.substr(8));
        } else if (arg.starts_with("--tavren3=")) {
            tavren3 = fs::absolute(fs::path(std::string(arg.substr(10))));
        } else {
            std::fprintf(stderr, "usage: %s [--quick] [--parts=1,2,3,4] [--tavren3=PATH]\n",
                         argv[0]);
            return 2;
        }
    }
    auto wanted = [&](char part) { return parts.find(part) != std::string::npos; };
    const bool needsProgram = wanted('1') || wanted('3') || wanted('4');
    const fs::path program = needsProgram ? FindTavren3(tavren3) : fs::path();
    ::signal(SIGPIPE, SIG_IGN);

    ScratchFolder scratch("tavren-bench-engine");
    g_scratch = scratch.path();
    std::printf("Watch engine against the least a folder watcher has to do%s\n\n",
                quick ? " (quick run: smaller sizes)" : "");
    if (wanted('1')) PartLatency(scratch.path(), program, quick);
    if (wanted('2')) PartRescan(scratch.path(), quick);
    if (wanted('3')) PartIdle(scratch.path(), program, quick);
    if (wanted('4')) PartBurst(scratch.path(), program, quick);
    EndChildren();
    return 0;
}
