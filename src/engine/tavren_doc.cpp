#include "engine/tavren_doc.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <optional>
#include <system_error>

#include "engine/descriptor_budget.h"
#include "engine/folder_watch.h"
#include "engine/rescan.h"
#include "platform/file_mover.h"
#include "platform/path_text.h"
#include "store/session_file.h"
#include "store/settings_file.h"
#include "store/snapshot.h"

namespace tavren::engine {

struct CTavrenDoc::Generation {
    std::uint64_t id = 0;
    platform::WakeEvent stop;
    // The stop ends watching (rather than pausing it for a reload): each
    // worker records what its entry still owes.
    std::atomic<bool> ending{false};

    // Workers of this start not yet watching their folder, or (new
    // entries) still writing their first snapshot.
    std::mutex mutex;
    std::condition_variable allReady;
    int notReady = 0;

    void Ready() {
        std::lock_guard lock(mutex);
        if (--notReady == 0) allReady.notify_all();
    }
};

struct CTavrenDoc::Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
};

// Every problem told to the user is logged too.
class CTavrenDoc::LoggedMessages final : public MessageSink {
public:
    LoggedMessages(MessageSink& user, ActivityLog* log) : user_(user), log_(log) {}
    void ShowMessage(std::string_view text, const platform::WakeEvent& cancel) override {
        user_.ShowMessage(text, cancel);
    }
    void ReportProblem(std::string_view text) override {
        if (log_) log_->Write(0, {}, store::log_event::kProblem, {}, text);
        user_.ReportProblem(text);
    }
    void StatusChanged(const WatchStatus& status) override { user_.StatusChanged(status); }

private:
    MessageSink& user_;
    ActivityLog* const log_;
};

namespace {

Services WithMessages(const Services& s, MessageSink& messages, ActivityLog* log) {
    return {s.clock,  s.changes, s.launcher,     s.mover,       s.sound,
            messages, s.folders, s.probeWriters, s.startThread, log};
}

store::SessionSlot SessionSlotOf(int slot, const store::WatchEntry& entry) {
    const WatchKey key = KeyOf(entry);
    return {slot, key.folder, key.fileMode, key.pattern};
}

}  // namespace

