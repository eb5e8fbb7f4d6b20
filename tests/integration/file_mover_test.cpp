#include "platform/file_mover.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "support/temp_dir.h"
#include "support/writer_process.h"

namespace tavren::platform {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// Content large enough to need several reads and writes.
std::string BigContent() {
    std::string s(700 * 1024, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 7 + i / 4096);
    return s;
}

class FileMoverTest : public ::testing::Test {
protected:
    TempDir dir_;
    std::unique_ptr<FileMover> mover_ = MakeFileMover();
    const WakeEvent never_;
};

TEST_F(FileMoverTest, MovesWithinAFileSystem) {
    fs::create_directory(dir_ / "out");
    WriteBytes(dir_ / "a.txt", "alpha");
    WriteBytes(dir_ / "b.txt", "beta");

    EXPECT_FALSE(mover_->Move(dir_ / "a.txt", dir_ / "out" / "a.txt", false, never_));
    EXPECT_FALSE(mover_->Move(dir_ / "b.txt", dir_ / "out" / "b2.txt", true, never_));
    EXPECT_THAT(Names(dir_ / "out"), UnorderedElementsAre("a.txt", "b2.txt"));
    EXPECT_EQ(ReadBytes(dir_ / "out" / "a.txt"), "alpha");
    EXPECT_EQ(ReadBytes(dir_ / "out" / "b2.txt"), "beta");
    EXPECT_THAT(Names(dir_.path()), UnorderedElementsAre("out"));
}

TEST_F(FileMoverTest, NoReplaceKeepsBothFiles) {
    WriteBytes(dir_ / "src", "new");
    WriteBytes(dir_ / "dst", "old");
    EXPECT_EQ(mover_->Move(dir_ / "src", dir_ / "dst", false, never_), std::errc::file_exists);
    EXPECT_EQ(ReadBytes(dir_ / "src"), "new");
    EXPECT_EQ(ReadBytes(dir_ / "dst"), "old");

    // A dangling link takes the name as well.
    fs::create_symlink(dir_ / "nowhere", dir_ / "link");
    EXPECT_TRUE(mover_->Exists(dir_ / "link"));
    EXPECT_EQ(mover_->Move(dir_ / "src", dir_ / "link", false, never_), std::errc::file_exists);
    EXPECT_EQ(ReadBytes(dir_ / "src"), "new");
    EXPECT_FALSE(mover_->Exists(dir_ / "nowhere"));
}

TEST_F(FileMoverTest, ReplaceOverwritesTheDestination) {
    WriteBytes(dir_ / "src", "new");
    WriteBytes(dir_ / "dst", "old");
    EXPECT_FALSE(mover_->Move(dir_ / "src", dir_ / "dst", true, never_));
    EXPECT_EQ(ReadBytes(dir_ / "dst"), "new");
    EXPECT_FALSE(mover_->Exists(dir_ / "src"));
}

TEST_F(FileMoverTest, FailedMoveLeavesTheSource) {
    WriteBytes(dir_ / "src", "data");
    for (bool replace : {false, true}) {
        EXPECT_EQ(mover_->Move(dir_ / "src", dir_ / "no-folder" / "src", replace, never_),
                  std::errc::no_such_file_or_directory);
        EXPECT_EQ(ReadBytes(dir_ / "src"), "data");
    }
    EXPECT_TRUE(mover_->Move(dir_ / "missing", dir_ / "dst", false, never_));
}

// What moves cut short left behind goes: the copy of a process that has
// ended, and one of the older form without a process id that nobody wrote
// to for long. A running move's copy, a young one, other files and what
// lies in sub-folders stay.
TEST_F(FileMoverTest, RemoveLeftoversTakesOnlyAbandonedCopies) {
    const pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const struct {
        std::string name;
        bool old, removed;
    } cases[] = {
        {".tavren-move-" + std::to_string(ended) + "-a1B2c3", false, true},
        {".tavren-move-" + std::to_string(::getpid()) + "-a1B2c3", true, false},
        {".tavren-move-a1B2c3", true, true},
        {".tavren-move-d4E5f6", false, false},
        {"report.pdf", true, false},
    };
    std::vector<fs::path> removed;
    for (const auto& c : cases) {
        WriteBytes(dir_ / c.name, "x");
        if (c.old) fs::last_write_time(dir_ / c.name, fs::file_time_type::clock::now() - 2min);
        if (c.removed) removed.push_back(dir_ / c.name);
    }
    fs::create_directory(dir_ / "sub");
    WriteBytes(dir_ / "sub" / cases[0].name, "x");

    EXPECT_THAT(mover_->RemoveLeftovers(dir_.path()),
                ::testing::UnorderedElementsAreArray(removed));
    for (const auto& c : cases) EXPECT_EQ(fs::exists(dir_ / c.name), !c.removed) << c.name;
    EXPECT_TRUE(fs::exists(dir_ / "sub" / cases[0].name));
}

// A folder on another file system: /dev/shm is tmpfs where the temporary
// folder usually is not.
class CrossFsTest : public FileMoverTest {
protected:
    void SetUp() override {
        std::string templ = "/dev/shm/tavren-test-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) GTEST_SKIP() << "no /dev/shm";
        other_ = templ;
        struct stat a {};
        struct stat b {};
        if (::stat(other_.c_str(), &a) != 0 || ::stat(dir_.path().c_str(), &b) != 0 ||
            a.st_dev == b.st_dev) {
            GTEST_SKIP() << "/dev/shm and the temporary folder share a file system";
        }
    }
    void TearDown() override {
        std::error_code ec;
        if (!other_.empty()) fs::remove_all(other_, ec);
    }

