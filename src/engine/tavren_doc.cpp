#include "engine/tavren_doc.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <optional>
#include <system_error>

#include "engine/rescan.h"
#include "platform/change_watcher.h"
#include "platform/path_text.h"
#include "store/session_file.h"
#include "store/settings_file.h"
#include "store/snapshot.h"

namespace tavren::engine {

struct CTavrenDoc::Generation {
    std::uint64_t id = 0;
    platform::WakeEvent stop;

    // Baseline snapshots still being written by this start's workers.
    std::mutex mutex;
    std::condition_variable baselinesDone;
    int baselinesPending = 0;

    void BaselineWritten() {
        std::lock_guard lock(mutex);
        if (--baselinesPending == 0) baselinesDone.notify_all();
    }
};

struct CTavrenDoc::Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
};

namespace {

// A notification ignored by the debounce gets a look of its own this long
// after it, unless another look comes first; so looks stay 3 seconds
// apart, but a burst of changes is never left waiting for a later one.
constexpr auto kCatchUpDelay = std::chrono::milliseconds(3000);

// While a worker of an earlier start still holds its entry, the new worker
// checks this often whether its own timers are due.
constexpr auto kBusyStatePoll = std::chrono::milliseconds(200);

store::SessionSlot SessionSlotOf(int slot, const store::WatchEntry& entry) {
    const WatchKey key = KeyOf(entry);
    return {slot, key.folder, key.fileMode, key.pattern};
}

}  // namespace

CTavrenDoc::CTavrenDoc(store::DataFolder data, Services services)
    : data_(std::move(data)), services_(std::move(services)) {
    StartWatching();
}

CTavrenDoc::~CTavrenDoc() {
    Shutdown();
}

