#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavren::store {

// One watch setting. Text fields are UTF-8 here; they become CP932 only in
// the settings file.
struct WatchEntry {
    std::int16_t fileMode = 0;     // 0 every file, 1 files matching `pattern`
    std::int16_t timing = 0;       // 1 react to name changes (and deletions), 0 to updates
    std::int16_t messageMode = 0;  // 0 none, 1 text + "を実行します。", 2 text as it is
    std::int16_t soundMode = 0;    // 0 none, 1 beep, 2 `waveFile`
    std::int16_t afterMode = 0;    // 0 nothing, 1 delete (never carried out), 2 move to `moveTo`
    std::int16_t openFile = 0;     // non-zero: open the file itself instead of `program`
    std::int16_t waitExit = 0;     // non-zero: wait until `program` ends
    std::int16_t overwrite = 0;    // non-zero: a move replaces a file of the same name
    std::string title;
    std::string folder;
    std::string pattern;
    std::string program;
    std::string moveTo;
    std::string waveFile;

    bool operator==(const WatchEntry&) const = default;
};

inline constexpr std::size_t kMaxWatchEntries = 200;

// The running entries, in settings-file order; an entry's index here is its
// slot number, by which its worker and snapshot file are addressed.
struct WatchTable {
    std::vector<WatchEntry> entries;  // never more than kMaxWatchEntries

    int count() const { return static_cast<int>(entries.size()); }
};

}  // namespace tavren::store
