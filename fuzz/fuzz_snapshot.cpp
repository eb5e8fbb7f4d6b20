// Snapshot-file contents as read back from disk, and the stored names made
// from file names (the input up to its first NUL or '/' read as one).
#include <cstring>
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

void CheckDecode(std::string_view bytes) {
    SnapshotList list = DecodeSnapshot(bytes);
    const std::size_t count = bytes.size() / kSnapshotRecordSize;
    FUZZ_REQUIRE(list.size() == count);

    std::vector<SnapshotItem> items;
    bool canonical = true;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view record = bytes.substr(i * kSnapshotRecordSize, kSnapshotRecordSize);
        const SnapshotNode& node = list[i];
        FUZZ_REQUIRE(node.index == static_cast<std::int32_t>(i));
        FUZZ_REQUIRE(node.seen == 0);
        FUZZ_REQUIRE(node.item.size == U32At(record, 0));
        FUZZ_REQUIRE(node.item.date == static_cast<std::int32_t>(U32At(record, 4)));
        FUZZ_REQUIRE(node.item.time == static_cast<std::int32_t>(U32At(record, 8)));
        FUZZ_REQUIRE(node.item.name == FieldText(record.data() + 16, 128));
        FUZZ_REQUIRE(fuzz::IsValidUtf8(DisplayNameOfKey(node.item.name)));
        canonical = canonical && IsCanonical(record);
        items.push_back(node.item);
    }
    // A look-up by name finds the first record of that name.
    for (std::size_t i = 0; i < count; ++i) {
        const SnapshotNode* found = list.Find(items[i].name);
        FUZZ_REQUIRE(found != nullptr);
        FUZZ_REQUIRE(found->index <= static_cast<std::int32_t>(i));
        FUZZ_REQUIRE(found->item.name == items[i].name);
        for (std::size_t k = 0; k < static_cast<std::size_t>(found->index); ++k) {
            FUZZ_REQUIRE(items[k].name != items[i].name);
        }
    }

    // Written back, the records read the same, except a name that filled
    // all 128 bytes, which loses its last character to the terminator.
    const std::string encoded = EncodeSnapshot(items);
    FUZZ_REQUIRE(encoded.size() == count * kSnapshotRecordSize);
    if (canonical) FUZZ_REQUIRE(encoded == bytes.substr(0, encoded.size()));
    SnapshotList again = DecodeSnapshot(encoded);
    FUZZ_REQUIRE(again.size() == count);
    for (std::size_t i = 0; i < count; ++i) {
        SnapshotItem expected = items[i];
        expected.name.resize(Cp932FitLength(expected.name, kSnapshotNameMaxBytes));
        FUZZ_REQUIRE(again[i].item.SameState(expected));
        FUZZ_REQUIRE(again[i].item.name == expected.name);
    }

    // The file reader sees what the byte decoder sees.
    static fuzz::MemoryFile file;
    file.Set(bytes);
    const SnapshotList read = ReadSnapshotFile(file.path());
    FUZZ_REQUIRE(read.size() == count);
    for (std::size_t i = 0; i < count; ++i) {
        FUZZ_REQUIRE(read[i].item.SameState(items[i]) && read[i].item.name == items[i].name);
    }
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

    SnapshotItem item;
    item.name = key;
    const SnapshotList back = DecodeSnapshot(EncodeSnapshot({&item, 1}));
    FUZZ_REQUIRE(back.size() == 1 && back[0].item.name == key);

    const std::string display = DisplayNameOfKey(key);
    FUZZ_REQUIRE(fuzz::IsValidUtf8(display));
    std::string cp932;
    if (platform::Utf8ToCp932(fileName, cp932) && cp932.size() <= kSnapshotNameMaxBytes) {
        FUZZ_REQUIRE(key == cp932);
        FUZZ_REQUIRE(display == fileName);
    } else {
        FUZZ_REQUIRE(key.find('/') != std::string::npos);
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