    // Runs a move in a child process with `prepare` applied to it first, and
    // returns the errno the move failed with (0 on success, -1 if the child
    // died or could not be prepared).
    template <typename Prepare>
    int MoveInChild(const fs::path& from, const fs::path& to, bool replace, Prepare prepare) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!prepare()) ::_exit(255);
            const std::error_code ec = MakeFileMover()->Move(from, to, replace, never_);
            ::_exit(ec.value() & 0x7f);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) == 255) {
            return -1;
        }
        return WEXITSTATUS(status);
    }

    fs::path other_;
};

TEST_F(CrossFsTest, KeepsContentTimesAndMode) {
    const std::string content = BigContent();
    const fs::path src = other_ / "big.bin";
    WriteBytes(src, content);
    ::chmod(src.c_str(), 0640);
    const timespec times[2] = {{1'000'000'000, 123'456'789}, {1'200'000'000, 987'654'321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), times, 0), 0);

    const fs::path dst = dir_ / "big.bin";
    ASSERT_FALSE(mover_->Move(src, dst, false, never_));

    struct stat st {};
    ASSERT_EQ(::stat(dst.c_str(), &st), 0);  // before reading, which may touch atime
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
    EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
    EXPECT_EQ(ReadBytes(dst), content);
    EXPECT_FALSE(mover_->Exists(src));
    EXPECT_THAT(Names(dir_.path()), UnorderedElementsAre("big.bin"));
}

// A file is copied, a symbolic link made again with the same target (as mv
// does); both honour replace.
TEST_F(CrossFsTest, HonoursReplaceBothWays) {
    auto what = [](const fs::path& p) {
        return fs::is_symlink(p) ? "-> " + fs::read_symlink(p).string() : ReadBytes(p);
    };
    WriteBytes(dir_ / "f", "new");
    fs::create_symlink("../elsewhere/new", dir_ / "link");
    for (const char* name : {"f", "link"}) {
        const std::string moving = what(dir_ / name);
        WriteBytes(other_ / name, "old");
        EXPECT_EQ(mover_->Move(dir_ / name, other_ / name, false, never_), std::errc::file_exists);
        EXPECT_EQ(what(dir_ / name), moving);
        EXPECT_EQ(ReadBytes(other_ / name), "old");

        EXPECT_FALSE(mover_->Move(dir_ / name, other_ / name, true, never_));
        EXPECT_EQ(what(other_ / name), moving);
        EXPECT_FALSE(mover_->Exists(dir_ / name));
    }
    EXPECT_THAT(Names(other_), UnorderedElementsAre("f", "link"));
    EXPECT_FALSE(mover_->Move(other_ / "link", dir_ / "link", false, never_));
    EXPECT_EQ(what(dir_ / "link"), "-> ../elsewhere/new");
}

TEST_F(CrossFsTest, FailedCopyLeavesSourceAndNoPartialCopy) {
    const std::string content = BigContent();
    WriteBytes(other_ / "src", content);
    WriteBytes(dir_ / "taken", "old");
    auto fileSizeLimit = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };

    EXPECT_EQ(MoveInChild(other_ / "src", dir_ / "free", false, fileSizeLimit), EFBIG);
    EXPECT_EQ(MoveInChild(other_ / "src", dir_ / "taken", true, fileSizeLimit), EFBIG);
    EXPECT_EQ(mover_->Move(other_ / "src", dir_ / "missing" / "src", false, never_),
              std::errc::no_such_file_or_directory);
    EXPECT_EQ(ReadBytes(other_ / "src"), content);
    EXPECT_EQ(ReadBytes(dir_ / "taken"), "old");
    EXPECT_THAT(Names(dir_.path()), UnorderedElementsAre("taken"));
}

