// The engine under load, with real change notifications: a flood that
// overflows the notification queue, and (in the soak) minutes of random
// file traffic across many entries. Every file that arrives must be acted
// on exactly once: none lost, none twice.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/tavren_doc.h"
#include "reliability/harness.h"
#include "support/temp_dir.h"

namespace tavren::reliability {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadBytes;
using test::WriteBytes;

// The descriptor of the process's one inotify instance, or -1.
int InotifyDescriptor() {
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(e.path(), ec).string() == "anon_inode:inotify") {
            return std::stoi(e.path().filename().string());
        }
    }
    return -1;
}

// Puts `content` into `folder` as `name` in one step, as careful producers
// do: written beside it first, then renamed in.
void Deliver(const fs::path& staging, const fs::path& folder, const std::string& name,
             const std::string& content) {
    WriteBytes(staging / name, content);
    fs::rename(staging / name, folder / name);
}

// The notification queue fills up while its reader is starved: the reader
// thread of the change watcher runs at idle priority on the CPU that the
// flood keeps busy. A file that arrives in another folder while the queue
// is full loses its notification; only the overflow marker can wake that
// folder's worker. Everything must still be acted on.
TEST(Overflow, FloodedQueueIsRecoveredByTheRescan) {
    const std::set<pid_t> before = ThreadIds();
    Rig rig;
    std::vector<pid_t> started;
    for (pid_t id : ThreadIds()) {
        if (!before.contains(id)) started.push_back(id);
    }
    ASSERT_EQ(started.size(), 1u) << "expected the watcher's reader thread alone";
    const pid_t reader = started.front();

    cpu_set_t allowed;
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int cpu = 0;
    while (!CPU_ISSET(cpu, &allowed)) ++cpu;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    const sched_param idle{0};
    ASSERT_EQ(::sched_setaffinity(reader, sizeof one, &one), 0);
    ASSERT_EQ(::sched_setscheduler(reader, SCHED_IDLE, &idle), 0);

    // tmpfs when there is one, so that renames never wait for a journal.
    OtherFsDir shm(rig.dir.path());
    const fs::path base = shm.path().empty() ? rig.dir.path() : shm.path();
    const fs::path flooded = base / "flooded";
    const fs::path quiet = base / "quiet";
    const fs::path staging = base / "staging";
    for (const fs::path& p : {flooded, quiet, staging}) fs::create_directories(p);
    store::WatchEntry a;
    a.folder = flooded.string();
    a.fileMode = 1;
    a.pattern = "*.dat";
    a.timing = 1;
    a.afterMode = 2;
    a.moveTo = rig.Folder("out-a").string();
    store::WatchEntry b = a;
    b.folder = quiet.string();
    b.fileMode = 0;
    b.moveTo = rig.Folder("out-b").string();
    rig.SaveSettings({{true, a}, {true, b}});
    rig.clock.skipDebounce = true;
    engine::CTavrenDoc doc(rig.data, rig.services());
    const int queue = InotifyDescriptor();
    ASSERT_GE(queue, 0);

    const int maxEvents = ReadProcInt("/proc/sys/fs/inotify/max_queued_events");
    // An event of a short name takes 32 bytes in the queue.
    const int fullBytes = maxEvents * 32;
    std::atomic<int> renames{0};
    std::vector<std::string> arrivals;
    std::vector<std::string> lateOnes;
    bool lateDropped = false;
    std::thread flood([&] {
        ::sched_setaffinity(0, sizeof one, &one);
        // One file renamed back and forth: two events a rename, no target.
        bool atX = true;
        auto flip = [&] {
            fs::rename(flooded / (atX ? "x.tmp" : "y.tmp"), flooded / (atX ? "y.tmp" : "x.tmp"));
            atX = !atX;
            ++renames;
        };
        auto queued = [&] {
            int bytes = 0;
            return ::ioctl(queue, FIONREAD, &bytes) == 0 ? bytes : -1;
        };
        WriteBytes(flooded / "x.tmp", "x");
        for (int attempt = 0; attempt < 5 && !lateDropped; ++attempt) {
            for (int i = 0; i < 20 * maxEvents && queued() < fullBytes; ++i) {
                for (int k = 0; k < 64; ++k) flip();
                if (i % 8 == 0) {
                    const std::string name = "f" + std::to_string(renames) + ".dat";
                    Deliver(staging, flooded, name, name);
                    arrivals.push_back(name);
                }
            }
            // A queue that neither grew nor shrank over this arrival dropped
            // its notification: only the overflow marker tells of it now.
            const std::string late = "late" + std::to_string(attempt) + ".txt";
            const int queuedBefore = queued();
            Deliver(staging, quiet, late, late);
            lateDropped = queuedBefore >= fullBytes && queued() == queuedBefore;
            lateOnes.push_back(late);
        }
        for (int i = 0; i < 1000; ++i) flip();
    });
    flood.join();
    const auto floodEnd = std::chrono::steady_clock::now();
    ASSERT_TRUE(lateDropped) << "no notification was dropped: the reader kept up with " << renames
                             << " renames";

    EXPECT_TRUE(WaitUntil(
        [&] {
            for (const std::string& name : lateOnes) {
                if (rig.mover.MovesOf((quiet / name).string()) == 0) return false;
            }
            for (const std::string& name : arrivals) {
                if (rig.mover.MovesOf((flooded / name).string()) == 0) return false;
            }
            return true;
        },
        20s));
    const auto recovered = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - floodEnd);
    doc.Shutdown();

    int once = 0;
    for (const std::string& name : lateOnes)
        once += rig.mover.MovesOf((quiet / name).string()) == 1;
    for (const std::string& name : arrivals)
        once += rig.mover.MovesOf((flooded / name).string()) == 1;
    for (const std::string& name : lateOnes) {
        EXPECT_EQ(rig.mover.MovesOf((quiet / name).string()), 1) << name;
        EXPECT_EQ(ReadBytes(fs::path(b.moveTo) / name), name);
    }
    for (const std::string& name : arrivals) {
        EXPECT_EQ(rig.mover.MovesOf((flooded / name).string()), 1) << name;
        EXPECT_EQ(ReadBytes(fs::path(a.moveTo) / name), name);
    }
    EXPECT_EQ(FileNames(flooded).size(), 1u);  // the flood's own file alone
    std::cout << "[figures] overflow: " << 2 * renames << " events into a queue of " << maxEvents
              << ", " << arrivals.size() + lateOnes.size() << " arrivals, " << once
              << " of them acted on exactly once, " << recovered.count() << " ms after the flood"
              << std::endl;
}