void CTavrenDoc::StartWatching() {
    JoinFinishedWorkers();
    // A start while running is a reload: its entries go on.
    if (current_) PauseForReload();

    // Only the first start of a run can follow an outage.
    std::optional<std::vector<store::SessionSlot>> outage;
    if (firstStart_) {
        firstStart_ = false;
        outage = store::ReadSession(data_);
    }

    lastLoad_ = store::LoadWatchTable(data_.settingsFile(), table_);
    notWatched_.clear();
    std::vector<std::shared_ptr<WatchState>> kept = std::move(retained_);
    retained_.clear();
    if (table_.count() <= 0) {
        for (auto& state : kept) state->slot.store(-1);
        EndSession();
        return;
    }

    // Each entry's state: kept through the reload, read back after an
    // outage, or new. Snapshot files of an outage are read before any
    // worker writes one.
    states_.assign(static_cast<std::size_t>(table_.count()), nullptr);
    // Not vector<bool>: its elements are proxies, unfit for a lambda's capture.
    std::vector<char> fresh(states_.size(), 1);
    for (int n = 0; n < table_.count(); ++n) {
        const WatchKey key = KeyOf(table_.entries[n]);
        auto same = std::find_if(kept.begin(), kept.end(),
                                 [&](const auto& s) { return s && s->key == key; });
        if (same != kept.end()) {
            states_[n] = std::move(*same);
            fresh[n] = 0;
            continue;
        }
        auto state = std::make_shared<WatchState>();
        state->key = key;
        if (outage) {
            const store::SessionSlot wanted = SessionSlotOf(0, table_.entries[n]);
            for (const store::SessionSlot& s : *outage) {
                if (s.folder != wanted.folder || s.fileMode != wanted.fileMode ||
                    s.pattern != wanted.pattern) {
                    continue;
                }
                store::SnapshotRead read = store::SnapshotRead::Ok;
                store::SnapshotList list = store::ReadSnapshot(data_, s.slot, &read);
                if (read != store::SnapshotRead::Ok) {
                    // Nothing to go on from: this entry starts afresh.
                    services_.messages.ReportProblem(
                        "スナップショット " + platform::PathToUtf8(data_.snapshotFile(s.slot)) +
                        " を読めないため、" + table_.entries[n].folder + " の一覧を取り直します。");
                    break;
                }
                state->ids.assign(list.size(), platform::FileId{});
                state->list = std::move(list);
                state->haveBaseline = true;
                state->catchUpAt = SteadyTime::min();  // look at once
                fresh[n] = 0;
                break;
            }
        }
        states_[n] = std::move(state);
    }
    for (auto& state : kept) {
        if (state) state->slot.store(-1);  // its entry is gone or changed
    }
    for (int n = 0; n < static_cast<int>(store::kMaxWatchEntries); ++n) {
        std::lock_guard lock(slotLocks_[n]);
        const WatchState* owner = n < table_.count() ? states_[n].get() : nullptr;
        slotOwner_[n].store(owner);
        if (owner) states_[n]->slot.store(n);
    }

    std::vector<store::SessionSlot> session;
    for (int n = 0; n < table_.count(); ++n) session.push_back(SessionSlotOf(n, table_.entries[n]));
    if (auto status = store::WriteSession(data_, session); !status) {
        services_.messages.ReportProblem(status.message());
    }

    auto generation = std::make_shared<Generation>();
    generation->id = ++generations_;
    current_ = generation;
    watchRunning_.store(true);

    for (int n = 0; n < table_.count(); ++n) {
        const store::WatchEntry& entry = table_.entries[n];
        // Watch before taking the snapshot, so that a file arriving in
        // between is already a pending change for the worker's first wait.
        // A folder that cannot be watched leaves the worker waiting for the
        // stop alone: it costs nothing and still ends on time.
        std::error_code ec;
        std::shared_ptr<platform::ChangeSubscription> subscription = services_.changes.Watch(
            platform::PathFromUtf8(entry.folder),
            entry.timing != 0 ? platform::ChangeKind::Names : platform::ChangeKind::Updates, ec);
        if (!subscription) {
            notWatched_.push_back({n, entry.title, entry.folder, ec.message()});
        }
        auto worker = std::make_unique<Worker>();
        if (fresh[n]) {
            std::lock_guard lock(generation->mutex);
            ++generation->baselinesPending;
        }
        try {
            worker->thread = services_.startThread([this, entry, generation, state = states_[n],
                                                    isFresh = fresh[n] != 0, subscription,
                                                    finished = worker->finished] {
                WatcherThread(entry, *generation, *state, isFresh, subscription.get());
                finished->store(true);
            });
        } catch (const std::system_error&) {
            char text[128];
            std::snprintf(text, sizeof text, kThreadCreationFailed, n);
            if (fresh[n]) generation->BaselineWritten();  // none will be
            for (int rest = n; rest < table_.count(); ++rest) {
                notWatched_.push_back(
                    {rest, table_.entries[rest].title, table_.entries[rest].folder, text});
            }
            services_.messages.ShowMessage(text, exiting_);
            break;  // the entries after n get neither a snapshot nor a worker
        }
        workers_.push_back(std::move(worker));
    }
    // Return with every new baseline on disk, as if written here one by one.
    std::unique_lock lock(generation->mutex);
    generation->baselinesDone.wait(lock, [&] { return generation->baselinesPending == 0; });
}

void CTavrenDoc::PauseForReload() {
    watchRunning_.store(false);
    if (current_) {
        current_->stop.Set();
        current_.reset();
        for (auto& state : states_) retained_.push_back(std::move(state));
        states_.clear();
    }
}

void CTavrenDoc::Reload() {
    PauseForReload();
    StartWatching();
}

void CTavrenDoc::StopWatching() {
    PauseForReload();
    for (auto& state : retained_) state->slot.store(-1);
    retained_.clear();
    EndSession();
}

void CTavrenDoc::EndSession() {
    store::RemoveSession(data_);
}

