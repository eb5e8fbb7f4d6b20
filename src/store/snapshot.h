#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/fs.h"
#include "store/data_folder.h"
#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::store {

// One 144-byte record of a snapshot file, byte for byte, little-endian.
struct SnapshotRecord {
    char size[4];      // low 32 bits of the file size
    char date[4];      // last write, local time: year*10000 + month*100 + day
    char time[4];      // last write, local time: hour*10000 + minute*100 + second
    char reserved[4];  // written as zero
    char name[128];    // bare file name, CP932, NUL-terminated
};
inline constexpr std::size_t kSnapshotRecordSize = 144;
inline constexpr std::size_t kSnapshotNameMaxBytes = 127;
// A snapshot file with more records than this is taken as damaged, and
// read no further, so that a huge file cannot exhaust memory.
inline constexpr std::size_t kSnapshotMaxRecords = 1'000'000;
static_assert(sizeof(SnapshotRecord) == kSnapshotRecordSize);
static_assert(offsetof(SnapshotRecord, reserved) == 12);
static_assert(offsetof(SnapshotRecord, name) == 16);

// What a snapshot knows of one file. `name` is the name as stored: the CP932
// bytes of the file name, or, for a name that has no CP932 form or is
// longer than 127 bytes, a key made from the whole name (see SnapshotKey).
struct SnapshotItem {
    std::uint32_t size = 0;
    std::int32_t date = 0;
    std::int32_t time = 0;
    std::string name;

    bool SameState(const SnapshotItem& other) const {
        return size == other.size && date == other.date && time == other.time;
    }
};

// The stored name of a file called `fileName` (bytes as the file system
// gives them). A name with a CP932 form of at most 127 bytes is stored as
// that form. Any other name gets a key: a readable part, then a '/', which
// no real file name can contain, then a 128-bit hash of the whole name.
// The readable part is the name in CP932 with '?' for each character that
// has none, cut on a character to 94 bytes with "…" marking the cut. So no
// file is left out of a snapshot, no two files share a record unless their
// hashes collide, and a notice can still name the file.
std::string SnapshotKey(std::string_view fileName);

// A stored name as text for the user: the file name, or for a key, its
// readable part. Keys of earlier versions may have none; they show "…".
std::string DisplayNameOfKey(std::string_view storedName);

// A file found in a watched folder: its real name, for acting on it, and
// how a snapshot records it.
struct FoundFile {
    std::string fileName;
    SnapshotItem item;
    platform::FileId id = {};  // unknown where the system does not tell
    std::uint64_t size = 0;    // whole, where `item` keeps the low 32 bits
    std::int64_t mtimeNs = 0;  // last write, nanoseconds since the epoch
    std::int64_t ctimeNs = 0;  // last change of data or attributes; 0 unknown
};

// Describes a listed file as a snapshot records it, with the date and time
// in `clock`'s local time.
SnapshotItem DescribeFile(const platform::DirEntry& entry, platform::Clock& clock);

// A listed file as a look meets it, described with `clock`'s local time.
FoundFile FoundOf(platform::DirEntry entry, platform::Clock& clock);

// True when a listed entry is a target file of `entry`: not a folder and,
// when the entry uses its pattern, matching it.
bool IsTargetFile(const WatchEntry& entry, const platform::DirEntry& listed);

// The target files of an entry's folder as `folders` lists it, in listing
// order, described with `clock`'s local time. A folder that cannot be
// listed gives no files and the error.
std::error_code ListTargetFiles(const WatchEntry& entry, platform::FolderReader& folders,
                                platform::Clock& clock, std::vector<FoundFile>& out);

struct SnapshotNode {
    std::int32_t index = 0;  // position of the record in the list
    std::int16_t seen = 0;   // set by a rescan that finds the file again
    SnapshotItem item;
    // What a look knew of the file beyond its record, which keeps whole
    // seconds and the low 32 bits of the size: a rewrite within the same
    // second to the same size still shows in these. Zero where unknown (a
    // record read back from a file).
    platform::FileId id;
    std::int64_t mtimeNs = 0;  // last write
    std::int64_t ctimeNs = 0;  // last change of data or attributes
};

