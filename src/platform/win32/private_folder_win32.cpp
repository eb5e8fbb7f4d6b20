// Windows keeps a user's profile folders to their owner through their access
// lists; this checks only that the folder is there.
#include "platform/fs.h"
#include "platform/private_folder.h"
#include "platform/win32/sys_calls.h"
#include "platform/win32/win32_util.h"

namespace tavren::platform {

std::error_code CheckPrivateFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    const bool folderThere = std::filesystem::is_directory(folder, ec);
    if (ec) return ec;
    return folderThere ? std::error_code() : std::make_error_code(std::errc::not_a_directory);
}

std::error_code MakePrivateFolder(const std::filesystem::path& folder) {
    BOOL made = sys::CreateDirectoryW(folder.c_str(), nullptr);
    if (!made && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
        if (auto ec = CreateFolders(folder.parent_path())) return ec;
        made = sys::CreateDirectoryW(folder.c_str(), nullptr);
    }
    if (!made && ::GetLastError() != ERROR_ALREADY_EXISTS) return win32::LastError();
    return CheckPrivateFolder(folder);
}

}  // namespace tavren::platform
