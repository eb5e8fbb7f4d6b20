#include "store/snapshot_journal.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/log_file.h"
#include "platform/path_text.h"
#include "store/message_language.h"

namespace tavren::store {
namespace {

constexpr std::uint32_t kSet = 1;
constexpr std::uint32_t kRemoved = 2;
constexpr std::uint32_t kCommit = 3;

constexpr std::size_t kHeaderSize = kSnapshotRecordSize;
constexpr char kMagic[16] = "Tavren3 journal";  // with its NUL
constexpr std::uint64_t kVersion = 1;
// A snapshot larger than this is refused by its reader: none to hash.
constexpr std::size_t kSnapshotMaxBytes = kSnapshotMaxRecords * kSnapshotRecordSize;

void PutU64(char* at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint64_t GetU64(const char* at) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= std::uint64_t{static_cast<unsigned char>(at[i])} << (8 * i);
    return v;
}

// 64-bit FNV-1a: no dependencies, and a changed snapshot or batch is
// told from the one a journal names but for a chance of 2^-64.
std::uint64_t Hash64(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

// The snapshot a journal belongs to.
struct Header {
    std::uint64_t size = 0;
    std::uint64_t hash = 0;
    // The file, as it was written: an identity unknown where the system
    // does not tell, and its last write, which a rewrite in place changes.
    platform::FileId id;
    std::int64_t mtimeNs = 0;

    bool SameFile(const platform::DirEntry& snapshot) const {
        return snapshot.id.known() && id == snapshot.id && size == snapshot.size &&
               mtimeNs == snapshot.mtimeNs();
    }
};

std::string EncodeHeader(const Header& h) {
    std::string bytes(kHeaderSize, '\0');
    std::memcpy(bytes.data(), kMagic, sizeof kMagic);
    PutU64(&bytes[16], kVersion);
    PutU64(&bytes[24], h.size);
    PutU64(&bytes[32], h.hash);
    PutU64(&bytes[40], h.id.volume);
    PutU64(&bytes[48], h.id.index);
    PutU64(&bytes[56], static_cast<std::uint64_t>(h.mtimeNs));
    return bytes;
}

std::optional<Header> DecodeHeader(std::string_view bytes) {
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        GetU64(&bytes[16]) != kVersion) {
        return std::nullopt;
    }
    return Header{GetU64(&bytes[24]),
                  GetU64(&bytes[32]),
                  {GetU64(&bytes[40]), GetU64(&bytes[48])},
                  static_cast<std::int64_t>(GetU64(&bytes[56]))};
}

std::uint32_t KindOf(const char* record) {
    std::uint32_t kind = 0;
    DecodeSnapshotRecord(record, &kind);
    return kind;
}

// Reads the batches that follow the header, applying the committed ones to
// `list` when given. Gives the length of the committed batches and whether
// reading stopped at a record that no writer makes; a batch left without
// its commit (a partial record included) is an append cut short.
struct Scan {
    std::size_t committed = 0;
    bool damaged = false;
};
Scan ScanBatches(std::string_view records, SnapshotList* list) {
    Scan scan;
    std::vector<SnapshotChange> batch;
    for (std::size_t at = 0; at + kSnapshotRecordSize <= records.size();
         at += kSnapshotRecordSize) {
        std::uint32_t kind = 0;
        SnapshotItem item = DecodeSnapshotRecord(records.data() + at, &kind);
        if (kind == kSet || kind == kRemoved) {
            batch.push_back({kind == kRemoved, std::move(item)});
            continue;
        }
        const std::uint64_t hash = std::uint64_t{static_cast<std::uint32_t>(item.time)} << 32 |
                                   static_cast<std::uint32_t>(item.date);
        if (kind != kCommit || item.size != batch.size() ||
            hash != Hash64(records.substr(scan.committed, at - scan.committed))) {
            scan.damaged = true;
            return scan;
        }
        for (SnapshotChange& change : batch) {
            if (!list) break;
            if (change.removed) {
                list->Remove(change.item.name);
            } else if (IsPlausibleItem(change.item)) {
                list->Upsert(std::move(change.item));
            }
        }
        batch.clear();
        scan.committed = at + kSnapshotRecordSize;
    }
    return scan;
}

std::string EncodeBatch(std::span<const SnapshotChange> changes) {
    std::string bytes((changes.size() + 1) * kSnapshotRecordSize, '\0');
    char* p = bytes.data();
    for (const SnapshotChange& change : changes) {
        EncodeSnapshotRecord(change.item, change.removed ? kRemoved : kSet, p);
        p += kSnapshotRecordSize;
    }
    const std::uint64_t hash = Hash64(std::string_view(bytes.data(), p - bytes.data()));
    SnapshotItem commit;
    commit.size = static_cast<std::uint32_t>(changes.size());
    commit.date = static_cast<std::int32_t>(static_cast<std::uint32_t>(hash));
    commit.time = static_cast<std::int32_t>(static_cast<std::uint32_t>(hash >> 32));
    EncodeSnapshotRecord(commit, kCommit, p);
    return bytes;
}

Status CannotSave(const std::filesystem::path& journal, std::error_code ec) {
    return Status::Error(Say("スナップショットのジャーナル ", "cannot save the snapshot journal ") +
                         platform::PathToUtf8(journal) + Say(" を保存できません: ", ": ") +
                         ec.message());
}

Status CannotRead(const std::filesystem::path& file, std::error_code ec) {
    return Status::Error(Say("", "cannot read ") + platform::PathToUtf8(file) +
                         Say(" を読めません: ", ": ") + ec.message());
}

// Makes the journal of `snapshotFile` (described by `snapshot`) ready for
// an append: one that belongs to it and ends with a commit stays; one cut
// short keeps its committed batches; any other is started afresh.
Status PrepareJournal(const std::filesystem::path& snapshotFile, const platform::DirEntry& snapshot,
                      const std::filesystem::path& journal) {
    platform::DirEntry described;
    std::string head;
    std::optional<Header> header;
    // Only a journal that is not there, or that holds no header of ours, is
    // started afresh: one that cannot be read now may hold committed batches.
    if (auto ec = platform::StatFile(journal, described)) {
        if (ec != std::errc::no_such_file_or_directory) return CannotRead(journal, ec);
    } else if ((ec = platform::ReadFile(journal, head, kHeaderSize))) {
        return CannotRead(journal, ec);
    } else {
        header = DecodeHeader(head);
    }
    bool belongs = header && header->SameFile(snapshot);
    if (belongs && described.size >= kHeaderSize &&
        (described.size - kHeaderSize) % kSnapshotRecordSize == 0) {
        std::string last;
        if (described.size == kHeaderSize) return {};
        if (!platform::ReadFile(journal, last, kSnapshotRecordSize,
                                described.size - kSnapshotRecordSize) &&
            last.size() == kSnapshotRecordSize && KindOf(last.data()) == kCommit) {
            return {};
        }
    }
    Header fresh;
    if (belongs) {
        fresh = *header;
    } else {
        // Another file than the one the journal names: the same bytes still
        // make it its snapshot (a data folder copied or restored).
        std::string bytes;
        if (auto ec = platform::ReadFile(snapshotFile, bytes, kSnapshotMaxBytes + 1))
            return CannotRead(snapshotFile, ec);
        if (bytes.size() > kSnapshotMaxBytes)
            return CannotRead(snapshotFile, std::make_error_code(std::errc::file_too_large));
        fresh = {bytes.size(), Hash64(bytes), snapshot.id, snapshot.mtimeNs()};
        belongs = header && header->size == fresh.size && header->hash == fresh.hash;
    }
    std::string content = EncodeHeader(fresh);
    if (belongs) {
        std::string whole;
        if (auto ec = platform::ReadFile(journal, whole, kJournalMaxBytes))
            return CannotRead(journal, ec);
        const std::string_view records = std::string_view(whole).substr(kHeaderSize);
        content += records.substr(0, ScanBatches(records, nullptr).committed);
    }
    if (auto ec = platform::WriteFileAtomically(journal, content)) return CannotSave(journal, ec);
    return {};
}

}  // namespace

std::filesystem::path JournalFileOf(const std::filesystem::path& snapshotFile) {
    std::filesystem::path journal = snapshotFile;
    journal.replace_extension(".jnl");
    return journal;
}

Status AppendSnapshotJournal(const std::filesystem::path& snapshotFile,
                             std::span<const SnapshotChange> changes, std::uint64_t* journalBytes) {
    const std::filesystem::path journal = JournalFileOf(snapshotFile);
    if (changes.empty()) {
        if (journalBytes) *journalBytes = JournalBytes(snapshotFile);
        return {};
    }
    platform::DirEntry snapshot;
    if (auto ec = platform::StatFile(snapshotFile, snapshot)) return CannotRead(snapshotFile, ec);
    if (Status s = PrepareJournal(snapshotFile, snapshot, journal); !s) return s;

    const std::string batch = EncodeBatch(changes);
    std::error_code ec;
    const auto out = platform::OpenForAppend(journal, ec);
    if (!out) return CannotSave(journal, ec);
    const std::uint64_t before = out->Size();
    if (before + batch.size() > kJournalMaxBytes)
        return CannotSave(journal, std::make_error_code(std::errc::file_too_large));
    if ((ec = out->Append(batch)) || (ec = out->Flush())) return CannotSave(journal, ec);
    if (journalBytes) *journalBytes = before + batch.size();
    return {};
}

std::uint64_t JournalBytes(const std::filesystem::path& snapshotFile) {
    platform::DirEntry described;
    return platform::StatFile(JournalFileOf(snapshotFile), described) ? 0 : described.size;
}

Status StartSnapshotJournal(const std::filesystem::path& snapshotFile,
                            std::string_view snapshotBytes) {
    platform::DirEntry snapshot;  // its identity stays unknown when it cannot be told
    platform::StatFile(snapshotFile, snapshot);
    const Header header{snapshotBytes.size(), Hash64(snapshotBytes), snapshot.id,
                        snapshot.mtimeNs()};
    const std::filesystem::path journal = JournalFileOf(snapshotFile);
    if (auto ec = platform::WriteFileAtomically(journal, EncodeHeader(header)))
        return CannotSave(journal, ec);
    return {};
}

SnapshotRead ApplySnapshotJournal(const std::filesystem::path& snapshotFile,
                                  std::string_view snapshotBytes, SnapshotList& list) {
    const std::filesystem::path journal = JournalFileOf(snapshotFile);
    if (!platform::Exists(journal)) return SnapshotRead::Ok;
    platform::DirEntry described;
    if (platform::StatFile(journal, described)) return SnapshotRead::Unreadable;
    // Refused by its size, without reading it.
    if (described.size > kJournalMaxBytes) return SnapshotRead::Damaged;
    std::string bytes;
    if (platform::ReadFileOrRetry(journal, bytes, kJournalMaxBytes + 1))
        return SnapshotRead::Unreadable;
    if (bytes.size() > kJournalMaxBytes) return SnapshotRead::Damaged;
    const std::optional<Header> header = DecodeHeader(bytes);
    // Another snapshot's journal: a crash came between replacing the
    // snapshot and replacing the journal, or another program wrote the
    // snapshot.
    if (!header || header->size != snapshotBytes.size() || header->hash != Hash64(snapshotBytes))
        return SnapshotRead::Ok;
    const Scan scan = ScanBatches(std::string_view(bytes).substr(kHeaderSize), &list);
    return scan.damaged ? SnapshotRead::JournalDamaged : SnapshotRead::Ok;
}

}  // namespace tavren::store
