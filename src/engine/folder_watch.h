#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "engine/rescan.h"
#include "engine/services.h"

namespace tavren::platform {
class WakeEvent;
}

namespace tavren::engine {

// What a worker tells its owner.
struct WatchReports {
    // How the entry is watched now; `announce` is false for the mode it
    // starts with, true for each change after that.
    std::function<void(WatchMode mode, const std::string& reason, bool announce)> status;
    // The system's change notifications ran short; `advice` names the
    // limit to raise.
    std::function<void(const std::string& advice)> limit;
    // The worker watches its folder and (a new entry) has its snapshot.
    std::function<void()> ready;
    // Entries being polled across the engine: they share one budget.
    std::atomic<int>& polledEntries;
    // What the entry owed from before this start, when it is to take that
    // over: `takeOwed` is called once, as soon as `owedReady` says the
    // worker that owed it has settled (at once, mostly).
    std::function<bool()> owedReady = nullptr;
    std::function<OwedWork()> takeOwed = nullptr;
};

// One entry's worker, until `stop` is set or the program ends. It waits
// for the folder's change notifications; where they cannot see every
// change (a network or FUSE file system, notifications that ran out) it
// lists the folder at an interval as well. A folder that goes away keeps
// its snapshot while the worker waits for it, by a notification on its
// parent and a slow check; when it is back, it is watched anew and compared
// with what was known before it went. Every look goes through RescanEntry.
// `fresh`: the entry has no snapshot yet and takes one first.
void RunFolderWatch(RescanContext& context, const platform::WakeEvent& stop, bool fresh,
                    WatchReports& reports);

// How often a polled folder is listed: every 2 seconds, or less often when
// a look at it costs much, so that polling all `polledEntries` together
// takes about half a per cent of one core (`lookCpu`, the processor time of
// one look) and each folder's listing keeps its file system busy a twentieth
// of the time at most (`listingTime`, its wall time: a slow share waits on
// its server, not on us).
std::chrono::milliseconds PollInterval(std::chrono::nanoseconds lookCpu,
                                       std::chrono::steady_clock::duration listingTime,
                                       int polledEntries);
inline constexpr auto kMinPollInterval = std::chrono::milliseconds(2000);
inline constexpr auto kMaxPollInterval = std::chrono::minutes(10);

// How often a folder that is away is looked for, besides the notification
// from its parent (a mount shows on no parent).
inline constexpr auto kAwayCheck = std::chrono::milliseconds(2000);

}  // namespace tavren::engine
