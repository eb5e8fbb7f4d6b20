#include "platform/fs.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "platform/private_folder.h"
#include "store/settings_file.h"
#include "support/temp_dir.h"
#include "support/writer_process.h"

namespace tavren::platform {
namespace {

using namespace std::chrono_literals;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;
namespace fs = std::filesystem;

const DirEntry* Find(const std::vector<DirEntry>& entries, const std::string& name) {
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const DirEntry& e) { return e.name == name; });
    return it == entries.end() ? nullptr : &*it;
}

// Runs `body` in a child process as an unprivileged user (root ignores file
// modes) and returns its exit status; -1 when that cannot be arranged.
template <typename Body>
int AsNobody(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(ListFolder, DescribesEachEntryToTheNanosecondWithItsIdentity) {
    TempDir dir;
    WriteBytes(dir / "file", "12345");
    const timespec times[2] = {{1'500'000'000, 1}, {1'600'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "file").c_str(), times, 0), 0);
    fs::create_symlink(dir / "file", dir / "link");
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    fs::create_symlink("loop", dir / "loop");
    fs::create_directory(dir / "sub");

    std::vector<DirEntry> entries;
    ASSERT_FALSE(ListFolder(dir.path(), entries));
    ASSERT_EQ(entries.size(), 5u);

    struct stat st {};
    ASSERT_EQ(::stat((dir / "file").c_str(), &st), 0);
    const DirEntry* file = Find(entries, "file");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size, 5u);
    EXPECT_EQ(file->mtimeSeconds, 1'600'000'000);
    EXPECT_EQ(file->mtimeNanoseconds, 123'456'789);
    EXPECT_EQ(file->id, (FileId{st.st_dev, st.st_ino}));
    EXPECT_EQ(file->id, FileIdentity(dir / "file"));

    // A link is what it points to; one that leads nowhere is a file of its own.
    const DirEntry* link = Find(entries, "link");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->id, file->id);
    EXPECT_EQ(link->mtimeNanoseconds, 123'456'789);
    for (const char* name : {"dangling", "loop"}) {
        const DirEntry* e = Find(entries, name);
        ASSERT_NE(e, nullptr) << name;
        EXPECT_FALSE(e->isDirectory);
        EXPECT_TRUE(e->id.known()) << name;
        EXPECT_NE(e->id, file->id) << name;
    }
    const DirEntry* sub = Find(entries, "sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->isDirectory);
}

// A file that cannot be described must not look deleted: the listing fails.
TEST(ListFolder, AnEntryThatCannotBeDescribedFailsTheWholeListing) {
    TempDir dir;
    fs::create_directory(dir / "unsearchable");
    WriteBytes(dir / "unsearchable" / "a", "a");
    WriteBytes(dir / "unsearchable" / "b", "b");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "unsearchable").c_str(), 0444);  // names can be read, files not described

    const fs::path folder = dir / "unsearchable";
    const int result = AsNobody([&] {
        std::vector<DirEntry> entries{DirEntry{}};
        const std::error_code ec = ListFolder(folder, entries);
        return entries.empty() ? ec.value() & 0x7f : 100;
    });
    if (result == -1) GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(result, EACCES);
}

TEST(ReadFile, RefusesAnythingButARegularFileWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    WriteBytes(dir / "file", "content");

    // Once, a FIFO where a file belonged hung the program at start-up.
    auto reading = std::async(std::launch::async, [&] {
        std::string bytes;
        return ReadFile(dir / "fifo", bytes);
    });
    ASSERT_EQ(reading.wait_for(5s), std::future_status::ready) << "blocked on a FIFO";
    EXPECT_EQ(reading.get(), std::errc::invalid_argument);

    std::string bytes = "stale";
    EXPECT_EQ(ReadFile(dir.path(), bytes), std::errc::invalid_argument);
    EXPECT_EQ(ReadFile("/dev/null", bytes), std::errc::invalid_argument);
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(ReadFile(dir / "missing", bytes), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(ReadFile(dir / "file", bytes));
    EXPECT_EQ(bytes, "content");
    EXPECT_FALSE(ReadFile(dir / "file", bytes, 3));
    EXPECT_EQ(bytes, "con");
}

TEST(ReadFile, ASettingsFileThatIsNoRegularFileIsSaidSo) {
    TempDir dir;
    const fs::path file = dir / "dirinfo.dat";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    auto loading = std::async(std::launch::async, [&] {
        store::WatchTable table;
        return store::LoadWatchTable(file, table);
    });
    ASSERT_EQ(loading.wait_for(5s), std::future_status::ready) << "blocked on a FIFO";
    const store::Status status = loading.get();
    EXPECT_FALSE(status);
    EXPECT_EQ(status.message(),
              "設定ファイル " + file.string() + " を読み込めません: 通常のファイルではありません。");
}

TEST(ProbeWriters, TellsWhetherTheFileIsOpenForWriting) {
    TempDir dir;
    const fs::path file = dir / "file";
    WriteBytes(file, "data");
    const WriterState closed = ProbeWriters(file);
    if (closed == WriterState::Unknown) GTEST_SKIP() << "no leases on this file system";
    EXPECT_EQ(closed, WriterState::None);

    // A lease break must never end the program: SIGIO stays ignored.
    struct sigaction io {};
    ASSERT_EQ(::sigaction(SIGIO, nullptr, &io), 0);
    EXPECT_EQ(io.sa_handler, SIG_IGN);

    {
        test::WriterProcess writer(file, /*appending=*/false);
        ASSERT_TRUE(writer.started());
        EXPECT_EQ(ProbeWriters(file), WriterState::Writing);
        writer.Stop();
        EXPECT_EQ(ProbeWriters(file), WriterState::None);
    }

    // A descriptor of our own counts as well; a reader does not.
    const int reader = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(ProbeWriters(file), WriterState::None);
    const int own = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    EXPECT_EQ(ProbeWriters(file), WriterState::Writing);
    ::close(own);
    ::close(reader);
    EXPECT_EQ(ProbeWriters(file), WriterState::None);
    EXPECT_EQ(ReadBytes(file), "data");
}

TEST(ProbeWriters, UnknownWhereNoLeaseCanBeHad) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ProbeWriters(dir / "fifo"), WriterState::Unknown);
    EXPECT_EQ(ProbeWriters(dir.path()), WriterState::Unknown);
    EXPECT_EQ(ProbeWriters(dir / "missing"), WriterState::Unknown);

    // Another user's file: only its owner may take a lease.
    const fs::path file = dir / "theirs";
    WriteBytes(file, "data");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(file.c_str(), 0644);
    const int result =
        AsNobody([&] { return static_cast<int>(ProbeWriters(file) == WriterState::Unknown); });
    if (result == -1) GTEST_SKIP() << "cannot drop privileges";
    if (::geteuid() == 0) {
        EXPECT_EQ(result, 1);
    }
}

