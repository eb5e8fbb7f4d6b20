// The engine's moves under failing calls. A file arrives in a watched
// folder; the running engine acts on it and moves it while one call after
// the other fails. Then the engine is started again on the same data
// folder without faults, as the program would be after a restart, and
// left to settle. After that the file must be in the destination, whole,
// and nowhere else; its actions must have run once over both lifetimes;
// every failed move must have been told to the user and written to the
// activity log; and no temporary file of ours may be left.

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#else
#include <stdlib.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/tavren_doc.h"
#include "faults/fault_driver.h"
#include "platform/change_watcher.h"
#include "platform/file_mover.h"
#include "platform/path_text.h"
#include "store/activity_log.h"
#include "store/settings_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::faults {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kName = "a.txt";
#ifdef _WIN32
constexpr std::string_view kProgram = "C:\\Tools\\handle.exe";
#else
constexpr std::string_view kProgram = "/usr/bin/handle";
#endif
constexpr std::string_view kOccupant = "already here";
// What the user is told when the destination folder is missing.
constexpr std::string_view kNoDestination = "移動先のフォルダがありません";

// Long enough that a copy reads and writes more than once.
std::string Content() {
    std::string s(300 * 1024, '\0');
    std::uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The real mover, noting every move of the file and how it ended.
class ObservedMover final : public platform::FileMover {
public:
    std::error_code Move(const fs::path& from, const fs::path& to, bool replace,
                         const platform::WakeEvent& cancel) override {
        const std::error_code ec = real_->Move(from, to, replace, cancel);
        const std::lock_guard lock(mutex_);
        ++attempts_;
        if (ec) failures_.push_back(ec);
        return ec;
    }
    bool Exists(const fs::path& path) override { return real_->Exists(path); }
    std::vector<fs::path> RemoveLeftovers(const fs::path& folder) override {
        return real_->RemoveLeftovers(folder);
    }

    int Attempts() const {
        const std::lock_guard lock(mutex_);
        return attempts_;
    }
    std::vector<std::error_code> Failures() const {
        const std::lock_guard lock(mutex_);
        return failures_;
    }

private:
    const std::unique_ptr<platform::FileMover> real_ = platform::MakeFileMover();
    mutable std::mutex mutex_;
    int attempts_ = 0;
    std::vector<std::error_code> failures_;
};

// A folder on tmpfs, on another file system than the temporary folder;
// empty path when there is none. Removed with its contents. Under Wine,
// Z:\dev\shm is that memory file system while the temporary folder lies on
// drive C:, so a move between them is one to another drive, which the
// mover copies by hand.
class ShmFolder {
public:
#ifdef _WIN32
    explicit ShmFolder(const fs::path& near) {
        static std::atomic<unsigned> counter{0};
        const fs::path shm = L"Z:\\dev\\shm";
        std::error_code ec;
        if (!fs::is_directory(shm, ec) || shm.root_name() == near.root_name()) return;
        const fs::path candidate = shm / (L"tavren-faults-" + std::to_wstring(::_getpid()) +
                                          L"-" + std::to_wstring(++counter));
        if (fs::create_directory(candidate, ec)) path_ = candidate;
    }
#else
    explicit ShmFolder(const fs::path& near) {
        std::string templ = "/dev/shm/tavren-faults-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) return;
        path_ = templ;
        struct stat a {};
        struct stat b {};
        if (::stat(templ.c_str(), &a) != 0 || ::stat(near.c_str(), &b) != 0 ||
            a.st_dev == b.st_dev) {
            Remove();
        }
    }
#endif
    ~ShmFolder() { Remove(); }
    ShmFolder(const ShmFolder&) = delete;
    ShmFolder& operator=(const ShmFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    void Remove() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
        path_.clear();
    }
    fs::path path_;
};

struct MoveCase {
    std::string_view path;    // the row of the table
    bool otherFs = false;     // the destination is on tmpfs
    bool nameTaken = false;   // the destination holds kName already
    bool replaces = false;    // the entry replaces it; else the file gets a time-stamped name
    bool runsProgram = true;  // else the entry only announces the file
    // The destination is made only once the first move failed for want of
    // it, so that the retry runs under faults too.
    bool destinationLate = false;
};

// What lives across both lifetimes of the engine: the folders, the data
// folder, and the fakes that count what the engine did.
struct Rig {
    explicit Rig(const MoveCase& c)
        : shm(c.otherFs ? std::make_unique<ShmFolder>(dir.path()) : nullptr) {
        data.Prepare();
        fs::create_directories(watched);
        if (!c.destinationLate) fs::create_directories(destination);
    }

    test::TempDir dir;
    std::unique_ptr<ShmFolder> shm;
    const fs::path watched = dir / "in";
    const fs::path destination = shm ? shm->path() : dir / "out";
    store::DataFolder data{dir / "data"};
    test::EventLog log;
    test::FakeClock clock;
    test::FakeSound sound{log};
    test::RecordingSink sink{log};
    test::FakeLauncher launcher{log};
    ObservedMover mover;
};

// One lifetime of the engine: started, `plan` installed (when given), the
// work of `during` done, stopped once its worker finished its look, ended.
void RunEngine(Rig& rig, CountingPlan* plan, const std::function<void()>& during) {
    const std::unique_ptr<platform::ChangeWatcher> watcher = platform::MakeChangeWatcher();
    engine::Services services{rig.clock, *watcher, rig.launcher, rig.mover, rig.sound, rig.sink};
    auto workers = std::make_shared<std::atomic<int>>(0);
    services.startThread = CountedThreads(workers);
    auto doc = std::make_unique<engine::CTavrenDoc>(rig.data, services);
    doc->log()->Flush();  // the start's lines are not the trial's calls
    std::optional<ScopedPlan> faults;
    if (plan) faults.emplace(*plan);
    during();
    // A stop lets a look under way finish; the exit would cut it short.
    doc->StopWatching();
    WaitUntil([&] { return *workers == 0; }, 5s);
    doc->Shutdown();
    doc.reset();
}

void SaveSettings(const Rig& rig, const MoveCase& c) {
    store::WatchEntry e;
    e.title = "faults";
    e.folder = platform::PathToUtf8(rig.watched);
    e.timing = store::timing::kNames;
    e.messageMode = store::message_mode::kRunNotice;
    e.afterMode = store::after_mode::kMove;
    e.moveTo = platform::PathToUtf8(rig.destination);
    e.overwrite = c.replaces ? 1 : 0;
    if (c.runsProgram) {
        e.program = kProgram;
        e.waitExit = 1;
    }
    std::vector<store::SlotImage> images{store::BlankSlotImage()};
    if (!store::EncodeSlot({true, e}, images[0]).ok() ||
        !store::WriteAllSlots(rig.data.settingsFile(), images).ok()) {
        ADD_FAILURE() << "cannot save the settings";
    }
}

// Names in `folder` and below that a write of ours leaves while under way.
std::vector<std::string> DataTemporaries(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with('.') && name.find(".tmp.") != std::string::npos) found.push_back(name);
    }
    return found;
}

