#include "engine/pending_book.h"

#include <algorithm>

#include "store/session_file.h"

namespace tavren::engine {

void PendingBook::Load() {
    std::lock_guard lock(mutex_);
    pages_.clear();
    store::Status unread;
    for (store::PendingRecord& r : store::ReadPending(data_, &unread)) {
        Page& page = PageOf({std::move(r.folder), r.fileMode, std::move(r.pattern)});
        OwedFile file{std::move(r.name), {r.volume, r.index}};
        auto& files = r.kind == store::PendingRecord::Kind::Move ? page.owed.move : page.owed.act;
        if (std::find(files.begin(), files.end(), file) == files.end())
            files.push_back(std::move(file));
    }
    // A file that cannot be read is replaced by what this run knows at its
    // first write: were it read by a later start, the work it names that
    // this run has done meanwhile (after a crash, from the snapshot) would
    // be done twice.
    dirty_ = !unread.ok();
    if (!unread) messages_.ReportProblem(unread.message());
}

PendingBook::Page& PendingBook::PageOf(const WatchKey& key) {
    const auto it =
        std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.key == key; });
    if (it != pages_.end()) return *it;
    return pages_.emplace_back(Page{key, nullptr, {}});
}

OwedWork PendingBook::Claim(const WatchKey& key, const void* keeper) {
    std::lock_guard lock(mutex_);
    Page& page = PageOf(key);
    page.keeper = keeper;
    OwedWork owed = page.owed;
    if (!page.owed.act.empty()) {
        page.owed.act.clear();
        dirty_ = true;
    }
    return owed;
}

void PendingBook::RecordMoves(const WatchKey& key, const void* keeper,
                              std::vector<OwedFile> moves) {
    std::lock_guard lock(mutex_);
    Page& page = PageOf(key);
    if (page.keeper != keeper || page.owed.move == moves) return;
    page.owed.move = std::move(moves);
    dirty_ = true;
    WriteLocked();
}

void PendingBook::RecordStop(const WatchKey& key, const void* keeper, OwedWork owed, bool write) {
    std::lock_guard lock(mutex_);
    Page& page = PageOf(key);
    if (page.keeper != keeper || page.owed == owed) return;
    page.owed = std::move(owed);
    dirty_ = true;
    if (write) WriteLocked();
}

void PendingBook::Flush() {
    std::lock_guard lock(mutex_);
    if (dirty_) WriteLocked();
}

void PendingBook::WriteLocked() {
    std::vector<store::PendingRecord> records;
    for (const Page& page : pages_) {
        auto add = [&](const std::vector<OwedFile>& files, store::PendingRecord::Kind kind) {
            for (const OwedFile& f : files) {
                records.push_back({page.key.folder, page.key.fileMode, page.key.pattern, kind,
                                   f.name, f.id.volume, f.id.index});
            }
        };
        add(page.owed.act, store::PendingRecord::Kind::Act);
        add(page.owed.move, store::PendingRecord::Kind::Move);
    }
    const store::Status status = store::WritePending(data_, records);
    dirty_ = !status.ok();
    if (status.ok()) {
        reportedError_.clear();
    } else if (status.message() != reportedError_) {
        reportedError_ = status.message();
        messages_.ReportProblem(status.message());
    }
}

}  // namespace tavren::engine
