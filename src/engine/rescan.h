#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include <string>
#include <vector>

#include "engine/services.h"
#include "store/data_folder.h"
#include "store/snapshot.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::engine {

enum class RescanResult {
    Debounced,  // within 3 seconds of the previous notification: nothing done
    Completed,  // compared, acted, snapshot brought up to date
    Cancelled,  // the program is ending: stopped between two actions
};

// Texts of the deletion notice.
inline constexpr std::string_view kDeletedSuffix = " が削除されました。";
inline constexpr std::string_view kFileDeleted = "ファイルが削除されました。";

// What one rescan has to do, decided from the snapshot and the listing
// alone. Pointers refer into the two inputs.
struct RescanPlan {
    // New or changed target files, in listing order: each gets the actions.
    std::vector<const store::FoundFile*> targets;
    // Records of files that are gone and are reported: only for entries that
    // react to name changes, and only when fewer files were found than the
    // snapshot held (so a rename is not a deletion). In snapshot order.
    std::vector<const store::SnapshotNode*> deleted;
    // The listing equals the snapshot record for record.
    bool unchanged = false;
};

// Marks every record met by the listing as seen and sorts the files out.
RescanPlan PlanRescan(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                      const store::WatchEntry& entry);

// The text announcing the first new or changed file: the program about to
// run, when the entry runs one, else the file's name.
std::string ChangeNoticeText(const store::WatchEntry& entry, const std::string& fileName);

// The deletion notice for the first gone record and the message mode to
// show it with.
struct Notice {
    std::string text;
    std::int16_t messageMode = 0;
};
Notice DeletionNotice(const store::WatchEntry& entry, const std::string& storedName);

struct RescanContext {
    int slot = 0;
    const store::WatchEntry& entry;  // the worker's own copy
    const store::DataFolder& data;
    const Services& services;
    // Seconds (low 32 bits) of the slot's previous notification.
    std::atomic<std::uint32_t>& lastEventTime;
    const platform::WakeEvent& cancel;
    // Writes the new snapshot of the slot, unless the slot has passed to a
    // newer start of watching in the meantime.
    std::function<void(const std::function<void()>& write)> guardSnapshotWrite =
        [](const std::function<void()>& write) { write(); };
};

// Handles one change notification of an entry: lists its target files,
// compares them with the slot's snapshot, carries out the actions for new
// and changed files, notices deleted ones (entries that react to name
// changes), and stores the new snapshot.
//
// The new snapshot holds only files this rescan's listing met: a file that
// appeared while the actions ran stays out of it, so the next rescan finds
// it as new instead of absorbing it unseen. A rescan that found nothing to
// do lists the folder once and leaves an identical snapshot alone.
//
// `debounce` false skips the 3-second test (the time is still recorded):
// for the catch-up rescan of notifications that the debounce ignored.
RescanResult RescanEntry(RescanContext& context, bool debounce = true);

}  // namespace tavren::engine
