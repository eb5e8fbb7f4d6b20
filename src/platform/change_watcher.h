#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tavren::platform {

class WakeEvent;

// Which changes directly inside a folder wake its waiter.
enum class ChangeKind {
    Names,    // a file created, renamed or deleted
    Updates,  // a file written to or its attributes changed
    // Anything that may let a move into the folder succeed now: a file
    // made, removed, renamed or written, the folder's own attributes (it
    // became writable). The copies that moves write there meanwhile
    // (kMoveTemporaryPrefix) do not count.
    Destination,
};

enum class WaitResult {
    Changed,           // something of the chosen kind happened since the last wait
    TimedOut,          // the timeout passed first
    Stopped,           // the stop event is set
    FolderGone,        // the folder itself was deleted, moved or unmounted
    PathChanged,       // something was made, removed or renamed under the folder's
                       // name in its parent: the path may name another folder now
    Overflowed,        // the system dropped notifications: anything may have changed
    CompanionChanged,  // the subscription waited on alongside reported something
    Closed,            // a writer closed one of the files named to WakeOnClose
};

// How many names a subscription keeps between two takes; past that a look
// lists the folder, which then costs less than describing each name.
inline constexpr std::size_t kMaxNotifiedNames = 65536;

// One folder being watched. Changes that happen while nobody waits are
// kept, so the next Wait() returns at once, as many changes as one.
class ChangeSubscription {
public:
    virtual ~ChangeSubscription() = default;

    // Blocks until a change, the timeout, or `stop`. After FolderGone the
    // folder's own changes are no longer reported; PathChanged still is.
    virtual WaitResult Wait(const WakeEvent& stop,
                            std::optional<std::chrono::milliseconds> timeout) = 0;

    // The same, waiting on `companion` (of the same watcher) too: whatever
    // it reports is taken from it and returned as CompanionChanged. Where
    // two cannot be waited on together, the companion is not heard and the
    // caller's timeout must serve.
    virtual WaitResult WaitWith(const WakeEvent& stop,
                                std::optional<std::chrono::milliseconds> timeout,
                                ChangeSubscription& companion) {
        (void)companion;
        return Wait(stop, timeout);
    }

    // Hands over the names of the folder's entries that something happened
    // to since the last take (made, removed, renamed from or to, written,
    // attributes changed, whatever kind wakes the waiter), each once, and
    // forgets them. False when they cannot be relied on to name every
    // change: the system dropped notifications, more than
    // kMaxNotifiedNames piled up, or the system does not tell names. The
    // caller then lists the folder. Names are the bytes a listing gives.
    virtual bool TakeNames(std::vector<std::string>& names) {
        names.clear();
        return false;
    }

    // The files whose close by a writer wakes the waiter with Closed (the
    // files waiting for their writer); replaces the names given before.
    // Where the system does not tell of closes, nothing is heard and the
    // caller's timeout must serve.
    virtual void WakeOnClose(std::vector<std::string> names) { (void)names; }
};

// Serves the change notifications of every watched folder of the process.
// Thread-safe: workers subscribe, wait and unsubscribe concurrently.
class ChangeWatcher {
public:
    virtual ~ChangeWatcher() = default;

    // Starts watching `folder`; nullptr and `ec` set when it cannot be.
    // Where the folder's parent can be watched too, the subscription also
    // reports PathChanged.
    virtual std::unique_ptr<ChangeSubscription> Watch(const std::filesystem::path& folder,
                                                      ChangeKind kind, std::error_code& ec) = 0;

    // Waits for `folder` to come (back): a subscription that reports only
    // PathChanged, through the folder's parent. nullptr and `ec` set when
    // the parent cannot be watched.
    virtual std::unique_ptr<ChangeSubscription> WatchForFolder(const std::filesystem::path& folder,
                                                               std::error_code& ec) = 0;
};

// A folder's parent and its name there: what a watch of the parent looks
// for. Both empty for a root, which has no parent.
struct PlaceInParent {
    std::filesystem::path parent;
    std::filesystem::path name;
};
inline PlaceInParent PlaceOf(const std::filesystem::path& folder) {
    std::filesystem::path p = folder.lexically_normal();
    if (!p.has_filename()) p = p.parent_path();  // a trailing separator
    if (p.empty() || p == p.root_path() || !p.has_parent_path()) return {};
    return {p.parent_path(), p.filename()};
}

// What to tell the user when watching a folder failed with `ec` because
// the system's notifications ran out, naming the limit to raise; empty for
// any other failure.
std::string ChangeLimitAdvice(const std::error_code& ec);
// The same when the system dropped notifications (WaitResult::Overflowed).
std::string ChangeOverflowAdvice();

// The system's change notifications. On Linux a single inotify instance
// serves all folders: a user has only 128 instances by default.
std::unique_ptr<ChangeWatcher> MakeChangeWatcher();

}  // namespace tavren::platform
