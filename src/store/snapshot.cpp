#include "store/snapshot.h"

#include <cstring>

#include "platform/path_text.h"
#include "platform/wildcard.h"
#include "store/cp932.h"
#include "store/message_language.h"
#include "store/snapshot_journal.h"

namespace tavren::store {
namespace {

void PutU32(char (&field)[4], std::uint32_t v) {
    for (int i = 0; i < 4; ++i) field[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t GetU32(const char (&field)[4]) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{static_cast<unsigned char>(field[i])} << (8 * i);
    return v;
}

// FNV-1a with a 128-bit state: no dependencies, and wide enough that two
// different names in one folder never meet in practice.
std::string Hash128Hex(std::string_view bytes) {
    __extension__ using u128 = unsigned __int128;
    const u128 prime = (u128{1} << 88) + 0x13B;
    u128 h = (u128{0x6c62272e07bb0142ULL} << 64) | 0x62b821756295c58dULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= prime;
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex(32, '0');
    for (int i = 31; i >= 0; --i) {
        hex[static_cast<std::size_t>(i)] = digits[static_cast<unsigned>(h & 0xF)];
        h >>= 4;
    }
    return hex;
}

// What a look-up compares of a stored name: for a key its hash, from the
// '/' on, otherwise the whole name.
std::string_view LookupPart(std::string_view storedName) {
    const std::size_t slash = storedName.find('/');
    return slash == std::string_view::npos ? storedName : storedName.substr(slash);
}

bool IsPlausibleDate(std::int32_t date) {
    const std::int32_t year = date / 10000, month = date / 100 % 100, day = date % 100;
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool IsPlausibleTime(std::int32_t time) {
    const std::int32_t hour = time / 10000, minute = time / 100 % 100, second = time % 100;
    return time >= 0 && hour <= 23 && minute <= 59 && second <= 60;  // 60: a leap second
}

constexpr std::string_view kCp932Ellipsis = "\x81\x63";  // "…"

}  // namespace

std::string SnapshotKey(std::string_view fileName) {
    auto cp932 = ToCp932(fileName);
    if (cp932 && cp932->size() <= kSnapshotNameMaxBytes) return std::move(*cp932);
    std::string key = cp932 ? std::move(*cp932) : ToCp932Lossy(fileName);
    constexpr std::size_t room = kSnapshotNameMaxBytes - 33;  // '/' and 32 hex digits
    if (key.size() > room) {
        key.resize(Cp932FitLength(key, room - kCp932Ellipsis.size()));
        key += kCp932Ellipsis;
    }
    key += '/';
    key += Hash128Hex(fileName);
    return key;
}

std::string DisplayNameOfKey(std::string_view storedName) {
    const std::size_t slash = storedName.find('/');
    if (slash == std::string_view::npos) return FromCp932(storedName);
    if (slash == 0) return "…";  // a key of a version that kept nothing readable
    return FromCp932(storedName.substr(0, slash));
}

SnapshotItem DescribeFile(const platform::DirEntry& entry, platform::Clock& clock) {
    platform::LocalTime t = clock.ToLocal(entry.mtimeSeconds);
    // A time past the years a record can hold (possible on some Linux file
    // systems) is recorded at the nearer end, so that it reads back as a
    // date and the file is not taken for new on every look.
    if (t.year < 1) t = {1, 1, 1, 0, 0, 0};
    if (t.year > 9999) t = {9999, 12, 31, 23, 59, 59};
    SnapshotItem item;
    item.size = static_cast<std::uint32_t>(entry.size);  // low 32 bits, as stored
    item.date = t.year * 10000 + t.month * 100 + t.day;
    item.time = t.hour * 10000 + t.minute * 100 + t.second;
    item.name = SnapshotKey(entry.name);
    return item;
}

bool IsTargetFile(const WatchEntry& entry, const platform::DirEntry& listed) {
    if (listed.isDirectory) return false;
    return !entry.usesPattern() || platform::MatchPatternList(entry.pattern, listed.name);
}

std::error_code ListTargetFiles(const WatchEntry& entry, platform::FolderReader& folders,
                                platform::Clock& clock, std::vector<FoundFile>& out) {
    out.clear();
    std::vector<platform::DirEntry> listed;
    const std::error_code ec = folders.List(platform::PathFromUtf8(entry.folder), listed);
    out.reserve(listed.size());
    for (platform::DirEntry& e : listed) {
        if (IsTargetFile(entry, e)) out.push_back(FoundOf(std::move(e), clock));
    }
    return ec;
}

FoundFile FoundOf(platform::DirEntry entry, platform::Clock& clock) {
    SnapshotItem item = DescribeFile(entry, clock);
    return {std::move(entry.name), std::move(item), entry.id, entry.size,
            entry.mtimeNs(),       entry.ctimeNs};
}

SnapshotNode& SnapshotList::Append(SnapshotItem item) {
    SnapshotNode& node = nodes_.emplace_back();
    node.index = static_cast<std::int32_t>(nodes_.size() - 1);
    node.item = std::move(item);
    byName_.try_emplace(LookupPart(node.item.name), &node);  // keeps the first of equal names
    return node;
}

SnapshotNode& SnapshotList::Upsert(SnapshotItem item) {
    SnapshotNode* node = Find(item.name);
    if (!node) return Append(std::move(item));
    // The map's key views the stored name: re-key it with the new string.
    byName_.erase(LookupPart(node->item.name));
    node->item = std::move(item);
    node->id = {};
    node->mtimeNs = node->ctimeNs = 0;
    byName_.emplace(LookupPart(node->item.name), node);
    return *node;
}

bool SnapshotList::Remove(std::string_view name) {
    SnapshotNode* node = Find(name);
    if (!node) return false;
    byName_.erase(LookupPart(node->item.name));
    SnapshotNode& last = nodes_.back();
    if (node != &last) {
        const auto at = byName_.find(LookupPart(last.item.name));
        const bool keyed = at != byName_.end() && at->second == &last;
        if (keyed) byName_.erase(at);
        const std::int32_t index = node->index;
        *node = std::move(last);
        node->index = index;
        if (keyed) byName_.emplace(LookupPart(node->item.name), node);
    }
    nodes_.pop_back();
    return true;
}

SnapshotNode* SnapshotList::Find(std::string_view name) {
    const auto it = byName_.find(LookupPart(name));
    return it == byName_.end() ? nullptr : it->second;
}

void EncodeSnapshotRecord(const SnapshotItem& item, std::uint32_t kind, char* out) {
    SnapshotRecord r;
    std::memset(&r, 0, sizeof r);
    PutU32(r.size, item.size);
    PutU32(r.date, static_cast<std::uint32_t>(item.date));
    PutU32(r.time, static_cast<std::uint32_t>(item.time));
    PutU32(r.reserved, kind);
    StoreField(r.name, sizeof r.name, item.name);
    std::memcpy(out, &r, sizeof r);
}

SnapshotItem DecodeSnapshotRecord(const char* in, std::uint32_t* kind) {
    SnapshotRecord r;
    std::memcpy(&r, in, sizeof r);
    SnapshotItem item;
    item.size = GetU32(r.size);
    item.date = static_cast<std::int32_t>(GetU32(r.date));
    item.time = static_cast<std::int32_t>(GetU32(r.time));
    item.name.assign(FieldText(r.name, sizeof r.name));
    if (kind) *kind = GetU32(r.reserved);
    return item;
}

bool IsPlausibleItem(const SnapshotItem& item) {
    return !item.name.empty() && IsPlausibleDate(item.date) && IsPlausibleTime(item.time);
}

std::string EncodeSnapshot(std::span<const SnapshotItem> items) {
    std::string bytes(items.size() * kSnapshotRecordSize, '\0');
    char* p = bytes.data();
    for (const SnapshotItem& item : items) {
        EncodeSnapshotRecord(item, 0, p);
        p += kSnapshotRecordSize;
    }
    return bytes;
}

SnapshotList DecodeSnapshot(std::string_view bytes) {
    SnapshotList list;
    const std::size_t count = bytes.size() / kSnapshotRecordSize;
    list.Reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        SnapshotItem item = DecodeSnapshotRecord(bytes.data() + i * kSnapshotRecordSize);
        // Records that no writer makes are dropped; of equal names only the
        // first counts, as a look-up finds it.
        if (!IsPlausibleItem(item) || list.Find(item.name) != nullptr) continue;
        list.Append(std::move(item));
    }
    return list;
}

SnapshotList ReadSnapshotFile(const std::filesystem::path& file, SnapshotRead* result) {
    SnapshotRead ignored;
    SnapshotRead& how = result ? *result : ignored;
    // One byte past the largest snapshot is enough to tell a file too large,
    // without reading any more of it.
    constexpr std::size_t maxBytes = kSnapshotMaxRecords * kSnapshotRecordSize;
    // A file too large is refused by its size, without reading it.
    if (platform::DirEntry described;
        !platform::StatFile(file, described) && described.size > maxBytes) {
        how = SnapshotRead::Damaged;
        return {};
    }
    std::string bytes;
    if (platform::ReadFileOrRetry(file, bytes, maxBytes + 1)) {
        how = SnapshotRead::Unreadable;
        return {};
    }
    if (bytes.size() > maxBytes) {
        how = SnapshotRead::Damaged;
        return {};
    }
    SnapshotList list = DecodeSnapshot(bytes);
    how = ApplySnapshotJournal(file, bytes, list);
    if (how == SnapshotRead::Ok || how == SnapshotRead::JournalDamaged) return list;
    return {};
}

Status WriteSnapshotFile(const std::filesystem::path& file, std::span<const SnapshotItem> items) {
    const std::string bytes = EncodeSnapshot(items);
    if (auto ec = platform::WriteFileAtomically(file, bytes)) {
        return Status::Error(Say("スナップショット ", "cannot save the snapshot ") +
                             platform::PathToUtf8(file) + Say(" を保存できません: ", ": ") +
                             ec.message());
    }
    // Until the journal is replaced it names the old snapshot, so a crash
    // in between reads back the new snapshot alone.
    return StartSnapshotJournal(file, bytes);
}

Status FoldSnapshotJournal(const std::filesystem::path& file) {
    if (JournalBytes(file) <= kSnapshotRecordSize) return {};  // none, or its header alone
    SnapshotRead read = SnapshotRead::Ok;
    const SnapshotList list = ReadSnapshotFile(file, &read);
    if (read != SnapshotRead::Ok) return {};
    std::vector<SnapshotItem> items;
    items.reserve(list.size());
    for (const SnapshotNode& node : list) items.push_back(node.item);
    return WriteSnapshotFile(file, items);
}

SnapshotList ReadSnapshot(const DataFolder& data, int slot, SnapshotRead* result) {
    return ReadSnapshotFile(data.snapshotFile(slot), result);
}

Status WriteSnapshot(const DataFolder& data, int slot, const WatchEntry& entry) {
    std::vector<FoundFile> files;
    // An unlistable folder is recorded as empty.
    ListTargetFiles(entry, platform::SystemFolderReader(), *platform::MakeSystemClock(), files);
    std::vector<SnapshotItem> items;
    items.reserve(files.size());
    for (FoundFile& f : files) items.push_back(std::move(f.item));
    return WriteSnapshotFile(data.snapshotFile(slot), items);
}

}  // namespace tavren::store
