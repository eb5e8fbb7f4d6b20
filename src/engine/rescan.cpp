#include "engine/rescan.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/actions.h"
#include "engine/descriptor_budget.h"
#include "platform/change_watcher.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/path_text.h"
#include "platform/wake_event.h"
#include "store/cp932.h"
#include "store/snapshot.h"

namespace tavren::engine {
namespace {

bool RunsProgram(const store::WatchEntry& entry) {
    return entry.openFile == 0 && !entry.program.empty();
}

}  // namespace

namespace {

// Two identities that may name the same file: equal, or one unknown.
bool MaybeSameFile(platform::FileId a, platform::FileId b) {
    return !a.known() || !b.known() || a == b;
}

FileFacts FactsAt(std::span<const FileFacts> facts, std::int32_t index) {
    const auto i = static_cast<std::size_t>(index);
    return i < facts.size() ? facts[i] : FileFacts{};
}

FileFacts FactsOf(const store::FoundFile& file) {
    FileFacts facts{file.id, file.mtimeNs, file.ctimeNs, {}};
    // A key holds a '/', which no file name does.
    if (file.item.name.find('/') != std::string::npos) facts.keyedName = file.fileName;
    return facts;
}

// Two times that may be the same: equal, or one unknown.
bool MaybeSameTime(std::int64_t a, std::int64_t b) {
    return a == 0 || b == 0 || a == b;
}

// Whether `file` may still be what `known` describes: the record's whole
// seconds and size cannot tell a rewrite within the same second.
bool MaybeUnchanged(const FileFacts& known, const store::FoundFile& file) {
    return MaybeSameFile(known.id, file.id) && MaybeSameTime(known.mtimeNs, file.mtimeNs) &&
           MaybeSameTime(known.ctimeNs, file.ctimeNs);
}

}  // namespace

RescanPlan PlanRescan(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                      const store::WatchEntry& entry, std::span<const FileFacts> known) {
    RescanPlan plan;
    plan.unchanged = list.size() == found.size();
    for (std::size_t i = 0; i < found.size(); ++i) {
        const store::FoundFile& file = found[i];
        store::SnapshotNode* node = list.Find(file.item.name);
        if (node) {
            node->seen = 1;
            if (MaybeUnchanged(FactsAt(known, node->index), file) &&
                node->item.SameState(file.item)) {
                // Same records, but also in the same order, or the file differs.
                plan.unchanged = plan.unchanged && node->index == static_cast<std::int32_t>(i);
                continue;
            }
        }
        plan.unchanged = false;
        plan.targets.push_back(&file);
    }
    if (entry.reportsDeletions() && found.size() < list.size()) {
        for (const store::SnapshotNode& node : list) {
            if (!node.seen) plan.deleted.push_back(&node);
        }
    }
    return plan;
}

std::string ChangeNoticeText(const store::WatchEntry& entry, const std::string& fileName) {
    return RunsProgram(entry) ? entry.program : fileName;
}

Notice DeletionNotice(const store::WatchEntry& entry, const std::string& storedName) {
    std::string path =
        platform::PathToUtf8(platform::PathFromUtf8(entry.folder) /
                             platform::PathFromUtf8(store::DisplayNameOfKey(storedName)));
    if (entry.openFile != 0) {
        // Shown as it stands, whatever the entry's message mode.
        if (store::Cp932Length(path).value_or(path.size()) < 4)
            return {std::string(kFileDeleted), store::message_mode::kAsIs};
        return {path + std::string(kDeletedSuffix), store::message_mode::kAsIs};
    }
    return {RunsProgram(entry) ? entry.program : path, entry.messageMode};
}

namespace {

using Clock = std::chrono::steady_clock;

// The folder itself is missing, as opposed to unreadable.
bool FolderMissing(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory;
}

// A share, drive or FUSE server that does not answer: the folder is out of
// reach for now, which says nothing about its files.
bool FolderUnreachable(const std::error_code& ec) {
    static const std::errc kErrors[] = {
        std::errc::not_connected, std::errc::host_unreachable, std::errc::network_unreachable,
        std::errc::network_down,  std::errc::no_such_device,   std::errc::no_such_device_or_address,
        std::errc::timed_out,     std::errc::io_error,
    };
    for (const std::errc e : kErrors) {
        if (ec == e) return true;
    }
#ifdef ESTALE
    if (ec == std::error_code(ESTALE, std::generic_category())) return true;
#endif
#ifdef EHOSTDOWN
    if (ec == std::error_code(EHOSTDOWN, std::generic_category())) return true;
#endif
#ifdef ENOMEDIUM
    if (ec == std::error_code(ENOMEDIUM, std::generic_category())) return true;
#endif
    return false;
}

RescanResult Away(RescanContext& ctx, std::string reason) {
    ctx.awayReason = std::move(reason);
    return RescanResult::FolderAway;
}

std::int64_t WallNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

platform::WriterState ProbeWriters(const RescanContext& ctx, const std::filesystem::path& file) {
    return ctx.services.probeWriters ? ctx.services.probeWriters(file)
                                     : platform::ProbeWriters(file);
}

// The entry's target files, as the look's services see them.
std::error_code ListTargetFiles(const RescanContext& ctx, std::vector<store::FoundFile>& out) {
    return store::ListTargetFiles(ctx.entry, ctx.services.folders, ctx.services.clock, out);
}

std::filesystem::path InFolder(const store::WatchEntry& entry, std::string_view name) {
    return platform::PathFromUtf8(entry.folder) / platform::PathFromUtf8(name);
}

// Writes the state's snapshot to its slot's file; a failure is told once
// (again only after a write has worked in between).
void WriteStateSnapshot(RescanContext& ctx) {
    WatchState& state = ctx.state;
    std::vector<store::SnapshotItem> items;
    items.reserve(state.list.size());
    for (const store::SnapshotNode& node : state.list) items.push_back(node.item);
    store::Status status;
    const bool ran = ctx.guardSnapshotWrite(
        [&](int slot) { status = store::WriteSnapshotFile(ctx.data.snapshotFile(slot), items); });
    if (!ran) {
        state.fileCurrent = false;  // the slot's new owner writes its own
        return;
    }
    state.fileCurrent = status.ok();
    if (status.ok()) {
        state.reportedWriteError.clear();
    } else if (status.message() != state.reportedWriteError) {
        state.reportedWriteError = status.message();
        ctx.services.messages.ReportProblem(status.message());
    }
}

void SetSnapshot(WatchState& state, std::vector<store::SnapshotItem> items,
                 std::vector<FileFacts> facts) {
    store::SnapshotList list;
    list.Reserve(items.size());
    for (store::SnapshotItem& item : items) list.Append(std::move(item));
    state.list = std::move(list);
    state.facts = std::move(facts);
}

void KeepListingAsSnapshot(WatchState& state, std::vector<store::FoundFile>& listing) {
    std::vector<store::SnapshotItem> items;
    std::vector<FileFacts> facts;
    items.reserve(listing.size());
    facts.reserve(listing.size());
    for (store::FoundFile& f : listing) {
        items.push_back(std::move(f.item));
        facts.push_back(FactsOf(f));
    }
    SetSnapshot(state, std::move(items), std::move(facts));
    state.haveBaseline = true;
}

// The snapshot without the records for which `drop` is true.
template <typename Drop>
void DropRecords(WatchState& state, Drop drop) {
    std::vector<store::SnapshotItem> items;
    std::vector<FileFacts> facts;
    bool dropped = false;
    for (const store::SnapshotNode& node : state.list) {
        const FileFacts known = FactsAt(state.facts, node.index);
        if (drop(node.item, known)) {
            dropped = true;
            continue;
        }
        items.push_back(node.item);
        facts.push_back(known);
    }
    if (dropped) SetSnapshot(state, std::move(items), std::move(facts));
}

// Retries of what failed: soon at first, then less and less often; 1 s
// doubling up to `most` (a listing: 32 s; a move: a minute).
std::chrono::milliseconds Backoff(int failures,
                                  std::chrono::milliseconds most = std::chrono::seconds(32)) {
    return std::min(std::chrono::milliseconds(1000) * (1 << std::clamp(failures - 1, 0, 6)), most);
}
std::chrono::milliseconds MoveBackoff(int failures) {
    return Backoff(failures, std::chrono::minutes(1));
}
constexpr int kReportListingAfter = 3;  // failures in a row before the user is told

RescanResult ListingFailed(RescanContext& ctx, const std::error_code& ec) {
    WatchState& state = ctx.state;
    ++state.listingFailures;
    state.listingRetryAt = Clock::now() + Backoff(state.listingFailures);
    if (IsDescriptorShortage(ec)) {
        ctx.tellLimit(DescriptorShortageAdvice(ec));  // not this folder's fault: once for all
    } else if (state.listingFailures >= kReportListingAfter && !state.listingErrorReported) {
        state.listingErrorReported = true;
        ctx.services.messages.ReportProblem("フォルダ " + ctx.entry.folder +
                                            " を読めません: " + ec.message());
    }
    return RescanResult::ListingFailed;
}

void ListingWorked(WatchState& state) {
    state.listingFailures = 0;
    state.listingRetryAt = kNever;
    state.listingErrorReported = false;
}

void ScheduleRecheck(WatchState& state) {
    state.recheckAt = kNever;
    if (!state.waiting.empty()) state.recheckAt = Clock::now() + state.waitingBackoff;
    for (const PendingMove& m : state.pendingMoves)
        state.recheckAt = std::min(state.recheckAt, m.due);
}

// A move refused because the file is in use is usually over in a moment:
// the user hears of it only once it has failed this often.
constexpr int kTellBusyAfter = 3;

std::string MoveReason(const RescanContext& ctx, const Actions::MoveOutcome& outcome) {
    if (outcome.kind == Actions::MoveOutcome::Busy) return "ほかのプログラムが使用中です";
    if (outcome.error == std::errc::no_such_file_or_directory) {
        platform::DirEntry folder;
        if (ctx.services.folders.Stat(platform::PathFromUtf8(ctx.entry.moveTo), folder) ||
            !folder.isDirectory) {
            return "移動先のフォルダがありません";
        }
    }
    return outcome.error.message();
}

// "<file> を <destination> へ", the start of what is told of a move.
std::string MoveOf(const RescanContext& ctx, const PendingMove& move,
                   const Actions::MoveOutcome& outcome) {
    return platform::PathToUtf8(InFolder(ctx.entry, move.name)) + " を " +
           platform::PathToUtf8(outcome.destination) + " へ";
}

// Tells the user of a move that failed, once per file and cause.
void TellMoveFailure(RescanContext& ctx, PendingMove& move, const Actions::MoveOutcome& outcome) {
    if (move.told == outcome.error) return;
    if (outcome.kind == Actions::MoveOutcome::Busy && move.attempts < kTellBusyAfter) return;
    move.told = outcome.error;
    ctx.services.messages.ReportProblem(MoveOf(ctx, move, outcome) +
                                        "移動できません: " + MoveReason(ctx, outcome) +
                                        "。移動できるまで繰り返します。");
}

// A move's outcome in the activity log: where it went, or why not.
void LogMove(const RescanContext& ctx, const std::string& name,
             const Actions::MoveOutcome& outcome) {
    const EntryLog log{ctx.services.log, ctx.state.number.load(), ctx.entry.title};
    if (outcome.kind == Actions::MoveOutcome::Moved) {
        log(store::log_event::kMoved, name, platform::PathToUtf8(outcome.destination));
    } else if (outcome.kind == Actions::MoveOutcome::Busy ||
               outcome.kind == Actions::MoveOutcome::Failed) {
        log(store::log_event::kNotMoved, name, MoveReason(ctx, outcome));
    }
}

std::vector<OwedFile> OwedMoves(const WatchState& state) {
    std::vector<OwedFile> moves;
    for (const PendingMove& m : state.pendingMoves) moves.push_back({m.name, m.id});
    return moves;
}

// Tells the state's keeper when the files waiting for their move changed.
void MovesChanged(RescanContext& ctx) {
    if (ctx.movesChanged) ctx.movesChanged(OwedMoves(ctx.state));
}

// Records a move's result: names the move put into the watched folder are
// the engine's own; a move that did not succeed is told and tried again
// later, the file staying out of the snapshot meanwhile. True when the
// files waiting for their move changed.
bool AfterMove(RescanContext& ctx, const std::string& name, platform::FileId id,
               const Actions::MoveOutcome& outcome, std::set<std::string>& movedAway) {
    WatchState& state = ctx.state;
    LogMove(ctx, name, outcome);
    switch (outcome.kind) {
        case Actions::MoveOutcome::Moved: {
            movedAway.insert(name);
            // The folder's identity is known from the look that acted.
            const platform::FileId here = state.folderId;
            if (here.known() &&
                ctx.services.folders.Identity(outcome.destination.parent_path()) == here) {
                state.ownArrivals[platform::PathToUtf8(outcome.destination.filename())] = id;
            }
            return false;
        }
        case Actions::MoveOutcome::Busy:
        case Actions::MoveOutcome::Failed: {
            PendingMove& move = state.pendingMoves.emplace_back(
                PendingMove{name, id, 1, Clock::now() + MoveBackoff(1), {}});
            TellMoveFailure(ctx, move, outcome);
            return true;
        }
        case Actions::MoveOutcome::Cancelled:
            // The program is ending: the next start moves it.
            state.pendingMoves.push_back({name, id, 0, Clock::now(), {}});
            return true;
        case Actions::MoveOutcome::NotMoved:
            break;
    }
    return false;
}

bool IsPendingMove(const WatchState& state, const std::string& name, platform::FileId id) {
    return std::any_of(
        state.pendingMoves.begin(), state.pendingMoves.end(),
        [&](const PendingMove& m) { return m.name == name && MaybeSameFile(m.id, id); });
}

// After a look cut short by the end of the program: the files it acted on
// are recorded as they were found, those it moved away are forgotten.
void RecordActedOn(WatchState& state, const std::vector<const store::FoundFile*>& done,
                   const std::set<std::string>& movedAway) {
    std::map<std::string, const store::FoundFile*> acted;  // by stored name
    std::set<std::string> gone;
    for (const store::FoundFile* f : done) {
        if (movedAway.contains(f->fileName)) {
            gone.insert(f->item.name);
        } else if (!IsPendingMove(state, f->fileName, f->id)) {
            acted[f->item.name] = f;
        }
    }
    std::vector<store::SnapshotItem> items;
    std::vector<FileFacts> facts;
    for (const store::SnapshotNode& node : state.list) {
        if (gone.contains(node.item.name)) continue;
        if (const auto it = acted.find(node.item.name); it != acted.end()) {
            items.push_back(it->second->item);
            facts.push_back(FactsOf(*it->second));
            acted.erase(it);
            continue;
        }
        items.push_back(node.item);
        facts.push_back(FactsAt(state.facts, node.index));
    }
    for (const auto& [key, f] : acted) {
        items.push_back(f->item);
        facts.push_back(FactsOf(*f));
    }
    SetSnapshot(state, std::move(items), std::move(facts));
    state.fileCurrent = false;
}

bool IsOwnArrival(const std::map<std::string, platform::FileId>& ownArrivals,
                  const std::string& name, platform::FileId id) {
    const auto it = ownArrivals.find(name);
    return it != ownArrivals.end() && MaybeSameFile(it->second, id);
}

// Takes over what the entry owed before this start (lookMutex held): files
// not acted on yet leave the snapshot, so that the next look acts on them;
// files waiting for their move are moved, and nothing else is done for
// them. Only files still there, and the same files, count.
void AdoptOwedLocked(RescanContext& ctx, const OwedWork& owed) {
    WatchState& state = ctx.state;
    auto stillThere = [&](const OwedFile& f, platform::FileId& id) {
        platform::DirEntry now;
        if (ctx.services.folders.Stat(InFolder(ctx.entry, f.name), now) || now.isDirectory ||
            !MaybeSameFile(f.id, now.id)) {
            return false;
        }
        id = now.id;
        return true;
    };
    std::map<std::string, platform::FileId> leaving;  // by stored name
    for (const OwedFile& f : owed.act) {
        platform::FileId id;
        if (stillThere(f, id)) leaving[store::SnapshotKey(f.name)] = id;
    }
    for (const OwedFile& f : owed.move) {
        platform::FileId id;
        if (!stillThere(f, id) || IsPendingMove(state, f.name, id)) continue;
        state.pendingMoves.push_back({f.name, id, 0, Clock::now(), {}});
        leaving[store::SnapshotKey(f.name)] = id;
    }
    // The keeper's record drops the moves of files gone meanwhile.
    if (!owed.move.empty()) MovesChanged(ctx);
    if (leaving.empty()) return;
    DropRecords(state, [&](const store::SnapshotItem& item, const FileFacts& known) {
        const auto it = leaving.find(item.name);
        return it != leaving.end() && MaybeSameFile(known.id, it->second);
    });
    state.fileCurrent = false;
    state.catchUpAt = Clock::now();  // the worker looks at once
    ScheduleRecheck(state);
}

}  // namespace

void AdoptOwed(RescanContext& ctx, const OwedWork& owed) {
    std::lock_guard look(ctx.state.lookMutex);
    AdoptOwedLocked(ctx, owed);
}

RescanResult TakeBaseline(RescanContext& ctx, const OwedWork& owed) {
    WatchState& state = ctx.state;
    std::lock_guard look(state.lookMutex);
    const FolderProbe here = ProbeFolder(ctx.services.folders, ctx.entry.folder);
    std::vector<store::FoundFile> listing;
    const std::error_code ec = here.ec ? here.ec : ListTargetFiles(ctx, listing);
    if (ec) {
        const std::string reason = AwayReason(ec);
        if (reason.empty()) return ListingFailed(ctx, ec);
        if (!FolderMissing(ec)) return Away(ctx, reason);  // unreachable: no baseline yet
        listing.clear();  // missing: empty, so what it brings when it comes is new
    } else {
        state.folderId = here.id;
    }
    ListingWorked(state);
    KeepListingAsSnapshot(state, listing);
    AdoptOwedLocked(ctx, owed);
    WriteStateSnapshot(ctx);
    return ec ? Away(ctx, AwayReason(ec)) : RescanResult::Completed;
}

FolderProbe ProbeFolder(platform::FolderReader& folders, const std::string& folder,
                        bool askMountRoot) {
    FolderProbe probe;
    const std::filesystem::path path = platform::PathFromUtf8(folder);
    platform::DirEntry here;
    if ((probe.ec = folders.Stat(path, here))) return probe;
    if (!here.isDirectory) {
        probe.ec = std::make_error_code(std::errc::not_a_directory);
        return probe;
    }
    probe.id = here.id;
    if (!askMountRoot) return probe;
    const platform::PlaceInParent place = platform::PlaceOf(path);
    platform::DirEntry parent;
    probe.mountRoot = !place.parent.empty() && !folders.Stat(place.parent, parent) &&
                      parent.id.volume != here.id.volume;
    return probe;
}

std::string AwayReason(const std::error_code& ec) {
    if (FolderMissing(ec)) return "フォルダがありません";
    if (FolderUnreachable(ec)) return "フォルダに届きません (" + ec.message() + ")";
    return {};
}

RescanResult RescanEntry(RescanContext& ctx, Trigger trigger) {
    const store::WatchEntry& entry = ctx.entry;
    WatchState& state = ctx.state;

    if (trigger == Trigger::Notification) {
        // Debounce in unsigned 32-bit seconds: a clock that went backwards
        // gives a huge difference and so a rescan.
        const auto now = static_cast<std::uint32_t>(ctx.services.clock.NowSeconds());
        const std::uint32_t previous = state.lastEventTime.exchange(now);
        if (now - previous < 3) return RescanResult::Debounced;
    }

    // A worker of an earlier start that is still busy with this entry
    // finishes its look first.
    std::lock_guard look(state.lookMutex);
    if (ctx.cancel.IsSet()) return RescanResult::Cancelled;
    state.catchUpAt = kNever;  // this look covers every held-back notification
    // A look at the folder tries the moves that wait once more.
    for (PendingMove& m : state.pendingMoves) m.due = std::min(m.due, Clock::now());

    // Only the folder the snapshot describes is compared with it.
    const FolderProbe here = ProbeFolder(ctx.services.folders, entry.folder);
    if (here.ec) {
        if (std::string reason = AwayReason(here.ec); !reason.empty()) return Away(ctx, reason);
    } else if (state.folderId.known() && here.id != state.folderId) {
        if (trigger != Trigger::Rearmed) return RescanResult::FolderReplaced;
    }

    std::vector<store::FoundFile> found;
    const auto listingStart = Clock::now();
    const std::error_code listingError = ListTargetFiles(ctx, found);
    ctx.listingTime = Clock::now() - listingStart;
    if (listingError) {
        if (std::string reason = AwayReason(listingError); !reason.empty())
            return Away(ctx, reason);
        return ListingFailed(ctx, listingError);
    }
    ListingWorked(state);
    if (trigger == Trigger::Rearmed) {
        // Another folder, or the same one remounted (which may even bring
        // back the device number it had): what tells its files apart, and
        // their change times, say nothing now, so names, sizes and times
        // of the records decide.
        state.facts.assign(state.list.size(), FileFacts{});
    }
    state.folderId = here.id;
    if (!state.haveBaseline) {
        KeepListingAsSnapshot(state, found);
        WriteStateSnapshot(ctx);
        return RescanResult::Completed;
    }

    for (store::SnapshotNode& node : state.list) node.seen = 0;
    RescanPlan plan = PlanRescan(state.list, found, entry, state.facts);
    // Files that went with their folder were not deleted one by one.
    if (trigger == Trigger::Rearmed) plan.deleted.clear();
    if (!plan.deleted.empty()) {
        // A folder being deleted loses its files first: report them only
        // once the folder is seen to stay.
        ctx.services.clock.Sleep(kDeletionSettle, ctx.cancel);
        if (ctx.cancel.IsSet()) return RescanResult::Cancelled;
        const FolderProbe after = ProbeFolder(ctx.services.folders, entry.folder);
        if (after.ec) {
            if (std::string reason = AwayReason(after.ec); !reason.empty())
                return Away(ctx, reason);
        } else if (after.id != here.id) {
            return RescanResult::FolderReplaced;
        }
    }

    // Which targets are complete; the others wait for their writer.
    const EntryLog log{ctx.services.log, state.number.load(), entry.title};
    for (const store::SnapshotNode* node : plan.deleted) {
        const std::string& keyed = FactsAt(state.facts, node->index).keyedName;
        log(store::log_event::kDeleted,
            keyed.empty() ? store::DisplayNameOfKey(node->item.name) : keyed);
    }
    std::vector<const store::FoundFile*> ready;
    std::map<std::string, WaitingFile> waiting;
    const std::int64_t wallNow = WallNowNs();
    const auto steadyNow = Clock::now();
    for (const store::FoundFile* file : plan.targets) {
        if (IsOwnArrival(state.ownArrivals, file->fileName, file->id)) continue;
        if (IsPendingMove(state, file->fileName, file->id)) continue;  // acted on already
        const Observation seen{file->id, file->size, file->mtimeNs};
        const auto previous = state.waiting.find(file->fileName);
        WaitingFile record;
        const Readiness readiness =
            JudgeReadiness(ProbeWriters(ctx, InFolder(entry, file->fileName)), seen,
                           previous == state.waiting.end() ? nullptr : &previous->second, wallNow,
                           steadyNow, record);
        const bool wasWaiting = previous != state.waiting.end();
        if (!wasWaiting) {
            const bool known = state.list.Find(file->item.name) != nullptr;
            log(known ? store::log_event::kChanged : store::log_event::kNew, file->fileName);
        }
        if (readiness == Readiness::Wait) {
            // A file that starts waiting is checked again soon.
            if (!wasWaiting) {
                state.waitingBackoff = kFirstWaitingRecheck;
                log(store::log_event::kHeld, file->fileName);
            }
            waiting.emplace(file->fileName, record);
        } else {
            if (wasWaiting) log(store::log_event::kComplete, file->fileName);
            ready.push_back(file);
        }
    }
    state.waiting = std::move(waiting);

    Actions actions(entry, ctx.services, ctx.cancel, state.number.load());
    bool acted = false;
    bool movesChanged = false;
    std::set<std::string> movedAway;
    std::vector<const store::FoundFile*> done;  // acted on, whatever their move did
    for (const store::FoundFile* file : ready) {
        if (ctx.cancel.IsSet()) break;
        // Only the first file of a look is announced.
        if (file == ready.front()) {
            actions.NotifyUser(ChangeNoticeText(entry, file->fileName), entry.messageMode,
                               file->fileName);
        }
        if (ctx.cancel.IsSet()) break;  // its box was cut short: not acted on
        std::filesystem::path moveTo;
        if (entry.openFile != 0) {
            actions.OpenTargetFile(file->fileName);
        } else if (!entry.program.empty()) {
            // The program is told where the file goes, and the move takes
            // that name if it is still free then.
            moveTo = actions.PlannedDestination(file->fileName);
            const bool known = state.list.Find(file->item.name) != nullptr;
            actions.LaunchProgram(file->fileName, known ? FileEvent::Changed : FileEvent::New,
                                  moveTo);
        }
        done.push_back(file);
        movesChanged |= AfterMove(ctx, file->fileName, file->id,
                                  actions.PostProcessFile(file->fileName, moveTo), movedAway);
        acted = true;
    }
    for (const store::SnapshotNode* node : plan.deleted) {
        if (ctx.cancel.IsSet()) break;
        // Announced once, but the program runs for every file gone.
        if (node == plan.deleted.front()) {
            const Notice notice = DeletionNotice(entry, node->item.name);
            actions.NotifyUser(notice.text, notice.messageMode,
                               store::DisplayNameOfKey(node->item.name));
        }
        if (RunsProgram(entry)) {
            const std::string& keyed = FactsAt(state.facts, node->index).keyedName;
            actions.LaunchProgram(keyed.empty() ? store::DisplayNameOfKey(node->item.name) : keyed,
                                  FileEvent::Deleted);
            acted = true;
        }
    }
    if (movesChanged) MovesChanged(ctx);

    if (ctx.cancel.IsSet()) {
        // Ending in the middle: the files acted on are recorded in memory,
        // so that what is owed at the end counts only those that were not.
        // The snapshot file keeps the state before this look.
        RecordActedOn(state, done, movedAway);
        return RescanResult::Cancelled;
    }

    // Own arrivals are recorded by this look; those gone are forgotten.
    std::map<std::string, platform::FileId> ownArrivals;
    ownArrivals.swap(state.ownArrivals);
    ScheduleRecheck(state);

    if (!acted && state.waiting.empty() && plan.unchanged && ownArrivals.empty()) {
        // Nothing ran that could have touched the folder and nothing moved.
        if (!state.fileCurrent) WriteStateSnapshot(ctx);
        return RescanResult::Completed;
    }

    // The actions may have moved files away or changed them: list again.
    // A file gets into the new snapshot as it is now only when this look
    // met it (the same file under the same name) or the engine's own move
    // put it there; a waiting file keeps the record it had.
    std::map<std::string, platform::FileId> met;
    for (const store::FoundFile& f : found) met.emplace(f.fileName, f.id);
    std::vector<store::FoundFile> after;
    if (!acted || ListTargetFiles(ctx, after)) {
        // Without a listing of what the actions left (the folder went away
        // meanwhile), this look's own stands in: the files it acted on are
        // recorded, those it moved away are not.
        after = std::move(found);
    }
    std::vector<store::SnapshotItem> items;
    std::vector<FileFacts> facts;
    items.reserve(after.size());
    facts.reserve(after.size());
    for (store::FoundFile& f : after) {
        if (state.waiting.contains(f.fileName)) {
            if (const store::SnapshotNode* old = state.list.Find(f.item.name)) {
                items.push_back(old->item);
                facts.push_back(FactsAt(state.facts, old->index));
            }
            continue;
        }
        // Acted on, not moved yet: recorded once it has gone.
        if (IsPendingMove(state, f.fileName, f.id)) continue;
        if (!IsOwnArrival(ownArrivals, f.fileName, f.id)) {
            if (movedAway.contains(f.fileName)) continue;  // another file took its name
            const auto m = met.find(f.fileName);
            if (m == met.end()) continue;  // arrived during the actions
            if (!MaybeSameFile(m->second, f.id)) continue;
        }
        facts.push_back(FactsOf(f));
        items.push_back(std::move(f.item));
    }
    SetSnapshot(state, std::move(items), std::move(facts));
    WriteStateSnapshot(ctx);
    return RescanResult::Completed;
}

bool CheckPending(RescanContext& ctx, bool destinationChanged) {
    WatchState& state = ctx.state;
    std::lock_guard look(state.lookMutex);
    const auto now = Clock::now();
    bool lookNeeded = false;

    // Moves that did not succeed, tried again when due.
    Actions actions(ctx.entry, ctx.services, ctx.cancel, state.number.load());
    std::set<std::string> movedAway;
    bool movesChanged = false;
    for (auto it = state.pendingMoves.begin(); it != state.pendingMoves.end();) {
        if (it->due > now || ctx.cancel.IsSet()) {
            ++it;
            continue;
        }
        platform::DirEntry current;
        if (ctx.services.folders.Stat(InFolder(ctx.entry, it->name), current) ||
            !MaybeSameFile(it->id, current.id)) {
            it = state.pendingMoves.erase(it);  // gone or replaced: a look sees to it
            movesChanged = lookNeeded = true;
            continue;
        }
        EntryLog{ctx.services.log, state.number.load(), ctx.entry.title}(
            store::log_event::kRetry, it->name, std::to_string(it->attempts + 1));
        const Actions::MoveOutcome outcome = actions.PostProcessFile(it->name);
        if (outcome.kind != Actions::MoveOutcome::Moved) LogMove(ctx, it->name, outcome);
        switch (outcome.kind) {
            case Actions::MoveOutcome::Busy:
            case Actions::MoveOutcome::Failed:
                if (destinationChanged && !it->settling) {
                    it->settling = true;
                    it->due = now + kDestinationSettle;
                } else {
                    it->settling = false;
                    ++it->attempts;
                    it->due = now + MoveBackoff(it->attempts);
                }
                TellMoveFailure(ctx, *it, outcome);
                ++it;
                continue;
            case Actions::MoveOutcome::Cancelled:
                ++it;
                continue;
            case Actions::MoveOutcome::Moved:
                if (it->told) {
                    ctx.services.messages.ReportProblem(MoveOf(ctx, *it, outcome) +
                                                        "移動しました。");
                }
                AfterMove(ctx, it->name, it->id, outcome, movedAway);
                break;
            case Actions::MoveOutcome::NotMoved:  // the entry no longer moves files
                break;
        }
        it = state.pendingMoves.erase(it);
        movesChanged = true;
    }
    if (movesChanged) MovesChanged(ctx);
    if (!movedAway.empty()) {
        // Moved away by us: out of the snapshot, so no deletion is reported.
        std::set<std::string> keys;
        for (const std::string& name : movedAway) keys.insert(store::SnapshotKey(name));
        DropRecords(state, [&](const store::SnapshotItem& item, const FileFacts&) {
            return keys.contains(item.name);
        });
        WriteStateSnapshot(ctx);
    }

    // Files still being written: a look once one of them is complete.
    const std::int64_t wallNow = WallNowNs();
    for (auto& [name, record] : state.waiting) {
        platform::DirEntry current;
        if (ctx.services.folders.Stat(InFolder(ctx.entry, name), current)) {
            lookNeeded = true;  // gone: the look forgets it
            continue;
        }
        const Observation seen{current.id, current.size, current.mtimeNs()};
        WaitingFile next;
        if (JudgeReadiness(ProbeWriters(ctx, InFolder(ctx.entry, name)), seen, &record, wallNow,
                           now, next) == Readiness::Ready) {
            lookNeeded = true;
        }
        record = next;
    }
    state.waitingBackoff = std::min<std::chrono::milliseconds>(
        std::max(kFirstWaitingRecheck, state.waitingBackoff * 2), kWaitingRecheck);
    ScheduleRecheck(state);
    return lookNeeded;
}

OwedWork OwedKnown(const WatchState& state) {
    OwedWork owed;
    for (const auto& [name, record] : state.waiting) owed.act.push_back({name, record.id});
    owed.move = OwedMoves(state);
    return owed;
}

OwedWork OwedAtStop(RescanContext& ctx) {
    WatchState& state = ctx.state;
    OwedWork owed;
    owed.move = OwedMoves(state);
    if (!state.haveBaseline) return owed;
    // What differs from the snapshot arrived or changed while the entry
    // watched, and has not been acted on yet.
    std::vector<store::FoundFile> found;
    if (ListTargetFiles(ctx, found)) return OwedKnown(state);
    for (store::SnapshotNode& node : state.list) node.seen = 0;
    const RescanPlan plan = PlanRescan(state.list, found, ctx.entry, state.facts);
    for (const store::FoundFile* file : plan.targets) {
        if (IsOwnArrival(state.ownArrivals, file->fileName, file->id) ||
            IsPendingMove(state, file->fileName, file->id)) {
            continue;
        }
        owed.act.push_back({file->fileName, file->id});
    }
    return owed;
}

}  // namespace tavren::engine
