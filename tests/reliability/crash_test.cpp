// Writers killed at random moments, and writers that run out of space: the
// settings file and the snapshots must always be the old file or the new
// one, byte for byte, and a move must never lose its source.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/tavren_doc.h"
#include "platform/fs.h"
#include "reliability/harness.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "store/snapshot_journal.h"
#include "support/temp_dir.h"

namespace tavren::reliability {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::vector<store::SlotImage> Slots(int count, const std::string& tag) {
    std::vector<store::SlotImage> images;
    for (int i = 0; i < count; ++i) {
        store::Slot slot;
        slot.running = i % 3 != 0;
        slot.entry.title = tag + " " + std::to_string(i);
        slot.entry.folder = "/srv/in/" + tag + std::to_string(i);
        slot.entry.program = "/usr/bin/convert --from " + tag;
        slot.entry.afterMode = 2;
        slot.entry.moveTo = "/srv/out";
        images.push_back(store::BlankSlotImage());
        EXPECT_TRUE(store::EncodeSlot(slot, images.back()));
    }
    return images;
}

std::vector<std::string> TemporariesIn(const fs::path& folder) {
    std::vector<std::string> found;
    for (const std::string& name : FileNames(folder)) {
        if (name.find(".tmp.") != std::string::npos) found.push_back(name);
    }
    return found;
}

// Forks a child that runs `body` and returns once the child has started
// it, so that a delay before killing it counts from there.
pid_t ForkStarted(const std::function<void()>& body) {
    int started[2];
    if (::pipe(started) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(started[0]);
        const char c = 's';
        if (::write(started[1], &c, 1) != 1) ::_exit(2);
        body();
        ::_exit(0);
    }
    ::close(started[1]);
    char c = 0;
    if (pid > 0 && ::read(started[0], &c, 1) != 1) c = 0;
    ::close(started[0]);
    return pid;
}

struct KillFigures {
    int kills = 0;
    int old = 0;       // version A: the file before the child's first write
    int replaced = 0;  // version B: after it (the child alternates, B first)
    int torn = 0;
};

// Kills, `iterations` times, a child that replaces `file` over and over
// (write(true) stores version B, write(false) version A) after a random
// delay: half of them within the child's first write, the others anywhere
// in a few write cycles. The file must always be A or B.
KillFigures KillWriterRepeatedly(const fs::path& file, const std::string& a, const std::string& b,
                                 const std::function<void(bool)>& write, int iterations,
                                 unsigned seed) {
    // One write cycle, measured, to spread the kill points over every step
    // of a write (temporary file, data, flush, rename).
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) write(i % 2 == 0);
    write(false);
    auto cycle = std::chrono::duration_cast<std::chrono::microseconds>(
        (std::chrono::steady_clock::now() - t0) / 5);
    // A freshly forked writer is slower (its pages are copied as it touches
    // them; more so under the sanitizers): measured too, or the kills could
    // all land before its first write is done.
    const auto t1 = std::chrono::steady_clock::now();
    const pid_t calibration = ForkStarted([&] {
        write(true);
        write(false);
    });
    if (calibration > 0) {
        int status = 0;
        ::waitpid(calibration, &status, 0);
        cycle = std::max(cycle, std::chrono::duration_cast<std::chrono::microseconds>(
                                    (std::chrono::steady_clock::now() - t1) / 2));
    }

    std::mt19937 random(seed);
    std::uniform_int_distribution<long> early(0, 400);
    std::uniform_int_distribution<long> anywhere(0, std::max<long>(1, 3 * cycle.count()));
    KillFigures figures;
    for (int i = 0; i < iterations; ++i) {
        const std::chrono::microseconds delay(i % 2 == 0 ? early(random) : anywhere(random));
        const pid_t pid = ForkStarted([&] {
            for (bool next = true;; next = !next) write(next);
        });
        if (pid < 0) {
            ADD_FAILURE() << "fork: " << std::strerror(errno);
            break;
        }
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ++figures.kills;

        const std::string content = ReadBytes(file);
        if (content == a) {
            ++figures.old;
        } else if (content == b) {
            ++figures.replaced;
        } else {
            ++figures.torn;
            ADD_FAILURE() << "torn file after a kill at " << delay.count()
                          << " us: " << content.size() << " bytes";
        }
        // The next child starts from A again; no need to flush it.
        if (content != a) WriteBytes(file, a);
    }
    return figures;
}

