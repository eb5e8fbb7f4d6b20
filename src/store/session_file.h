#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/data_folder.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::store {

// Which entry each snapshot file belongs to, kept in <root>/tavren3.session
// while watching runs. A clean end (stop, exit) removes it; finding it at
// start-up means the last run was killed or crashed, and each entry can go
// on from its snapshot instead of taking a fresh one, so files that arrived
// before and during the outage are still acted on.
struct SessionSlot {
    int slot = 0;
    std::string folder;
    std::int16_t fileMode = 0;
    std::string pattern;

    bool operator==(const SessionSlot&) const = default;
};

Status WriteSession(const DataFolder& data, const std::vector<SessionSlot>& slots);

// Nullopt when there is no session file (the last run ended cleanly); a
// damaged file gives the slots it could read, one that cannot be read none,
// and says why in `failure`.
std::optional<std::vector<SessionSlot>> ReadSession(const DataFolder& data,
                                                    Status* failure = nullptr);

void RemoveSession(const DataFolder& data);

// Work an entry still owes to files that arrived while it watched, kept in
// <root>/tavren3.pending across a stop, an exit or a crash: files not acted
// on yet, and files acted on whose move to the destination has not
// succeeded yet. Entries are known by folder, file mode and pattern, files
// by name and identity (device and inode), so that a file put in place of
// one of them while nobody watched is not taken for it.
struct PendingRecord {
    enum class Kind : char { Act = 'a', Move = 'm' };
    std::string folder;
    std::int16_t fileMode = 0;
    std::string pattern;
    Kind kind = Kind::Act;
    std::string name;  // the file's name as the file system gives it
    std::uint64_t volume = 0;
    std::uint64_t index = 0;

    bool operator==(const PendingRecord&) const = default;
};

// Replaces the pending file; an empty list removes it.
Status WritePending(const DataFolder& data, const std::vector<PendingRecord>& records);
// What the pending file holds; lines that cannot be read are skipped. A
// file that is there but cannot be read gives none, and says why in
// `failure`.
std::vector<PendingRecord> ReadPending(const DataFolder& data, Status* failure = nullptr);

}  // namespace tavren::store
