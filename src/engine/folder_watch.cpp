#include "engine/folder_watch.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "engine/activity_log_writer.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/memory.h"
#include "platform/path_text.h"
#include "platform/wake_event.h"

namespace tavren::engine {
namespace {

using Clock = std::chrono::steady_clock;

// A notification ignored by the debounce gets a look of its own this long
// after it, unless another look comes first; so looks stay 3 seconds
// apart, but a burst of changes is never left waiting for a later one.
constexpr auto kCatchUpDelay = std::chrono::milliseconds(3000);

// While a worker of an earlier start still holds its entry, the new worker
// checks this often whether its own timers are due.
constexpr auto kBusyStatePoll = std::chrono::milliseconds(200);

// Polling as a whole may take 1/200 of one core, and a folder's listing
// 1/20 of the time.
constexpr int kPollBudgetFactor = 200;
constexpr int kListingShareFactor = 20;

constexpr const char* kUnmounted = "マウントが外れました";

// How often a new worker looks whether the one it takes over from has
// settled, and how soon a change of the destination tries the moves again.
constexpr auto kSettlePoll = std::chrono::milliseconds(20);
constexpr auto kDestinationRetryGap = std::chrono::milliseconds(1000);

// After a look that freed much memory (a large listing or snapshot
// write), the system gets it back.
void ReturnWhatALookFreed(RescanContext& ctx) {
    if (std::exchange(ctx.freedMuch, false)) platform::ReturnFreeMemory();
}

// Every subscription's names are told apart from the others'.
std::atomic<std::uint64_t> g_nextNamesSource{1};

// TAVREN3_FULL_LOOKS=1 makes every look list the whole folder, as a check
// on a file system whose notifications might not name every change.
bool FullLooksOnly() {
    static const bool full = [] {
        const std::optional<std::string> v = platform::GetEnv("TAVREN3_FULL_LOOKS");
        return v && !v->empty() && *v != "0";
    }();
    return full;
}

class FolderWatch {
public:
    FolderWatch(RescanContext& context, const platform::WakeEvent& stop, WatchReports& reports)
        : ctx_(context),
          stop_(stop),
          reports_(reports),
          path_(platform::PathFromUtf8(context.entry.folder)) {
        ctx_.gatherNames = [this] { TakeNames(); };
    }

    ~FolderWatch() {
        StopPolling();
        ctx_.gatherNames = [] {};  // the subscription goes with this watch
    }

