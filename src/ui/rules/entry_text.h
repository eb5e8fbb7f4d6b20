#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/settings_list.h"
#include "store/watch_entry.h"

namespace tavren::rules {

// The words of each mode field, in the entry text and the command line's
// options alike. A stored value without a word is written, and read, as its
// number.
struct ModeWord {
    std::string_view word;
    std::int16_t value;
};
using ModeWords = std::span<const ModeWord>;

inline constexpr ModeWord kFilesWords[] = {{"all", store::file_mode::kEveryFile},
                                           {"pattern", store::file_mode::kMatching}};
inline constexpr ModeWord kOnWords[] = {{"updates", store::timing::kUpdates},
                                        {"names", store::timing::kNames}};
inline constexpr ModeWord kMessageWords[] = {{"no", store::message_mode::kNone},
                                             {"yes", store::message_mode::kRunNotice},
                                             {"as-is", store::message_mode::kAsIs}};
inline constexpr ModeWord kSoundWords[] = {{"none", store::sound_mode::kNone},
                                           {"beep", store::sound_mode::kBeep},
                                           {"wave", store::sound_mode::kWave}};
inline constexpr ModeWord kAfterWords[] = {{"nothing", store::after_mode::kNothing},
                                           {"delete", store::after_mode::kDelete},
                                           {"move", store::after_mode::kMove}};
inline constexpr ModeWord kYesNoWords[] = {{"no", 0}, {"yes", 1}};
inline constexpr ModeWord kIfExistsWords[] = {{"rename", 0}, {"replace", 1}};

std::string WordOf(ModeWords words, std::int16_t value);
// The value of a word, or (with `numbers`) of a 16-bit number.
std::optional<std::int16_t> ValueOf(ModeWords words, std::string_view text, bool numbers);
// The words as "a|b|c", for messages.
std::string WordList(ModeWords words);

// `s` without blanks, tabs and carriage returns at its ends.
std::string_view Trimmed(std::string_view s);

// One record of the text form that export writes and import reads: an
// entry, whether it runs, and the line its record starts on.
struct EntryRecord {
    bool running = true;
    store::WatchEntry entry;
    int line = 0;
    std::vector<std::pair<std::string, int>> keyLines;  // each key given, and its line

    // The line of `key`, or of the record when the key was not given.
    int LineOf(std::string_view key) const;
};

// Every entry of `list` as text: UTF-8, one "[entry]" block per entry in
// list order, every field on a "key = value" line.
std::string ExportText(const store::SettingsList& list);

// The records of an export text; on the first fault, nothing but `error`,
// which names the line and the key.
struct ImportParse {
    std::vector<EntryRecord> records;
    std::string error;
};
ImportParse ParseEntryText(std::string_view text, bool japanese);

}  // namespace tavren::rules
