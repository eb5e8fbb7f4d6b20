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

platform::FileId IdAt(std::span<const platform::FileId> ids, std::int32_t index) {
    const auto i = static_cast<std::size_t>(index);
    return i < ids.size() ? ids[i] : platform::FileId{};
}

}  // namespace

RescanPlan PlanRescan(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                      const store::WatchEntry& entry, std::span<const platform::FileId> listIds) {
    RescanPlan plan;
    plan.unchanged = list.size() == found.size();
    for (std::size_t i = 0; i < found.size(); ++i) {
        const store::FoundFile& file = found[i];
        store::SnapshotNode* node = list.Find(file.item.name);
        if (node) {
            node->seen = 1;
            if (MaybeSameFile(IdAt(listIds, node->index), file.id) &&
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
        std::errc::not_connected,   std::errc::host_unreachable,
        std::errc::network_unreachable, std::errc::network_down,
        std::errc::no_such_device,  std::errc::no_such_device_or_address,
        std::errc::timed_out,       std::errc::io_error,
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
                 std::vector<platform::FileId> ids) {
    store::SnapshotList list;
    list.Reserve(items.size());
    for (store::SnapshotItem& item : items) list.Append(std::move(item));
    state.list = std::move(list);
    state.ids = std::move(ids);
}

void KeepListingAsSnapshot(WatchState& state, std::vector<store::FoundFile>& listing) {
    std::vector<store::SnapshotItem> items;
    std::vector<platform::FileId> ids;
    items.reserve(listing.size());
    ids.reserve(listing.size());
    for (store::FoundFile& f : listing) {
        items.push_back(std::move(f.item));
        ids.push_back(f.id);
    }
    SetSnapshot(state, std::move(items), std::move(ids));
    state.haveBaseline = true;
}

// Retries of what failed (a listing, a move of a file in use): soon at
// first, then less and less often; 1 s doubling to 32 s.
std::chrono::milliseconds Backoff(int failures) {
    return std::chrono::milliseconds(1000) * (1 << std::clamp(failures - 1, 0, 5));
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

// Records a move's result: names the move put into the watched folder are
// the engine's own, a refused move is tried again later.
void AfterMove(RescanContext& ctx, const store::FoundFile& file, platform::FileId id,
               const Actions::MoveOutcome& outcome, std::set<std::string>& movedAway) {
    WatchState& state = ctx.state;
    switch (outcome.kind) {
        case Actions::MoveOutcome::Moved: {
            movedAway.insert(file.fileName);
            // The folder's identity is known from the look that acted.
            const platform::FileId here = state.folderId;
            if (here.known() &&
                ctx.services.folders.Identity(outcome.destination.parent_path()) == here) {
                state.ownArrivals[platform::PathToUtf8(outcome.destination.filename())] = id;
            }
            break;
        }
        case Actions::MoveOutcome::Busy:
            state.pendingMoves.push_back({file.fileName, id, 1, Clock::now() + Backoff(1)});
            break;
        case Actions::MoveOutcome::NotMoved:
        case Actions::MoveOutcome::Failed:
            break;
    }
}

bool IsOwnArrival(const std::map<std::string, platform::FileId>& ownArrivals,
                  const std::string& name, platform::FileId id) {
    const auto it = ownArrivals.find(name);
    return it != ownArrivals.end() && MaybeSameFile(it->second, id);
}

}  // namespace

RescanResult TakeBaseline(RescanContext& ctx) {
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
    if (trigger == Trigger::Rearmed && state.folderId != here.id) {
        // Another folder, or the same one remounted: what tells its files
        // apart may have changed, so names, sizes and times decide.
        state.ids.assign(state.list.size(), platform::FileId{});
    }
    state.folderId = here.id;
    if (!state.haveBaseline) {
        KeepListingAsSnapshot(state, found);
        WriteStateSnapshot(ctx);
        return RescanResult::Completed;
    }

    for (store::SnapshotNode& node : state.list) node.seen = 0;
    RescanPlan plan = PlanRescan(state.list, found, entry, state.ids);
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
    std::vector<const store::FoundFile*> ready;
    std::map<std::string, WaitingFile> waiting;
    const std::int64_t wallNow = WallNowNs();
    const auto steadyNow = Clock::now();
    for (const store::FoundFile* file : plan.targets) {
        if (IsOwnArrival(state.ownArrivals, file->fileName, file->id)) continue;
        const Observation seen{file->id, file->size, file->mtimeNs};
        const auto previous = state.waiting.find(file->fileName);
        WaitingFile record;
        const Readiness readiness =
            JudgeReadiness(ProbeWriters(ctx, InFolder(entry, file->fileName)), seen,
                           previous == state.waiting.end() ? nullptr : &previous->second, wallNow,
                           steadyNow, record);
        if (readiness == Readiness::Wait) {
            // A file that starts waiting is checked again soon.
            if (previous == state.waiting.end()) state.waitingBackoff = kFirstWaitingRecheck;
            waiting.emplace(file->fileName, record);
        } else {
            ready.push_back(file);
        }
    }
    state.waiting = std::move(waiting);

    Actions actions(entry, ctx.services, ctx.cancel);
    bool acted = false;
    std::set<std::string> movedAway;
    for (const store::FoundFile* file : ready) {
        if (ctx.cancel.IsSet()) return RescanResult::Cancelled;
        // Only the first file of a look is announced.
        if (file == ready.front()) actions.NotifyUser(ChangeNoticeText(entry, file->fileName));
        if (entry.openFile != 0) {
            actions.OpenTargetFile(file->fileName);
        } else if (!entry.program.empty()) {
            actions.LaunchProgram();
        }
        AfterMove(ctx, *file, file->id, actions.PostProcessFile(file->fileName), movedAway);
        acted = true;
    }
    for (const store::SnapshotNode* node : plan.deleted) {
        if (ctx.cancel.IsSet()) return RescanResult::Cancelled;
        // Announced once, but the program runs for every file gone.
        if (node == plan.deleted.front()) {
            const Notice notice = DeletionNotice(entry, node->item.name);
            actions.NotifyUser(notice.text, notice.messageMode);
        }
        if (RunsProgram(entry)) {
            actions.LaunchProgram();
            acted = true;
        }
    }

    // Ending in the middle: what was done is kept in memory; the snapshot
    // file keeps the state before this look.
    if (ctx.cancel.IsSet()) return RescanResult::Cancelled;

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
    std::vector<platform::FileId> ids;
    items.reserve(after.size());
    ids.reserve(after.size());
    for (store::FoundFile& f : after) {
        if (state.waiting.contains(f.fileName)) {
            if (const store::SnapshotNode* old = state.list.Find(f.item.name)) {
                items.push_back(old->item);
                ids.push_back(IdAt(state.ids, old->index));
            }
            continue;
        }
        if (!IsOwnArrival(ownArrivals, f.fileName, f.id)) {
            if (movedAway.contains(f.fileName)) continue;  // another file took its name
            const auto m = met.find(f.fileName);
            if (m == met.end()) continue;  // arrived during the actions
            if (!MaybeSameFile(m->second, f.id)) continue;
        }
        items.push_back(std::move(f.item));
        ids.push_back(f.id);
    }
    SetSnapshot(state, std::move(items), std::move(ids));
    WriteStateSnapshot(ctx);
    return RescanResult::Completed;
}

bool CheckPending(RescanContext& ctx) {
    WatchState& state = ctx.state;
    std::lock_guard look(state.lookMutex);
    const auto now = Clock::now();
    bool lookNeeded = false;

    // Moves refused because the file was in use, tried again when due.
    Actions actions(ctx.entry, ctx.services, ctx.cancel);
    std::set<std::string> movedAway;
    for (auto it = state.pendingMoves.begin(); it != state.pendingMoves.end();) {
        if (it->due > now || ctx.cancel.IsSet()) {
            ++it;
            continue;
        }
        platform::DirEntry current;
        if (ctx.services.folders.Stat(InFolder(ctx.entry, it->name), current) ||
            !MaybeSameFile(it->id, current.id)) {
            it = state.pendingMoves.erase(it);  // gone or replaced: a look sees to it
            lookNeeded = true;
            continue;
        }
        const Actions::MoveOutcome outcome = actions.PostProcessFile(it->name);
        if (outcome.kind == Actions::MoveOutcome::Busy) {
            ++it->attempts;
            it->due = now + Backoff(it->attempts);
            ++it;
            continue;
        }
        if (outcome.kind == Actions::MoveOutcome::Moved) {
            store::FoundFile file{it->name, {}};
            AfterMove(ctx, file, it->id, outcome, movedAway);
        }
        it = state.pendingMoves.erase(it);
    }
    if (!movedAway.empty()) {
        // Moved away by us: out of the snapshot, so no deletion is reported.
        std::set<std::string> keys;
        for (const std::string& name : movedAway) keys.insert(store::SnapshotKey(name));
        std::vector<store::SnapshotItem> items;
        std::vector<platform::FileId> ids;
        for (const store::SnapshotNode& node : state.list) {
            if (keys.contains(node.item.name)) continue;
            items.push_back(node.item);
            ids.push_back(IdAt(state.ids, node.index));
        }
        SetSnapshot(state, std::move(items), std::move(ids));
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

}  // namespace tavren::engine
