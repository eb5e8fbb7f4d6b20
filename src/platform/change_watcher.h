#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

namespace tavren::platform {

class WakeEvent;

// Which changes directly inside a folder wake its waiter.
enum class ChangeKind {
    Names,    // a file created, renamed or deleted
    Updates,  // a file written to or its attributes changed
};

enum class WaitResult {
    Changed,     // something of the chosen kind happened since the last wait
    TimedOut,    // the timeout passed first
    Stopped,     // the stop event is set
    FolderGone,  // the folder itself was deleted, moved or unmounted
};

// One folder being watched. Changes that happen while nobody waits are
// kept, so the next Wait() returns at once, as many changes as one.
class ChangeSubscription {
public:
    virtual ~ChangeSubscription() = default;

    // Blocks until a change, the timeout, or `stop`. After FolderGone, a
    // subscription only ever reports stops and timeouts.
    virtual WaitResult Wait(const WakeEvent& stop,
                            std::optional<std::chrono::milliseconds> timeout) = 0;
};

// Serves the change notifications of every watched folder of the process.
// Thread-safe: workers subscribe, wait and unsubscribe concurrently.
class ChangeWatcher {
public:
    virtual ~ChangeWatcher() = default;

    // Starts watching `folder`; nullptr and `ec` set when it cannot be.
    virtual std::unique_ptr<ChangeSubscription> Watch(const std::filesystem::path& folder,
                                                      ChangeKind kind, std::error_code& ec) = 0;
};

// The system's change notifications. On Linux a single inotify instance
// serves all folders: a user has only 128 instances by default.
std::unique_ptr<ChangeWatcher> MakeChangeWatcher();

}  // namespace tavren::platform
