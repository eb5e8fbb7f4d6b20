#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/command_line.h"
#include "platform/posix/unique_fd.h"
#include "platform/process.h"
#include "platform/wake_event.h"

namespace tavren::platform {
namespace {

using posix::UniqueFd;

// Without pidfds (kernels before 5.3, or a sandbox that forbids them) a
// child can only be polled for; this is how often.
constexpr int kNoPidFdPollMs = 200;

UniqueFd OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    // The pid cannot be reused before we reap it, so this never names a
    // stranger, even when the child has already exited.
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
#else
    (void)pid;
    return UniqueFd();
#endif
}

// Reaps `pid` if it has ended; true when it is gone. Its wait status goes
// to `status` when given (left as it was after ECHILD).
bool TryReap(pid_t pid, int options, int* status = nullptr) {
    for (;;) {
        int got = 0;
        const pid_t r = ::waitpid(pid, &got, options);
        if (r == pid) {
            if (status) *status = got;
            return true;
        }
        if (r == 0) return false;
        if (errno == EINTR) continue;
        return true;  // ECHILD: nothing left to wait for
    }
}

class SpawnAttributes {
public:
    SpawnAttributes() {
        ::posix_spawnattr_init(&attr_);
        ::posix_spawn_file_actions_init(&actions_);

        // Worker threads block the control signals and the program may
        // ignore SIGPIPE; a started program must see neither.
        sigset_t none;
        sigemptyset(&none);
        ::posix_spawnattr_setsigmask(&attr_, &none);
        sigset_t defaults;
        sigemptyset(&defaults);
        // SIGIO is ignored for the file leases (posix/lease.h).
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD, SIGIO}) {
            sigaddset(&defaults, sig);
        }
        ::posix_spawnattr_setsigdefault(&attr_, &defaults);
        ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        // The headless watcher's standard output carries its messages, one
        // line each; what a program prints must not mix into them.
        if (::fcntl(STDERR_FILENO, F_GETFD) != -1) {
            ::posix_spawn_file_actions_adddup2(&actions_, STDERR_FILENO, STDOUT_FILENO);
        } else {
            ::posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // Descriptors opened elsewhere without O_CLOEXEC (GUI and sound
        // libraries) must not leak into the programs we start.
        ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
#endif
    }
    ~SpawnAttributes() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attr_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    // Starts `program` with `args` as its argv; returns 0 or the errno of
    // the failure. glibc and musl wait until the exec has happened and report
    // its failure here, so a missing or unrunnable program is caught now.
    // `env` holds "NAME=value" texts; null for our own environment.
    int Spawn(const std::string& program, bool searchPath, const std::vector<std::string>& args,
              pid_t& pid, const std::vector<std::string>* env = nullptr) const {
        std::vector<char*> argv = Pointers(args);
        std::vector<char*> envp;
        if (env) envp = Pointers(*env);
        char* const* envArg = env ? envp.data() : environ;
        return searchPath
                   ? ::posix_spawnp(&pid, program.c_str(), &actions_, &attr_, argv.data(), envArg)
                   : ::posix_spawn(&pid, program.c_str(), &actions_, &attr_, argv.data(), envArg);
    }

private:
    static std::vector<char*> Pointers(const std::vector<std::string>& texts) {
        std::vector<char*> p;
        p.reserve(texts.size() + 1);
        for (const std::string& t : texts) p.push_back(const_cast<char*>(t.c_str()));
        p.push_back(nullptr);
        return p;
    }

    posix_spawnattr_t attr_;
    posix_spawn_file_actions_t actions_;
};

// Reaps the children nobody waits for, on a thread of its own that sleeps
// on their pidfds and on an eventfd that announces new children or the end.
class Reaper {
public:
    Reaper() {
        // The thread must never take the signals that the program receives
        // synchronously on its main thread.
        sigset_t all;
        sigset_t old;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &old);
        thread_ = std::thread([this] { Run(); });
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }

    ~Reaper() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        Wake();
        thread_.join();
        // Whatever has ended by now is reaped; the rest is left to run.
        std::erase_if(children_, [](const Child& c) { return TryReap(c.pid, WNOHANG); });
    }

    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

    void Adopt(pid_t pid, UniqueFd pidfd) {
        {
            std::lock_guard lock(mutex_);
            children_.push_back({pid, std::move(pidfd)});
        }
        Wake();
    }

