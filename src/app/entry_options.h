#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/usage.h"

namespace tavren::app {

// The subcommands and their options: what the words of a command line ask
// for, before anything is read or checked.

enum class Command { List, Add, Change, Remove, Run, Stop, Export, Import, Log };

struct CommandName {
    std::string_view name;
    Command command;
    bool editsEntry;     // takes the entry options
    int numbers;         // takes an entry number
    bool createFolders;  // takes --create-folders
};

// What a command line says of an entry; unset: left as it is.
struct EntryOptions {
    std::optional<std::string> title, folder, program, pattern, waveFile, moveTo;
    std::optional<int> openFile, waitExit, fileMode, timing, message, sound, afterMode, overwrite;
    bool allFiles = false;  // --all-files given

    bool noticePage() const { return message || sound || waveFile; }
    bool afterPage() const { return afterMode || moveTo || overwrite; }
};

// What the log command is to print.
struct LogOptions {
    bool follow = false;               // keep printing new lines
    std::optional<int> entry;          // only this entry's lines
    std::optional<std::string> since;  // from this local time on: YYYY-MM-DDThh:mm:ss
    std::optional<std::string> file;   // only this file: a name or a wildcard
};

struct Invocation {
    const CommandName* command = nullptr;
    std::optional<std::filesystem::path> dataDir;
    bool help = false;
    bool createFolders = false;
    EntryOptions entry;
    LogOptions log;
    std::vector<std::string> operands;
};

// Options of the whole program may come before the subcommand. The words
// after it, or nothing when the words name none.
std::optional<std::vector<std::string>> SplitAtCommand(std::span<const std::string> words,
                                                       Invocation& inv);

// Parses the words after the subcommand; an error is the message to show.
std::string ParseOptions(std::span<const std::string> words, Invocation& inv, Lang L);

// What the options ask that no dialog lets a user ask: both file choices at
// once, or a pattern holding a folder separator, which no file name matches.
std::string RefusedOptions(const EntryOptions& e, Lang L);

}  // namespace tavren::app
