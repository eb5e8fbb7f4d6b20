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

// Two times that may be the same: equal, or one unknown.
bool MaybeSameTime(std::int64_t a, std::int64_t b) {
    return a == 0 || b == 0 || a == b;
}

// Whether `file` may still be what its record describes: the same state,
// and, as far as is known of it, the same file and times (the record's
// whole seconds and size cannot tell a rewrite within the same second).
bool Unchanged(const store::SnapshotNode& known, const store::FoundFile& file) {
    return known.item.SameState(file.item) && MaybeSameFile(known.id, file.id) &&
           MaybeSameTime(known.mtimeNs, file.mtimeNs) && MaybeSameTime(known.ctimeNs, file.ctimeNs);
}

}  // namespace

namespace {

// Marks the record of each found file as seen and picks the new and
// changed ones.
void PickTargets(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                 RescanPlan& plan) {
    for (const store::FoundFile& file : found) {
        store::SnapshotNode* node = list.Find(file.item.name);
        if (node) {
            node->seen = 1;
            if (Unchanged(*node, file)) continue;
        }
        plan.targets.push_back(&file);
    }
}

}  // namespace

RescanPlan PlanRescan(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                      const store::WatchEntry& entry) {
    RescanPlan plan;
    for (store::SnapshotNode& node : list) node.seen = 0;
    PickTargets(list, found, plan);
    for (const store::SnapshotNode& node : list) {
        if (!node.seen) plan.gone.push_back(&node);
    }
    plan.unchanged = plan.targets.empty() && plan.gone.empty();
    if (entry.reportsDeletions() && found.size() < list.size()) plan.deleted = plan.gone;
    return plan;
}

RescanPlan PlanNamedLook(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                         const std::vector<std::string>& missing, const store::WatchEntry& entry) {
    RescanPlan plan;
    // The folder's count of target files now, as a listing would give it:
    // the records less those gone, and the files that have none.
    std::size_t count = list.size();
    std::vector<store::SnapshotNode*> missingNodes;
    for (const std::string& name : missing) {
        if (store::SnapshotNode* node = list.Find(store::SnapshotKey(name))) {
            node->seen = 0;
            missingNodes.push_back(node);
        }
    }
    for (const store::FoundFile& file : found) {
        if (store::SnapshotNode* node = list.Find(file.item.name)) {
            node->seen = 0;
        } else {
            ++count;
        }
    }
    PickTargets(list, found, plan);
    for (store::SnapshotNode* node : missingNodes) {
        if (node->seen) continue;  // met under another name of the same record, or counted
        node->seen = 2;
        plan.gone.push_back(node);
        --count;
    }
    std::sort(plan.gone.begin(), plan.gone.end(),
              [](const store::SnapshotNode* a, const store::SnapshotNode* b) {
                  return a->index < b->index;
              });
    plan.unchanged = plan.targets.empty() && plan.gone.empty();
    if (entry.reportsDeletions() && count < list.size()) plan.deleted = plan.gone;
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
    ctx.freedMuch = ctx.freedMuch || state.list.size() >= kLargeFolder;
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
        state.unwritten.clear();
        state.journalBytes = 0;
        state.reportedWriteError.clear();
    } else if (status.message() != state.reportedWriteError) {
        state.reportedWriteError = status.message();
        ctx.services.messages.ReportProblem(status.message());
    }
}

// A journal this large is folded into a new snapshot file: past a quarter
// of the snapshot's size, reading both at a start costs more than it
// should, and the fold's cost is spread over that many changes.
bool JournalFull(const WatchState& state) {
    return state.journalBytes >
           std::max<std::uint64_t>(64 * 1024, state.list.size() * store::kSnapshotRecordSize / 4);
}

// Brings the snapshot file up to date with the records changed since it
// was written: appended to its journal, or, when the file is behind, the
// journal full or an append fails, written whole.
void SaveChanges(RescanContext& ctx) {
    WatchState& state = ctx.state;
    if (state.fileCurrent && state.unwritten.empty()) return;
    if (state.fileCurrent && !JournalFull(state)) {
        store::Status status;
        std::uint64_t bytes = 0;
        const bool ran = ctx.guardSnapshotWrite([&](int slot) {
            status =
                store::AppendSnapshotJournal(ctx.data.snapshotFile(slot), state.unwritten, &bytes);
        });
        if (!ran) {
            state.fileCurrent = false;  // the slot's new owner writes its own
            return;
        }
        if (status.ok()) {
            state.unwritten.clear();
            state.journalBytes = bytes;
            state.reportedWriteError.clear();
            return;
        }
    }
    WriteStateSnapshot(ctx);
}