// A snapshot in memory, in file order, with a hashed look-up by name.
class SnapshotList {
public:
    SnapshotList() = default;
    SnapshotList(SnapshotList&&) = default;
    SnapshotList& operator=(SnapshotList&&) = default;
    SnapshotList(const SnapshotList&) = delete;
    SnapshotList& operator=(const SnapshotList&) = delete;

    SnapshotNode& Append(SnapshotItem item);
    // The record of `item`'s stored name replaced where it is (what was
    // known of its file forgotten), or appended when there is none.
    SnapshotNode& Upsert(SnapshotItem item);
    // Removes the record Find(name) gives; the last record takes its place,
    // so a removal costs the same whatever the list's size. False when
    // there is none.
    bool Remove(std::string_view name);
    // Room for `count` names, so filling a large list never rehashes.
    void Reserve(std::size_t count) { byName_.reserve(count); }

    // The first record whose stored name equals `name` byte for byte, or
    // for a key, the first whose hash (the part from the '/' on) does: the
    // readable part of a key has changed between versions, the hash has
    // not, so a file recorded by an earlier version is found again.
    SnapshotNode* Find(std::string_view name);

    std::size_t size() const { return nodes_.size(); }
    bool empty() const { return nodes_.empty(); }
    auto begin() { return nodes_.begin(); }
    auto end() { return nodes_.end(); }
    auto begin() const { return nodes_.begin(); }
    auto end() const { return nodes_.end(); }
    const SnapshotNode& operator[](std::size_t i) const { return nodes_[i]; }
    SnapshotNode& operator[](std::size_t i) { return nodes_[i]; }

private:
    std::deque<SnapshotNode> nodes_;  // a deque never moves its elements
    std::unordered_map<std::string_view, SnapshotNode*> byName_;
};

// Encodes and decodes snapshot file contents. Decoding ignores a partial
// last record and drops records that no writer makes: an empty name, a
// date or time that is no calendar date (YYYYMMDD, years 1 to 9999) or
// time of day (HHMMSS), and a later record of a name already read.
std::string EncodeSnapshot(std::span<const SnapshotItem> items);
SnapshotList DecodeSnapshot(std::string_view bytes);

// One record, as the snapshot and its journal store it: `kind` goes into
// the reserved field (0 in a snapshot file). `out` and `in` hold
// kSnapshotRecordSize bytes.
void EncodeSnapshotRecord(const SnapshotItem& item, std::uint32_t kind, char* out);
SnapshotItem DecodeSnapshotRecord(const char* in, std::uint32_t* kind = nullptr);
// False for a record that no writer makes (see DecodeSnapshot).
bool IsPlausibleItem(const SnapshotItem& item);

// How reading a snapshot file went.
enum class SnapshotRead {
    Ok,
    Unreadable,  // missing, not a file, or a read error
    Damaged,     // more than kSnapshotMaxRecords records (in either file): refused
    // The snapshot was read and its journal up to a record that no writer
    // makes: the list holds the changes before it. An append would go
    // after the damage, unread: write the snapshot anew first.
    JournalDamaged,
};

// Reads a snapshot file and applies the changes of its journal (see
// snapshot_journal.h). One that cannot be read, or is too large to be a
// snapshot, gives an empty list, and `result` (when given) tells which.
SnapshotList ReadSnapshotFile(const std::filesystem::path& file, SnapshotRead* result = nullptr);

// Replaces a snapshot file atomically, then its journal with an empty one
// that names the new snapshot. On failure (the message names the file) the
// old snapshot may stay or not; either way the two read back as a state
// that was written, and the caller is to write the snapshot again.
Status WriteSnapshotFile(const std::filesystem::path& file, std::span<const SnapshotItem> items);

// Folds the journal of a snapshot file into it, when it holds changes:
// afterwards the snapshot file alone holds the state. A pair that does not
// read back whole is left as it is, for a start to deal with.
Status FoldSnapshotJournal(const std::filesystem::path& file);

// The snapshot of slot n.
SnapshotList ReadSnapshot(const DataFolder& data, int slot, SnapshotRead* result = nullptr);

// Lists the target files of `entry` on the disk, in the system's local
// time, and stores them as the snapshot of slot n. A folder that cannot be
// listed gives an empty snapshot.
Status WriteSnapshot(const DataFolder& data, int slot, const WatchEntry& entry);

}  // namespace tavren::store
