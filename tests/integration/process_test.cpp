#include "platform/process.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/wake_event.h"
#include "support/temp_dir.h"

namespace tavren::platform {
namespace {

using namespace std::chrono_literals;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;
namespace fs = std::filesystem;
using Result = ProcessLauncher::OpenResult;

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void WriteScript(const fs::path& file, const std::string& body) {
    WriteBytes(file, "#!/bin/sh\n" + body);
    fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

// A pid the helper scripts wrote with `echo $$`, once it is complete.
std::optional<pid_t> ReadPid(const fs::path& file) {
    const std::string text = ReadBytes(file);
    if (text.empty() || text.back() != '\n') return std::nullopt;
    return static_cast<pid_t>(std::stol(text));
}

// Gone from /proc means ended and reaped; a zombie stays listed.
bool Reaped(pid_t pid) {
    return !fs::exists("/proc/" + std::to_string(pid));
}

bool RunningNotZombie(pid_t pid) {
    const std::string stat = ReadBytes("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// Lets a helper blocked in `read < fifo` go on: it reads end of file.
bool ReleaseFifoReader(const fs::path& fifo) {
    return WaitUntil([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;  // ENXIO until the reader has opened it
        ::close(fd);
        return true;
    });
}

class ScopedPath {
public:
    explicit ScopedPath(const std::string& value) {
        if (const char* old = ::getenv("PATH")) old_ = old;
        ::setenv("PATH", value.c_str(), 1);
    }
    ~ScopedPath() {
        if (old_) {
            ::setenv("PATH", old_->c_str(), 1);
        } else {
            ::unsetenv("PATH");
        }
    }

private:
    std::optional<std::string> old_;
};

class ProcessTest : public ::testing::Test {
protected:
    std::string Quoted(const fs::path& p) const { return "\"" + p.string() + "\""; }

    TempDir dir_;
    WakeEvent stop_;
    std::unique_ptr<ProcessLauncher> launcher_ = MakeProcessLauncher();
};

TEST_F(ProcessTest, RunAndWaitReturnsAfterTheProgramEnds) {
    const fs::path marker = dir_ / "marker";
    EXPECT_TRUE(launcher_->RunAndWait(
        "/bin/sh -c \"sleep 0.3; echo done > \\\"$1\\\"\" sh " + Quoted(marker), stop_));
    EXPECT_EQ(ReadBytes(marker), "done\n");

    // Found in PATH; the exit status is no failure, and is told with the pid.
    struct Case {
        const char* line;
        int exitCode, signal;
    };
    for (const Case& c : {Case{"sh -c \"exit 3\"", 3, 0}, Case{"sh -c \"kill -9 $$\"", 0, 9}}) {
        ProcessRun run;
        LaunchContext told;
        told.run = &run;
        EXPECT_TRUE(launcher_->RunAndWait(c.line, stop_, told));
        EXPECT_GT(run.pid, 0) << c.line;
        EXPECT_TRUE(run.ended) << c.line;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.line;
        EXPECT_EQ(run.signal, c.signal) << c.line;
    }
}

TEST_F(ProcessTest, RunAndWaitFailsAtOnceWhenNothingCanStart) {
    const fs::path text = dir_ / "notes.txt";
    WriteBytes(text, "not a program\n");
    const fs::path badInterpreter = dir_ / "bad";
    WriteBytes(badInterpreter, "#!/nonexistent/interpreter\n");
    fs::permissions(badInterpreter, fs::perms::owner_all);

    const auto start = std::chrono::steady_clock::now();
    for (const std::string& line :
         {std::string(""), std::string("   "), std::string("\"\" arg"),
          std::string("/nonexistent/program arg"), std::string("no-such-program-tavren3 x"),
          Quoted(text), Quoted(badInterpreter), Quoted(dir_.path())}) {
        EXPECT_FALSE(launcher_->RunAndWait(line, stop_)) << line;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(ProcessTest, CommandLinesNeverReachAShell) {
    const std::string d = dir_.path().string();
    EXPECT_TRUE(launcher_->RunAndWait("/bin/echo $(touch " + d + "/PWNED); touch " + d +
                                          "/PWNED2 `touch " + d + "/PWNED3` && touch " + d +
                                          "/PWNED4 | touch " + d + "/PWNED5",
                                      stop_));
    for (const char* name : {"PWNED", "PWNED2", "PWNED3", "PWNED4", "PWNED5"}) {
        EXPECT_FALSE(fs::exists(dir_ / name)) << name;
    }

    // A program whose name is full of shell syntax runs as itself and gets
    // its arguments split by the Windows rules, with nothing expanded.
    const fs::path odd = dir_ / "odd ;name $(x) `y` 'z'";
    WriteScript(odd, "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n");
    EXPECT_TRUE(launcher_->RunAndWait(
        Quoted(odd) + " \"arg one\" two\\ \\\"three\\\" $HOME *  'q r' \"\"", stop_));
    EXPECT_EQ(ReadBytes(dir_ / "args"), "arg one\ntwo\\\n\"three\"\n$HOME\n*\n'q\nr'\n\n");
}

TEST_F(ProcessTest, StopEndsTheWaitAndTheChildIsReapedLater) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const std::string line =
        "/bin/sh -c \"echo $$ > \\\"$1/pid\\\"; read x < \\\"$1/fifo\\\"\" sh " +
        Quoted(dir_.path());
    auto waiting =
        std::async(std::launch::async, [&] { return launcher_->RunAndWait(line, stop_); });

    std::optional<pid_t> pid;
    ASSERT_TRUE(WaitUntil([&] { return (pid = ReadPid(dir_ / "pid")).has_value(); }));
    EXPECT_EQ(waiting.wait_for(200ms), std::future_status::timeout) << "did not wait";

    stop_.Set();
    ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(waiting.get());
    EXPECT_TRUE(RunningNotZombie(*pid)) << "the program must go on running";

    ASSERT_TRUE(ReleaseFifoReader(dir_ / "fifo"));
    EXPECT_TRUE(WaitUntil([&] { return Reaped(*pid); })) << "left as a zombie";
}

TEST_F(ProcessTest, ChildrenStartWithACleanSignalStateAndNoInheritedDescriptors) {
    // What a worker thread of the program looks like.
    sigset_t blocked;
    sigset_t oldMask;
    sigemptyset(&blocked);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&blocked, sig);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &oldMask), 0);
    struct sigaction ignore {};
    struct sigaction oldPipe {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &oldPipe);
    // As the file leases leave it, for good: a lease break must not end us.
    ::sigaction(SIGIO, &ignore, nullptr);
    const int leaky = ::fcntl(STDERR_FILENO, F_DUPFD, 60);  // no close-on-exec
    // Our own standard input is a pipe for now, so that /dev/null shows.
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const int savedStdin = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    ::dup2(pipeFds[0], STDIN_FILENO);

    // Run directly, not through sh: a shell clears the mask when it starts.
    const bool started =
        launcher_->RunAndWait("/bin/cp /proc/self/status " + Quoted(dir_ / "status"), stop_) &&
        launcher_->RunAndWait("/usr/bin/find /proc/self/fd -mindepth 1 -fprintf " +
                                  Quoted(dir_ / "fds") + " \"%f %l\\n\"",
                              stop_);

    ::dup2(savedStdin, STDIN_FILENO);
    for (int fd : {savedStdin, pipeFds[0], pipeFds[1], leaky}) ::close(fd);
    ::sigaction(SIGPIPE, &oldPipe, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ASSERT_TRUE(started);

    std::uint64_t blockedMask = ~0ull;
    std::uint64_t ignoredMask = ~0ull;
    std::istringstream status(ReadBytes(dir_ / "status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigBlk:", 0) == 0) blockedMask = std::stoull(line.substr(7), nullptr, 16);
        if (line.rfind("SigIgn:", 0) == 0) ignoredMask = std::stoull(line.substr(7), nullptr, 16);
    }
    EXPECT_EQ(blockedMask, 0u);
    // glibc leaves its own two internal signals ignored; only ours matter.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD, SIGIO}) {
        EXPECT_EQ(ignoredMask & (1ull << (sig - 1)), 0u) << "signal " << sig << " ignored";
    }

    std::istringstream fds(ReadBytes(dir_ / "fds"));
    std::map<std::string, std::string> targets;
    for (std::string line; std::getline(fds, line);) {
        const auto space = line.find(' ');
        targets[line.substr(0, space)] = line.substr(space + 1);
    }
    EXPECT_EQ(targets["0"], "/dev/null");
    EXPECT_EQ(targets.count(std::to_string(leaky)), 0u);
}

TEST_F(ProcessTest, StartProgramRunsTheLineWithItsArgumentsWithoutWaiting) {
    // Once, a line with arguments was silently not run.
    const fs::path script = dir_ / "run me.sh";
    WriteScript(script, "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/ran\"\n");
    EXPECT_TRUE(launcher_->StartProgram(Quoted(script) + " one \"two three\""));
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(dir_ / "ran") == "one\ntwo three\n"; }));

    // Unquoted, with a space in its path, as Windows finds it.
    fs::remove(dir_ / "ran");
    EXPECT_TRUE(launcher_->StartProgram(script.string() + " four"));
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(dir_ / "ran") == "four\n"; }));

    // A bare name is a program in PATH.
    EXPECT_TRUE(launcher_->StartProgram("sh -c \"echo $# > \\\"$0\\\"\" " + Quoted(dir_ / "bare") +
                                        " x y"));
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(dir_ / "bare") == "2\n"; }));

    EXPECT_FALSE(launcher_->StartProgram(Quoted(dir_ / "missing") + " x"));
    EXPECT_FALSE(launcher_->StartProgram(""));
    EXPECT_FALSE(launcher_->StartProgram("   "));
    EXPECT_FALSE(launcher_->StartProgram("no-such-program-or-file-tavren3 x"));
}

