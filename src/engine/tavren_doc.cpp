#include "engine/tavren_doc.h"

#include <condition_variable>
#include <cstdio>
#include <optional>
#include <system_error>

#include "engine/rescan.h"
#include "platform/change_watcher.h"
#include "platform/path_text.h"
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

// A notification ignored by the debounce gets a rescan of its own this long
// after it, unless another rescan comes first; so rescans stay 3 seconds
// apart, but a burst of changes is never left waiting for a later one.
constexpr auto kRecheckDelay = std::chrono::milliseconds(3000);

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
    lastLoad_ = store::LoadWatchTable(data_.settingsFile(), table_);
    if (table_.count() <= 0) return;

    // A new start while the previous one still runs: end the old workers
    // first so that no slot has two waiting owners.
    if (current_) current_->stop.Set();
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
        slotOwner_[n].store(generation->id);
        auto worker = std::make_unique<Worker>();
        {
            std::lock_guard lock(generation->mutex);
            ++generation->baselinesPending;
        }
        try {
            worker->thread = services_.startThread(
                [this, n, entry, generation, subscription, finished = worker->finished] {
                    WatcherThread(n, entry, *generation, subscription.get());
                    finished->store(true);
                });
        } catch (const std::system_error&) {
            char text[128];
            std::snprintf(text, sizeof text, kThreadCreationFailed, n);
            generation->BaselineWritten();  // none will be
            services_.messages.ShowMessage(text, exiting_);
            break;  // the entries after n get neither a snapshot nor a worker
        }
        workers_.push_back(std::move(worker));
    }
    // Return with every baseline on disk, as if written here one by one.
    std::unique_lock lock(generation->mutex);
    generation->baselinesDone.wait(lock, [&] { return generation->baselinesPending == 0; });
}

void CTavrenDoc::StopWatching() {
    watchRunning_.store(false);
    if (current_) {
        current_->stop.Set();
        current_.reset();
    }
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

void CTavrenDoc::WatcherThread(int slot, const store::WatchEntry& entry, Generation& generation,
                               platform::ChangeSubscription* subscription) {
    const platform::WakeEvent& stop = generation.stop;

    RescanContext context{slot, entry, data_, services_, lastEventTimes_[slot], exiting_};
    context.guardSnapshotWrite = [this, slot,
                                  id = generation.id](const std::function<void()>& write) {
        std::lock_guard lock(slotLocks_[slot]);
        if (slotOwner_[slot].load() == id) write();
    };
    // The baseline of this start, taken here rather than by the starting
    // thread so that the workers' flushes to disk overlap: a start of 200
    // entries would otherwise wait for 200 flushes one after the other.
    context.guardSnapshotWrite([&] { store::WriteSnapshot(data_, slot, entry); });
    generation.BaselineWritten();

    using SteadyClock = std::chrono::steady_clock;
    constexpr auto kNoRecheck = SteadyClock::time_point::max();
    auto recheckAt = kNoRecheck;
    for (;;) {
        std::optional<std::chrono::milliseconds> timeout;
        if (recheckAt != kNoRecheck) {
            const auto left = recheckAt - SteadyClock::now();
            timeout = std::max(std::chrono::milliseconds(0),
                               std::chrono::ceil<std::chrono::milliseconds>(left));
        }
        platform::WaitResult result;
        if (subscription) {
            result = subscription->Wait(stop, timeout);
        } else {
            result = stop.WaitFor(timeout) ? platform::WaitResult::Stopped
                                           : platform::WaitResult::TimedOut;
        }
        if (result == platform::WaitResult::Stopped || stop.IsSet()) return;

        const bool catchUp = result == platform::WaitResult::TimedOut;
        switch (RescanEntry(context, /*debounce=*/!catchUp)) {
            case RescanResult::Cancelled:
                return;
            case RescanResult::Debounced:
                if (recheckAt == kNoRecheck) recheckAt = SteadyClock::now() + kRecheckDelay;
                break;
            case RescanResult::Completed:
                recheckAt = kNoRecheck;
                break;
        }
    }
}

}  // namespace tavren::engine
