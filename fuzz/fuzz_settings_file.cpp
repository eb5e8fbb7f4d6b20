// Settings-file contents as the program meets them on disk: split into
// slots, the running entries decoded, and every slot written back.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "memory_file.h"
#include "platform/text.h"
#include "store/cp932.h"
#include "store/settings_file.h"

using namespace tavren;
using namespace tavren::store;

namespace {

struct TextField {
    const char* bytes;
    std::size_t width;
    std::size_t limit;
    bool allowLookAlikes;
};

std::vector<TextField> TextFields(const SlotImage& s) {
    return {{s.title, sizeof s.title, kTitleMaxBytes, true},
            {s.folder, sizeof s.folder, kPathMaxBytes, false},
            {s.pattern, sizeof s.pattern, kPatternMaxBytes, false},
            {s.program, sizeof s.program, kPathMaxBytes, false},
            {s.moveTo, sizeof s.moveTo, kPathMaxBytes, false},
            {s.waveFile, sizeof s.waveFile, kPathMaxBytes, false}};
}

// A slot the writer could have produced itself: a running flag of 0 or 1,
// and every text within its limit and in the one CP932 form its UTF-8
// text encodes to. Such a slot must be written back byte for byte.
bool IsCanonical(const SlotImage& image) {
    const auto running = static_cast<unsigned char>(image.running[0]);
    if ((running != 0 && running != 1) || image.running[1] != 0) return false;
    for (const TextField& f : TextFields(image)) {
        const std::string_view raw = FieldText(f.bytes, f.width);
        if (raw.size() > f.limit) return false;
        std::string utf8;
        if (!platform::Cp932ToUtf8(raw, utf8)) return false;
        const auto back = ToCp932(utf8, f.allowLookAlikes);
        if (!back || *back != raw) return false;
    }
    return true;
}

bool SameBytes(const SlotImage& a, const SlotImage& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void CheckRewrite(const SlotImage& image, const Slot& slot) {
    const WatchEntry& e = slot.entry;
    for (const std::string* text :
         {&e.title, &e.folder, &e.pattern, &e.program, &e.moveTo, &e.waveFile}) {
        FUZZ_REQUIRE(fuzz::IsValidUtf8(*text));
    }

    SlotImage again = image;
    const Status written = EncodeSlot(slot, again);
    if (!written) {
        // Refused: the image is left as it was, and the user is told why.
        FUZZ_REQUIRE(SameBytes(again, image));
        FUZZ_REQUIRE(!written.message().empty());
        FUZZ_REQUIRE(!IsCanonical(image));
        return;
    }
    if (IsCanonical(image)) FUZZ_REQUIRE(SameBytes(again, image));

    // What was written reads back as an entry that writes the same bytes.
    const Slot back = DecodeSlot(again);
    FUZZ_REQUIRE(back.running == slot.running);
    SlotImage third = again;
    FUZZ_REQUIRE(EncodeSlot(back, third).ok());
    FUZZ_REQUIRE(SameBytes(third, again));
    FUZZ_REQUIRE(DecodeSlot(third).entry == back.entry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);

    const std::vector<SlotImage> slots = SplitSlots(bytes);
    FUZZ_REQUIRE(slots.size() == std::min(size / kSlotSize, kMaxWatchEntries));
    const WatchTable table = DecodeWatchTable(bytes);

    std::size_t running = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        FUZZ_REQUIRE(std::memcmp(&slots[i], data + i * kSlotSize, kSlotSize) == 0);
        const Slot slot = DecodeSlot(slots[i]);
        FUZZ_REQUIRE(slot.running == IsRunning(slots[i]));
        if (slot.running) {
            FUZZ_REQUIRE(running < table.entries.size());
            FUZZ_REQUIRE(table.entries[running] == slot.entry);
            ++running;
        }
        CheckRewrite(slots[i], slot);
    }
    FUZZ_REQUIRE(running == table.entries.size());

    // Read through a path, the same bytes give the same table and slots.
    static fuzz::MemoryFile file;
    file.Set(bytes);
    WatchTable loaded;
    FUZZ_REQUIRE(LoadWatchTable(file.path(), loaded).ok());
    FUZZ_REQUIRE(loaded.entries == table.entries);
    std::vector<SlotImage> read;
    FUZZ_REQUIRE(ReadAllSlots(file.path(), read).ok());
    FUZZ_REQUIRE(read.size() == slots.size());
    for (std::size_t i = 0; i < read.size(); ++i) FUZZ_REQUIRE(SameBytes(read[i], slots[i]));
    return 0;
}
