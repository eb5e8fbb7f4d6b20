#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavren::store {

// The codes of a watch entry's mode fields, as the settings file stores
// them. A settings file may hold any 16-bit value in these fields; each
// predicate below says how such a value is taken.
namespace file_mode {
inline constexpr std::int16_t kEveryFile = 0;
inline constexpr std::int16_t kMatching = 1;  // files matching `pattern`
}  // namespace file_mode

namespace timing {
inline constexpr std::int16_t kUpdates = 0;  // react to files written
inline constexpr std::int16_t kNames = 1;    // react to names changed, and tell deletions
}  // namespace timing

namespace message_mode {
inline constexpr std::int16_t kNone = 0;
inline constexpr std::int16_t kRunNotice = 1;  // the text + "を実行します。"
inline constexpr std::int16_t kAsIs = 2;       // the text as it is
}  // namespace message_mode

namespace sound_mode {
inline constexpr std::int16_t kNone = 0;
inline constexpr std::int16_t kBeep = 1;
inline constexpr std::int16_t kWave = 2;  // `waveFile`
}  // namespace sound_mode

namespace after_mode {
inline constexpr std::int16_t kNothing = 0;
inline constexpr std::int16_t kDelete = 1;  // offered, but never carried out
inline constexpr std::int16_t kMove = 2;    // to `moveTo`
}  // namespace after_mode

// One watch setting. Text fields are UTF-8 here; they become CP932 only in
// the settings file. The mode fields keep the stored value as it is, so
// that the file is written back byte for byte.
struct WatchEntry {
    std::int16_t fileMode = file_mode::kEveryFile;
    std::int16_t timing = timing::kUpdates;
    std::int16_t messageMode = message_mode::kNone;
    std::int16_t soundMode = sound_mode::kNone;
    std::int16_t afterMode = after_mode::kNothing;
    std::int16_t openFile = 0;   // non-zero: open the file itself instead of `program`
    std::int16_t waitExit = 0;   // non-zero: wait until `program` ends
    std::int16_t overwrite = 0;  // non-zero: a move replaces a file of the same name
    std::string title;
    std::string folder;
    std::string pattern;
    std::string program;
    std::string moveTo;
    std::string waveFile;

    // Only files matching `pattern` are targets; any other value: every file.
    bool usesPattern() const { return fileMode == file_mode::kMatching; }
    // Woken by name changes rather than by writes: any value but kUpdates.
    bool reactsToNames() const { return timing != timing::kUpdates; }
    // Tells of deleted files: kNames alone, so an odd value reacts to names
    // but tells no deletion.
    bool reportsDeletions() const { return timing == timing::kNames; }
    bool beeps() const { return soundMode == sound_mode::kBeep; }
    bool playsWave() const { return soundMode == sound_mode::kWave; }
    // Moves each file acted on; any other value leaves it in place.
    bool movesFiles() const { return afterMode == after_mode::kMove; }

    bool operator==(const WatchEntry&) const = default;
};

inline constexpr std::size_t kMaxWatchEntries = 200;

// The running entries, in settings-file order; an entry's index here is its
// slot number, by which its worker and snapshot file are addressed.
struct WatchTable {
    std::vector<WatchEntry> entries;  // never more than kMaxWatchEntries
    // Each entry's number in the settings list (from 1, stopped entries
    // counted), as the list and the command line show it.
    std::vector<int> numbers;

    int count() const { return static_cast<int>(entries.size()); }
    int number(int slot) const {
        return slot < static_cast<int>(numbers.size()) ? numbers[slot] : slot + 1;
    }
};

}  // namespace tavren::store