// --- The soak: minutes of random traffic (scripts/soak.sh) ---------------

enum class Kind {
    Mover,       // every file, moved on the same file system; written in place
    CrossMover,  // every file, moved to another file system (copied)
    OpenMover,   // "*.dat" opened, then moved; reacts to updates
    Program,     // "*.dat" runs a program (waited for), then moved
    Stay,        // "*.dat" opened and left in place; renamed and deleted later
};

struct Arrival {
    std::string name;
    std::string content;
    bool deleted = false;  // the traffic removed it before it could be moved
    bool gone = false;     // (Stay) renamed away or deleted afterwards
};

struct Lane {
    int slot = 0;
    Kind kind = Kind::Mover;
    store::WatchEntry entry;
    fs::path folder;
    fs::path staging;
    std::vector<Arrival> arrivals;
    std::vector<std::size_t> present;  // (Stay) arrivals still in the folder
    int counter = 0;
    int inPlace = 0;
    int updates = 0;
    int renames = 0;
    int abandoned = 0;

    bool Moves() const { return kind != Kind::Stay; }
};

std::string Content(const std::string& stem, std::mt19937& random) {
    const std::size_t size = random() % 50 == 0 ? 100'000 : random() % 2000;
    std::string s = stem + ":";
    s.reserve(s.size() + size);
    for (std::size_t i = 0; i < size; ++i) s += static_cast<char>('a' + (random() % 26));
    return s;
}