CTavrenDoc::CTavrenDoc(store::DataFolder data, Services services)
    : data_(std::move(data)),
      ownLog_(services.log ? nullptr
                           : std::make_unique<ActivityLog>(store::LogPath(data_), services.clock,
                                                           services.messages)),
      messages_(std::make_unique<LoggedMessages>(services.messages,
                                                 services.log ? services.log : ownLog_.get())),
      services_(WithMessages(services, *messages_, services.log ? services.log : ownLog_.get())),
      pending_(data_, services_.messages) {
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
    const bool firstStart = std::exchange(firstStart_, false);
    if (firstStart) {
        store::Status unread;
        outage = store::ReadSession(data_, &unread);
        if (!unread) {
            services_.messages.ReportProblem(unread.message() +
                                             " 各項目のフォルダの一覧を取り直します。");
        }
        pending_.Load();
    }

    lastLoad_ = store::LoadWatchTable(data_.settingsFile(), table_);
    // Without its settings a start cannot go on from an outage: the
    // session file stays, and the next start tries again.
    if (firstStart && !lastLoad_) firstStart_ = true;
    if (firstStart) RemoveLeftoverCopies();
    {
        std::lock_guard lock(statusMutex_);
        statuses_.clear();
        for (int n = 0; n < table_.count(); ++n) {
            statuses_.push_back({n,
                                 table_.entries[n].title,
                                 table_.entries[n].folder,
                                 WatchMode::Notified,
                                 {},
                                 table_.number(n)});
        }
    }
    std::vector<std::shared_ptr<WatchState>> kept = std::move(retained_);
    retained_.clear();
    std::vector<std::shared_ptr<WatchState>> predecessors = std::move(stopped_);
    stopped_.clear();
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
    std::vector<Owed> owed(states_.size(), Owed::All);
    for (int n = 0; n < table_.count(); ++n) {
        const WatchKey key = KeyOf(table_.entries[n]);
        auto same = std::find_if(kept.begin(), kept.end(),
                                 [&](const auto& s) { return s && s->key == key; });
        if (same != kept.end()) {
            states_[n] = std::move(*same);
            fresh[n] = 0;
            owed[n] = Owed::None;  // it has its work still
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
                state->list = std::move(list);
                state->haveBaseline = true;
                state->catchUpAt = SteadyTime::min();  // look at once
                fresh[n] = 0;
                // Its snapshot knows what was not acted on; only the moves
                // it owed are not in it.
                owed[n] = Owed::MovesOnly;
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
        if (!owner) continue;
        states_[n]->number.store(table_.number(n));
        states_[n]->slot.store(n);
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

    // Workers only for the entries that the descriptor limit has room for.
    const int watched = ApplyDescriptorBudget(statuses_, statusMutex_, services_.messages);
    for (int n = watched; n < table_.count(); ++n) states_[n]->settled.store(true);  // no worker
    for (int n = 0; n < watched; ++n) {
        auto worker = std::make_unique<Worker>();
        {
            std::lock_guard lock(generation->mutex);
            ++generation->notReady;
        }
        std::shared_ptr<WatchState> predecessor;
        if (owed[n] == Owed::All) {
            auto p = std::find_if(predecessors.begin(), predecessors.end(),
                                  [&](const auto& s) { return s->key == states_[n]->key; });
            if (p != predecessors.end()) predecessor = *p;
        }
        try {
            states_[n]->settled.store(false);
            worker->thread =
                services_.startThread([this, entry = table_.entries[n], generation,
                                       state = states_[n], n, isFresh = fresh[n] != 0,
                                       claim = owed[n], predecessor, finished = worker->finished] {
                    WatcherThread(entry, *generation, *state, n, isFresh, claim, predecessor);
                    finished->store(true);
                });
        } catch (const std::system_error&) {
            char text[128];
            std::snprintf(text, sizeof text, kThreadCreationFailed, n);
            generation->Ready();  // this one never will be
            {
                std::lock_guard lock(statusMutex_);
                for (int rest = n; rest < table_.count(); ++rest) {
                    statuses_[rest].mode = WatchMode::None;
                    statuses_[rest].reason = text;
                    states_[rest]->settled.store(true);  // no worker will
                }
            }
            services_.messages.ShowMessage(text, exiting_);
            break;  // the entries after n get neither a snapshot nor a worker
        }
        workers_.push_back(std::move(worker));
    }
    // Return with every entry watched and every new baseline on disk, as if
    // done here one by one.
    std::unique_lock lock(generation->mutex);
    generation->allReady.wait(lock, [&] { return generation->notReady == 0; });
}

std::vector<WatchStatus> CTavrenDoc::statuses() const {
    std::lock_guard lock(statusMutex_);
    return statuses_;
}

void CTavrenDoc::SetStatus(const Generation& generation, int slot, WatchMode mode,
                           const std::string& reason, bool announce) {
    WatchStatus changed;
    {
        std::lock_guard lock(statusMutex_);
        // A worker of an earlier start speaks no more.
        if (generation.stop.IsSet() || slot >= static_cast<int>(statuses_.size())) return;
        WatchStatus& status = statuses_[slot];
        status.mode = mode;
        status.reason = reason;
        changed = status;
    }
    const EntryLog log{services_.log, changed.number, changed.title};
    if (mode == WatchMode::Waiting) log(store::log_event::kWaiting, {}, reason);
    if (mode == WatchMode::Polled) log(store::log_event::kPolled, {}, reason);
    if (mode == WatchMode::Notified && announce) log(store::log_event::kBack);
    if (announce) services_.messages.StatusChanged(changed);
}

void CTavrenDoc::TellLimit(const std::string& advice) {
    {
        std::lock_guard lock(limitMutex_);
        if (std::find(limitsTold_.begin(), limitsTold_.end(), advice) != limitsTold_.end()) return;
        limitsTold_.push_back(advice);
    }
    services_.messages.ReportProblem(advice);
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
    services_.log->Write(0, {}, store::log_event::kReloaded);
    PauseForReload();
    StartWatching();
}

void CTavrenDoc::StopWatching() {
    if (current_) {
        current_->ending.store(true);
        // What each idle entry owes, as of now: a file that comes after the
        // stop is not one of them. A worker busy in a look records its own
        // once the look is over.
        for (std::size_t n = 0; n < states_.size(); ++n) {
            WatchState& state = *states_[n];
            std::unique_lock look(state.lookMutex, std::try_to_lock);
            if (!look) continue;
            RescanContext context{table_.entries[n], data_, services_, state, exiting_};
            RecordOwed(context, /*write=*/false);
            FoldJournal(context);  // the snapshot file alone holds it from now
        }
        pending_.Flush();
    } else {
        // Paused for the settings, so no worker will record what these
        // owe: record what they know (a look still under way is skipped).
        for (auto& state : retained_) {
            if (std::unique_lock look(state->lookMutex, std::try_to_lock); look) {
                pending_.RecordStop(state->key, state.get(), OwedKnown(*state), /*write=*/true);
            }
            state->settled.store(true);
        }
    }
    PauseForReload();
    // A later start takes the slots over; at the exit none comes, and a
    // look under way keeps its slot to record what it did.
    if (!ending_) {
        for (auto& state : retained_) state->slot.store(-1);
    }
    if (!retained_.empty()) stopped_ = std::move(retained_);
    retained_.clear();
    EndSession();
}

void CTavrenDoc::RecordOwed(RescanContext& context, bool write) {
    WatchState& state = context.state;
    if (state.owedRecorded) return;
    pending_.RecordStop(state.key, &state, OwedAtStop(context), write);
    state.owedRecorded = true;
}

void CTavrenDoc::RemoveLeftoverCopies() {
    std::vector<std::string> destinations;
    for (int n = 0; n < table_.count(); ++n) {
        const store::WatchEntry& e = table_.entries[n];
        if (!e.movesFiles() || e.moveTo.empty()) continue;
        if (std::find(destinations.begin(), destinations.end(), e.moveTo) != destinations.end())
            continue;
        destinations.push_back(e.moveTo);
        const std::vector<std::filesystem::path> removed =
            services_.mover.RemoveLeftovers(platform::PathFromUtf8(e.moveTo));
        if (removed.empty()) continue;
        std::string names;
        for (const auto& path : removed) {
            names += ' ';
            names += platform::PathToUtf8(path.filename());
        }
        services_.messages.ReportProblem("移動先 " + e.moveTo + " に残っていた途中までのコピー " +
                                         std::to_string(removed.size()) +
                                         " 個を削除しました:" + names);
    }
}

void CTavrenDoc::EndSession() {
    if (firstStart_) return;  // no start has gone on from the last run yet
    store::RemoveSession(data_);
}

bool CTavrenDoc::Shutdown(std::chrono::milliseconds limit) {
    ending_ = true;
    StopWatching();
    exiting_.Set();
    const auto deadline = limit == std::chrono::milliseconds::max()
                              ? std::chrono::steady_clock::time_point::max()
                              : std::chrono::steady_clock::now() + limit;
    // Idle workers end at once; busy ones as soon as their blocking action
    // sees the exit. Poll briefly rather than join, so the limit holds.
    for (;;) {
        JoinFinishedWorkers();
        if (workers_.empty()) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            pending_.Flush();  // what the busy ones recorded last
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pending_.Flush();
    // A worker in the middle of a look at the stop could not fold its
    // journal: the snapshot file alone is to hold each entry's state once
    // the program has ended.
    for (int n = 0; n < table_.count(); ++n) {
        if (auto status = store::FoldSnapshotJournal(data_.snapshotFile(n)); !status)
            services_.messages.ReportProblem(status.message());
    }
    return true;
}

void CTavrenDoc::JoinFinishedWorkers() {
    std::erase_if(workers_, [](const std::unique_ptr<Worker>& w) {
        if (!w->finished->load()) return false;
        if (w->thread.joinable()) w->thread.join();
        return true;
    });
}

void CTavrenDoc::WatcherThread(const store::WatchEntry& entry, Generation& generation,
                               WatchState& state, int slot, bool fresh, Owed owed,
                               const std::shared_ptr<WatchState>& predecessor) {
    RescanContext context{entry, data_, services_, state, exiting_};
    context.tellLimit = [this](const std::string& advice) { TellLimit(advice); };
    context.movesChanged = [this, &state](const std::vector<OwedFile>& moves) {
        pending_.RecordMoves(state.key, &state, moves);
    };
    context.guardSnapshotWrite = [this, &state](const std::function<void(int)>& write) {
        const int owned = state.slot.load();
        if (owned < 0) return false;
        std::lock_guard lock(slotLocks_[owned]);
        if (slotOwner_[owned].load() != &state) return false;
        write(owned);
        return true;
    };
    // A new entry's baseline is taken here rather than by the starting
    // thread so that the workers' flushes to disk overlap: a start of 200
    // entries would otherwise wait for 200 flushes one after the other.
    WatchReports reports{
        [&](WatchMode mode, const std::string& reason, bool announce) {
            SetStatus(generation, slot, mode, reason, announce);
        },
        [this](const std::string& advice) { TellLimit(advice); },
        [&generation] { generation.Ready(); },
        polledEntries_,
    };
    if (owed != Owed::None) {
        reports.owedReady = [predecessor] { return !predecessor || predecessor->settled.load(); };
        reports.takeOwed = [this, &state, owed] {
            OwedWork work = pending_.Claim(state.key, &state);
            if (owed == Owed::MovesOnly) work.act.clear();
            return work;
        };
    }
    const EntryLog log{services_.log, state.number.load(), entry.title};
    log(store::log_event::kEntryStarted);
    RunFolderWatch(context, generation.stop, fresh, reports);
    log(store::log_event::kEntryStopped);
    if (generation.ending.load()) {
        std::lock_guard look(state.lookMutex);
        RecordOwed(context, /*write=*/!exiting_.IsSet());
    }
    state.settled.store(true);
}

}  // namespace tavren::engine
