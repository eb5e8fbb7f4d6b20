#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "store/status.h"

namespace tavren::store {

// The program's data root and the files below it:
//   <root>/tavdat/dirinfo.dat   the settings file
//   <root>/tavdat/<n>.dir       the snapshot of slot n
//   <root>/tavdat/<n>.jnl       its journal (snapshot_journal.h)
//   <root>/tavren3.lock         locked by the program that watches with it
class DataFolder {
public:
    explicit DataFolder(std::filesystem::path root) : root_(std::move(root)) {}

    // The root to use: `override` (from the command line) when given, else
    // $TAVREN3_DATA_DIR, else <user data home>/QUORVALE/Tavren3. Nullopt,
    // with `error` set, when none can be determined.
    static std::optional<DataFolder> Resolve(const std::optional<std::filesystem::path>& override,
                                             std::string& error);

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path tavdat() const { return root_ / "tavdat"; }
    std::filesystem::path settingsFile() const { return tavdat() / "dirinfo.dat"; }
    std::filesystem::path lockFile() const { return root_ / "tavren3.lock"; }
    std::filesystem::path snapshotFile(int slot) const {
        return tavdat() / (std::to_string(slot) + ".dir");
    }

    // Creates the root and its "tavdat" folder when they are missing, and
    // clears away temporary files that interrupted writes left there.
    Status Prepare() const;

private:
    std::filesystem::path root_;
};

}  // namespace tavren::store