TEST_F(ProcessTest, RunAndWaitFindsAnUnquotedPathWithSpaces) {
    fs::create_directory(dir_ / "My Tools");
    const fs::path script = dir_ / "My Tools" / "run";
    WriteScript(script, "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/../ran\"\n");
    EXPECT_TRUE(launcher_->RunAndWait(script.string() + "  -x \"a b\"", stop_));
    EXPECT_EQ(ReadBytes(dir_ / "ran"), "-x\na b\n");
}

// What a started program prints goes to our standard error: the headless
// watcher's standard output carries its own messages, one line each.
TEST_F(ProcessTest, ProgramOutputGoesToStandardError) {
    const fs::path out = dir_ / "stdout";
    const fs::path err = dir_ / "stderr";
    fflush(stdout);
    fflush(stderr);
    const int savedOut = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    const int savedErr = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(outFd, 0);
    ASSERT_GE(errFd, 0);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);

    auto launcher = MakeProcessLauncher();
    const bool ran = launcher->RunAndWait("/bin/sh -c \"echo waited; echo oops >&2\"", stop_);
    const bool started = launcher->StartProgram("/bin/sh -c \"echo started; touch \\\"$0\\\"\" " +
                                                Quoted(dir_ / "done"));
    const bool done = started && WaitUntil([&] { return fs::exists(dir_ / "done"); });

    ::dup2(savedOut, STDOUT_FILENO);
    ::dup2(savedErr, STDERR_FILENO);
    for (int fd : {savedOut, savedErr, outFd, errFd}) ::close(fd);
    ASSERT_TRUE(ran);
    ASSERT_TRUE(done);
    EXPECT_EQ(ReadBytes(out), "");
    EXPECT_EQ(ReadBytes(err), "waited\noops\nstarted\n");
}