    void Run(bool fresh) {
        Subscribe();
        if (fresh) {
            // What was owed before the start is left out of the baseline, so
            // that the first look acts on it; when the worker that owed it
            // has not settled yet, it is taken over once it has.
            const bool takeNow = reports_.takeOwed && reports_.owedReady();
            const RescanResult baseline =
                TakeBaseline(ctx_, takeNow ? reports_.takeOwed() : OwedWork{});
            ReturnWhatALookFreed(ctx_);
            if (baseline == RescanResult::FolderAway && !away_) GoAway(ctx_.awayReason);
            reports_.ready();
            announce_ = true;
            if (reports_.takeOwed && !takeNow) {
                while (!reports_.owedReady()) {
                    if (stop_.WaitFor(kSettlePoll)) return;
                }
                AdoptOwed(ctx_, reports_.takeOwed());
            }
        } else {
            // After a crash: the moves it owed (its snapshot knows the rest).
            if (reports_.takeOwed) AdoptOwed(ctx_, reports_.takeOwed());
            reports_.ready();
            announce_ = true;
            // Carried over: look at once, to catch what came while nobody
            // watched and to write the snapshot into the entry's slot (it
            // may have moved). A look of the earlier worker finishes first.
            if (!away_ && !stop_.IsSet() && !Handle(Look(Trigger::CatchUp))) return;
        }
        for (;;) {
            WatchDestination();
            WakeOnClose();
            const std::optional<std::chrono::milliseconds> timeout = Timeout();
            platform::WaitResult result;
            if (sub_ && destination_) {
                result = sub_->WaitWith(stop_, timeout, *destination_);
            } else if (sub_) {
                result = sub_->Wait(stop_, timeout);
            } else if (destination_) {
                result = destination_->Wait(stop_, timeout);
                if (result != platform::WaitResult::Stopped &&
                    result != platform::WaitResult::TimedOut) {
                    result = platform::WaitResult::CompanionChanged;
                }
            } else {
                result = stop_.WaitFor(timeout) ? platform::WaitResult::Stopped
                                                : platform::WaitResult::TimedOut;
            }
            if (result == platform::WaitResult::Stopped || stop_.IsSet()) return;
            bool goOn = true;
            switch (result) {
                case platform::WaitResult::Overflowed:
                    if (std::string advice = platform::ChangeOverflowAdvice(); !advice.empty())
                        reports_.limit(advice);
                    [[fallthrough]];
                case platform::WaitResult::Changed:
                    if (!away_) goOn = OnNotification();
                    break;
                case platform::WaitResult::FolderGone:
                    subGone_ = true;
                    goOn = Rearm();
                    break;
                case platform::WaitResult::PathChanged:
                    goOn = Rearm();
                    break;
                case platform::WaitResult::CompanionChanged:
                    goOn = OnDestinationChanged();
                    break;
                case platform::WaitResult::Closed:
                    goOn = OnWriterClosed();
                    break;
                case platform::WaitResult::TimedOut:
                case platform::WaitResult::Stopped:
                    goOn = OnTimers();
                    break;
            }
            if (!goOn) return;
        }
    }

private:
    // Watches the folder at the path as it is now: by notification, and by
    // polling where notifications cannot serve it; or, when it is not
    // there, waits for it.
    void Subscribe() {
        sub_.reset();
        subGone_ = false;
        armed_ = ProbeFolder(ctx_.services.folders, ctx_.entry.folder, /*askMountRoot=*/true);
        if (armed_.ec) {
            if (std::string reason = AwayReason(armed_.ec); !reason.empty()) {
                GoAway(reason);
                return;
            }
        }
        std::error_code ec;
        const platform::ChangeKind kind = ctx_.entry.reactsToNames()
                                              ? platform::ChangeKind::Names
                                              : platform::ChangeKind::Updates;
        sub_ = ctx_.services.changes.Watch(path_, kind, ec);
        away_ = false;
        GatherNamesFrom(sub_ && !FullLooksOnly() ? g_nextNamesSource.fetch_add(1) : 0);
        if (!sub_) {
            if (std::string advice = platform::ChangeLimitAdvice(ec); !advice.empty())
                reports_.limit(advice);
            StartPolling("変更通知を使えません (" + ec.message() + ")");
            return;
        }
        if (const std::string system = platform::UnnotifiedFileSystem(path_); !system.empty()) {
            // Local changes are still notified at once; the rest is polled.
            StartPolling(system + " では他から加えた変更が通知されません");
            return;
        }
        StopPolling();
        SetMode(WatchMode::Notified, {});
    }

    void GoAway(const std::string& reason) {
        StopPolling();
        away_ = true;
        std::error_code ec;
        sub_ = ctx_.services.changes.WatchForFolder(path_, ec);  // none: the check alone
        subGone_ = false;
        GatherNamesFrom(0);
        nextPresenceCheck_ = Clock::now() + kAwayCheck;
        SetMode(WatchMode::Waiting, reason);
    }

    // The folder's place changed, or it may have: watch what is there now.
    bool Rearm() {
        const FolderProbe now =
            ProbeFolder(ctx_.services.folders, ctx_.entry.folder, /*askMountRoot=*/true);
        std::string awayReason;
        if (now.ec) {
            awayReason = AwayReason(now.ec);
        } else if (armed_.mountRoot && !now.mountRoot && (away_ || now.id != armed_.id)) {
            // Only the folder that a drive or share was mounted on is left.
            awayReason = kUnmounted;
        }
        if (!awayReason.empty()) {
            if (away_ && awayReason == reason_) {
                nextPresenceCheck_ = Clock::now() + kAwayCheck;
            } else {
                GoAway(awayReason);
            }
            return true;
        }
        if (!away_ && sub_ && !subGone_ && now.id == armed_.id) return true;  // the same folder

        Subscribe();
        if (away_) return true;
        // A folder back in place is looked at as after a start: the look
        // that found it gone saw none of its files, so it holds back no
        // change of the returned folder for 3 seconds.
        ctx_.state.lastEventTime = 0;
        return Handle(Look(Trigger::Rearmed));
    }

