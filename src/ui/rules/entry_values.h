#pragma once

#include <string>

#include "store/watch_entry.h"

namespace tavren::rules {

// One watch entry as the editor holds it: a member per entry field under
// the field's name, the texts in UTF-8. The defaults are those of a new
// entry: every file, reacting to names, nothing to notify, run or move.
struct EntryValues {
    std::string title;
    std::string folder;
    std::string program;
    int openFile = 0;
    int waitExit = 0;
    int fileMode = store::file_mode::kEveryFile;
    int timing = store::timing::kNames;
    int afterMode = store::after_mode::kNothing;
    int messageMode = store::message_mode::kNone;
    int soundMode = store::sound_mode::kNone;
    int overwrite = 0;
    std::string pattern;
    std::string moveTo;
    std::string waveFile;

    bool operator==(const EntryValues&) const = default;
};

// A stored entry handed to the editor: the modes as stored, the two program
// options as 0 or 1.
EntryValues ValuesOf(const store::WatchEntry& entry);

// The editor's values taken back for storing: the modes narrowed to the
// file's 16 bits, the two program options as 0 or 1. The texts are bounded
// to their fields when the entry is stored.
store::WatchEntry EntryOf(const EntryValues& values);

}  // namespace tavren::rules