class DesktopOpenerTest : public ProcessTest {
protected:
    void SetUp() override {
        fs::create_directory(dir_ / "bin");
        WriteScript(dir_ / "bin" / "xdg-open",
                    "printf '%s|%s\\n' \"$#\" \"$1\" >> \"$(dirname \"$0\")/../opened\"\n");
    }

    std::vector<std::string> OpenerCalls(std::size_t count) {
        std::vector<std::string> lines;
        WaitUntil([&] {
            lines.clear();
            std::istringstream in(ReadBytes(dir_ / "opened"));
            for (std::string l; std::getline(in, l);) lines.push_back(l);
            return lines.size() >= count;
        });
        return lines;
    }
};

TEST_F(DesktopOpenerTest, DocumentsAndFoldersGoToTheOpener) {
    ScopedPath path((dir_ / "bin").string() + ":/usr/bin:/bin");
    const fs::path document = dir_ / "report $(touch PWNED) `x`;.txt";
    WriteBytes(document, "text");
    // Marked executable but no program, as every file on a FAT stick.
    const fs::path markedExecutable = dir_ / "notes.txt";
    WriteBytes(markedExecutable, "plain text, no program\n");
    fs::permissions(markedExecutable, fs::perms::owner_all);

    EXPECT_EQ(launcher_->OpenDocument(document), Result::Opened);
    EXPECT_THAT(OpenerCalls(1), ::testing::ElementsAre("1|" + document.string()));
    EXPECT_EQ(launcher_->OpenDocument(markedExecutable), Result::Opened);
    EXPECT_THAT(OpenerCalls(2).back(), "1|" + markedExecutable.string());
    EXPECT_EQ(launcher_->OpenDocument(dir_.path()), Result::Opened);
    EXPECT_THAT(OpenerCalls(3).back(), "1|" + dir_.path().string());
    EXPECT_FALSE(fs::exists(dir_ / "PWNED"));

    EXPECT_EQ(launcher_->OpenDocument(dir_ / "missing.txt"), Result::Failed);
    EXPECT_EQ(launcher_->OpenDocument(""), Result::Failed);
}

