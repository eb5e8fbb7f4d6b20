#pragma once

#include <filesystem>
#include <system_error>

namespace tavren::platform {

// What the settings dialogs ask of the file system about the paths a user
// types. A relative path counts from the current directory.

// Whether `path` names an existing file or folder, following links: a
// dangling link names nothing.
bool PathExists(const std::filesystem::path& path);

// Creates the folder `path`, one level only: a missing parent, or anything
// already there under that name, fails.
std::error_code CreateFolder(const std::filesystem::path& path);

// Whether `file` can be replaced as far as can be told before trying: its
// folder exists and takes new files, and the name is free or holds a
// regular file that may be written.
bool MayReplaceFile(const std::filesystem::path& file);

}  // namespace tavren::platform
