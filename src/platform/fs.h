#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tavren::platform {

// One entry of a folder listing. `name` holds the bytes the file system
// returned (UTF-8 on a Linux desktop, but any byte string is possible).
struct DirEntry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::int64_t mtimeSeconds = 0;  // last write, seconds since the epoch (UTC)
};

// Lists `folder` in the order the system returns the entries; "." and ".."
// are left out and sub-folders are not entered. A symbolic link is
// described by what it points to; a dangling one as a file of its own.
std::error_code ListFolder(const std::filesystem::path& folder, std::vector<DirEntry>& out);

// Reads at most `maxBytes` bytes from the start of `file`.
std::error_code ReadFile(const std::filesystem::path& file, std::string& out,
                         std::size_t maxBytes = SIZE_MAX);

// Replaces `file` with `data` so that at every moment the path names either
// the old file or the complete new one: the data goes into a temporary file
// beside it, is flushed to disk and then renamed over the old file. On any
// failure the old file stays and the temporary file is removed.
std::error_code WriteFileAtomically(const std::filesystem::path& file, std::string_view data);

// Removes what interrupted atomic writes left in `folder`: temporary files
// of WriteFileAtomically that were last written more than `minAgeSeconds`
// ago (younger ones may belong to a write under way).
void RemoveStaleTemporaryFiles(const std::filesystem::path& folder, std::int64_t minAgeSeconds);

// Creates `folder` and its missing parents; an existing folder is fine.
std::error_code CreateFolders(const std::filesystem::path& folder);

bool IsFolder(const std::filesystem::path& path);
bool Exists(const std::filesystem::path& path);

}  // namespace tavren::platform
