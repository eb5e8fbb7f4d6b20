#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/services.h"
#include "engine/watch_state.h"
#include "store/data_folder.h"

namespace tavren::engine {

// What every entry still owes, by the entry's folder, file mode and
// pattern, and its copy on disk (the data folder's pending file), so that
// a stop, an exit or a crash loses no file that arrived while watching was
// on. Each entry's page has one keeper: the state that claimed it last. A
// worker of an earlier start that records after a newer one claimed the
// page is not heard, so a page never goes back in time.
//
// Thread-safe: workers record, the owner's thread claims and flushes.
class PendingBook {
public:
    PendingBook(store::DataFolder data, MessageSink& messages)
        : data_(std::move(data)), messages_(messages) {}

    // Reads the pending file; what the book held before is replaced.
    void Load();

    // What is recorded for `key`, and `keeper` becomes its keeper. The
    // files to act on are handed over: the keeper records them again if it
    // stops before it has acted on them.
    OwedWork Claim(const WatchKey& key, const void* keeper);

    // The files of `key` waiting for their move changed: written at once,
    // since after a crash nothing else remembers that they were acted on.
    void RecordMoves(const WatchKey& key, const void* keeper, std::vector<OwedFile> moves);

    // What `key` owes as its watching stops; written at once with `write`,
    // else at the next Flush().
    void RecordStop(const WatchKey& key, const void* keeper, OwedWork owed, bool write);

    // Writes what changed since the last write.
    void Flush();

private:
    struct Page {
        WatchKey key;
        const void* keeper = nullptr;
        OwedWork owed;
    };
    Page& PageOf(const WatchKey& key);  // with the lock held
    void WriteLocked();

    const store::DataFolder data_;
    MessageSink& messages_;
    std::mutex mutex_;
    std::vector<Page> pages_;
    bool dirty_ = false;
    std::string reportedError_;
};

}  // namespace tavren::engine