void Report(const char* what, const KillFigures& f, std::size_t temporaries) {
    std::cout << "[figures] " << what << ": " << f.kills << " kills, version A " << f.old
              << ", version B " << f.replaced << ", torn " << f.torn << ", temporaries left "
              << temporaries << std::endl;
}

int KillIterations() {
    // The soak raises the count through its time budget.
    return SoakSeconds() > 0 ? std::max(200, SoakSeconds() * 2) : 200;
}

// Old temporaries are the data folder's to clear; the real files stay.
void ExpectCleanupClearsTemporaries(const store::DataFolder& data) {
    for (const std::string& name : TemporariesIn(data.tavdat())) {
        test::SetLocalMtime(data.tavdat() / name, 2020, 1, 1, 0, 0, 0);
    }
    ASSERT_TRUE(data.Prepare());
    EXPECT_TRUE(TemporariesIn(data.tavdat()).empty());
}

TEST(CrashSafety, KilledSettingsSaveLeavesTheOldOrTheNewFile) {
    TempDir dir;
    const store::DataFolder data(dir / "data");
    ASSERT_TRUE(data.Prepare());
    const fs::path file = data.settingsFile();
    // 200 slots against 137, so that a mix of the two could not pass.
    const std::vector<store::SlotImage> a = Slots(200, "alpha");
    const std::vector<store::SlotImage> b = Slots(137, "beta");
    auto write = [&](bool next) { store::WriteAllSlots(file, next ? b : a); };
    write(true);
    const std::string bytesB = ReadBytes(file);
    write(false);
    const std::string bytesA = ReadBytes(file);
    ASSERT_NE(bytesA, bytesB);

    const KillFigures f = KillWriterRepeatedly(file, bytesA, bytesB, write, KillIterations(), 7);
    const auto left = TemporariesIn(data.tavdat());
    Report("settings save killed", f, left.size());
    EXPECT_EQ(f.torn, 0);
    EXPECT_GT(f.old, 0);
    EXPECT_GT(f.replaced, 0);

    ExpectCleanupClearsTemporaries(data);
    EXPECT_EQ(ReadBytes(file), bytesA);
    std::vector<store::SlotImage> reread;
    ASSERT_TRUE(store::ReadAllSlots(file, reread));
    EXPECT_EQ(reread.size(), 200u);
}

TEST(CrashSafety, KilledSnapshotRewriteLeavesTheOldOrTheNewFile) {
    TempDir dir;
    const store::DataFolder data(dir / "data");
    ASSERT_TRUE(data.Prepare());
    store::WatchEntry first;
    store::WatchEntry second;
    first.folder = (dir / "first").string();
    second.folder = (dir / "second").string();
    fs::create_directories(first.folder);
    fs::create_directories(second.folder);
    for (int i = 0; i < 300; ++i) WriteBytes(dir / "first" / ("a" + std::to_string(i)), "a");
    for (int i = 0; i < 180; ++i)
        WriteBytes(dir / "second" / ("b" + std::to_string(i) + ".txt"), "bb");

    const int slot = 3;
    const fs::path file = data.snapshotFile(slot);
    auto write = [&](bool next) { store::WriteSnapshot(data, slot, next ? second : first); };
    write(true);
    const std::string bytesB = ReadBytes(file);
    write(false);
    const std::string bytesA = ReadBytes(file);
    ASSERT_EQ(bytesA.size(), 300 * store::kSnapshotRecordSize);
    ASSERT_EQ(bytesB.size(), 180 * store::kSnapshotRecordSize);

    const KillFigures f = KillWriterRepeatedly(file, bytesA, bytesB, write, KillIterations(), 11);
    Report("snapshot rewrite killed", f, TemporariesIn(data.tavdat()).size());
    EXPECT_EQ(f.torn, 0);
    EXPECT_GT(f.old, 0);
    EXPECT_GT(f.replaced, 0);

    ExpectCleanupClearsTemporaries(data);
    EXPECT_EQ(FileNames(data.tavdat()), (std::vector<std::string>{"3.dir", "3.jnl"}));
    EXPECT_EQ(store::ReadSnapshot(data, slot).size(), 300u);
}