    bool OnNotification() {
        const RescanResult outcome = Look(Trigger::Notification);
        if (outcome == RescanResult::Debounced) {
            std::lock_guard look(ctx_.state.lookMutex);
            if (ctx_.state.catchUpAt == kNever) ctx_.state.catchUpAt = Clock::now() + kCatchUpDelay;
        }
        return Handle(outcome);
    }

    // A file that waited for its writer was closed: it is likely complete
    // now, so it need not wait for the next check of waiting files.
    bool OnWriterClosed() {
        if (away_ || !CheckPending(ctx_)) return true;
        return Handle(Look(Trigger::CatchUp));
    }

    bool OnTimers() {
        const auto now = Clock::now();
        if (away_) return now >= nextPresenceCheck_ ? Rearm() : true;
        bool lookNeeded = polled_ && nextPoll_ <= now;
        bool checkPending = false;
        if (std::unique_lock look(ctx_.state.lookMutex, std::try_to_lock); look) {
            const WatchState& state = ctx_.state;
            lookNeeded = lookNeeded || state.catchUpAt <= now || state.listingRetryAt <= now;
            checkPending = !lookNeeded && state.recheckAt <= now;
        }
        if (checkPending) lookNeeded = CheckPending(ctx_);
        if (!lookNeeded) return true;
        return Handle(Look(Trigger::CatchUp));
    }

    // While files wait for their move, the destination folder is watched
    // too (or, while it is missing, its parent for it to come): a change
    // there may let them move now.
    void WatchDestination() {
        const store::WatchEntry& e = ctx_.entry;
        bool wanted = false;
        if (e.movesFiles() && !e.moveTo.empty() && !away_) {
            std::unique_lock look(ctx_.state.lookMutex, std::try_to_lock);
            wanted = look ? !ctx_.state.pendingMoves.empty() : destination_ != nullptr;
        }
        if (!wanted) {
            destination_.reset();
            return;
        }
        if (destination_) return;
        const std::filesystem::path folder = platform::PathFromUtf8(e.moveTo);
        std::error_code ec;
        destination_ = ctx_.services.changes.Watch(folder, platform::ChangeKind::Destination, ec);
        if (!destination_) destination_ = ctx_.services.changes.WatchForFolder(folder, ec);
    }

    // The moves that wait are tried at once, but not more than once a
    // second for this reason: a failed attempt may itself touch the folder.
    bool OnDestinationChanged() {
        destination_.reset();  // watched anew, as what is there now asks
        const auto now = Clock::now();
        const SteadyTime due = std::max(now, lastDestinationRetry_ + kDestinationRetryGap);
        {
            std::lock_guard look(ctx_.state.lookMutex);
            for (PendingMove& m : ctx_.state.pendingMoves) m.due = std::min(m.due, due);
            ctx_.state.recheckAt = std::min(ctx_.state.recheckAt, due);
        }
        if (due > now) return true;
        lastDestinationRetry_ = now;
        if (!CheckPending(ctx_, /*destinationChanged=*/true)) return true;
        return Handle(Look(Trigger::CatchUp));
    }

    // Looks go by the names `source` tells (0: none, every look lists).
    void GatherNamesFrom(std::uint64_t source) {
        ctx_.namesSource = source;
        ctx_.state.notified.Begin(source);
        closeWatched_.clear();
    }

    // Hands the names notified so far to the state, for the next look.
    void TakeNames() {
        if (!sub_ || ctx_.namesSource == 0) return;
        std::vector<std::string> names;
        const bool complete = sub_->TakeNames(names);
        ctx_.state.notified.Add(ctx_.namesSource, complete, names);
    }

    // Files waiting for their writer are checked again as soon as it
    // closes them, the recheck timer serving where closes are not told.
    void WakeOnClose() {
        if (!sub_ || away_) return;
        std::vector<std::string> names;
        if (std::unique_lock look(ctx_.state.lookMutex, std::try_to_lock); look) {
            for (const auto& [name, file] : ctx_.state.waiting) names.push_back(name);
        } else {
            return;
        }
        if (names == closeWatched_) return;
        closeWatched_ = names;
        sub_->WakeOnClose(std::move(names));
    }

    // One look, its processor time kept for the poll interval.
    RescanResult Look(Trigger trigger) {
        const ActivityLog::Hold logLater(ctx_.services.log);
        TakeNames();
        const auto before = platform::ThreadCpuTime();
        const RescanResult outcome = RescanEntry(ctx_, trigger);
        ReturnWhatALookFreed(ctx_);
        if (outcome != RescanResult::Debounced) lookCpu_ = platform::ThreadCpuTime() - before;
        return outcome;
    }

