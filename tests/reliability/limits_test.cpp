// The engine at its limits: 200 entries, a folder of 100,000 files, names
// of 255 bytes and names with no CP932 form, a settings file of garbage,
// and stop/start cycles while workers are busy, with threads, descriptors
// and child processes counted before and after.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/tavren_doc.h"
#include "platform/process.h"
#include "platform/wake_event.h"
#include "reliability/harness.h"
#include "store/settings_file.h"
#include "store/snapshot.h"
#include "support/temp_dir.h"

namespace tavren::reliability {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadBytes;
using test::WriteBytes;

void Deliver(const fs::path& folder, const std::string& name, const std::string& content) {
    const fs::path staged = folder.parent_path() / (".staged-" + std::to_string(::getpid()));
    WriteBytes(staged, content);
    fs::rename(staged, folder / name);
}

store::WatchEntry MoveEntry(const fs::path& in, const fs::path& out) {
    store::WatchEntry e;
    e.folder = in.string();
    e.timing = 1;
    e.afterMode = 2;
    e.moveTo = out.string();
    return e;
}

TEST(Limits, TwoHundredEntriesShareOneInotifyInstance) {
    const int instances = ReadProcInt("/proc/sys/fs/inotify/max_user_instances");
    Rig rig;
    rig.clock.skipDebounce = true;
    std::vector<store::Slot> slots;
    for (int i = 0; i < 200; ++i) {
        store::WatchEntry e =
            MoveEntry(rig.Folder("in" + std::to_string(i)), rig.Folder("out" + std::to_string(i)));
        e.timing = static_cast<std::int16_t>(i % 2);  // both kinds of notification
        slots.push_back({true, e});
    }
    rig.SaveSettings(slots);
    const Resources baseline = CountResources();
    ASSERT_EQ(baseline.inotifyInstances, 1);

    auto doc = std::make_unique<engine::CTavrenDoc>(rig.data, rig.services());
    ASSERT_EQ(doc->loadedCount(), 200);
    for (int round = 0; round < 3; ++round) {
        const Resources running = CountResources();
        EXPECT_EQ(running.inotifyInstances, 1);
        EXPECT_GE(running.threads, baseline.threads + 200);
        const std::string name = "round" + std::to_string(round);
        for (int i = 0; i < 200; ++i) Deliver(rig.dir / ("in" + std::to_string(i)), name, name);
        EXPECT_TRUE(WaitUntil([&] { return rig.mover.TotalMoves() == 200 * (round + 1); }, 30s))
            << rig.mover.TotalMoves() << " moves";
        doc->StopWatching();
        doc->StartWatching();
    }
    EXPECT_TRUE(doc->Shutdown(10s));
    doc.reset();
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(FileNames(rig.dir / ("out" + std::to_string(i))),
                  (std::vector<std::string>{"round0", "round1", "round2"}));
    }
    int once = 0;
    for (const auto& [source, count] : rig.mover.AllMoves()) {
        EXPECT_EQ(count, 1) << source;
        once += count == 1;
    }
    EXPECT_TRUE(WaitUntil([&] { return CountResources() == baseline; }, 5s))
        << Describe(CountResources());
    std::cout << "[figures] 200 entries, " << instances << " inotify instances allowed: 1 used, "
              << rig.mover.TotalMoves() << " moves over 3 starts, " << once
              << " files moved exactly once" << std::endl;
}

