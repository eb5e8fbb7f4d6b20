#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/services.h"
#include "platform/wake_event.h"
#include "store/data_folder.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::platform {
class ChangeSubscription;
}

namespace tavren::engine {

// Text shown when a worker thread cannot be created; %d is the slot.
inline constexpr const char* kThreadCreationFailed = "%d 番目のスレッド作成に失敗しました。";

// Owner of the watch engine: loads the running entries, snapshots their
// folders and runs one worker thread per entry.
//
// Threading: the owner's thread (the UI thread in the tray program, the
// main thread headless) calls every public member. Workers read only their
// own copy of their entry, their start's stop event, and their slot's
// last-notification time and snapshot file. Stopping never waits for a
// worker: an idle one ends at once, a busy one (a message box, a program
// waited for) finishes its rescan and then ends. A worker that outlives a
// stop never touches the slot again once a newer start owns it. Shutdown()
// and the destructor end every blocking wait and join every worker.
class CTavrenDoc {
public:
    // Clears the engine state and starts watching.
    CTavrenDoc(store::DataFolder data, Services services);
    ~CTavrenDoc();
    CTavrenDoc(const CTavrenDoc&) = delete;
    CTavrenDoc& operator=(const CTavrenDoc&) = delete;

    // Reloads the settings, starts a worker for every running entry and
    // returns once each has stored the snapshot of its folder. With no
    // running entry the engine stays as it was.
    void StartWatching();

    // Turns watching off and wakes every waiting worker; returns at once.
    void StopWatching();

    // The exit path: stops watching, cancels the actions' blocking waits
    // and waits until every worker has ended, at most `limit` long.
    // Returns false when some worker was still busy at the limit (for
    // example in the middle of playing a sound).
    bool Shutdown(std::chrono::milliseconds limit = std::chrono::milliseconds::max());

    // Watching is on: Start is offered when false, Stop when true.
    bool watchRunning() const { return watchRunning_.load(); }
    int loadedCount() const { return table_.count(); }
    const store::WatchTable& table() const { return table_; }
    const store::Status& lastLoadStatus() const { return lastLoad_; }

private:
    struct Generation;
    struct Worker;

    void WatcherThread(int slot, const store::WatchEntry& entry, Generation& generation,
                       platform::ChangeSubscription* subscription);
    void JoinFinishedWorkers();

    const store::DataFolder data_;
    const Services services_;
    std::atomic<bool> watchRunning_{false};
    store::WatchTable table_;
    store::Status lastLoad_;
    platform::WakeEvent exiting_;
    std::shared_ptr<Generation> current_;
    std::uint64_t generations_ = 0;
    std::vector<std::unique_ptr<Worker>> workers_;

    // Per slot: the time of its last change notification (cleared only
    // here, not at a restart), the start that owns it, and a lock that
    // keeps an old worker's snapshot write apart from a new start's.
    std::array<std::atomic<std::uint32_t>, store::kMaxWatchEntries> lastEventTimes_{};
    std::array<std::atomic<std::uint64_t>, store::kMaxWatchEntries> slotOwner_{};
    std::array<std::mutex, store::kMaxWatchEntries> slotLocks_;
};

}  // namespace tavren::engine