private:
    struct Child {
        pid_t pid;
        UniqueFd pidfd;
    };

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_.get(), &one, sizeof one);
    }

    void Run() {
        std::vector<pollfd> fds;
        for (;;) {
            bool someWithoutPidFd = false;
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
                std::erase_if(children_, [](const Child& c) { return TryReap(c.pid, WNOHANG); });
                fds.assign(1, pollfd{wake_.get(), POLLIN, 0});
                for (const Child& c : children_) {
                    if (c.pidfd) {
                        fds.push_back(pollfd{c.pidfd.get(), POLLIN, 0});
                    } else {
                        someWithoutPidFd = true;
                    }
                }
            }
            // The descriptors stay open meanwhile: only this thread removes
            // children.
            ::poll(fds.data(), fds.size(), someWithoutPidFd ? kNoPidFdPollMs : -1);
            if (fds[0].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] ssize_t n = ::read(wake_.get(), &count, sizeof count);
            }
        }
    }

    std::mutex mutex_;
    std::vector<Child> children_;
    bool stopping_ = false;
    UniqueFd wake_{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::thread thread_;
};

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A name without '/' is a program to look up in PATH.
bool IsBare(const std::string& name) {
    return name.find('/') == std::string::npos;
}

// An existing regular file that we may not run: a document stored in place
// of a program.
bool IsDocument(const std::string& path) {
    return IsRegularFile(path) && ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) != 0;
}

std::string Trimmed(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return std::string(line.substr(first, line.find_last_not_of(" \t") - first + 1));
}

// The line's words, its placeholders replaced where it has valid ones.
std::vector<std::string> ProgramWords(std::string_view line, const LaunchContext& context) {
    if (!context.values) return SplitProgramLine(line, IsRegularFile);
    return SplitProgramLine(line, IsRegularFile, *context.values);
}

// Our environment with `context`'s variables set over it; nullopt when it
// adds none.
std::optional<std::vector<std::string>> ChildEnvironment(const LaunchContext& context) {
    if (context.environment.empty()) return std::nullopt;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        const std::string_view name = entry.substr(0, entry.find('='));
        const bool replaced = std::ranges::any_of(context.environment,
                                                  [&](const auto& v) { return v.first == name; });
        if (!replaced) env.emplace_back(entry);
    }
    for (const auto& [name, value] : context.environment) env.push_back(name + '=' + value);
    return env;
}

class PosixProcessLauncher final : public ProcessLauncher {
public:
    bool RunAndWait(std::string_view commandLine, const WakeEvent& stop,
                    const LaunchContext& context) override {
        const std::vector<std::string> words = ProgramWords(commandLine, context);
        if (words.empty() || words[0].empty()) return false;
        const auto env = ChildEnvironment(context);
        pid_t pid = 0;
        if (spawn_.Spawn(words[0], IsBare(words[0]), words, pid, env ? &*env : nullptr) != 0)
            return false;
        const auto started = std::chrono::steady_clock::now();
        if (context.run) context.run->pid = pid;
        UniqueFd pidfd = OpenPidFd(pid);
        int status = 0;
        if (!WaitForExit(pid, pidfd, stop, status)) {
            reaper_.Adopt(pid, std::move(pidfd));
        } else if (ProcessRun* run = context.run) {
            run->ended = true;
            run->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 0;
            run->signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            run->ran = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
        }
        return true;
    }

