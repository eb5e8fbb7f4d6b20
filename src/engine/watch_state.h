#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "platform/fs.h"
#include "store/snapshot.h"
#include "store/snapshot_journal.h"
#include "store/watch_entry.h"

namespace tavren::engine {

using SteadyTime = std::chrono::steady_clock::time_point;
inline constexpr SteadyTime kNever = SteadyTime::max();

// What makes two entries watch the same files: an entry whose folder, file
// mode and pattern stay the same across a reload goes on from where it was.
struct WatchKey {
    std::string folder;
    std::int16_t fileMode = store::file_mode::kEveryFile;
    std::string pattern;  // only when the entry uses it

    bool operator==(const WatchKey&) const = default;
};
WatchKey KeyOf(const store::WatchEntry& entry);

// A target file that is still being written: it waits, out of the
// snapshot, until it is complete.
struct WaitingFile {
    platform::FileId id;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;  // last write, nanoseconds since the epoch
    SteadyTime lastChange;     // when we last saw its size or time move
};

// The names a folder's change notifications gave since the last look, and
// whether they name every change since a listing: then a look describes
// those names alone instead of listing the folder. Each subscription is a
// `source` of its own; names of another than the current one do not count.
// Thread-safe.
class NotifiedNames {
public:
    // A new subscription gathers from now on (0: none, the folder is
    // listed at every look). Names count only once a listing taken after
    // this has been compared.
    void Begin(std::uint64_t source);
    // What `source` reported; `complete` false when some names were lost.
    void Add(std::uint64_t source, bool complete, std::vector<std::string>& names);
    // At the start of a look by `source`: true, with the names, when
    // describing them will do. Else the look lists the folder, and the
    // names are dropped.
    bool Take(std::uint64_t source, std::vector<std::string>& names);
    // The names added since the look began.
    std::vector<std::string> Since(std::uint64_t source);
    // A look by `source` has compared what it gathered: names alone do from
    // now, unless some were lost meanwhile.
    void Listed(std::uint64_t source);

private:
    std::mutex mutex_;
    std::uint64_t source_ = 0;
    bool trusted_ = false;
    bool lost_ = false;  // since the look began
    std::set<std::string> names_;
};

// A file that was acted on but not moved yet: refused because it was in
// use, or failed (destination full, missing, read-only, name refused).
// The move alone is tried again, ever less often, and at once when the
// destination folder changes or the entry's folder is looked at again.
struct PendingMove {
    std::string name;
    platform::FileId id;
    int attempts = 0;  // failed attempts so far
    SteadyTime due;
    std::error_code told;  // the failure the user was told of, if any
    // Tried again soon after a change in the destination failed: one more
    // try follows shortly, since what the change frees (room, a name) may
    // show a moment after its notification.
    bool settling = false;
};

// A file an entry still owes work to, known by name and identity.
struct OwedFile {
    std::string name;
    platform::FileId id;
    bool operator==(const OwedFile&) const = default;
};
// What an entry still owes: files that arrived while it watched and were
// not acted on yet, and files acted on whose move has not succeeded yet.
struct OwedWork {
    std::vector<OwedFile> act;
    std::vector<OwedFile> move;
    bool empty() const { return act.empty() && move.empty(); }
    bool operator==(const OwedWork&) const = default;
};

// Everything one entry knows between two looks at its folder. It outlives
// the worker that made it: a reload that keeps the entry hands it to the
// next worker, so no file is lost or acted on twice across the reload.
//
// `lookMutex` is held for a whole look (listing, actions, snapshot), so an
// old worker that is still busy finishes before the new one looks.
// `slot` and `lastEventTime` are read and written without it.
class WatchState {
public:
    WatchState() = default;
    WatchState(const WatchState&) = delete;
    WatchState& operator=(const WatchState&) = delete;

    WatchKey key;  // set before any worker sees the state
    // The slot whose snapshot file this state writes; -1 once no entry
    // of the current start uses it.
    std::atomic<int> slot{-1};
    // Its entry's number in the settings list, for the activity log.
    std::atomic<int> number{0};
    // Seconds (low 32 bits) of the last change notification.
    std::atomic<std::uint32_t> lastEventTime{0};
    // The names notified since the last look.
    NotifiedNames notified;

    std::mutex lookMutex;
    // --- guarded by lookMutex --------------------------------------------
    bool haveBaseline = false;  // the folder was listed at least once
    // The folder the snapshot describes (unknown until listed).
    platform::FileId folderId;
    store::SnapshotList list;  // the snapshot; what is known of each file in its node
    // The real names of the files whose records hold a key, by stored name.
    std::map<std::string, std::string> keyedNames;
    // Target files that are in the folder but left out of the snapshot by
    // the last look (waiting for their writer or their move, or taking the
    // name of a file moved away) or taken over from before the start: a
    // look by names describes them again, as a listing would meet them.
    std::set<std::string> outside;
    // Records changed since the snapshot file and its journal were last
    // brought up to date, in the order they were changed.
    std::vector<store::SnapshotChange> unwritten;
    // The snapshot file and its journal hold `list` but for `unwritten`.
    bool fileCurrent = false;
    std::uint64_t journalBytes = 0;              // the size of the journal
    std::string reportedWriteError;              // the failure already told, if any
    std::map<std::string, WaitingFile> waiting;  // by file name
    // How long until waiting files are checked again: short at first (a
    // file is often caught between its creation and its writer's close),
    // doubling up to kWaitingRecheck.
    std::chrono::milliseconds waitingBackoff{0};
    std::vector<PendingMove> pendingMoves;
    // Names the entry's own moves put into its folder, with their files'
    // identity: seen once, they are recorded without being acted on.
    std::map<std::string, platform::FileId> ownArrivals;
    // When to look again without a notification (kNever: only on one).
    SteadyTime catchUpAt = kNever;       // notifications the debounce held back
    SteadyTime recheckAt = kNever;       // waiting files, pending moves
    SteadyTime listingRetryAt = kNever;  // a listing that failed
    int listingFailures = 0;
    bool listingErrorReported = false;

    // Set when a worker that watched with this state has ended and, after a
    // stop, recorded what the entry still owes.
    std::atomic<bool> settled{false};
    // What the entry owes has been recorded at a stop (guarded by
    // lookMutex): by the stopping thread when the worker was idle, so that
    // the record is of the moment of the stop, else by the worker once its
    // look is over.
    bool owedRecorded = false;

    SteadyTime NextWakeUp() const;
};

// Whether a target file may be acted on now, from who holds it and how long
// it has been quiet. A file no process holds open for writing is complete.
// One that a writer holds counts as finished once unchanged for 60 seconds;
// where writers cannot be told apart, once unchanged for a second.
enum class Readiness { Ready, Wait };
struct Observation {
    platform::FileId id;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
};
inline constexpr auto kQuietWhenUnknown = std::chrono::seconds(1);
inline constexpr auto kQuietWhenHeld = std::chrono::seconds(60);
Readiness JudgeReadiness(platform::WriterState writers, const Observation& now,
                         const WaitingFile* previous, std::int64_t wallNowNs, SteadyTime steadyNow,
                         WaitingFile& record);

}  // namespace tavren::engine