TEST(FileIdentity, NamesWhatAPathLeadsTo) {
    TempDir dir;
    WriteBytes(dir / "a", "a");
    WriteBytes(dir / "b", "b");
    fs::create_hard_link(dir / "a", dir / "hard");
    fs::create_symlink(dir / "a", dir / "soft");

    const FileId a = FileIdentity(dir / "a");
    EXPECT_TRUE(a.known());
    EXPECT_EQ(FileIdentity(dir / "hard"), a);
    EXPECT_EQ(FileIdentity(dir / "soft"), a);
    EXPECT_NE(FileIdentity(dir / "b"), a);
    EXPECT_FALSE(FileIdentity(dir / "missing").known());
}

// Where the tray program keeps its instance socket: anything another user can
// enter or owns would let them take the name first.
TEST(PrivateFolder, OnlyTheUsersOwnFolderClosedToOthersWillDo) {
    TempDir dir;
    const std::error_code kDenied = std::make_error_code(std::errc::permission_denied);
    const struct {
        const char* name;
        fs::perms mode;
        std::error_code expected;  // none when accepted
    } kCases[] = {
        {"private", fs::perms::owner_all, {}},
        {"readable",
         fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read |
             fs::perms::group_exec | fs::perms::others_exec,
         kDenied},
        {"enterable", fs::perms::owner_all | fs::perms::others_exec, kDenied},
        {"sticky", fs::perms::owner_all | fs::perms::sticky_bit, kDenied},
    };
    for (const auto& c : kCases) {
        fs::create_directory(dir / c.name);
        fs::permissions(dir / c.name, c.mode);
        EXPECT_EQ(CheckPrivateFolder(dir / c.name), c.expected) << c.name;
    }
    fs::create_directory_symlink(dir / "private", dir / "link");
    EXPECT_FALSE(CheckPrivateFolder(dir / "link")) << "a link to the user's own folder";
    WriteBytes(dir / "file", "");
    EXPECT_EQ(CheckPrivateFolder(dir / "file"), std::errc::not_a_directory);
    EXPECT_EQ(CheckPrivateFolder(dir / "missing"), std::errc::no_such_file_or_directory);

    // Made when missing, parents too, closed to others whatever the umask.
    const mode_t umask = ::umask(0);
    EXPECT_FALSE(MakePrivateFolder(dir / "new" / "instance"));
    ::umask(umask);
    EXPECT_EQ(fs::status(dir / "new" / "instance").permissions(), fs::perms::owner_all);
    // An existing one that others can enter is refused, and left as it is.
    EXPECT_EQ(MakePrivateFolder(dir / "readable"), std::errc::permission_denied);
    EXPECT_EQ(fs::status(dir / "readable").permissions(), kCases[1].mode);
    EXPECT_EQ(MakePrivateFolder(dir / "file"), std::errc::not_a_directory);

    // Another user's folder, closed as it may be.
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
    ASSERT_EQ(::chown((dir / "private").c_str(), 65534, 65534), 0);
    EXPECT_EQ(CheckPrivateFolder(dir / "private"), std::errc::permission_denied);
    EXPECT_EQ(MakePrivateFolder(dir / "private"), std::errc::permission_denied);
}

}  // namespace
}  // namespace tavren::platform