    bool StartProgram(std::string_view commandLine, const LaunchContext& context) override {
        // A document named by the whole line, even where a shorter part of
        // it names a file too.
        std::string whole = Trimmed(commandLine);
        if (context.values && ScanPlaceholders(whole) == Placeholders::Valid) {
            whole = ExpandPlaceholders(whole, *context.values);
        }
        if (!IsBare(whole) && IsDocument(whole)) {
            return OpenWithDesktop(whole);
        }
        const std::vector<std::string> words = ProgramWords(commandLine, context);
        if (words.empty() || words[0].empty()) return false;
        const std::string& program = words[0];
        const bool alone = words.size() == 1;
        if (alone && !IsBare(program) && IsDocument(program)) return OpenWithDesktop(program);

        const auto env = ChildEnvironment(context);
        pid_t pid = 0;
        const int error = spawn_.Spawn(program, IsBare(program), words, pid, env ? &*env : nullptr);
        if (error == 0) {
            if (context.run) context.run->pid = pid;
            return Started(pid);
        }
        // Marked executable but not a program (file systems such as FAT mark
        // every file so), on a noexec mount, or a bare name that is no
        // program but a file here: a document after all.
        if (alone &&
            (error == ENOEXEC || error == EACCES || (IsBare(program) && error == ENOENT)) &&
            IsRegularFile(program)) {
            return OpenWithDesktop(program);
        }
        return false;
    }

    OpenResult OpenDocument(const std::filesystem::path& file) override {
        const std::string& name = file.native();
        if (name.empty()) return OpenResult::Failed;
        if (IsExecutableKind(file)) return OpenResult::Refused;
        struct stat st {};
        if (::stat(name.c_str(), &st) != 0) return OpenResult::Failed;
        return OpenWithDesktop(name) ? OpenResult::Opened : OpenResult::Failed;
    }

private:
    // Hands `file` to the desktop's opener, xdg-open, found in PATH.
    bool OpenWithDesktop(const std::string& file) {
        // A name starting with '-' would be read as an option.
        const std::string argument = file.front() == '-' ? "./" + file : file;
        pid_t pid = 0;
        if (spawn_.Spawn("xdg-open", true, {"xdg-open", argument}, pid) != 0) return false;
        return Started(pid);
    }

    bool Started(pid_t pid) {
        reaper_.Adopt(pid, OpenPidFd(pid));
        return true;
    }

    // True when the child ended and was reaped, false when `stop` came first.
    static bool WaitForExit(pid_t pid, const UniqueFd& pidfd, const WakeEvent& stop, int& status) {
        for (;;) {
            pollfd fds[2] = {{stop.NativeHandle(), POLLIN, 0}, {pidfd.get(), POLLIN, 0}};
            const int ready = ::poll(fds, pidfd ? 2 : 1, pidfd ? -1 : kNoPidFdPollMs);
            if (ready < 0 && errno != EINTR) return false;
            if (pidfd && (fds[1].revents & POLLIN)) return TryReap(pid, 0, &status);
            if (!pidfd && TryReap(pid, WNOHANG, &status)) return true;
            if (fds[0].revents & POLLIN) return false;
        }
    }

    SpawnAttributes spawn_;
    Reaper reaper_;
};

}  // namespace

std::unique_ptr<ProcessLauncher> MakeProcessLauncher() {
    return std::make_unique<PosixProcessLauncher>();
}

bool OpenPageAndWait(const std::filesystem::path& page, const WakeEvent& stop) {
    const std::string& name = page.native();
    if (name.empty()) return false;
    const SpawnAttributes spawn;
    pid_t pid = 0;
    const std::string argument = name.front() == '-' ? "./" + name : name;
    if (spawn.Spawn("xdg-open", true, {"xdg-open", argument}, pid) != 0) return false;
    const UniqueFd pidfd = OpenPidFd(pid);
    for (;;) {
        pollfd fds[2] = {{stop.NativeHandle(), POLLIN, 0}, {pidfd.get(), POLLIN, 0}};
        const int ready = ::poll(fds, pidfd ? 2 : 1, pidfd ? -1 : kNoPidFdPollMs);
        if (ready < 0 && errno != EINTR) return false;
        if (fds[0].revents & POLLIN) return false;
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0 && errno != EINTR) return false;
    }
}

bool ProcessRunning(long pid) {
    // EPERM: it runs, as another user.
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

}  // namespace tavren::platform
