#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/fs.h"

namespace tavren::platform {
class ChangeWatcher;
class Clock;
class FileMover;
class ProcessLauncher;
class SoundPlayer;
class WakeEvent;
}  // namespace tavren::platform

namespace tavren::engine {

class ActivityLog;

// How an entry's folder is being watched.
enum class WatchMode {
    Notified,  // the system's change notifications wake its worker
    Polled,    // listed at an interval: notifications cannot see every change there
    Waiting,   // the folder is gone; watching resumes when it is back
    None,      // not watched at all (its worker could not be started)
};

struct WatchStatus {
    int slot = -1;
    std::string title;
    std::string folder;
    WatchMode mode = WatchMode::Notified;
    std::string reason;  // why it is polled, waiting or not watched
    int number = 0;      // the entry's number in the settings list, from 1
};

// Where the engine's message boxes go: a dialog in the tray program, a line
// on standard output in the headless runner, a recorder in tests.
class MessageSink {
public:
    virtual ~MessageSink() = default;

    // Shows `text` and returns when the user has acknowledged it, or early
    // when `cancel` is set (the program is ending). Called from worker
    // threads, and from the owner's thread for start-up failures.
    virtual void ShowMessage(std::string_view text, const platform::WakeEvent& cancel) = 0;

    // Tells the user of something that could not be done (a snapshot that
    // cannot be written, a folder that cannot be read, a file not opened).
    // Never waits: the worker goes on at once. Called from worker threads.
    virtual void ReportProblem(std::string_view text) = 0;

    // An entry's folder went away or came back, or its watching changed
    // mode. Never waits; called from worker threads. Not called for the
    // modes an entry starts with.
    virtual void StatusChanged(const WatchStatus& /*status*/) {}
};

// Everything system-dependent the engine uses, handed in by its owner so
// that tests can replace each piece. The objects must outlive the engine.
struct Services {
    platform::Clock& clock;
    platform::ChangeWatcher& changes;
    platform::ProcessLauncher& launcher;
    platform::FileMover& mover;
    platform::SoundPlayer& sound;
    MessageSink& messages;
    // Listings of the watched folders and descriptions of their files.
    platform::FolderReader& folders = platform::SystemFolderReader();
    // Whether a process holds a file open for writing (tests replace it).
    std::function<platform::WriterState(const std::filesystem::path&)> probeWriters = nullptr;
    // Starts a worker thread; throws std::system_error when it cannot.
    std::function<std::thread(std::function<void()>)> startThread = [](std::function<void()> f) {
        return std::thread(std::move(f));
    };
    // The activity log; when null, the engine keeps one of its own in its
    // data folder.
    ActivityLog* log = nullptr;
};

}  // namespace tavren::engine
