#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "store/snapshot.h"
#include "store/status.h"

namespace tavren::store {

// The journal of a snapshot file: the changes recorded since the snapshot
// was written, so that a look that changed a few files appends a few
// records instead of rewriting the whole snapshot. The snapshot file keeps
// its format; a reader that knows no journal reads an older state.
//
// Its first 144 bytes name the snapshot it belongs to (magic text, version,
// the snapshot's size, a 64-bit hash of its bytes, and its file identity
// and last write, which spare an append the hash). Then batches, one an append: change
// records (SnapshotRecord with the kind in `reserved`: 1 set, 2 removed),
// closed by a commit record (kind 3) that counts them and holds a hash of
// their bytes. Only committed batches count, so an append cut short
// anywhere reads back as the state before it.

// "<slot>.jnl" beside "<slot>.dir".
std::filesystem::path JournalFileOf(const std::filesystem::path& snapshotFile);

// A journal larger than this is taken as damaged, as a snapshot of more
// than kSnapshotMaxRecords records is; an append that would pass it fails.
inline constexpr std::uint64_t kJournalMaxBytes = (kSnapshotMaxRecords + 1) * kSnapshotRecordSize;

// One change of a snapshot: a record set (added or replaced, as
// SnapshotList::Upsert) or removed (SnapshotList::Remove: only
// `item.name`, the stored name, counts).
struct SnapshotChange {
    bool removed = false;
    SnapshotItem item;
};

// Appends `changes` to the journal of `snapshotFile` as one batch, in one
// write, flushed to disk; `journalBytes` (when given) gets the journal's
// size after it. A journal that is missing or belongs to another snapshot
// is first replaced by an empty one for this snapshot; one that an append
// cut short is first cut back to its committed batches. A missing snapshot
// file fails: there is nothing to add to.
Status AppendSnapshotJournal(const std::filesystem::path& snapshotFile,
                             std::span<const SnapshotChange> changes,
                             std::uint64_t* journalBytes = nullptr);

// The size of the journal of `snapshotFile`; 0 when there is none.
std::uint64_t JournalBytes(const std::filesystem::path& snapshotFile);

// For snapshot.cpp: replaces the journal with an empty one for the
// snapshot whose bytes `snapshotBytes` were just written.
Status StartSnapshotJournal(const std::filesystem::path& snapshotFile,
                            std::string_view snapshotBytes);

// For snapshot.cpp: applies to `list`, read from `snapshotBytes`, the
// committed changes of the journal when it belongs to that snapshot. Ok
// also when there is none or it is another snapshot's; Unreadable or
// Damaged (too large) when the list must not be used.
SnapshotRead ApplySnapshotJournal(const std::filesystem::path& snapshotFile,
                                  std::string_view snapshotBytes, SnapshotList& list);

}  // namespace tavren::store
