#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/activity_log_writer.h"
#include "engine/pending_book.h"
#include "engine/services.h"
#include "engine/watch_state.h"
#include "platform/wake_event.h"
#include "store/data_folder.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::engine {

struct RescanContext;

// Text shown when a worker thread cannot be created; %d is the slot.
inline constexpr const char* kThreadCreationFailed = "%d 番目のスレッド作成に失敗しました。";

// Owner of the watch engine: loads the running entries, snapshots their
// folders and runs one worker thread per entry.
//
// Each entry's knowledge (its snapshot in memory, files waiting for their
// writers, moves to try again) lives in a WatchState, which a reload hands
// from the old worker to the new one; the snapshot files are its copy on
// disk, read back only after a run that was not stopped.
//
// Threading: the owner's thread (the UI thread in the tray program, the
// main thread headless) calls every public member. Workers read only their
// own copy of their entry, their start's stop event, and their entry's
// state and snapshot file. Stopping never waits for a
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
    // returns once each new one has stored the snapshot of its folder. An
    // entry kept through PauseForReload() instead goes on from where it was.
    // At the first start after a run that ended without stopping (killed,
    // crashed, power cut), each entry goes on from its snapshot file; a
    // start that cannot read the settings leaves that to the next one. With
    // no running entry the engine stays as it was.
    void StartWatching();

    // Turns watching off and wakes every waiting worker; returns at once.
    // The next start takes fresh snapshots: what changes meanwhile is not
    // acted on. What arrived while watching and was not acted on yet (held
    // back, waiting for its writer, queued behind an action), and the moves
    // still to be done, are recorded as each worker ends, in memory and in
    // the data folder's pending file; the next start, of this run or the
    // next one, acts on those files that are still there, once.
    void StopWatching();

    // Turns watching off for a reload of the settings: an entry that the
    // next StartWatching() finds with the same folder, file mode and
    // pattern goes on from where it was (its snapshot, its files waiting
    // for their writers, a look still under way), even in another slot.
    void PauseForReload();

    // The activity log the engine writes: the one handed in, or its own.
    ActivityLog* log() const { return services_.log; }

    // PauseForReload() and StartWatching(): what SIGHUP does.
    void Reload();

    // How each entry of the last start is watched: by notification, by
    // polling, waiting for its folder, or not at all, and why. Safe to call
    // from any thread; workers change it as folders go and come back, and
    // tell the message sink each time.
    std::vector<WatchStatus> statuses() const;

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

    // Which work owed from before a start a worker takes over.
    enum class Owed { None, All, MovesOnly };
    void WatcherThread(const store::WatchEntry& entry, Generation& generation, WatchState& state,
                       int slot, bool fresh, Owed owed,
                       const std::shared_ptr<WatchState>& predecessor);
    // Records, once, what the entry of a stopped start owes (the caller
    // holds the state's lookMutex); written at once with `write`.
    void RecordOwed(RescanContext& context, bool write);
    void RemoveLeftoverCopies();
    void SetStatus(const Generation& generation, int slot, WatchMode mode,
                   const std::string& reason, bool announce);
    void TellLimit(const std::string& advice);
    void JoinFinishedWorkers();
    void EndSession();

    class LoggedMessages;
    const store::DataFolder data_;
    std::unique_ptr<ActivityLog> ownLog_;  // when the owner hands in none
    std::unique_ptr<LoggedMessages> messages_;
    const Services services_;
    std::atomic<bool> watchRunning_{false};
    store::WatchTable table_;
    store::Status lastLoad_;
    platform::WakeEvent exiting_;
    bool ending_ = false;  // Shutdown has begun: no start comes after this stop
    std::shared_ptr<Generation> current_;
    std::uint64_t generations_ = 0;
    std::vector<std::unique_ptr<Worker>> workers_;
    mutable std::mutex statusMutex_;
    std::vector<WatchStatus> statuses_;  // by slot; guarded by statusMutex_
    std::mutex limitMutex_;
    std::vector<std::string> limitsTold_;  // each told once a run
    std::atomic<int> polledEntries_{0};
    bool firstStart_ = true;

    // The states of the running start's entries, and those kept through a
    // pause for a reload.
    std::vector<std::shared_ptr<WatchState>> states_;
    std::vector<std::shared_ptr<WatchState>> retained_;
    // The states of the last stop, until the next start: a new entry's
    // worker takes over what its predecessor owes once that one settled.
    std::vector<std::shared_ptr<WatchState>> stopped_;
    PendingBook pending_;

    // Per slot: the state that owns its snapshot file, and a lock that
    // keeps an old worker's snapshot write apart from a new start's.
    std::array<std::atomic<const WatchState*>, store::kMaxWatchEntries> slotOwner_{};
    std::array<std::mutex, store::kMaxWatchEntries> slotLocks_;
};

}  // namespace tavren::engine