// A file dropped into a watched folder is never run, whatever its mode:
// once, an executable invoice.pdf was started as a program.
TEST_F(DesktopOpenerTest, OpenDocumentNeverRunsTheFile) {
    ScopedPath path((dir_ / "bin").string() + ":/usr/bin:/bin");
    const std::string payload = "touch \"$(dirname \"$0\")/RAN\"\n";
    const fs::path script = dir_ / "invoice.pdf";
    WriteScript(script, payload);
    const fs::path program = dir_ / "statement.pdf";
    fs::copy_file("/bin/true", program);
    const fs::path windows = dir_ / "Setup.EXE";
    WriteBytes(windows, "MZ");
    // Without an execute bit a script is text, shown but not run.
    const fs::path text = dir_ / "readme.txt";
    WriteBytes(text, "#!/bin/sh\n" + payload);

    EXPECT_EQ(launcher_->OpenDocument(script), Result::Refused);
    EXPECT_EQ(launcher_->OpenDocument(program), Result::Refused);
    EXPECT_EQ(launcher_->OpenDocument(windows), Result::Refused);
    EXPECT_EQ(launcher_->OpenDocument(text), Result::Opened);
    EXPECT_THAT(OpenerCalls(1), ::testing::ElementsAre("1|" + text.string()));
    std::this_thread::sleep_for(200ms);
    EXPECT_THAT(OpenerCalls(1), ::testing::ElementsAre("1|" + text.string()))
        << "nothing else opened";
    EXPECT_FALSE(fs::exists(dir_ / "RAN"));
}