TEST(Limits, FolderOfOneHundredThousandFiles) {
    constexpr int kFiles = 100'000;
    // On tmpfs where there is one: creating and removing the files on a
    // disk would take most of the time.
    OtherFsDir fast("/");
    Rig rig(fast.path());
    rig.clock.skipDebounce = true;
    const fs::path big = fast.path().empty() ? rig.Folder("big") : fast.path() / "big";
    fs::create_directories(big);
    for (int i = 0; i < kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "n%06d", i);
        const int fd = ::open((big / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    store::WatchEntry e;
    e.folder = big.string();
    e.timing = 1;
    e.openFile = 1;
    rig.SaveSettings({{true, e}});

    auto t0 = std::chrono::steady_clock::now();
    engine::CTavrenDoc doc(rig.data, rig.services());
    const auto startMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    ASSERT_EQ(store::ReadSnapshot(rig.data, 0).size(), kFiles);

    // Two files grow, three arrive: five files to open, no more.
    for (const char* name : {"n000017", "n099998"}) {
        std::ofstream(big / name, std::ios::app) << "grown";
    }
    const std::vector<std::string> arrivals = {"new-a", "new-b", "new-c"};
    t0 = std::chrono::steady_clock::now();
    for (const std::string& name : arrivals) Deliver(big, name, name);
    ASSERT_TRUE(WaitUntil([&] { return rig.launcher.TotalOpens() >= 5; }, 30s));
    const auto rescanMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    for (const char* name : {"n000017", "n099998", "new-a", "new-b", "new-c"}) {
        EXPECT_EQ(rig.launcher.Opens((big / name).string()), 1) << name;
    }

    // A file deleted while a rescan acts is missing from the listing that
    // the rescan stores afterwards, and so goes unannounced: let the rescan
    // of the arrivals end first.
    auto snapshotHolds = [&](std::size_t records) {
        return WaitUntil([&] { return store::ReadSnapshot(rig.data, 0).size() == records; }, 30s);
    };
    ASSERT_TRUE(snapshotHolds(kFiles + 3));

    // Four files go. A rescan announces only the first file it finds gone,
    // and the removals may be spread over up to four rescans.
    for (const char* name : {"n050000", "n000001", "n070000", "n000002"}) fs::remove(big / name);
    const std::size_t records = kFiles + 3 - 4;
    EXPECT_TRUE(snapshotHolds(records));
    EXPECT_TRUE(doc.Shutdown(10s));
    const auto messages = rig.log.Matching("message:");
    EXPECT_GE(messages.size(), 1u);
    EXPECT_LE(messages.size(), 4u);
    for (const std::string& m : messages) EXPECT_NE(m.find("/big/n0"), std::string::npos) << m;
    EXPECT_EQ(rig.launcher.TotalOpens(), 5);
    store::SnapshotList snapshot = store::ReadSnapshot(rig.data, 0);
    EXPECT_EQ(snapshot.size(), records);
    EXPECT_EQ(snapshot.Find("n000002"), nullptr);
    EXPECT_NE(snapshot.Find("new-c"), nullptr);
    std::cout << "[figures] folder of " << kFiles << " files: start with its snapshot "
              << startMs.count() << " ms, rescan acting on 5 files " << rescanMs.count()
              << " ms, nothing missed or repeated" << std::endl;
}

// Names the snapshot cannot store as they are: too long for its 127-byte
// field, or without a CP932 form. Each is acted on once, and the stored
// snapshot recognises it again, so no later rescan repeats the action.
TEST(Limits, LongAndUnencodableNamesAreActedOnOnceAndSnapshotted) {
    std::string jp85;
    for (int i = 0; i < 85; ++i) jp85 += "あ";  // 255 bytes, 170 in CP932
    std::string jp63;
    for (int i = 0; i < 63; ++i) jp63 += "あ";
    const std::vector<std::string> names = {
        std::string(251, 'a') + ".txt",  // the longest name there is
        jp85,                            // as long, in Japanese
        jp63 + "b",                      // exactly fills the field in CP932
        "report-\xF0\x9F\x98\x80.txt",   // an emoji: no CP932 form
        "wave\xE3\x80\x9C"
        "dash.txt",                    // U+301C: CP932 has only a look-alike
        "bad-\xFF\xFE.txt",            // not even UTF-8
        "-rf",                         // reads like an option
        "a." + std::string(253, 'x'),  // no room for a time stamp
    };
    Rig rig;
    rig.clock.skipDebounce = true;
    const fs::path stay = rig.Folder("stay");
    const fs::path in = rig.Folder("in");
    const fs::path out = rig.Folder("out");
    store::WatchEntry opener;
    opener.folder = stay.string();
    opener.timing = 1;
    opener.openFile = 1;
    store::WatchEntry mover = MoveEntry(in, out);
    mover.messageMode = 2;
    rig.SaveSettings({{true, opener}, {true, mover}});
    // Every name is taken at the destination, so each move needs a time stamp.
    for (const std::string& name : names) WriteBytes(out / name, "older");

    engine::CTavrenDoc doc(rig.data, rig.services());
    for (const std::string& name : names) {
        Deliver(stay, name, name);
        Deliver(in, name, name);
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return rig.launcher.TotalOpens() == static_cast<int>(names.size()); }, 20s));
    ASSERT_TRUE(WaitUntil([&] { return FileNames(in).size() == 1; }, 20s)) << FileNames(in).size();

    // An unrelated arrival makes both entries rescan what they already know.
    Deliver(stay, "trigger", "t");
    Deliver(in, "trigger", "t");
    ASSERT_TRUE(
        WaitUntil([&] { return rig.launcher.Opens((stay / "trigger").string()) == 1; }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return rig.mover.MovesOf((in / "trigger").string()) == 1; }, 10s));

    // The 255-byte Japanese name goes, once the rescan of the trigger has
    // stored its snapshot; the notice shows what the key keeps.
    ASSERT_TRUE(WaitUntil(
        [&] { return store::ReadSnapshot(rig.data, 0).size() == names.size() + 1; }, 10s));
    fs::remove(stay / jp85);
    ASSERT_TRUE(
        WaitUntil([&] { return rig.log.Matching("message:" + stay.string()).size() == 1; }, 10s));
    EXPECT_TRUE(doc.Shutdown(5s));

    const store::SnapshotList snapshot = store::ReadSnapshot(rig.data, 0);
    EXPECT_EQ(snapshot.size(), names.size());  // trigger in, jp85 out
    std::set<std::string> keys;
    for (const auto& node : snapshot) keys.insert(node.item.name);
    EXPECT_EQ(keys.size(), snapshot.size()) << "two names share a record";
    for (const std::string& name : names) {
        EXPECT_EQ(rig.launcher.Opens((stay / name).string()), 1) << name;
        const int moves = rig.mover.MovesOf((in / name).string());
        if (name == names.back()) {
            // Its time-stamped name would exceed 255 bytes: the move is
            // refused and the file stays, whole.
            EXPECT_EQ(moves, 0);
            EXPECT_EQ(ReadBytes(in / name), name);
        } else {
            EXPECT_EQ(moves, 1) << name;
            EXPECT_EQ(ReadBytes(out / name), "older");
        }
    }
    // Each moved file sits beside the older one under a stamped name.
    EXPECT_EQ(FileNames(out).size(), 2 * names.size() - 1 + 1);
    const auto notice = rig.log.Matching("message:" + stay.string());
    EXPECT_NE(notice[0].find("…"), std::string::npos) << notice[0];
}