// One child after another changes a snapshot of about 300 files through
// journal appends and whole rewrites, from what the last one left, and is
// killed at a random moment. Before each write it reports the state it
// writes, so the last report is the state under way or written, the one
// before it written: the files must read back as one of the two.
TEST(CrashSafety, KilledJournalAppendsAndRewritesReadBackARecordedState) {
    // On tmpfs where there is one: flushes cost nothing there, so more kills
    // land within a write.
    TempDir dir;
    OtherFsDir shm(dir.path());
    const store::DataFolder data((shm.path().empty() ? dir.path() : shm.path()) / "data");
    ASSERT_TRUE(data.Prepare());
    const fs::path file = data.snapshotFile(2);
    ASSERT_TRUE(store::WriteSnapshotFile(file, {}));
    auto itemsOf = [](const store::SnapshotList& list) {
        std::vector<store::SnapshotItem> items;
        for (const store::SnapshotNode& n : list) items.push_back(n.item);
        return items;
    };
    auto hashOf = [&](const auto& list) {
        return std::hash<std::string>{}(store::EncodeSnapshot(itemsOf(list)));
    };
    auto run = [&](unsigned seed, int steps, int report) {
        std::mt19937 random(seed);
        store::SnapshotList state = store::ReadSnapshotFile(file);
        for (int step = 0; step < steps; ++step) {
            // Large batches too, so that kills also cut appends short.
            std::vector<store::SnapshotChange> changes(random() % (step % 3 ? 40 : 3000) + 1);
            for (store::SnapshotChange& c : changes) {
                c.item = {static_cast<std::uint32_t>(random()), 20260101, 120000,
                          "f" + std::to_string(random() % 600)};
                c.removed = state.size() > 300 && random() % 2 == 0 && state.Remove(c.item.name);
                if (!c.removed) state.Upsert(c.item);
            }
            const std::size_t hash = hashOf(state);
            if (report >= 0 && ::write(report, &hash, sizeof hash) != sizeof hash) ::_exit(3);
            if (!(step % 7 == 6 ? store::WriteSnapshotFile(file, itemsOf(state))
                                : store::AppendSnapshotJournal(file, changes))) {
                ::_exit(4);
            }
        }
    };
    const auto t0 = std::chrono::steady_clock::now();
    run(1, 20, -1);
    const auto cycle = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - t0);
    std::mt19937 random(13);
    std::uniform_int_distribution<long> delay(0, cycle.count() + 1);
    for (int i = 0; i < KillIterations(); ++i) {
        std::vector<std::size_t> reported = {hashOf(store::ReadSnapshotFile(file))};
        int reports[2];
        ASSERT_EQ(::pipe(reports), 0);
        const pid_t pid = ForkStarted([&] { run(100 + i, 1'000'000, reports[1]); });
        ASSERT_GE(pid, 0);
        ::close(reports[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << "a write failed";
        for (std::size_t h; ::read(reports[0], &h, sizeof h) == sizeof h;) reported.push_back(h);
        ::close(reports[0]);
        store::SnapshotRead read = store::SnapshotRead::Damaged;
        const std::size_t found = hashOf(store::ReadSnapshotFile(file, &read));
        EXPECT_EQ(read, store::SnapshotRead::Ok);
        ASSERT_TRUE(found == reported.back() ||
                    (reported.size() > 1 && found == reported.end()[-2]))
            << "kill " << i << " left a state never written";
    }
    ExpectCleanupClearsTemporaries(data);
    EXPECT_EQ(FileNames(data.tavdat()), (std::vector<std::string>{"2.dir", "2.jnl"}));
}

// A move to another file system killed at random moments, a third of the
// time replacing a file of the same name: the file is always whole at its
// source or at its destination (both for a moment, never neither); the
// destination name holds the old file or the whole new one; no partial
// copy is ever left in the user's destination folder.
TEST(CrashSafety, KilledMoveAcrossFileSystemsNeverLosesTheFile) {
    TempDir dir;
    OtherFsDir other(dir.path());
    if (other.path().empty()) GTEST_SKIP() << "no second file system at /dev/shm";
    const fs::path out = dir / "out";
    fs::create_directories(out);
    std::string content(1 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13 + i / 1023);

    auto mover = platform::MakeFileMover();
    const platform::WakeEvent never;
    const auto t0 = std::chrono::steady_clock::now();
    WriteBytes(other.path() / "probe", content);
    ASSERT_FALSE(mover->Move(other.path() / "probe", out / "probe", false, never));
    const auto cycle = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - t0);
    fs::remove(out / "probe");

    std::mt19937 random(5);
    std::uniform_int_distribution<long> delay(0, std::max<long>(1, cycle.count() * 3 / 2));
    int kills = 0, atSource = 0, atDestination = 0, both = 0, lost = 0, torn = 0;
    int wholeLeftovers = 0, partialLeftovers = 0;
    for (int i = 0; i < KillIterations(); ++i) {
        const std::string name = "f" + std::to_string(i);
        const bool replace = i % 3 != 0;
        const bool taken = i % 3 == 2;
        WriteBytes(other.path() / name, content);
        if (taken) WriteBytes(out / name, "old");
        auto child = platform::MakeFileMover();
        const pid_t pid =
            ForkStarted([&] { child->Move(other.path() / name, out / name, replace, never); });
        ASSERT_GE(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ++kills;
        const bool source = fs::exists(other.path() / name);
        const std::string there = ReadBytes(out / name);
        const bool arrived = there == content;
        atSource += source && !arrived;
        atDestination += arrived && !source;
        both += source && arrived;
        lost += !source && !arrived;
        if (source) torn += ReadBytes(other.path() / name) != content;
        torn += fs::exists(out / name) && !arrived && !(taken && there == "old");
        for (const std::string& left : FileNames(out)) {
            if (left == name) continue;
            // A kill in the instant between naming a copy and renaming it
            // over the file it replaces leaves it, whole, under its
            // temporary name.
            (ReadBytes(out / left) == content ? wholeLeftovers : partialLeftovers) += 1;
            fs::remove(out / left);
        }
        fs::remove(other.path() / name);
        fs::remove(out / name);
    }
    std::cout << "[figures] move across file systems killed: " << kills << " kills, at source "
              << atSource << ", at destination " << atDestination << ", at both " << both
              << ", lost " << lost << ", torn " << torn
              << ", whole copies left under a temporary name " << wholeLeftovers
              << ", partial copies left " << partialLeftovers << std::endl;
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(partialLeftovers, 0);
    EXPECT_GT(atSource, 0);
    EXPECT_GT(atDestination, 0);
}

// Runs `body` in a child whose files may not grow past `limit` bytes, as on
// a full disk (writes fail with EFBIG instead of killing it), and returns
// what the child wrote to its pipe, or "child failed".
std::string WithFileSizeLimit(rlim_t limit, const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "child failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        std::string out = ::setrlimit(RLIMIT_FSIZE, &r) == 0 ? body() : "setrlimit failed";
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return "child failed";
    }
    return out;
}

