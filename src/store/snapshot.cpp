#include "store/snapshot.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/path_text.h"
#include "platform/wildcard.h"
#include "store/cp932.h"

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

}  // namespace

std::string SnapshotKey(std::string_view fileName) {
    auto cp932 = ToCp932(fileName);
    if (cp932 && cp932->size() <= kSnapshotNameMaxBytes) return std::move(*cp932);
    std::string key;
    if (cp932) key.assign(*cp932, 0, Cp932FitLength(*cp932, kSnapshotNameMaxBytes - 33));
    key += '/';
    key += Hash128Hex(fileName);
    return key;
}

std::string DisplayNameOfKey(std::string_view storedName) {
    const std::size_t slash = storedName.find('/');
    if (slash == std::string_view::npos) return FromCp932(storedName);
    return FromCp932(storedName.substr(0, slash)) + "…";
}

SnapshotItem DescribeFile(const platform::DirEntry& entry) {
    const platform::LocalTime t = platform::ToLocalTime(entry.mtimeSeconds);
    SnapshotItem item;
    item.size = static_cast<std::uint32_t>(entry.size);  // low 32 bits, as stored
    item.date = t.year * 10000 + t.month * 100 + t.day;
    item.time = t.hour * 10000 + t.minute * 100 + t.second;
    item.name = SnapshotKey(entry.name);
    return item;
}

bool IsTargetFile(const WatchEntry& entry, const platform::DirEntry& listed) {
    if (listed.isDirectory) return false;
    return entry.fileMode != 1 || platform::MatchWildcard(entry.pattern, listed.name);
}

std::error_code ListTargetFiles(const WatchEntry& entry, std::vector<FoundFile>& out) {
    out.clear();
    std::vector<platform::DirEntry> listed;
    const std::error_code ec = platform::ListFolder(platform::PathFromUtf8(entry.folder), listed);
    out.reserve(listed.size());
    for (platform::DirEntry& e : listed) {
        if (!IsTargetFile(entry, e)) continue;
        SnapshotItem item = DescribeFile(e);
        out.push_back({std::move(e.name), std::move(item)});
    }
    return ec;
}

void SnapshotList::Append(SnapshotItem item) {
    SnapshotNode& node = nodes_.emplace_back();
    node.index = static_cast<std::int32_t>(nodes_.size() - 1);
    node.item = std::move(item);
    byName_.try_emplace(node.item.name, &node);  // keeps the first of equal names
}

SnapshotNode* SnapshotList::Find(std::string_view name) {
    const auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

std::string EncodeSnapshot(std::span<const SnapshotItem> items) {
    std::string bytes(items.size() * kSnapshotRecordSize, '\0');
    char* p = bytes.data();
    for (const SnapshotItem& item : items) {
        SnapshotRecord r;
        std::memset(&r, 0, sizeof r);
        PutU32(r.size, item.size);
        PutU32(r.date, static_cast<std::uint32_t>(item.date));
        PutU32(r.time, static_cast<std::uint32_t>(item.time));
        StoreField(r.name, sizeof r.name, item.name);
        std::memcpy(p, &r, sizeof r);
        p += sizeof r;
    }
    return bytes;
}

SnapshotList DecodeSnapshot(std::string_view bytes) {
    SnapshotList list;
    const std::size_t count = bytes.size() / kSnapshotRecordSize;
    list.Reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        SnapshotRecord r;
        std::memcpy(&r, bytes.data() + i * kSnapshotRecordSize, sizeof r);
        SnapshotItem item;
        item.size = GetU32(r.size);
        item.date = static_cast<std::int32_t>(GetU32(r.date));
        item.time = static_cast<std::int32_t>(GetU32(r.time));
        item.name.assign(FieldText(r.name, sizeof r.name));
        list.Append(std::move(item));
    }
    return list;
}

SnapshotList ReadSnapshotFile(const std::filesystem::path& file) {
    std::string bytes;
    if (platform::ReadFile(file, bytes)) return {};
    return DecodeSnapshot(bytes);
}

Status WriteSnapshotFile(const std::filesystem::path& file, std::span<const SnapshotItem> items) {
    if (auto ec = platform::WriteFileAtomically(file, EncodeSnapshot(items))) {
        return Status::Error("スナップショット " + platform::PathToUtf8(file) +
                             " を保存できません: " + ec.message());
    }
    return {};
}

SnapshotList ReadSnapshot(const DataFolder& data, int slot) {
    return ReadSnapshotFile(data.snapshotFile(slot));
}

Status WriteSnapshot(const DataFolder& data, int slot, const WatchEntry& entry) {
    std::vector<FoundFile> files;
    ListTargetFiles(entry, files);  // an unlistable folder is recorded as empty
    std::vector<SnapshotItem> items;
    items.reserve(files.size());
    for (FoundFile& f : files) items.push_back(std::move(f.item));
    return WriteSnapshotFile(data.snapshotFile(slot), items);
}

}  // namespace tavren::store