    // After a look: false when the worker is to end.
    bool Handle(RescanResult outcome) {
        switch (outcome) {
            case RescanResult::Cancelled:
                return false;
            case RescanResult::FolderAway:
                if (!away_ || ctx_.awayReason != reason_) GoAway(ctx_.awayReason);
                return true;
            case RescanResult::FolderReplaced:
                subGone_ = true;  // watching the old folder no longer helps
                return Rearm();
            case RescanResult::Debounced:
                return true;
            case RescanResult::Completed:
            case RescanResult::ListingFailed:
                break;
        }
        if (polled_) {
            nextPoll_ = Clock::now() +
                        PollInterval(lookCpu_, ctx_.listingTime, reports_.polledEntries.load());
        }
        return true;
    }

    std::optional<std::chrono::milliseconds> Timeout() {
        SteadyTime due = kNever;
        if (away_) {
            due = nextPresenceCheck_;
        } else {
            // The state's timers; while an earlier worker still holds them,
            // look again shortly.
            due = Clock::now() + kBusyStatePoll;
            if (std::unique_lock look(ctx_.state.lookMutex, std::try_to_lock); look) {
                due = ctx_.state.NextWakeUp();
            }
            if (polled_) due = std::min(due, nextPoll_);
        }
        if (due == kNever) return std::nullopt;
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()));
    }

    void StartPolling(const std::string& reason) {
        GatherNamesFrom(0);  // the names cannot tell every change here
        if (!polled_) {
            polled_ = true;
            reports_.polledEntries.fetch_add(1);
            // Entries that start polling together spread their looks over
            // the first interval instead of listing all at once.
            const int slot = std::max(0, ctx_.state.slot.load());
            nextPoll_ = Clock::now() + kMinPollInterval / 2 +
                        std::chrono::milliseconds(slot * 97 % kMinPollInterval.count());
        }
        SetMode(WatchMode::Polled, reason);
    }

    void StopPolling() {
        if (!polled_) return;
        polled_ = false;
        reports_.polledEntries.fetch_sub(1);
        nextPoll_ = kNever;
    }

    void SetMode(WatchMode mode, const std::string& reason) {
        if (mode == mode_ && reason == reason_) return;
        mode_ = mode;
        reason_ = reason;
        reports_.status(mode, reason, announce_);
    }

    RescanContext& ctx_;
    const platform::WakeEvent& stop_;
    WatchReports& reports_;
    const std::filesystem::path path_;

    std::unique_ptr<platform::ChangeSubscription> sub_;
    std::unique_ptr<platform::ChangeSubscription> destination_;  // while moves wait
    SteadyTime lastDestinationRetry_{};
    std::vector<std::string> closeWatched_;  // the names handed to WakeOnClose
    bool subGone_ = false;                   // sub_ watched a folder that is no longer at the path
    FolderProbe armed_;                      // the folder as it was when watching began
    bool away_ = false;
    bool polled_ = false;
    SteadyTime nextPoll_ = kNever;
    std::chrono::nanoseconds lookCpu_{};
    SteadyTime nextPresenceCheck_ = kNever;
    WatchMode mode_ = WatchMode::None;
    std::string reason_;
    bool announce_ = false;
};

}  // namespace

std::chrono::milliseconds PollInterval(std::chrono::nanoseconds lookCpu,
                                       std::chrono::steady_clock::duration listingTime,
                                       int polledEntries) {
    const auto budget =
        std::max<std::chrono::nanoseconds>(lookCpu * std::max(1, polledEntries) * kPollBudgetFactor,
                                           listingTime * kListingShareFactor);
    return std::clamp<std::chrono::milliseconds>(
        std::chrono::ceil<std::chrono::milliseconds>(budget), kMinPollInterval, kMaxPollInterval);
}

void RunFolderWatch(RescanContext& context, const platform::WakeEvent& stop, bool fresh,
                    WatchReports& reports) {
    FolderWatch(context, stop, reports).Run(fresh);
    {
        std::lock_guard look(context.state.lookMutex);
        FoldJournal(context);  // unless the stop gave its slot up already
    }
    ReturnWhatALookFreed(context);
}

}  // namespace tavren::engine
