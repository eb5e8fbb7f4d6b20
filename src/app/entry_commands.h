#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/watcher_signal.h"

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

}  // namespace tavren::app