const std::string kDiskFull = std::system_category().message(EFBIG);

TEST(FullDisk, SettingsSaveKeepsTheOldFileAndSaysWhy) {
    TempDir dir;
    const store::DataFolder data(dir / "data");
    ASSERT_TRUE(data.Prepare());
    const fs::path file = data.settingsFile();
    ASSERT_TRUE(store::WriteAllSlots(file, Slots(5, "old")));
    const std::string old = ReadBytes(file);

    const std::string message = WithFileSizeLimit(16 * 1024, [&] {
        const store::Status s = store::WriteAllSlots(file, Slots(200, "new"));
        return s ? std::string("saved") : s.message();
    });
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
    EXPECT_NE(message.find(kDiskFull), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(file), old);
    EXPECT_EQ(FileNames(data.tavdat()), std::vector<std::string>{"dirinfo.dat"});
}

TEST(FullDisk, SnapshotWriteKeepsTheOldSnapshotAndSaysWhy) {
    TempDir dir;
    const store::DataFolder data(dir / "data");
    ASSERT_TRUE(data.Prepare());
    store::WatchEntry entry;
    entry.folder = (dir / "in").string();
    fs::create_directories(entry.folder);
    WriteBytes(dir / "in" / "first", "1");
    ASSERT_TRUE(store::WriteSnapshot(data, 0, entry));
    const std::string old = ReadBytes(data.snapshotFile(0));
    for (int i = 0; i < 400; ++i) WriteBytes(dir / "in" / ("more" + std::to_string(i)), "m");

    const std::string message = WithFileSizeLimit(16 * 1024, [&] {
        const store::Status s = store::WriteSnapshot(data, 0, entry);
        return s ? std::string("saved") : s.message();
    });
    EXPECT_NE(message.find(data.snapshotFile(0).string()), std::string::npos) << message;
    EXPECT_NE(message.find(kDiskFull), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(data.snapshotFile(0)), old);
    EXPECT_EQ(FileNames(data.tavdat()), (std::vector<std::string>{"0.dir", "0.jnl"}));
}