std::vector<std::string> RunMove(const MoveCase& c, FaultRun& run) {
    std::vector<std::string> broken;
    Rig rig(c);
    if (rig.shm && rig.shm->path().empty()) return {"no tmpfs at /dev/shm"};
    rig.clock.AdvanceOnEveryReading();  // no debounce between looks
    SaveSettings(rig, c);
    if (c.nameTaken) test::WriteBytes(rig.destination / kName, kOccupant);
    const std::string content = Content();
    // Written beside the folder and renamed in, so it arrives whole.
    test::WriteBytes(rig.dir / kName, content);

    RunEngine(rig, &run.plan, [&] {
        fs::rename(rig.dir / kName, rig.watched / kName);
        if (!WaitUntil([&] { return rig.mover.Attempts() > 0; }, 5s))
            broken.push_back("the file was not moved, nor tried");
        if (!c.destinationLate) return;
        fs::create_directories(rig.destination);
        // The worker watches the destination, or while it was missing its
        // parent, from the end of its look on: a change there, whichever
        // it watches, tries the move again at once.
        WaitUntil(
            [&] {
                test::WriteBytes(rig.destination / "probe", "");
                fs::remove(rig.destination / "probe");
                return rig.mover.Attempts() > 1;
            },
            5s);
    });
    // The restart: no plan, the same data folder and settings.
    rig.data.Prepare();
    RunEngine(rig, nullptr, [&] {
        WaitUntil([&] { return !fs::exists(rig.watched / kName) && rig.mover.Attempts() > 0; }, 3s);
    });

    // The file: in exactly one place, whole, and that is the destination.
    const bool atSource = fs::exists(rig.watched / kName);
    bool occupied = false;  // the file that held the name before is still there
    std::vector<fs::path> arrived;
    for (const auto& e : fs::directory_iterator(rig.destination)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with(platform::kMoveTemporaryPrefix)) {
            broken.push_back("left " + name + " in the destination");
        } else if (c.nameTaken && name == kName && test::ReadBytes(e.path()) == kOccupant) {
            occupied = true;
        } else {
            arrived.push_back(e.path());
        }
    }
    if (atSource && !arrived.empty()) broken.push_back("in both places");
    if (!atSource && arrived.empty()) broken.push_back("lost: in neither place");
    if (atSource && arrived.empty()) broken.push_back("never moved, also after the restart");
    if (arrived.size() > 1) broken.push_back(std::to_string(arrived.size()) + " files arrived");
    if (c.nameTaken && !c.replaces && !occupied) broken.push_back("the file there was replaced");
    for (const fs::path& p : arrived) {
        const std::string name = p.filename().string();
        if (test::ReadBytes(p) != content) broken.push_back(name + " is torn");
        if (c.nameTaken && !c.replaces ? !name.starts_with("a_") : name != kName)
            broken.push_back("arrived as " + name);
    }
    if (atSource && test::ReadBytes(rig.watched / kName) != content)
        broken.push_back("the source is torn");

    // Its actions, once across both lifetimes.
    const auto once = [&](std::string_view what, std::size_t n) {
        if (n != 1) broken.push_back(std::string(what) + " " + std::to_string(n) + " times");
    };
    once("announced", rig.log.Matching("message:").size());
    if (c.runsProgram) once("the program ran", rig.log.Matching("run:").size());

    // Every failed move told, to the user (a file in use only once it
    // stays so, after three tries) naming why, and in the activity log.
    std::uint64_t offset = 0;
    int logged = 0;
    for (const store::LogRecord& r : store::ReadLogFrom(store::LogPath(rig.data), offset))
        logged += r.event == store::log_event::kNotMoved && r.file == kName;
    const std::vector<std::string> told = rig.log.Matching("problem:");
    int failures = 0;
    for (const std::error_code& ec : rig.mover.Failures()) {
        if (ec == std::errc::file_exists) continue;  // the next name is tried at once
        ++failures;
        if (ec == std::errc::device_or_resource_busy) continue;
        const std::string why =
            ec == std::errc::no_such_file_or_directory ? std::string(kNoDestination) : ec.message();
        if (std::none_of(told.begin(), told.end(), [&](const std::string& t) {
                return t.find(kName) != std::string::npos && t.find(why) != std::string::npos;
            })) {
            broken.push_back("a failed move (" + ec.message() + ") was not told");
        }
    }
    // A log that cannot be written drops its lines, and that is told
    // instead; but an interrupted call is no reason to drop anything.
    const std::string logFile = store::LogPath(rig.data).string();
    const bool logFailed = run.fault != platform::Fault::Interrupted &&
                           std::any_of(told.begin(), told.end(), [&](const std::string& t) {
                               return t.find(logFile) != std::string::npos;
                           });
    if (logged < failures && !logFailed) {
        broken.push_back(std::to_string(failures) + " failed moves, " + std::to_string(logged) +
                         " in the activity log");
    }

    for (const std::string& t : DataTemporaries(rig.data.root()))
        broken.push_back("left " + t + " in the data folder");
    return broken;
}

