#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/services.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/file_mover.h"
#include "platform/process.h"
#include "store/data_folder.h"
#include "store/settings_file.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace tavren::reliability {

// What the process holds at one moment, read from /proc. `children`
// counts zombies too: an unreaped child is a leak as much as a running one.
struct Resources {
    int threads = 0;
    int descriptors = 0;
    int children = 0;
    int inotifyInstances = 0;

    bool operator==(const Resources&) const = default;
};
Resources CountResources();
std::string Describe(const Resources& r);

std::set<pid_t> ThreadIds();

// The number a /proc file such as a kernel limit holds; 0 when unreadable.
int ReadProcInt(const char* file);

// Polls `condition` every few milliseconds until it holds or `limit` passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// How long the soak runs, from TAVREN_SOAK_SECONDS (0 when unset).
int SoakSeconds();

// A seed for the random traffic: TAVREN_SOAK_SEED when set, else the time;
// tests print it so that a failing run can be repeated.
unsigned SoakSeed();

// Real calendar time, so the 3-second debounce and its catch-up rescan run
// as in the program; with `skipDebounce` every reading is 10 seconds after
// the previous one, so every notification rescans. Pauses return at once.
class SoakClock final : public platform::Clock {
public:
    std::int64_t NowSeconds() override;
    platform::LocalTime ToLocal(std::int64_t seconds) override;
    void Sleep(std::chrono::milliseconds, const platform::WakeEvent&) override {}

    std::atomic<bool> skipDebounce{false};

private:
    std::atomic<std::int64_t> offset_{0};
};

// Counts, per path and per command line, what the engine opened and ran.
// With `real` set, programs really run through it (children to count);
// otherwise RunAndWait only takes `runTime` (cut short by `stop`).
class CountingLauncher final : public platform::ProcessLauncher {
public:
    bool RunAndWait(std::string_view commandLine, const platform::WakeEvent& stop,
                    const platform::LaunchContext& context) override;
    // Programs started without waiting count as opens of their line.
    bool StartProgram(std::string_view commandLine,
                      const platform::LaunchContext& context) override;
    OpenResult OpenDocument(const std::filesystem::path& file) override;

    int Opens(const std::string& path) const;
    int Runs(const std::string& commandLine) const;
    int TotalOpens() const;
    int TotalRuns() const;
    std::map<std::string, int> AllOpens() const;

    platform::ProcessLauncher* real = nullptr;
    std::chrono::milliseconds runTime{0};

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> opens_;
    std::map<std::string, int> runs_;
};

// The real file mover, counting the moves that succeeded per source path.
class CountingMover final : public platform::FileMover {
public:
    std::error_code Move(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool replace, const platform::WakeEvent& cancel) override;
    bool Exists(const std::filesystem::path& path) override { return real_->Exists(path); }

    int MovesOf(const std::string& source) const;
    int TotalMoves() const;
    int Failures() const;
    std::error_code LastError() const;
    std::map<std::string, int> AllMoves() const;

private:
    std::unique_ptr<platform::FileMover> real_ = platform::MakeFileMover();
    mutable std::mutex mutex_;
    std::map<std::string, int> moves_;
    int failures_ = 0;
    std::error_code lastError_;
};

// Everything an engine under test needs: a fresh folder, a data folder in
// it, real change notifications, counting recorders for the actions.
struct Rig {
    // The data folder goes under `dataRoot` when given (tmpfs makes the
    // snapshot flushes free where only their count matters).
    explicit Rig(const std::filesystem::path& dataRoot = {});
    engine::Services services();
    std::filesystem::path Folder(const std::string& name);  // created
    void SaveSettings(const std::vector<store::Slot>& slots);

    test::TempDir dir;
    store::DataFolder data;
    std::unique_ptr<platform::ChangeWatcher> watcher = platform::MakeChangeWatcher();
    SoakClock clock;
    CountingLauncher launcher;
    CountingMover mover;
    test::EventLog log;
    test::FakeSound sound{log};
    test::RecordingSink sink{log};
};

// A folder on another file system than the temporary folder (tmpfs under
// /dev/shm), removed with its contents; empty path when there is none.
class OtherFsDir {
public:
    explicit OtherFsDir(const std::filesystem::path& near);
    ~OtherFsDir();
    OtherFsDir(const OtherFsDir&) = delete;
    OtherFsDir& operator=(const OtherFsDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Names of the regular files in `folder`, sorted.
std::vector<std::string> FileNames(const std::filesystem::path& folder);

}  // namespace tavren::reliability
