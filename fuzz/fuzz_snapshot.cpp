// Snapshot-file contents as read back from disk, and the stored names made
// from file names (the input up to its first NUL or '/' read as one).
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "memory_file.h"
#include "platform/text.h"
#include "store/cp932.h"
#include "store/snapshot.h"

using namespace tavren;
using namespace tavren::store;

namespace {

std::uint32_t U32At(std::string_view bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v |= std::uint32_t{static_cast<unsigned char>(bytes[offset + i])} << (8 * i);
    }
    return v;
}

// A record as the writer makes it: reserved bytes zero, a terminated name
// and nothing but zeros after the terminator.
bool IsCanonical(std::string_view record) {
    if (record.substr(12, 4) != std::string_view("\0\0\0\0", 4)) return false;
    const std::string_view name = record.substr(16);
    const std::size_t nul = name.find('\0');
    if (nul == std::string_view::npos) return false;
    return name.find_first_not_of('\0', nul) == std::string_view::npos;
}

// The records a decoder keeps, in file order: those with a name, a
// calendar date (years 1 to 9999) and a time of day, and of each name the
// first; a key counts as the same name as any other with its hash (the
// part from the '/' on).
std::vector<SnapshotItem> ReferenceDecode(std::string_view bytes) {
    std::vector<SnapshotItem> items;
    std::set<std::string, std::less<>> seen;
    for (std::size_t i = 0; i + kSnapshotRecordSize <= bytes.size(); i += kSnapshotRecordSize) {
        SnapshotItem item;
        item.size = U32At(bytes, i);
        item.date = static_cast<std::int32_t>(U32At(bytes, i + 4));
        item.time = static_cast<std::int32_t>(U32At(bytes, i + 8));
        item.name = FieldText(bytes.data() + i + 16, 128);
        const std::int32_t d = item.date, t = item.time;
        const bool date = d >= 10101 && d <= 99991231 && d / 100 % 100 >= 1 &&
                          d / 100 % 100 <= 12 && d % 100 >= 1 && d % 100 <= 31;
        const bool time = t >= 0 && t <= 235960 && t / 100 % 100 <= 59 && t % 100 <= 60;
        const std::string_view name = item.name;
        const std::size_t slash = name.find('/');
        if (name.empty() || !date || !time ||
            !seen.emplace(slash == name.npos ? name : name.substr(slash)).second) {
            continue;
        }
        items.push_back(std::move(item));
    }
    return items;
}

void RequireSame(const SnapshotList& list, const std::vector<SnapshotItem>& items) {
    FUZZ_REQUIRE(list.size() == items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        FUZZ_REQUIRE(list[i].index == static_cast<std::int32_t>(i));
        FUZZ_REQUIRE(list[i].seen == 0);
        FUZZ_REQUIRE(list[i].item.SameState(items[i]) && list[i].item.name == items[i].name);
    }
}

void CheckDecode(std::string_view bytes) {
    SnapshotList list = DecodeSnapshot(bytes);
    const std::vector<SnapshotItem> items = ReferenceDecode(bytes);
    RequireSame(list, items);
    bool canonical = items.size() == bytes.size() / kSnapshotRecordSize;
    for (std::size_t i = 0; i < items.size(); ++i) {
        FUZZ_REQUIRE(fuzz::IsValidUtf8(DisplayNameOfKey(items[i].name)));
        // A look-up by name finds the record of that name.
        const SnapshotNode* found = list.Find(items[i].name);
        FUZZ_REQUIRE(found != nullptr && found->index == static_cast<std::int32_t>(i));
        canonical =
            canonical && IsCanonical(bytes.substr(i * kSnapshotRecordSize, kSnapshotRecordSize));
    }

    // Written back, the records read the same, except a name that filled
    // all 128 bytes, which loses its last character to the terminator.
    const std::string encoded = EncodeSnapshot(items);
    FUZZ_REQUIRE(encoded.size() == items.size() * kSnapshotRecordSize);
    if (canonical) FUZZ_REQUIRE(encoded == bytes.substr(0, encoded.size()));
    RequireSame(DecodeSnapshot(encoded), ReferenceDecode(encoded));

    // The file reader sees what the byte decoder sees.
    static fuzz::MemoryFile file;
    file.Set(bytes);
    SnapshotRead result = SnapshotRead::Unreadable;
    RequireSame(ReadSnapshotFile(file.path(), &result), items);
    FUZZ_REQUIRE(result == SnapshotRead::Ok);
}

// Any file name gets a stored name that fits a record and survives a
// write and a read unchanged; otherwise a rescan would take the file for
// a new one every time.
void CheckKey(std::string_view fileName) {
    const std::string key = SnapshotKey(fileName);
    FUZZ_REQUIRE(!key.empty() || fileName.empty());
    FUZZ_REQUIRE(key.size() <= kSnapshotNameMaxBytes);
    FUZZ_REQUIRE(key.find('\0') == std::string::npos);
    FUZZ_REQUIRE(SnapshotKey(fileName) == key);

    SnapshotItem item{0, 20260101, 120000, key};
    const SnapshotList back = DecodeSnapshot(EncodeSnapshot({&item, 1}));
    FUZZ_REQUIRE(back.size() == (key.empty() ? 0u : 1u));
    FUZZ_REQUIRE(key.empty() || back[0].item.name == key);

    const std::string display = DisplayNameOfKey(key);
    FUZZ_REQUIRE(fuzz::IsValidUtf8(display));
    std::string cp932;
    if (platform::Utf8ToCp932(fileName, cp932) && cp932.size() <= kSnapshotNameMaxBytes) {
        FUZZ_REQUIRE(key == cp932);
        FUZZ_REQUIRE(display == fileName);
    } else {
        FUZZ_REQUIRE(key.find('/') != std::string::npos);
        FUZZ_REQUIRE(!display.empty());  // a notice can name the file
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    CheckDecode(bytes);
    // A real file name holds neither NUL nor '/', and has at most 255 bytes.
    std::string_view name = bytes.substr(0, bytes.find_first_of(std::string_view("\0/", 2)));
    CheckKey(name.substr(0, 255));
    return 0;
}