bool CTavrenDoc::Shutdown(std::chrono::milliseconds limit) {
    StopWatching();
    exiting_.Set();
    const auto deadline = limit == std::chrono::milliseconds::max()
                              ? std::chrono::steady_clock::time_point::max()
                              : std::chrono::steady_clock::now() + limit;
    // Idle workers end at once; busy ones as soon as their blocking action
    // sees the exit. Poll briefly rather than join, so the limit holds.
    for (;;) {
        JoinFinishedWorkers();
        if (workers_.empty()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void CTavrenDoc::JoinFinishedWorkers() {
    std::erase_if(workers_, [](const std::unique_ptr<Worker>& w) {
        if (!w->finished->load()) return false;
        if (w->thread.joinable()) w->thread.join();
        return true;
    });
}

void CTavrenDoc::WatcherThread(const store::WatchEntry& entry, Generation& generation,
                               WatchState& state, bool fresh,
                               platform::ChangeSubscription* subscription) {
    const platform::WakeEvent& stop = generation.stop;

    RescanContext context{entry, data_, services_, state, exiting_};
    context.guardSnapshotWrite = [this, &state](const std::function<void(int)>& write) {
        const int slot = state.slot.load();
        if (slot < 0) return false;
        std::lock_guard lock(slotLocks_[slot]);
        if (slotOwner_[slot].load() != &state) return false;
        write(slot);
        return true;
    };
    if (fresh) {
        // The baseline of this start, taken here rather than by the starting
        // thread so that the workers' flushes to disk overlap: a start of
        // 200 entries would otherwise wait for 200 flushes one after the
        // other.
        TakeBaseline(context);
        generation.BaselineWritten();
    } else {
        // Carried over: look at once, to catch what came while nobody
        // watched and to write the snapshot into the entry's slot (it may
        // have moved). A look of the earlier worker finishes first.
        if (!stop.IsSet() && RescanEntry(context, Trigger::CatchUp) == RescanResult::Cancelled) {
            return;
        }
    }

    using SteadyClock = std::chrono::steady_clock;
    for (;;) {
        // The state's timers; while an earlier worker still holds them, look
        // again shortly.
        SteadyTime due = SteadyClock::now() + kBusyStatePoll;
        if (std::unique_lock look(state.lookMutex, std::try_to_lock); look) {
            due = state.NextWakeUp();
        }
        std::optional<std::chrono::milliseconds> timeout;
        if (due != kNever) {
            timeout =
                std::max(std::chrono::milliseconds(0),
                         std::chrono::ceil<std::chrono::milliseconds>(due - SteadyClock::now()));
        }
        platform::WaitResult result;
        if (subscription) {
            result = subscription->Wait(stop, timeout);
        } else {
            result = stop.WaitFor(timeout) ? platform::WaitResult::Stopped
                                           : platform::WaitResult::TimedOut;
        }
        if (result == platform::WaitResult::Stopped || stop.IsSet()) return;

        RescanResult outcome = RescanResult::Completed;
        if (result != platform::WaitResult::TimedOut) {
            outcome = RescanEntry(context, Trigger::Notification);
            if (outcome == RescanResult::Debounced) {
                std::lock_guard look(state.lookMutex);
                if (state.catchUpAt == kNever) state.catchUpAt = SteadyClock::now() + kCatchUpDelay;
            }
        } else {
            bool lookNeeded = false;
            bool checkPending = false;
            if (std::unique_lock look(state.lookMutex, std::try_to_lock); look) {
                const auto now = SteadyClock::now();
                lookNeeded = state.catchUpAt <= now || state.listingRetryAt <= now;
                checkPending = !lookNeeded && state.recheckAt <= now;
            }
            if (checkPending) lookNeeded = CheckPending(context);
            if (lookNeeded) outcome = RescanEntry(context, Trigger::CatchUp);
        }
        if (outcome == RescanResult::Cancelled) return;
    }
}

}  // namespace tavren::engine