// A file written where it is watched, in two writes, as a careless
// producer does; the engine may move it between them.
void WriteInPlace(const fs::path& file, const std::string& content) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + file.string());
    const std::size_t half = content.size() / 2;
    bool ok = ::write(fd, content.data(), half) == static_cast<ssize_t>(half);
    std::this_thread::yield();
    ok = ok && ::write(fd, content.data() + half, content.size() - half) ==
                   static_cast<ssize_t>(content.size() - half);
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + file.string());
}

// A partial file that grows (updates) and is then renamed to its target
// name, or given up and deleted. Returns false when given up.
bool DeliverThroughPart(Lane& lane, const std::string& stem, const std::string& content,
                        bool giveUp, std::mt19937& random) {
    const fs::path part = lane.folder / (stem + ".part");
    const std::size_t pieces = 1 + random() % 3;
    const std::size_t step = content.size() / pieces + 1;
    WriteBytes(part, "");
    for (std::size_t at = 0; at < content.size(); at += step) {
        std::ofstream out(part, std::ios::binary | std::ios::app);
        out << content.substr(at, step);
        ++lane.updates;
    }
    if (giveUp) {
        fs::remove(part);
        ++lane.abandoned;
        return false;
    }
    fs::rename(part, lane.folder / (stem + ".dat"));
    return true;
}

void Step(Lane& lane, std::mt19937& random) {
    const std::string stem = "l" + std::to_string(lane.slot) + "-" + std::to_string(lane.counter++);
    const std::string content = Content(stem, random);
    const int p = static_cast<int>(random() % 100);
    auto arrive = [&](const std::string& name) -> Arrival& {
        lane.arrivals.push_back({name, content});
        return lane.arrivals.back();
    };
    auto removedFirst = [&](const std::string& name) {
        // Fails when the engine took the file first.
        return ::unlink((lane.folder / name).c_str()) == 0;
    };
    switch (lane.kind) {
        case Kind::Mover:
            if (p < 70) {
                WriteInPlace(lane.folder / stem, content);
                ++lane.inPlace;
                arrive(stem);
            } else if (p < 85) {
                Deliver(lane.staging, lane.folder, stem, content);
                arrive(stem);
            } else {
                WriteInPlace(lane.folder / stem, content);
                ++lane.inPlace;
                arrive(stem).deleted = removedFirst(stem);
            }
            break;
        case Kind::CrossMover:
            Deliver(lane.staging, lane.folder, stem, content);
            if (p < 85) {
                arrive(stem);
            } else {
                arrive(stem).deleted = removedFirst(stem);
            }
            break;
        case Kind::OpenMover:
        case Kind::Program:
            if (DeliverThroughPart(lane, stem, content, p < 10, random)) {
                Arrival& a = arrive(stem + ".dat");
                if (lane.kind == Kind::OpenMover && p < 20) a.deleted = removedFirst(a.name);
            }
            break;
        case Kind::Stay:
            if (p < 50 || lane.present.size() < 2) {
                if (DeliverThroughPart(lane, stem, content, p < 5, random)) {
                    arrive(stem + ".dat");
                    lane.present.push_back(lane.arrivals.size() - 1);
                }
            } else {
                const std::size_t pick = random() % lane.present.size();
                const std::size_t old = lane.present[pick];
                lane.present.erase(lane.present.begin() + static_cast<std::ptrdiff_t>(pick));
                lane.arrivals[old].gone = true;
                if (p < 75) {
                    const std::string name = stem + ".dat";
                    fs::rename(lane.folder / lane.arrivals[old].name, lane.folder / name);
                    ++lane.renames;
                    lane.arrivals.push_back({name, lane.arrivals[old].content});
                    lane.present.push_back(lane.arrivals.size() - 1);
                } else {
                    fs::remove(lane.folder / lane.arrivals[old].name);
                }
            }
            break;
    }
}

