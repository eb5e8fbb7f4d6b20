#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "engine/services.h"
#include "engine/watch_state.h"
#include "platform/wake_event.h"
#include "store/data_folder.h"
#include "store/snapshot.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::engine {

enum class RescanResult {
    Debounced,       // within 3 seconds of the previous notification: nothing done
    Completed,       // compared, acted, snapshot brought up to date
    Cancelled,       // the program is ending: stopped between two actions
    ListingFailed,   // the folder could not be listed: nothing done, tried again later
    FolderAway,      // the folder is gone or out of reach: nothing done, the snapshot kept
    FolderReplaced,  // another folder is at the path now: nothing done until it is watched
};

// What set off a look: a change notification (subject to the 3-second
// debounce, and recorded as the last notification) or the engine itself
// (catching up on held-back notifications, files that were still being
// written, a listing that failed, a poll), which is neither. `Rearmed` is
// the engine's first look at a folder that came back or was replaced after
// its worker began watching it anew: the folder is taken as the entry's
// own, and files missing from it are not reported as deleted, since they
// went with the folder.
enum class Trigger { Notification, CatchUp, Rearmed };

// Texts of the deletion notice.
inline constexpr std::string_view kDeletedSuffix = " が削除されました。";
inline constexpr std::string_view kFileDeleted = "ファイルが削除されました。";

// What one rescan has to do, decided from the snapshot and the files
// found. Pointers refer into the two inputs.
struct RescanPlan {
    // New or changed target files, in the order found: each gets the actions.
    std::vector<const store::FoundFile*> targets;
    // Records whose files are gone, in snapshot order.
    std::vector<const store::SnapshotNode*> gone;
    // Those of them that are reported: only for entries that react to name
    // changes, and only when the folder holds fewer target files than the
    // snapshot has records (so a rename is not a deletion).
    std::vector<const store::SnapshotNode*> deleted;
    // Nothing new, changed or gone.
    bool unchanged = false;
};

// Plans a look at a whole listing: marks every record met as seen and
// sorts the files out. With what is known of a record's file (kept in its
// node), a file that has the name, size and time of its record but is
// another file, or was written again within the same second, is changed
// too.
RescanPlan PlanRescan(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                      const store::WatchEntry& entry);

// The same for a look at some names only: `found` are the target files
// among them, `missing` the names that name no target file now. The
// outcome for each of them is the one a whole listing would give, given
// that the names include every file that differs from its record or has
// none.
RescanPlan PlanNamedLook(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                         const std::vector<std::string>& missing, const store::WatchEntry& entry);

// The text announcing the first new or changed file: the program about to
// run, when the entry runs one, else the file's name.
std::string ChangeNoticeText(const store::WatchEntry& entry, const std::string& fileName);

// The deletion notice for the first gone record and the message mode to
// show it with.
struct Notice {
    std::string text;
    std::int16_t messageMode = store::message_mode::kNone;
};
Notice DeletionNotice(const store::WatchEntry& entry, const std::string& storedName);

struct RescanContext {
    const store::WatchEntry& entry;  // the worker's own copy
    const store::DataFolder& data;
    const Services& services;
    WatchState& state;
    const platform::WakeEvent& cancel;
    // Runs `write` with the slot whose snapshot file the state owns, unless
    // that slot has passed to another entry; true when it ran.
    std::function<bool(const std::function<void(int slot)>& write)> guardSnapshotWrite =
        [this](const std::function<void(int slot)>& write) {
            const int slot = state.slot.load();
            if (slot < 0) return false;
            write(slot);
            return true;
        };
    // Tells of a limit that every entry meets alike (descriptors running
    // out), naming the limit to raise; the owner tells each text once.
    std::function<void(const std::string& advice)> tellLimit = [this](const std::string& advice) {
        services.messages.ReportProblem(advice);
    };

    // Told, with the look's lock held, whenever the files waiting for their
    // move change, so that they outlive a crash.
    std::function<void(const std::vector<OwedFile>& moves)> movesChanged{};

    // The worker's subscription, whose notified names a look may go by
    // (see NotifiedNames); 0: it lists the folder at every look.
    std::uint64_t namesSource = 0;
    // Hands the names notified so far to the state's NotifiedNames.
    std::function<void()> gatherNames = [] {};

    // Left by the last look, for its worker: how long listing the folder
    // took, and why the folder counts as away.
    std::chrono::steady_clock::duration listingTime{};
    // The look listed a large folder or wrote a large snapshot file: it
    // freed much memory, which the worker hands back to the system.
    bool freedMuch = false;
    std::string awayReason{};
};

