#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/wake_event.h"

namespace tavren::platform {

// What the copies of a move across file systems are called while they are
// written, where the file system cannot keep them unnamed.
inline constexpr std::string_view kMoveTemporaryPrefix = ".tavren-move-";

// Moves files for the post-processing action, also to another file system.
// Stateless and safe to call from several threads at once.
class FileMover {
public:
    virtual ~FileMover() = default;

    // Moves `from` to `to`. With replace=false an existing `to` is never
    // replaced: the move fails with std::errc::file_exists. With replace=true
    // an existing `to` is replaced atomically. Across file systems the file
    // is copied (content, permission bits, access and modification times)
    // into an unnamed file in the destination folder (where the file system
    // has none: under a temporary name), flushed to disk, given its name,
    // and only then is the source removed. A symbolic link is made again at
    // `to` with the same target (on Windows such links are not moved across
    // drives). So a crash at any moment leaves the source or a complete
    // copy, and no partial one. On failure the source stays and no copy is
    // left behind, with one exception: when replacing across file systems
    // and the source cannot be removed at the very end, the complete copy
    // stays in place of the old `to` (the error is still returned). A
    // missing destination folder is not created.
    //
    // A copy checks `cancel` before it starts and between chunks; once it is
    // set the copy stops, is discarded, and the move fails with
    // std::errc::operation_canceled, the source untouched.
    //
    // A source still being written is never removed: when a process holds
    // it open for writing, or it changed while it was copied, the copy is
    // discarded and the move fails with std::errc::device_or_resource_busy,
    // to be tried again later. On Windows a move refused because another
    // process has the file open (a sharing violation) fails the same way.
    virtual std::error_code Move(const std::filesystem::path& from, const std::filesystem::path& to,
                                 bool replace, const WakeEvent& cancel) = 0;

    // True when something, even a dangling symbolic link, has this name.
    virtual bool Exists(const std::filesystem::path& path) = 0;

    // Removes from `folder` itself (not its sub-folders) the temporary copies
    // of moves that were cut short (the process killed, the machine down) and
    // returns their paths: those named for a process that no longer runs,
    // and those of the older form without a process id last written more
    // than a minute ago. Copies of running moves and anything else stay.
    virtual std::vector<std::filesystem::path> RemoveLeftovers(
        const std::filesystem::path& /*folder*/) {
        return {};
    }
};

std::unique_ptr<FileMover> MakeFileMover();

// For the movers of each system. The name of a move's temporary copy in the
// destination folder, ".tavren-move-<pid>-<suffix>": short, since the final
// name may already be as long as a name can be.
std::string MoveTemporaryName(long pid, std::string_view suffix);
// RemoveLeftovers as the movers of each system do it.
std::vector<std::filesystem::path> RemoveMoveLeftovers(const std::filesystem::path& folder);

}  // namespace tavren::platform