TEST(SoakTraffic, EveryArrivingFileIsActedOnExactlyOnce) {
    const int seconds = SoakSeconds() > 0 ? std::max(20, SoakSeconds() / 2) : 20;
    const unsigned seed = SoakSeed();
    std::cout << "[soak] random traffic for " << seconds << " s, seed " << seed
              << " (TAVREN_SOAK_SEED repeats it)" << std::endl;
    constexpr int kLanes = 40;
    constexpr int kProducers = 3;

    Rig rig;
    rig.launcher.runTime = 2ms;
    OtherFsDir other(rig.dir.path());
    std::mt19937 setup(seed);
    std::vector<Lane> lanes(kLanes);
    std::vector<store::Slot> slots;
    for (int i = 0; i < kLanes; ++i) {
        Lane& lane = lanes[i];
        lane.slot = i;
        lane.kind = static_cast<Kind>(i % 5);
        lane.folder = rig.Folder("in" + std::to_string(i));
        lane.staging = rig.Folder("staging" + std::to_string(i));
        store::WatchEntry& e = lane.entry;
        e.title = "lane " + std::to_string(i);
        e.folder = lane.folder.string();
        e.timing = static_cast<std::int16_t>(setup() % 2);
        e.messageMode = static_cast<std::int16_t>(setup() % 3);
        if (lane.Moves()) {
            e.afterMode = 2;
            const bool across = lane.kind == Kind::CrossMover && !other.path().empty();
            const fs::path out = across ? other.path() / ("out" + std::to_string(i))
                                        : rig.Folder("out" + std::to_string(i));
            fs::create_directories(out);
            e.moveTo = out.string();
        }
        if (lane.kind != Kind::Mover && lane.kind != Kind::CrossMover) {
            e.fileMode = 1;
            e.pattern = "*.dat";
        }
        if (lane.kind == Kind::OpenMover) e.timing = 0;
        if (lane.kind == Kind::OpenMover || lane.kind == Kind::Stay) e.openFile = 1;
        if (lane.kind == Kind::Program) {
            e.program = "/opt/lane" + std::to_string(i) + "/convert --quiet";
            e.waitExit = 1;
        }
        slots.push_back({true, e});
    }
    rig.SaveSettings(slots);

    const Resources baseline = CountResources();
    int peakThreads = baseline.threads;
    long settleMs = 0;
    {
        engine::CTavrenDoc doc(rig.data, rig.services());
        ASSERT_EQ(doc.loadedCount(), kLanes);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        std::vector<std::thread> producers;
        std::atomic<bool> failed{false};
        for (int t = 0; t < kProducers; ++t) {
            producers.emplace_back([&, t] {
                std::mt19937 random(seed + 1 + static_cast<unsigned>(t));
                std::vector<Lane*> mine;  // no two producers share a lane
                for (int i = t; i < kLanes; i += kProducers) mine.push_back(&lanes[i]);
                try {
                    while (std::chrono::steady_clock::now() < end) {
                        Step(*mine[random() % mine.size()], random);
                        std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
                    }
                } catch (const std::exception& ex) {
                    std::cerr << "traffic failed: " << ex.what() << std::endl;
                    failed = true;
                }
            });
        }
        // Half the time every notification rescans; half the time the
        // debounce and its catch-up rescan run as in the program.
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(1s);
            const auto left = std::chrono::duration_cast<std::chrono::seconds>(
                end - std::chrono::steady_clock::now());
            rig.clock.skipDebounce = (left.count() / 10) % 2 == 0;
            peakThreads = std::max(peakThreads, CountResources().threads);
        }
        for (std::thread& p : producers) p.join();
        ASSERT_FALSE(failed);

        auto settled = [&] {
            for (const Lane& lane : lanes) {
                for (const Arrival& a : lane.arrivals) {
                    const std::string path = (lane.folder / a.name).string();
                    if (lane.Moves() && !a.deleted && rig.mover.MovesOf(path) == 0) return false;
                    if (!lane.Moves() && !a.gone && rig.launcher.Opens(path) == 0) return false;
                }
            }
            return true;
        };
        const auto trafficEnd = std::chrono::steady_clock::now();
        EXPECT_TRUE(WaitUntil(settled, 60s)) << "some files were never acted on";
        settleMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - trafficEnd)
                       .count();
        // Longer than the catch-up delay: a late second action would show.
        std::this_thread::sleep_for(4s);
        EXPECT_TRUE(doc.Shutdown(10s));
    }

    int arrivals = 0, deleted = 0, lost = 0, duplicated = 0, wrongContent = 0, updates = 0,
        renames = 0, abandoned = 0, inPlace = 0, across = 0;
    std::set<std::string> known;
    for (const Lane& lane : lanes) {
        const fs::path out = lane.entry.moveTo;
        int moved = 0;
        updates += lane.updates;
        renames += lane.renames;
        abandoned += lane.abandoned;
        inPlace += lane.inPlace;
        for (const Arrival& a : lane.arrivals) {
            ++arrivals;
            const std::string path = (lane.folder / a.name).string();
            known.insert(path);
            const int opens = rig.launcher.Opens(path);
            if (lane.Moves()) {
                const int moves = rig.mover.MovesOf(path);
                const bool opened = lane.kind != Kind::OpenMover || opens == 1;
                if (a.deleted) {
                    ++deleted;
                    duplicated += moves > 0 || opens > 1;
                    EXPECT_FALSE(fs::exists(out / a.name)) << path;
                } else {
                    lost += moves == 0 || !opened;
                    duplicated += moves > 1 || opens > 1;
                    wrongContent += ReadBytes(out / a.name) != a.content;
                    ++moved;
                    across += lane.kind == Kind::CrossMover && !other.path().empty();
                }
            } else {
                lost += !a.gone && opens == 0;
                duplicated += opens > 1;
            }
        }
        if (lane.Moves()) {
            EXPECT_EQ(FileNames(out).size(), static_cast<std::size_t>(moved))
                << "lane " << lane.slot;
            EXPECT_TRUE(FileNames(lane.folder).empty())
                << "lane " << lane.slot << " left " << FileNames(lane.folder).size();
        } else {
            EXPECT_EQ(FileNames(lane.folder).size(), lane.present.size()) << "lane " << lane.slot;
        }
        if (lane.kind == Kind::Program) {
            EXPECT_EQ(rig.launcher.Runs(lane.entry.program), moved) << "lane " << lane.slot;
        }
    }
    int strangers = 0;
    for (const auto& [path, count] : rig.launcher.AllOpens()) strangers += !known.contains(path);
    for (const auto& [path, count] : rig.mover.AllMoves()) strangers += !known.contains(path);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(duplicated, 0);
    EXPECT_EQ(wrongContent, 0);
    EXPECT_EQ(strangers, 0) << "acted on a file that never arrived";

    EXPECT_TRUE(WaitUntil([&] { return CountResources() == baseline; }, 10s))
        << "before: " << Describe(baseline) << "; after: " << Describe(CountResources());

    std::cout << "[figures] soak traffic: " << seconds << " s, " << kLanes << " entries, "
              << arrivals << " arrivals (" << inPlace << " written in place, " << across
              << " moved across file systems), " << deleted
              << " deleted by the traffic before the move, " << updates << " updates, " << renames
              << " renames, " << abandoned
              << " abandoned partial files; acted: " << rig.mover.TotalMoves() << " moves, "
              << rig.launcher.TotalOpens() << " opens, " << rig.launcher.TotalRuns()
              << " program runs, " << rig.log.Matching("message:").size() << " messages; lost "
              << lost << ", duplicated " << duplicated << ", wrong content " << wrongContent
              << "; all acted on " << settleMs << " ms after the traffic ended; peak threads "
              << peakThreads << std::endl;
}

}  // namespace
}  // namespace tavren::reliability
