#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/data_folder.h"
#include "store/settings_list.h"
#include "store/watch_entry.h"

namespace tavren::app {

// The watch entries from the command line: list, add, change, remove, run,
// stop, export and import, for machines without the settings dialogs. Each
// change goes through the editor's checks and messages (ui/rules), is
// stored through store::SettingsList, and tells a running watcher of the
// same data folder to reload.
//
// `words` are the arguments after the program name. Returns the exit
// status, or nothing when they name no subcommand (the program then goes on
// with its usual command line). `program` is the name shown in --help.
std::optional<int> RunEntryCommand(std::span<const std::string> words, std::string_view program);

// Whether `words` name a subcommand (so that a program without a console
// of its own can attach one first).
bool NamesEntryCommand(std::span<const std::string> words);

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

// Present while a tray program has the watch settings open on `data`: it
// will write the settings file itself when they close, so a change from the
// command line meanwhile would be lost. Holds that program's process id.
std::filesystem::path SettingsOpenMarker(const store::DataFolder& data);

// Puts the marker in place for as long as it lives; a tray program holds
// one while its watch settings are open.
class SettingsOpenMark {
public:
    explicit SettingsOpenMark(const store::DataFolder& data);
    ~SettingsOpenMark();
    SettingsOpenMark(const SettingsOpenMark&) = delete;
    SettingsOpenMark& operator=(const SettingsOpenMark&) = delete;

private:
    std::filesystem::path file_;
    bool made_ = false;
};

}  // namespace tavren::app