// A settings file that is garbage from end to end: negative and absurd
// modes, strings without terminators, bytes that are not CP932, folders,
// programs and sounds that do not exist, more slots than allowed and a
// torn last one. It loads, runs, stops and starts without harm.
TEST(Limits, GarbageSettingsLoadAndRun) {
    Rig rig;
    rig.clock.skipDebounce = true;
    const fs::path real1 = rig.Folder("real1");
    const fs::path real2 = rig.Folder("real2");
    std::mt19937 random(20261206);
    std::string bytes;
    auto slotBytes = [&](auto fill) {
        store::SlotImage image = store::BlankSlotImage();
        fill(image);
        bytes.append(reinterpret_cast<const char*>(&image), sizeof image);
    };
    auto put16 = [](char(&field)[2], int value) {
        field[0] = static_cast<char>(value & 0xFF);
        field[1] = static_cast<char>((value >> 8) & 0xFF);
    };
    auto text = [](auto& field, const std::string& s) {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, s.data(), std::min(s.size(), sizeof field));
    };
    // Every field garbage, every string without a terminator.
    slotBytes([&](store::SlotImage& s) { std::memset(&s, 0xFF, sizeof s); });
    // A real folder, so that the worker acts, with absurd modes around it.
    slotBytes([&](store::SlotImage& s) {
        put16(s.running, -1);
        put16(s.fileMode, 1);
        put16(s.timing, 7);
        put16(s.messageMode, -5);
        put16(s.soundMode, 2);
        put16(s.afterMode, 2);
        put16(s.openFile, -1);
        put16(s.waitExit, -32768);
        put16(s.overwrite, -1);
        std::memset(s.title, 'T', sizeof s.title);
        text(s.folder, real1.string());
        std::memset(s.pattern, '*', sizeof s.pattern);  // unterminated "****..."
        text(s.program, "\"unbalanced quote \\\" \\\\\\");
        text(s.moveTo, "/nonexistent/destination/");
        text(s.waveFile, "/nonexistent/sound.wav");
    });
    slotBytes([&](store::SlotImage& s) {
        put16(s.running, 1);
        put16(s.fileMode, -32768);
        put16(s.timing, -1);
        put16(s.messageMode, 1);
        put16(s.afterMode, -2);
        put16(s.waitExit, 1);
        text(s.folder, real2.string());
        std::memset(s.program, '\x81', sizeof s.program);  // lead bytes with no trail
        std::memset(s.waveFile, '\xFC', sizeof s.waveFile);
    });
    // Random bytes up to more slots than are allowed, then a torn slot.
    while (bytes.size() < 205 * store::kSlotSize + 300) bytes += static_cast<char>(random());
    WriteBytes(rig.data.settingsFile(), bytes);

    // The list dialog's path: every slot decodes, and encodes again or
    // says which field it cannot store.
    std::vector<store::SlotImage> images;
    ASSERT_TRUE(store::ReadAllSlots(rig.data.settingsFile(), images));
    EXPECT_EQ(images.size(), store::kMaxWatchEntries);
    int refused = 0;
    for (store::SlotImage& image : images) {
        const store::Status s = store::EncodeSlot(store::DecodeSlot(image), image);
        if (!s) {
            ++refused;
            EXPECT_FALSE(s.message().empty());
        }
    }

    // Programs really start (or fail to); opening files is only recorded.
    class RealRuns final : public platform::ProcessLauncher {
    public:
        bool RunAndWait(std::string_view command, const platform::WakeEvent& stop,
                        const platform::LaunchContext& context) override {
            ++runs;
            return real->RunAndWait(command, stop, context);
        }
        bool StartProgram(std::string_view line, const platform::LaunchContext& context) override {
            return opens.StartProgram(line, context);
        }
        OpenResult OpenDocument(const fs::path& file) override { return opens.OpenDocument(file); }
        std::unique_ptr<platform::ProcessLauncher> real = platform::MakeProcessLauncher();
        CountingLauncher opens;
        std::atomic<int> runs{0};
    } launcher;
    const Resources baseline = CountResources();
    {
        engine::Services services = rig.services();
        engine::Services withRuns{services.clock, services.changes, launcher,
                                  services.mover, services.sound,   services.messages};
        engine::CTavrenDoc doc(rig.data, withRuns);
        EXPECT_GT(doc.loadedCount(), 2);
        EXPECT_LE(doc.loadedCount(), 200);
        for (int round = 0; round < 3; ++round) {
            const std::string name = "drop" + std::to_string(round);
            Deliver(real1, name, name);
            Deliver(real2, name, name);
            EXPECT_TRUE(
                WaitUntil([&] { return launcher.opens.Opens((real1 / name).string()) == 1; }, 10s))
                << name;
            EXPECT_TRUE(WaitUntil([&] { return launcher.runs >= round + 1; }, 10s));
            doc.StopWatching();
            doc.StartWatching();
        }
        EXPECT_TRUE(doc.Shutdown(10s));
    }
    // The moves to a missing folder failed; the files stay where they were.
    EXPECT_EQ(FileNames(real1), (std::vector<std::string>{"drop0", "drop1", "drop2"}));
    EXPECT_EQ(FileNames(real2), (std::vector<std::string>{"drop0", "drop1", "drop2"}));
    EXPECT_TRUE(WaitUntil([&] { return CountResources() == baseline; }, 5s))
        << Describe(CountResources());
    std::cout << "[figures] garbage settings: " << images.size() << " slots read, " << refused
              << " refused on re-saving with a message, 3 starts, " << launcher.runs
              << " program starts attempted, no crash" << std::endl;
}