void TryEveryFault(const MoveCase& c) {
    std::vector<platform::Fault> faults = CommonFaults();
    faults.push_back(platform::Fault::Sharing);  // a file in use is a move's own failure
    const PathOutcome outcome = RunEveryFault(
        c.path, [&](FaultRun& run) { return RunMove(c, run); }, faults);
    EXPECT_GT(outcome.failed, 0);
}

TEST(MoveFaults, SameFileSystem) {
    TryEveryFault({.path = "move: same file system"});
}

// The copy: open, read, write, attributes, sync, its name given by a link
// (by a temporary name and a rename when it replaces), the source removed.
TEST(MoveFaults, AcrossFileSystems) {
    test::TempDir probe;
    if (ShmFolder shm(probe.path()); shm.path().empty())
        GTEST_SKIP() << "no tmpfs at /dev/shm apart from the temporary folder";
    TryEveryFault({.path = "move: across file systems", .otherFs = true});
    TryEveryFault({.path = "move: across file systems, replacing",
                   .otherFs = true,
                   .nameTaken = true,
                   .replaces = true});
}

TEST(MoveFaults, RetryOnceTheDestinationIsThere) {
    TryEveryFault({.path = "move: retried", .destinationLate = true});
}

TEST(MoveFaults, TimeStampedNameWhenTheNameIsTaken) {
    TryEveryFault({.path = "move: time-stamped name", .nameTaken = true, .runsProgram = false});
}

}  // namespace
}  // namespace tavren::faults
