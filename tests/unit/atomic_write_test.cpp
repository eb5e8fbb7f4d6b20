#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/data_folder.h"
#include "support/temp_dir.h"

namespace tavren {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::vector<std::string> FolderContents(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `body` in a child process and returns its exit status, or -1 when it
// did not exit normally.
int RunInChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(AtomicWrite, ReplacesTheFileAndKeepsItsPermissions) {
    TempDir tmp;
    const fs::path file = tmp / "dirinfo.dat";
    WriteBytes(file, "old content that is longer than the new one");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);

    ASSERT_FALSE(platform::WriteFileAtomically(file, "new"));
    EXPECT_EQ(ReadBytes(file), "new");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FolderContents(tmp.path()), std::vector<std::string>{"dirinfo.dat"});

    // A file that did not exist yet is created, readable by others as usual.
    const fs::path fresh = tmp / "0.dir";
    ASSERT_FALSE(platform::WriteFileAtomically(fresh, ""));
    EXPECT_TRUE(fs::exists(fresh));
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IROTH, 0u);
    EXPECT_EQ(FolderContents(tmp.path()), (std::vector<std::string>{"0.dir", "dirinfo.dat"}));
}

// The writers of the settings and snapshot files, each with content large
// enough to hit a small file-size limit.
struct Writer {
    const char* name;
    std::function<bool(const fs::path&)> write;  // true on success
};

std::vector<Writer> Writers() {
    return {
        {"WriteFileAtomically",
         [](const fs::path& f) {
             return !platform::WriteFileAtomically(f, std::string(1 << 20, 'n'));
         }},
        {"WriteAllSlots",
         [](const fs::path& f) {
             const std::vector<store::SlotImage> slots(3, store::BlankSlotImage());
             return static_cast<bool>(store::WriteAllSlots(f, slots));
         }},
        {"WriteSnapshotFile",
         [](const fs::path& f) {
             const std::vector<store::SnapshotItem> items(3, store::SnapshotItem{1, 2, 3, "a.txt"});
             return static_cast<bool>(store::WriteSnapshotFile(f, items));
         }},
    };
}

TEST(AtomicWrite, FullDiskKeepsTheOldFile) {
    for (const Writer& w : Writers()) {
        TempDir tmp;
        const fs::path file = tmp / "target";
        const std::string old = "old bytes, still wanted";
        WriteBytes(file, old);

        // A file-size limit makes every write past 100 bytes fail with EFBIG,
        // as a full disk would.
        const int status = RunInChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{100, 100};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
            return w.write(file) ? 1 : 0;
        });
        EXPECT_EQ(status, 0) << w.name << (status == 1 ? ": reported success" : "");
        EXPECT_EQ(ReadBytes(file), old) << w.name;
        EXPECT_EQ(FolderContents(tmp.path()), std::vector<std::string>{"target"})
            << w.name << ": temporary file left behind";
    }
}

TEST(AtomicWrite, StoreWritersReportFailures) {
    TempDir tmp;
    const fs::path noFolder = tmp / "missing" / "dirinfo.dat";
    const fs::path isFolder = tmp / "folder";
    fs::create_directory(isFolder);
    WriteBytes(isFolder / "inside", "x");

    const std::vector<store::SlotImage> slots(1, store::BlankSlotImage());
    const std::vector<store::SnapshotItem> items(1, store::SnapshotItem{1, 2, 3, "a.txt"});
    for (const fs::path& target : {noFolder, isFolder}) {
        const store::Status results[] = {store::WriteAllSlots(target, slots),
                                         store::WriteSnapshotFile(target, items)};
        for (const store::Status& s : results) {
            EXPECT_FALSE(s) << target;
            EXPECT_NE(s.message().find(target.string()), std::string::npos) << s.message();
        }
    }
    EXPECT_FALSE(fs::exists(noFolder.parent_path()));
    EXPECT_EQ(FolderContents(isFolder), std::vector<std::string>{"inside"});
    EXPECT_EQ(FolderContents(tmp.path()), std::vector<std::string>{"folder"});
}

// A writer killed at any moment leaves the old file or the new one, whole.
TEST(AtomicWrite, KilledWriterNeverLeavesATornFile) {
    TempDir tmp;
    const fs::path file = tmp / "dirinfo.dat";
    const std::string a = "A" + std::string(4 << 20, 'a');
    const std::string b = "B" + std::string(4 << 20, 'b');
    WriteBytes(file, a);

    for (const int delayMs : {1, 2, 4, 7, 11, 16, 25, 40, 60}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (bool next = true;; next = !next) platform::WriteFileAtomically(file, next ? b : a);
        }
        // Deliberately stopped at an arbitrary point, not waited for.
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        std::string content;
        ASSERT_FALSE(platform::ReadFile(file, content));
        EXPECT_TRUE(content == a || content == b)
            << "after " << delayMs << " ms: " << content.size() << " bytes starting with '"
            << content.substr(0, 1) << "'";
    }
}

TEST(AtomicWrite, StaleTemporaryFilesAreClearedOnlyWhenOld) {
    test::TempDir dir;
    const store::DataFolder data(dir / "root");
    ASSERT_TRUE(data.Prepare());
    const auto tavdat = data.tavdat();
    test::WriteBytes(tavdat / ".0.dir.tmp.Ab12Cd", "left by a crash");
    test::WriteBytes(tavdat / ".dirinfo.dat.tmp.Xy98Zw", "a write under way");
    test::WriteBytes(tavdat / "notes.tmp.Ab12Cd", "not ours");
    test::WriteBytes(tavdat / "0.dir", "");
    test::SetLocalMtime(tavdat / ".0.dir.tmp.Ab12Cd", 2020, 1, 1, 0, 0, 0);
    test::SetLocalMtime(tavdat / "notes.tmp.Ab12Cd", 2020, 1, 1, 0, 0, 0);

    ASSERT_TRUE(data.Prepare());
    EXPECT_FALSE(std::filesystem::exists(tavdat / ".0.dir.tmp.Ab12Cd"));
    EXPECT_TRUE(std::filesystem::exists(tavdat / ".dirinfo.dat.tmp.Xy98Zw"));
    EXPECT_TRUE(std::filesystem::exists(tavdat / "notes.tmp.Ab12Cd"));
    EXPECT_TRUE(std::filesystem::exists(tavdat / "0.dir"));
}

}  // namespace
}  // namespace tavren
