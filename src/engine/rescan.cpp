#include "engine/rescan.h"

#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/actions.h"
#include "platform/clock.h"
#include "platform/path_text.h"
#include "platform/wake_event.h"
#include "store/cp932.h"
#include "store/snapshot.h"

namespace tavren::engine {
namespace {

bool RunsProgram(const store::WatchEntry& entry) {
    return entry.openFile == 0 && !entry.program.empty();
}

void WriteItems(RescanContext& ctx, std::vector<store::SnapshotItem>& items) {
    ctx.guardSnapshotWrite(
        [&] { store::WriteSnapshotFile(ctx.data.snapshotFile(ctx.slot), items); });
}

}  // namespace

RescanPlan PlanRescan(store::SnapshotList& list, const std::vector<store::FoundFile>& found,
                      const store::WatchEntry& entry) {
    RescanPlan plan;
    plan.unchanged = list.size() == found.size();
    for (std::size_t i = 0; i < found.size(); ++i) {
        const store::FoundFile& file = found[i];
        store::SnapshotNode* node = list.Find(file.item.name);
        if (node) {
            node->seen = 1;
            if (node->item.SameState(file.item)) {
                // Same records, but also in the same order, or the file differs.
                plan.unchanged = plan.unchanged && node->index == static_cast<std::int32_t>(i);
                continue;
            }
        }
        plan.unchanged = false;
        plan.targets.push_back(&file);
    }
    if (entry.timing == 1 && found.size() < list.size()) {
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
            return {std::string(kFileDeleted), 2};
        return {path + std::string(kDeletedSuffix), 2};
    }
    return {RunsProgram(entry) ? entry.program : path, entry.messageMode};
}

RescanResult RescanEntry(RescanContext& ctx, bool debounce) {
    const store::WatchEntry& entry = ctx.entry;

    // Debounce in unsigned 32-bit seconds: a clock that went backwards
    // gives a huge difference and so a rescan.
    const auto now = static_cast<std::uint32_t>(ctx.services.clock.NowSeconds());
    const std::uint32_t previous = ctx.lastEventTime.exchange(now);
    if (debounce && now - previous < 3) return RescanResult::Debounced;

    store::SnapshotList list = store::ReadSnapshot(ctx.data, ctx.slot);
    std::vector<store::FoundFile> found;
    store::ListTargetFiles(entry, found);
    const RescanPlan plan = PlanRescan(list, found, entry);

    Actions actions(entry, ctx.services, ctx.cancel);
    bool acted = false;
    for (const store::FoundFile* file : plan.targets) {
        if (ctx.cancel.IsSet()) return RescanResult::Cancelled;
        // Only the first file of a rescan is announced.
        if (file == plan.targets.front())
            actions.NotifyUser(ChangeNoticeText(entry, file->fileName));
        if (entry.openFile != 0) {
            actions.OpenTargetFile(file->fileName);
        } else if (!entry.program.empty()) {
            actions.LaunchProgram();
        }
        actions.PostProcessFile(file->fileName);
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

    // Ending in the middle: the next start takes a fresh snapshot anyway.
    if (ctx.cancel.IsSet()) return RescanResult::Cancelled;

    std::vector<store::SnapshotItem> items;
    if (!acted) {
        // Nothing ran that could have touched the folder: the listing is
        // the new snapshot, and an unchanged one need not be written again.
        if (plan.unchanged) return RescanResult::Completed;
        items.reserve(found.size());
        for (store::FoundFile& f : found) items.push_back(std::move(f.item));
        WriteItems(ctx, items);
        return RescanResult::Completed;
    }

    // The actions may have moved files away or changed them: list again,
    // but keep only the files the first listing met.
    std::unordered_set<std::string> met;
    met.reserve(found.size());
    for (const store::FoundFile& f : found) met.insert(f.fileName);
    std::vector<store::FoundFile> after;
    store::ListTargetFiles(entry, after);
    items.reserve(after.size());
    for (store::FoundFile& f : after) {
        if (met.contains(f.fileName)) items.push_back(std::move(f.item));
    }
    WriteItems(ctx, items);
    return RescanResult::Completed;
}

}  // namespace tavren::engine