// Stop and start over and over while files keep arriving and workers are
// busy with real programs; afterwards nothing may be left behind.
struct CycleFigures {
    int cycles = 0;
    int peakThreads = 0;
    int programRuns = 0;
    int moves = 0;
    long shutdownMs = 0;
    long settleMs = 0;
    Resources before;
    Resources after;
};

CycleFigures StopStartCycles(std::chrono::seconds atMost, int cycleLimit) {
    // Every start flushes six snapshots; on tmpfs that costs nothing.
    OtherFsDir fast("/");
    Rig rig(fast.path());
    rig.clock.skipDebounce = true;
    auto real = platform::MakeProcessLauncher();
    rig.launcher.real = real.get();
    std::vector<store::Slot> slots;
    std::vector<fs::path> folders;
    for (int i = 0; i < 6; ++i) {
        folders.push_back(rig.Folder("in" + std::to_string(i)));
        store::WatchEntry e;
        e.folder = folders.back().string();
        e.timing = static_cast<std::int16_t>(i % 2);
        if (i < 3) {
            e.program = "/bin/sleep 0.02";  // waited for: the worker is busy
            e.waitExit = 1;
        } else if (i == 3) {
            e.program = "/bin/true";  // not waited for: reaped in the background
        }
        // Moved away, so that the folders, and with them each start's
        // snapshots, stay small however long this runs.
        e.afterMode = 2;
        e.moveTo = rig.Folder("out" + std::to_string(i)).string();
        slots.push_back({true, e});
    }
    rig.SaveSettings(slots);

    CycleFigures f;
    f.before = CountResources();
    f.peakThreads = f.before.threads;
    {
        engine::CTavrenDoc doc(rig.data, rig.services());
        std::atomic<bool> done{false};
        std::thread traffic([&] {
            for (int n = 0; !done; ++n) {
                WriteBytes(folders[n % folders.size()] / ("f" + std::to_string(n)), "x");
                std::this_thread::sleep_for(1ms);
            }
        });
        const auto end = std::chrono::steady_clock::now() + atMost;
        while (f.cycles < cycleLimit && std::chrono::steady_clock::now() < end) {
            doc.StopWatching();
            if (f.cycles % 7 == 3) doc.StartWatching();  // a start while running, too
            doc.StartWatching();
            ++f.cycles;
            if (f.cycles % 25 == 0)
                f.peakThreads = std::max(f.peakThreads, CountResources().threads);
        }
        done = true;
        traffic.join();
        const auto t0 = std::chrono::steady_clock::now();
        doc.Shutdown();
        f.shutdownMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - t0)
                           .count();
    }
    f.programRuns = rig.launcher.TotalRuns();
    f.moves = rig.mover.TotalMoves();
    // Programs cut short by the exit run on and are reaped when they end.
    const auto settleStart = std::chrono::steady_clock::now();
    WaitUntil([&] { return CountResources() == f.before; }, 10s);
    f.settleMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - settleStart)
                     .count();
    f.after = CountResources();
    return f;
}

