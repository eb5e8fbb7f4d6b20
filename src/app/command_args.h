#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/folder_lock.h"
#include "store/data_folder.h"

namespace tavren::app {

// What the command line asks for. Both builds take the same arguments:
// --headless, --data-dir DIR (or --data-dir=DIR), --version, --help.
struct CommandArgs {
    enum class Request { Run, Help, Version, Invalid };
    Request request = Request::Run;
    bool headless = false;
    std::optional<std::filesystem::path> dataDir;
    std::string invalid;        // the argument that was not understood
    bool missingValue = false;  // `invalid` is an option without its value
};

// `args` holds the arguments after the program name, as UTF-8.
CommandArgs ParseCommandArgs(std::span<const std::string> args);

// When args[i] is --data-dir DIR or --data-dir=DIR: puts DIR into `dataDir`,
// leaves `i` on the last word it took and returns true.
bool TakeDataDir(std::span<const std::string> args, std::size_t& i,
                 std::optional<std::filesystem::path>& dataDir);

// Answers --help, --version and a bad argument on the standard streams
// with `usage`, in the language of the run and under the name the program
// was started as; returns the exit status, or nothing when the program is
// to run.
std::optional<int> AnswerWithoutRunning(const CommandArgs& args, const char* usage);

// The data folder the arguments name, created when missing. Failures are
// reported on standard error, and their text also put in `failure` when
// given.
std::optional<store::DataFolder> OpenDataFolder(const CommandArgs& args,
                                                std::string* failure = nullptr);

// The lock of the data folder, held while the engine runs: two watchers of
// one folder would both act on every file. When another Tavren3 holds it,
// or the lock cannot be taken at all (a read-only data folder, a failing
// disk), `busy` is the message (also written to standard error) and the
// program must not watch.
struct DataFolderLock {
    std::unique_ptr<platform::FileLock> lock;
    std::string busy;
};
DataFolderLock LockDataFolder(const store::DataFolder& data);

}  // namespace tavren::app
