#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/status.h"
#include "store/watch_entry.h"

namespace tavren::store {

// One 632-byte slot of the settings file, byte for byte: a running flag and
// the entry's fields, integers little-endian, strings CP932 and
// NUL-terminated. Bytes after a terminator are kept as they were read.
struct SlotImage {
    char running[2];
    char fileMode[2];
    char timing[2];
    char messageMode[2];
    char soundMode[2];
    char afterMode[2];
    char openFile[2];
    char waitExit[2];
    char overwrite[2];
    char title[58];
    char folder[128];
    char pattern[44];
    char program[128];
    char moveTo[128];
    char waveFile[128];
};

inline constexpr std::size_t kSlotSize = 632;
static_assert(sizeof(SlotImage) == kSlotSize);
static_assert(offsetof(SlotImage, fileMode) == 2);
static_assert(offsetof(SlotImage, overwrite) == 16);
static_assert(offsetof(SlotImage, title) == 18);
static_assert(offsetof(SlotImage, folder) == 76);
static_assert(offsetof(SlotImage, pattern) == 204);
static_assert(offsetof(SlotImage, program) == 248);
static_assert(offsetof(SlotImage, moveTo) == 376);
static_assert(offsetof(SlotImage, waveFile) == 504);

// The longest text each field takes, in CP932 bytes: room for the
// terminator, and what the list dialog bounds an entry to before saving.
inline constexpr std::size_t kTitleMaxBytes = 56;
inline constexpr std::size_t kPatternMaxBytes = 40;
inline constexpr std::size_t kPathMaxBytes = 126;

struct Slot {
    bool running = false;
    WatchEntry entry;
};

// A slot of all zero bytes: a stopped entry with empty fields.
SlotImage BlankSlotImage();

bool IsRunning(const SlotImage& image);

// Reads the fields of a slot. Strings are bounded by their field widths;
// nothing is validated.
Slot DecodeSlot(const SlotImage& image);

// Writes `slot` into `image`, leaving the bytes after each string's
// terminator as they were. Each string is bounded to its limit above
// without splitting a character. Fails, leaving `image` untouched, when a
// string has no CP932 form; the message names the field.
Status EncodeSlot(const Slot& slot, SlotImage& image);

// The slots of settings-file contents, as raw images: at most
// kMaxWatchEntries, a trailing partial slot ignored.
std::vector<SlotImage> SplitSlots(std::string_view bytes);

// The running entries of settings-file contents, packed in file order, with
// the limits of SplitSlots. LoadWatchTable is this over the file's bytes.
WatchTable DecodeWatchTable(std::string_view bytes);

// Loads the running entries of the settings file into `table`, packed from
// slot 0 in file order; at most kMaxWatchEntries slots are read and a
// trailing partial slot is ignored. A missing file keeps the table as it is
// and is not an error; an unreadable one keeps it too and reports why.
Status LoadWatchTable(const std::filesystem::path& settingsFile, WatchTable& table);

// Every slot of the settings file (at most kMaxWatchEntries), stopped ones
// included, as raw images. A missing file gives an empty list.
Status ReadAllSlots(const std::filesystem::path& settingsFile, std::vector<SlotImage>& slots);

// Replaces the settings file with `slots`, packed from offset 0. The old
// file stays intact when writing fails.
Status WriteAllSlots(const std::filesystem::path& settingsFile, std::span<const SlotImage> slots);

}  // namespace tavren::store