TEST_F(CrossFsTest, SourceThatCannotBeRemovedIsNotCopied) {
    // The source folder is read-only to whoever runs the move; root ignores
    // that, so the child then runs as nobody.
    fs::create_directory(dir_ / "locked");
    WriteBytes(dir_ / "locked" / "src", "data");
    ::chmod(dir_.path().c_str(), 0755);
    ::chmod((dir_ / "locked").c_str(), 0555);
    ::chmod((dir_ / "locked" / "src").c_str(), 0644);
    ::chmod(other_.c_str(), 0777);
    auto unprivileged = [] {
        return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
    };

    WriteBytes(other_ / "taken", "old");
    ::chmod((other_ / "taken").c_str(), 0666);

    const int error = MoveInChild(dir_ / "locked" / "src", other_ / "src", false, unprivileged);
    if (error == -1) GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(error, EACCES);
    // Found out before the copy, so a file being replaced survives too.
    EXPECT_EQ(MoveInChild(dir_ / "locked" / "src", other_ / "taken", true, unprivileged), EACCES);
    EXPECT_EQ(ReadBytes(dir_ / "locked" / "src"), "data");
    EXPECT_EQ(ReadBytes(other_ / "taken"), "old");
    EXPECT_THAT(Names(other_), UnorderedElementsAre("taken"));
}

// A copy cancelled half-way stops at once: the source stays whole and
// nothing is left at the destination.
TEST_F(CrossFsTest, CancelStopsTheCopy) {
    if (!fs::exists("/proc/self/io")) GTEST_SKIP() << "no /proc/self/io to follow the copy by";
    auto written = [] {  // bytes this process wrote so far
        std::ifstream io("/proc/self/io");
        std::string key;
        std::uint64_t n = 0;
        while (io >> key >> n && key != "wchar:") continue;
        return n;
    };
    const fs::path src = other_ / "big.bin";
    std::ofstream(src, std::ios::binary) << std::string(256 << 20, 'x');
    WakeEvent cancel;
    const std::uint64_t before = written();
    auto moving = std::async(std::launch::async,
                             [&] { return mover_->Move(src, dir_ / "big.bin", false, cancel); });
    while (written() < before + (8 << 20) && moving.wait_for(1ms) != std::future_status::ready)
        continue;
    cancel.Set();

    ASSERT_EQ(moving.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(moving.get(), std::errc::operation_canceled);
    EXPECT_EQ(fs::file_size(src), 256u << 20);
    EXPECT_THAT(Names(dir_.path()), IsEmpty());
}

// A file still being written is not moved, nor copied in part; once its
// writer is done, it moves whole.
TEST_F(CrossFsTest, AFileStillBeingWrittenIsNotMoved) {
    using namespace std::chrono_literals;
    const fs::path src = other_ / "growing.log";
    WriteBytes(src, BigContent());
    for (bool replace : {false, true}) {
        test::WriterProcess writer(src, /*appending=*/true);
        ASSERT_TRUE(writer.started());
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(mover_->Move(src, dir_ / "growing.log", replace, never_),
                  std::errc::device_or_resource_busy);
        EXPECT_TRUE(mover_->Exists(src));
        EXPECT_THAT(Names(dir_.path()), ::testing::IsEmpty()) << "a copy was left";
        writer.Stop();

        const std::string written = ReadBytes(src);
        ASSERT_GT(written.size(), BigContent().size()) << "the writer never wrote";
        ASSERT_FALSE(mover_->Move(src, dir_ / "growing.log", replace, never_));
        EXPECT_EQ(ReadBytes(dir_ / "growing.log"), written);
        EXPECT_FALSE(mover_->Exists(src));
        EXPECT_THAT(Names(dir_.path()), UnorderedElementsAre("growing.log"));
        ASSERT_FALSE(mover_->Move(dir_ / "growing.log", src, false, never_));
    }
}

// Where no lease can be had (a file of another user), the move goes on,
// judged by the file's size and times alone.
TEST_F(CrossFsTest, AFileOfAnotherUserStillMoves) {
    WriteBytes(dir_ / "theirs", "data");
    ::chmod(dir_.path().c_str(), 0777);
    ::chmod((dir_ / "theirs").c_str(), 0644);
    ::chmod(other_.c_str(), 0777);
    auto unprivileged = [] {
        return ::geteuid() == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
    };
    const int error = MoveInChild(dir_ / "theirs", other_ / "theirs", false, unprivileged);
    if (error == -1) GTEST_SKIP() << "needs root to act as another user";
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ReadBytes(other_ / "theirs"), "data");
    EXPECT_FALSE(mover_->Exists(dir_ / "theirs"));
}

}  // namespace
}  // namespace tavren::platform