TEST_F(DesktopOpenerTest, AProgramLineNamingADocumentOpensIt) {
    ScopedPath path((dir_ / "bin").string() + ":/usr/bin:/bin");
    // The whole line names it, even though a shorter part names a program.
    fs::create_directory(dir_ / "docs");
    const fs::path shorter = dir_ / "docs" / "My";
    WriteScript(shorter, "touch \"$(dirname \"$0\")/RAN\"\n");
    const fs::path document = dir_ / "docs" / "My Report.txt";
    WriteBytes(document, "text");

    EXPECT_TRUE(launcher_->StartProgram("  " + document.string() + " "));
    EXPECT_THAT(OpenerCalls(1), ::testing::ElementsAre("1|" + document.string()));
    EXPECT_TRUE(launcher_->StartProgram(Quoted(document)));
    EXPECT_THAT(OpenerCalls(2).back(), "1|" + document.string());
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(fs::exists(dir_ / "docs" / "RAN"));
    // A document with arguments is no program line: nothing to start.
    EXPECT_FALSE(launcher_->StartProgram(Quoted(document) + " x"));
}

TEST_F(DesktopOpenerTest, WithoutAnOpenerOnlyProgramsStart) {
    fs::create_directory(dir_ / "empty");
    ScopedPath path((dir_ / "empty").string());
    const fs::path document = dir_ / "report.txt";
    WriteBytes(document, "text");
    EXPECT_EQ(launcher_->OpenDocument(document), Result::Failed);
    EXPECT_FALSE(launcher_->StartProgram(Quoted(document)));

    const fs::path script = dir_ / "prog";
    WriteScript(script, "echo ran > \"${0%/prog}/ran\"\n");
    EXPECT_TRUE(launcher_->StartProgram(Quoted(script)));
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(dir_ / "ran") == "ran\n"; }));
}

TEST_F(ProcessTest, ManyStartsLeaveNoZombies) {
    const fs::path script = dir_ / "quick";
    fs::create_directory(dir_ / "pids");
    WriteScript(script, "echo $$ > \"$(dirname \"$0\")/pids/$$\"\n");
    constexpr int kCount = 40;
    for (int i = 0; i < kCount; ++i) ASSERT_TRUE(launcher_->StartProgram(Quoted(script)));

    std::vector<pid_t> pids;
    ASSERT_TRUE(WaitUntil([&] {
        pids.clear();
        for (const auto& e : fs::directory_iterator(dir_ / "pids")) {
            if (auto pid = ReadPid(e.path())) pids.push_back(*pid);
        }
        return pids.size() == kCount;
    }));
    for (pid_t pid : pids) EXPECT_TRUE(WaitUntil([&] { return Reaped(pid); })) << pid;
}

TEST_F(ProcessTest, SeveralThreadsLaunchAtOnce) {
    const fs::path script = dir_ / "quick";
    WriteScript(script, "exit 0\n");
    std::vector<std::future<int>> workers;
    for (int t = 0; t < 6; ++t) {
        workers.push_back(std::async(std::launch::async, [&] {
            int ok = 0;
            for (int i = 0; i < 10; ++i) {
                ok += launcher_->RunAndWait("/bin/true", stop_);
                ok += launcher_->StartProgram(Quoted(script));
            }
            return ok;
        }));
    }
    for (auto& w : workers) EXPECT_EQ(w.get(), 20);
}

TEST_F(ProcessTest, DestroyingTheLauncherDoesNotWaitForChildren) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const fs::path script = dir_ / "blocked";
    WriteScript(script, "echo $$ > \"${0%/blocked}/pid\"\nread x < \"${0%/blocked}/fifo\"\n");
    ASSERT_TRUE(launcher_->StartProgram(Quoted(script)));
    std::optional<pid_t> pid;
    ASSERT_TRUE(WaitUntil([&] { return (pid = ReadPid(dir_ / "pid")).has_value(); }));

    const auto start = std::chrono::steady_clock::now();
    launcher_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

    // Left to itself: still our child, so reap it here.
    ASSERT_TRUE(ReleaseFifoReader(dir_ / "fifo"));
    int status = 0;
    EXPECT_EQ(::waitpid(*pid, &status, 0), *pid);
}

}  // namespace
}  // namespace tavren::platform
