#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/services.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/file_mover.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/sound.h"

namespace tavren::test {

// What the engine puts between a folder and a file name in paths and texts.
inline const std::string kSep(1, static_cast<char>(std::filesystem::path::preferred_separator));

// What the fakes were asked to do, in order, across threads:
// "beep", "wave:<file>", "message:<text>", "open:<path>", "run:<command>",
// "start:<command>" (a program started without waiting),
// "move:<from> -> <to>", "replace:<from> -> <to>", "sleep:<ms>".
class EventLog {
public:
    void Add(std::string event);
    std::vector<std::string> Events() const;
    std::vector<std::string> Matching(std::string_view prefix) const;
    void Clear();
    // Waits (with a deadline) until `count` events start with `prefix`.
    bool WaitFor(std::string_view prefix, std::size_t count, int timeoutMs = 10000) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// Seconds that the test sets; local time is UTC, or UTC shifted by
// `utcOffset` seconds, so that tests are the same in every time zone.
// Sleeps return at once.
class FakeClock final : public platform::Clock {
public:
    explicit FakeClock(EventLog* log = nullptr,
                       std::int64_t now = 1'796'569'449)  // 2026-12-06 15:04:09 UTC
        : log_(log), now_(now) {}
    std::int64_t NowSeconds() override { return now_.load() + (autoAdvance_ ? step_++ * 10 : 0); }
    platform::LocalTime ToLocal(std::int64_t seconds) override;
    void Sleep(std::chrono::milliseconds duration, const platform::WakeEvent&) override;

    void Set(std::int64_t now) { now_ = now; }
    void Advance(std::int64_t seconds) { now_ += seconds; }
    // Every reading is 10 seconds after the previous one: no debounce.
    void AdvanceOnEveryReading() { autoAdvance_ = true; }
    // Sleeps take their time (after being logged), for races with real folders.
    std::atomic<bool> sleepForReal{false};
    std::atomic<std::int64_t> utcOffset{0};

private:
    EventLog* log_;
    std::atomic<std::int64_t> now_;
    std::atomic<bool> autoAdvance_{false};
    std::atomic<std::int64_t> step_{0};
};

class FakeSound final : public platform::SoundPlayer {
public:
    explicit FakeSound(EventLog& log) : log_(log) {}
    void Beep(int, int) override { log_.Add("beep"); }
    void PlayWave(const std::filesystem::path& file) override { log_.Add("wave:" + file.string()); }

private:
    EventLog& log_;
};

// Records messages; `onMessage` runs before it returns (to act while the
// "user" has a box open).
class RecordingSink final : public engine::MessageSink {
public:
    explicit RecordingSink(EventLog& log) : log_(log) {}
    void ShowMessage(std::string_view text, const platform::WakeEvent&) override;
    void ReportProblem(std::string_view text) override;  // logged as "problem:<text>"
    // Logged as "status:<slot>:notified|polled|waiting|none".
    void StatusChanged(const engine::WatchStatus& status) override;
    std::function<void(std::string_view)> onMessage;

private:
    EventLog& log_;
};

class FakeLauncher final : public platform::ProcessLauncher {
public:
    explicit FakeLauncher(EventLog& log) : log_(log) {}
    bool RunAndWait(std::string_view commandLine, const platform::WakeEvent& stop,
                    const platform::LaunchContext& context) override;
    bool StartProgram(std::string_view commandLine,
                      const platform::LaunchContext& context) override;
    OpenResult OpenDocument(const std::filesystem::path& file) override;
    // RunAndWait blocks like a program that runs until `release` is set (or
    // the wait is cancelled), then logs "run-done:<command>".
    std::atomic<bool> blockUntilReleased{false};
    std::atomic<bool> release{false};
    static constexpr long kFakePid = 4242;  // what the launcher reports of each start

private:
    EventLog& log_;
};

// Records moves and carries them out on the real file system with rename,
// refusing to replace unless asked to.
class FakeMover final : public platform::FileMover {
public:
    explicit FakeMover(EventLog& log) : log_(log) {}
    std::error_code Move(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool replace, const platform::WakeEvent& cancel) override;
    bool Exists(const std::filesystem::path& path) override;

private:
    EventLog& log_;
};

// Folders held in memory, for looks without a disk: a folder is known by
// the path it was made under, its files by that path and their name. Not
// for use from several threads.
class MemoryFolders final : public platform::FolderReader {
public:
    struct Folder {
        platform::FileId id;
        std::vector<platform::DirEntry> entries;  // in listing order
        std::error_code statError;                // the folder itself cannot be looked at
        std::error_code listError;                // its listing fails
    };
    // The folder at `path`, made empty on first use.
    Folder& operator[](const std::filesystem::path& path);

    std::error_code List(const std::filesystem::path& folder,
                         std::vector<platform::DirEntry>& out) override;
    std::error_code Stat(const std::filesystem::path& file, platform::DirEntry& out) override;
    platform::FileId Identity(const std::filesystem::path& path) override;

private:
    std::map<std::filesystem::path, Folder> folders_;
};

// For tests that never wait for changes.
class NullChangeWatcher final : public platform::ChangeWatcher {
public:
    std::unique_ptr<platform::ChangeSubscription> Watch(const std::filesystem::path&,
                                                        platform::ChangeKind,
                                                        std::error_code& ec) override {
        ec = std::make_error_code(std::errc::function_not_supported);
        return nullptr;
    }
    std::unique_ptr<platform::ChangeSubscription> WatchForFolder(const std::filesystem::path&,
                                                                 std::error_code& ec) override {
        ec = std::make_error_code(std::errc::function_not_supported);
        return nullptr;
    }
};

// All fakes with one shared log, and Services over them.
struct FakeServices {
    explicit FakeServices(platform::ChangeWatcher& watcher)
        : clock(&log), sound(log), sink(log), launcher(log), mover(log), changes(watcher) {}
    engine::Services services() { return {clock, changes, launcher, mover, sound, sink}; }

    EventLog log;
    FakeClock clock;
    FakeSound sound;
    RecordingSink sink;
    FakeLauncher launcher;
    FakeMover mover;
    platform::ChangeWatcher& changes;
};

}  // namespace tavren::test