void ExpectNoLeaks(const CycleFigures& f, const char* what) {
    EXPECT_EQ(f.after, f.before) << "before: " << Describe(f.before)
                                 << "; after: " << Describe(f.after);
    std::cout << "[figures] " << what << ": " << f.cycles << " stop/start cycles, " << f.programRuns
              << " programs run, " << f.moves << " files moved, peak " << f.peakThreads
              << " threads, shutdown " << f.shutdownMs << " ms, back to the start " << f.settleMs
              << " ms later; before " << Describe(f.before) << "; after " << Describe(f.after)
              << std::endl;
}

TEST(Limits, StopStartCyclesWithBusyWorkersLeakNothing) {
    const CycleFigures f = StopStartCycles(20s, 300);
    EXPECT_GE(f.cycles, 100);
    EXPECT_GT(f.programRuns, 0);
    ExpectNoLeaks(f, "stop/start");
}

TEST(SoakCycles, ThousandsOfStopStartCyclesLeakNothing) {
    const int seconds = SoakSeconds() > 0 ? std::max(20, SoakSeconds() / 5) : 20;
    const CycleFigures f = StopStartCycles(std::chrono::seconds(seconds), 1'000'000);
    ExpectNoLeaks(f, "soak stop/start");
}

}  // namespace
}  // namespace tavren::reliability
