#pragma once

#include <filesystem>
#include <system_error>

namespace tavren::platform {

// Whether `folder` is a place no other user can reach into: a folder (links
// followed) owned by the current user with access for that user only (mode
// 0700 on POSIX systems). Errors: std::errc::not_a_directory, or
// std::errc::permission_denied when another user owns it or the mode lets
// others in; or what looking at it failed with.
std::error_code CheckPrivateFolder(const std::filesystem::path& folder);

// Creates `folder` with access for the current user only when it is missing
// (missing parents as usual), then checks it as above. An existing folder is
// taken as it is: one that others can enter is refused, not changed.
std::error_code MakePrivateFolder(const std::filesystem::path& folder);

}  // namespace tavren::platform