// A file moved to another file system is copied; the copy hits the limit.
// The engine goes on, the file stays where it arrived, whole, and nothing
// is left at the destination.
TEST(FullDisk, MoveAcrossFileSystemsByTheEngineKeepsTheSource) {
    TempDir dir;
    OtherFsDir other(dir.path());
    if (other.path().empty()) GTEST_SKIP() << "no second file system at /dev/shm";
    const fs::path in = other.path() / "in";
    const fs::path out = dir / "out";
    fs::create_directories(in);
    fs::create_directories(out);
    std::string content(1 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31 + i / 977);

    int ready[2];
    int go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The engine, with every file it writes limited to 64 KiB.
        auto run = [&]() -> int {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit r{64 * 1024, 64 * 1024};
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0) return 3;
            Rig rig;
            rig.clock.skipDebounce = true;
            store::WatchEntry e;
            e.folder = in.string();
            e.timing = 1;
            e.afterMode = 2;
            e.moveTo = out.string();
            rig.SaveSettings({{true, e}});
            engine::CTavrenDoc doc(rig.data, rig.services());
            char c = 'r';
            if (::write(ready[1], &c, 1) != 1 || ::read(go[0], &c, 1) != 1) return 5;
            const bool failed = WaitUntil([&] { return rig.mover.Failures() > 0; }, 10s);
            doc.Shutdown();
            if (!failed) return 4;
            if (rig.mover.LastError() != std::errc::file_too_large) return 6;
            return rig.mover.TotalMoves() == 0 ? 0 : 7;
        };
        ::_exit(run());
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    // Arrives whole: written beside the folder, then renamed into it.
    WriteBytes(other.path() / "staged", content);
    fs::rename(other.path() / "staged", in / "big.bin");
    ASSERT_EQ(::write(go[1], &c, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "6: another error than EFBIG, 4: no move failed";
    EXPECT_EQ(ReadBytes(in / "big.bin"), content);
    EXPECT_TRUE(FileNames(out).empty()) << "partial copy left: " << FileNames(out).front();
}

TEST(FullDisk, FileMoverCopyKeepsSourceAndReplacedFileAndSaysWhy) {
    TempDir dir;
    OtherFsDir other(dir.path());
    if (other.path().empty()) GTEST_SKIP() << "no second file system at /dev/shm";
    const std::string content(512 * 1024, 'c');
    WriteBytes(other.path() / "src", content);
    WriteBytes(dir / "taken", "old");

    const platform::WakeEvent never;
    for (const bool replace : {false, true}) {
        const fs::path to = dir / (replace ? "taken" : "free");
        const std::string reason = WithFileSizeLimit(64 * 1024, [&] {
            return platform::MakeFileMover()
                ->Move(other.path() / "src", to, replace, never)
                .message();
        });
        EXPECT_EQ(reason, kDiskFull) << "replace=" << replace;
    }
    EXPECT_EQ(ReadBytes(other.path() / "src"), content);
    EXPECT_EQ(ReadBytes(dir / "taken"), "old");
    EXPECT_EQ(FileNames(dir.path()), std::vector<std::string>{"taken"});
}

}  // namespace
}  // namespace tavren::reliability