bool IsKeyed(std::string_view storedName) {
    return storedName.find('/') != std::string_view::npos;  // no file name holds a '/'
}

void KeepFacts(store::SnapshotNode& node, const store::FoundFile& file) {
    node.id = file.id;
    node.mtimeNs = file.mtimeNs;
    node.ctimeNs = file.ctimeNs;
}

// Records `file` as found.
void PutRecord(WatchState& state, const store::FoundFile& file) {
    KeepFacts(state.list.Upsert(file.item), file);
    if (IsKeyed(file.item.name)) state.keyedNames[file.item.name] = file.fileName;
    state.unwritten.push_back({false, file.item});
}

// Removes the record Find(storedName) gives, if any.
void DropRecord(WatchState& state, std::string_view storedName) {
    const store::SnapshotNode* node = state.list.Find(storedName);
    if (!node) return;
    std::string name = node->item.name;
    state.keyedNames.erase(name);
    state.list.Remove(name);
    state.unwritten.push_back({true, {0, 0, 0, std::move(name)}});
}

// The name to give a program for a record's file: the file's own name
// where the record holds a key for it.
std::string RecordedFileName(const WatchState& state, const store::SnapshotNode& node) {
    const auto it = state.keyedNames.find(node.item.name);
    return it != state.keyedNames.end() ? it->second : store::DisplayNameOfKey(node.item.name);
}