// The watched folder as `folders` finds it at its path: whether it is there
// and which folder it is; with `askMountRoot`, also whether a file system
// is mounted on it, which costs a look at its parent as well.
struct FolderProbe {
    std::error_code ec;  // set when it is not there or out of reach
    platform::FileId id;
    bool mountRoot = false;
};
FolderProbe ProbeFolder(platform::FolderReader& folders, const std::string& folder,
                        bool askMountRoot = false);

// Why a folder that cannot be listed is away rather than unreadable: it is
// missing, or its share or drive does not answer. Empty when neither.
std::string AwayReason(const std::error_code& ec);

// Lists the folder of a state that has none yet and keeps the listing as
// its snapshot, in memory and in the slot's file. A missing folder counts as
// empty: what it brings when it appears is new. A folder that cannot be
// listed for any other reason leaves the state without one: its first
// listing that works becomes the snapshot, so an unreadable folder or an
// unreachable share at start is never taken for a folder of new files.
// Completed, FolderAway (also after an empty baseline) or ListingFailed.
// What the entry owed before the start is taken over as AdoptOwed does.
RescanResult TakeBaseline(RescanContext& context, const OwedWork& owed = {});

// Takes over what an entry owed when it last stopped (or, after a crash,
// the moves it owed): files not acted on yet are acted on by the next look,
// files waiting for their move are moved and nothing else. Only files that
// are still there, and the same files, count.
void AdoptOwed(RescanContext& context, const OwedWork& owed);

// What a state knows it owes without looking at its folder: the files
// waiting for their writer, and those waiting for their move. The caller
// holds the state's lookMutex.
OwedWork OwedKnown(const WatchState& state);

// What the entry owes as its watching ends: the files that arrived or
// changed while it watched and were not acted on yet (held back by the
// debounce, waiting for their writer, queued behind an action the end cut
// short), and those waiting for their move. The caller holds the state's
// lookMutex.
OwedWork OwedAtStop(RescanContext& context);

// One look at an entry's folder: lists its target files, compares them with
// the snapshot, carries out the actions for new and changed files that are
// complete, notices deleted ones (entries that react to name changes), and
// brings the snapshot up to date in memory and on disk.
//
// A folder that is gone, out of reach, or not the folder the snapshot
// describes is left alone: the snapshot is kept for its return. Deletions
// are reported only once the folder is seen still there a moment later, so
// that a folder being deleted file by file is not taken for deleted files.
//
// A file still being written waits, out of the snapshot, and the state
// asks for another look soon. A file that arrived while the actions ran, or
// that took the name of one the actions moved away, stays out of the
// snapshot, so the next look acts on it. A listing that fails for any
// reason but the folder being missing changes nothing. A snapshot that
// cannot be written stays in memory and is written again at the next look;
// the failure is told once.
RescanResult RescanEntry(RescanContext& context, Trigger trigger = Trigger::Notification);

// As a worker ends (a stop, the exit, a reload): a snapshot file that has
// a journal is written whole, so that the file alone holds what the entry
// knew, as any reader of the format expects. Not when the file is behind
// (a look cut short by the end keeps the file as it was before it). The
// caller holds the state's lookMutex.
void FoldJournal(RescanContext& context);

// Between looks, while files wait or moves are pending: tries the moves that
// are due again (telling the user of a failure once per file and cause, and
// of the success after one), and checks the waiting files. True when one of
// them is ready (or gone), so a look is needed.
// `destinationChanged`: the try follows a change in the destination folder.
bool CheckPending(RescanContext& context, bool destinationChanged = false);

// How long a state waits at most before checking its waiting files again,
// and the first, short wait for a file that has just begun to wait.
inline constexpr auto kWaitingRecheck = std::chrono::milliseconds(500);
inline constexpr auto kFirstWaitingRecheck = std::chrono::milliseconds(20);
// How soon a move tried at once after a change in its destination is tried
// once more when that failed.
inline constexpr auto kDestinationSettle = std::chrono::milliseconds(250);
// How long a look that found files gone waits before it looks whether the
// folder itself is still there.
inline constexpr auto kDeletionSettle = std::chrono::milliseconds(200);
// From how many files on a listing or a snapshot write counts as large.
inline constexpr std::size_t kLargeFolder = 10'000;

}  // namespace tavren::engine