void KeepListingAsSnapshot(WatchState& state, const std::vector<store::FoundFile>& listing) {
    store::SnapshotList list;
    list.Reserve(listing.size());
    state.keyedNames.clear();
    for (const store::FoundFile& f : listing) {
        KeepFacts(list.Append(f.item), f);
        if (IsKeyed(f.item.name)) state.keyedNames[f.item.name] = f.fileName;
    }
    state.list = std::move(list);
    state.unwritten.clear();
    state.outside.clear();
    state.fileCurrent = false;
    state.haveBaseline = true;
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
    for (const store::FoundFile* f : done) {
        if (movedAway.contains(f->fileName)) {
            DropRecord(state, f->item.name);
        } else if (!IsPendingMove(state, f->fileName, f->id)) {
            PutRecord(state, *f);
        }
    }
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
    std::map<std::string, OwedFile> leaving;  // by stored name
    for (const OwedFile& f : owed.act) {
        platform::FileId id;
        if (stillThere(f, id)) leaving[store::SnapshotKey(f.name)] = {f.name, id};
    }
    for (const OwedFile& f : owed.move) {
        platform::FileId id;
        if (!stillThere(f, id) || IsPendingMove(state, f.name, id)) continue;
        state.pendingMoves.push_back({f.name, id, 0, Clock::now(), {}});
        leaving[store::SnapshotKey(f.name)] = {f.name, id};
    }
    // The keeper's record drops the moves of files gone meanwhile.
    if (!owed.move.empty()) MovesChanged(ctx);
    if (leaving.empty()) return;
    for (const auto& [key, file] : leaving) {
        const store::SnapshotNode* node = state.list.Find(key);
        if (node && MaybeSameFile(node->id, file.id)) DropRecord(state, key);
        state.outside.insert(file.name);  // a look by names meets it again
    }
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
    std::vector<std::string> covered;  // by the listing: dropped
    state.notified.Take(ctx.namesSource, covered);
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
    state.notified.Listed(ctx.namesSource);
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

namespace {

// What a look has to go by: the files it met and, looking by names, the
// names that name no target file now.
struct Gathered {
    bool byNames = false;
    std::vector<store::FoundFile> found;
    std::vector<std::string> missing;
};

// The file at `name` as a listing would describe it: `out` empty when it
// is not a target file; an error when it cannot be looked at.
std::error_code DescribeName(RescanContext& ctx, const std::string& name,
                             std::optional<store::FoundFile>& out) {
    out.reset();
    platform::DirEntry e;
    if (std::error_code ec = ctx.services.folders.Stat(InFolder(ctx.entry, name), e)) return ec;
    e.name = name;
    if (store::IsTargetFile(ctx.entry, e)) out = store::FoundOf(std::move(e), ctx.services.clock);
    return {};
}

// The file at `name` as it is now, when it is a target file.
std::optional<store::FoundFile> DescribeNow(RescanContext& ctx, const std::string& name) {
    std::optional<store::FoundFile> now;
    DescribeName(ctx, name, now);
    return now;
}

// Describes each name as a listing would; false when one of them cannot be
// described for another reason than not being there (then only a listing
// can tell, and it fails the same way, so no file is taken for deleted
// because it could not be read).
bool DescribeNames(RescanContext& ctx, const std::set<std::string>& names, Gathered& out) {
    out.found.reserve(names.size());
    for (const std::string& name : names) {
        std::optional<store::FoundFile> file;
        if (const std::error_code ec = DescribeName(ctx, name, file); ec && !FolderMissing(ec))
            return false;
        if (file) {
            out.found.push_back(std::move(*file));
        } else {
            out.missing.push_back(name);
        }
    }
    return true;
}

// The first step of a look: the names notified since the last one, with
// the files the entry knows to be outside its snapshot, described one by
// one; or, where the names may not tell every change, the whole listing.
std::error_code Gather(RescanContext& ctx, Trigger trigger, Gathered& out) {
    WatchState& state = ctx.state;
    std::vector<std::string> notified;
    const bool byNames = state.notified.Take(ctx.namesSource, notified) && state.haveBaseline &&
                         trigger != Trigger::Rearmed;
    if (byNames) {
        std::set<std::string> names(std::make_move_iterator(notified.begin()),
                                    std::make_move_iterator(notified.end()));
        names.insert(state.outside.begin(), state.outside.end());
        for (const auto& [name, record] : state.waiting) names.insert(name);
        for (const PendingMove& m : state.pendingMoves) names.insert(m.name);
        for (const auto& [name, id] : state.ownArrivals) names.insert(name);
        out.byNames = true;
        if (DescribeNames(ctx, names, out)) return {};
        out = Gathered{};
    }
    const auto listingStart = Clock::now();
    const std::error_code ec = ListTargetFiles(ctx, out.found);
    ctx.listingTime = Clock::now() - listingStart;
    ctx.freedMuch = ctx.freedMuch || out.found.size() >= kLargeFolder;
    return ec;
}

// A folder being deleted loses its files first: they are reported gone
// only once the folder is seen to stay. Completed when it does.
RescanResult FolderStays(RescanContext& ctx, const FolderProbe& here) {
    ctx.services.clock.Sleep(kDeletionSettle, ctx.cancel);
    if (ctx.cancel.IsSet()) return RescanResult::Cancelled;
    const FolderProbe after = ProbeFolder(ctx.services.folders, ctx.entry.folder);
    if (after.ec) {
        if (std::string reason = AwayReason(after.ec); !reason.empty()) return Away(ctx, reason);
    } else if (after.id != here.id) {
        return RescanResult::FolderReplaced;
    }
    return RescanResult::Completed;
}

// Sorts the new and changed files into those complete now and those whose
// writer is not done yet, which wait; logs what the look found.
std::vector<const store::FoundFile*> JudgeTargets(RescanContext& ctx, const RescanPlan& plan,
                                                  const EntryLog& log) {
    WatchState& state = ctx.state;
    for (const store::SnapshotNode* node : plan.deleted)
        log(store::log_event::kDeleted, RecordedFileName(state, *node));
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
            JudgeReadiness(ProbeWriters(ctx, InFolder(ctx.entry, file->fileName)), seen,
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
    return ready;
}

// What the actions of a look did.
struct Acted {
    bool any = false;  // something ran that may have touched the folder
    std::set<std::string> movedAway;
    std::vector<const store::FoundFile*> done;  // acted on, whatever their move did
};

// Carries out the actions for the complete files and the deleted ones;
// stops between two actions when the program ends.
Acted Act(RescanContext& ctx, const std::vector<const store::FoundFile*>& ready,
          const RescanPlan& plan) {
    const store::WatchEntry& entry = ctx.entry;
    WatchState& state = ctx.state;
    Actions actions(entry, ctx.services, ctx.cancel, state.number.load());
    Acted acted;
    bool movesChanged = false;
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
        acted.done.push_back(file);
        movesChanged |= AfterMove(ctx, file->fileName, file->id,
                                  actions.PostProcessFile(file->fileName, moveTo), acted.movedAway);
        acted.any = true;
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
            actions.LaunchProgram(RecordedFileName(state, *node), FileEvent::Deleted);
            acted.any = true;
        }
    }
    if (movesChanged) MovesChanged(ctx);
    return acted;
}

// The last step: the snapshot learns what the look found and did. A file
// met by the look is recorded as it was met, one acted on as the actions
// left it (a program may have rewritten it); one still waiting keeps the
// record it had; one waiting for its move, or whose name another file took
// once it was moved away, has none until it is gone. A record whose file
// is gone is dropped. Files the look did not meet are left to the next.
void Record(RescanContext& ctx, const Gathered& gathered, const RescanPlan& plan,
            const Acted& acted, std::map<std::string, platform::FileId>& ownArrivals) {
    WatchState& state = ctx.state;
    std::vector<std::string> goneNames;
    for (const store::SnapshotNode* node : plan.gone) goneNames.push_back(node->item.name);
    for (const std::string& name : goneNames) DropRecord(state, name);

    std::set<const store::FoundFile*> done(acted.done.begin(), acted.done.end());
    std::set<std::string> outside;
    for (const store::FoundFile& f : gathered.found) {
        if (done.contains(&f)) continue;
        if (state.waiting.contains(f.fileName)) {
            if (!state.list.Find(f.item.name)) outside.insert(f.fileName);
            continue;
        }
        if (IsPendingMove(state, f.fileName, f.id)) {
            DropRecord(state, f.item.name);
            outside.insert(f.fileName);
            continue;
        }
        store::SnapshotNode* node = state.list.Find(f.item.name);
        if (node && node->item.SameState(f.item) && node->item.name == f.item.name) {
            KeepFacts(*node, f);  // met as recorded: what is known of it grows
        } else {
            PutRecord(state, f);
        }
        ownArrivals.erase(f.fileName);
    }
    for (const store::FoundFile* f : acted.done) {
        const bool pending = IsPendingMove(state, f->fileName, f->id);
        if (pending || acted.movedAway.contains(f->fileName)) {
            DropRecord(state, f->item.name);
            // A file that took the name of one moved away is acted on by
            // the next look.
            if (pending || DescribeNow(ctx, f->fileName)) outside.insert(f->fileName);
            continue;
        }
        const std::optional<store::FoundFile> now = DescribeNow(ctx, f->fileName);
        if (!now) {
            DropRecord(state, f->item.name);
        } else if (!MaybeSameFile(f->id, now->id)) {
            DropRecord(state, f->item.name);
            outside.insert(f->fileName);
        } else {
            PutRecord(state, *now);
        }
    }
    // What the entry's own moves put into its folder is recorded as it is,
    // without being acted on; those gone are forgotten.
    for (const auto& [name, id] : ownArrivals) {
        const std::optional<store::FoundFile> now = DescribeNow(ctx, name);
        if (now && MaybeSameFile(id, now->id)) PutRecord(state, *now);
    }
    state.outside = std::move(outside);
}

// Files the look did not act on that changed while its actions ran (a
// program that rewrites files of its folder in place) are taken in as they
// are afterwards, without an action; a record whose file went meanwhile
// is dropped without a report. A file that arrived meanwhile is left to
// the next look. Looking by names, the names notified during the actions
// tell which files to describe again; else the folder is listed again.
void AbsorbChangesMeanwhile(RescanContext& ctx, const Gathered& gathered, const Acted& acted) {
    WatchState& state = ctx.state;
    std::set<std::string> handled;  // the files the look recorded itself
    for (const store::FoundFile* f : acted.done) handled.insert(f->fileName);
    for (const auto& [name, record] : state.waiting) handled.insert(name);
    for (const PendingMove& m : state.pendingMoves) handled.insert(m.name);
    handled.insert(state.outside.begin(), state.outside.end());
    auto absorb = [&](const std::string& name, const std::optional<store::FoundFile>& now) {
        if (handled.contains(name)) return;
        const store::SnapshotNode* node = state.list.Find(store::SnapshotKey(name));
        if (!node) return;  // arrived meanwhile: the next look acts on it
        if (!now) {
            DropRecord(state, node->item.name);
        } else if (!MaybeSameFile(node->id, now->id)) {
            DropRecord(state, node->item.name);  // another file took its name
            state.outside.insert(name);
        } else if (!Unchanged(*node, *now)) {
            PutRecord(state, *now);
        }
    };
    if (gathered.byNames) {
        ctx.gatherNames();
        for (const std::string& name : state.notified.Since(ctx.namesSource))
            absorb(name, DescribeNow(ctx, name));
        return;
    }
    std::vector<store::FoundFile> after;
    if (ListTargetFiles(ctx, after)) return;  // the folder went meanwhile: nothing to learn
    std::set<std::string> there;
    for (const store::FoundFile& f : after) {
        there.insert(f.item.name);
        absorb(f.fileName, f);
    }
    std::vector<std::string> gone;
    for (const store::SnapshotNode& node : state.list) {
        if (!there.contains(node.item.name)) gone.push_back(node.item.name);
    }
    for (const std::string& name : gone) DropRecord(state, name);
}

}  // namespace

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

    Gathered gathered;
    if (const std::error_code ec = Gather(ctx, trigger, gathered)) {
        if (std::string reason = AwayReason(ec); !reason.empty()) return Away(ctx, reason);
        return ListingFailed(ctx, ec);
    }
    ListingWorked(state);
    if (trigger == Trigger::Rearmed) {
        // Another folder, or the same one remounted (which may even bring
        // back the device number it had): what tells its files apart, and
        // their change times, say nothing now, so names, sizes and times
        // of the records decide.
        for (store::SnapshotNode& node : state.list) KeepFacts(node, store::FoundFile{});
    }
    state.folderId = here.id;
    if (!state.haveBaseline) {
        KeepListingAsSnapshot(state, gathered.found);
        WriteStateSnapshot(ctx);
        state.notified.Listed(ctx.namesSource);
        return RescanResult::Completed;
    }

    RescanPlan plan = gathered.byNames
                          ? PlanNamedLook(state.list, gathered.found, gathered.missing, entry)
                          : PlanRescan(state.list, gathered.found, entry);
    // Files that went with their folder were not deleted one by one.
    if (trigger == Trigger::Rearmed) plan.deleted.clear();
    if (!plan.deleted.empty()) {
        if (const RescanResult r = FolderStays(ctx, here); r != RescanResult::Completed) return r;
    }

    const EntryLog log{ctx.services.log, state.number.load(), entry.title};
    const std::vector<const store::FoundFile*> ready = JudgeTargets(ctx, plan, log);
    const Acted acted = Act(ctx, ready, plan);
    if (ctx.cancel.IsSet()) {
        // Ending in the middle: the files acted on are recorded in memory,
        // so that what is owed at the end counts only those that were not.
        // The snapshot file keeps the state before this look.
        RecordActedOn(state, acted.done, acted.movedAway);
        return RescanResult::Cancelled;
    }

    // Own arrivals are recorded by this look; those gone are forgotten.
    std::map<std::string, platform::FileId> ownArrivals;
    ownArrivals.swap(state.ownArrivals);
    ScheduleRecheck(state);
    Record(ctx, gathered, plan, acted, ownArrivals);
    if (acted.any) AbsorbChangesMeanwhile(ctx, gathered, acted);
    SaveChanges(ctx);
    state.notified.Listed(ctx.namesSource);
    return RescanResult::Completed;
}

void FoldJournal(RescanContext& ctx) {
    const WatchState& state = ctx.state;
    if (state.fileCurrent && state.unwritten.empty() && state.journalBytes > 0)
        WriteStateSnapshot(ctx);
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
        for (const std::string& name : movedAway) {
            DropRecord(state, store::SnapshotKey(name));
            state.outside.erase(name);
        }
        SaveChanges(ctx);
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
    const RescanPlan plan = PlanRescan(state.list, found, ctx.entry);
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
