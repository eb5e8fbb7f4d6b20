#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fs.h"
#include "platform/posix/sys_calls.h"
#include "platform/private_folder.h"

namespace tavren::platform {

std::error_code CheckPrivateFolder(const std::filesystem::path& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return {errno, std::generic_category()};
    if (!S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::not_a_directory);
    if (st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700) {
        return std::make_error_code(std::errc::permission_denied);
    }
    return {};
}

std::error_code MakePrivateFolder(const std::filesystem::path& folder) {
    int made = sys::mkdir(folder.c_str(), 0700);
    if (made != 0 && errno == ENOENT) {
        if (auto ec = CreateFolders(folder.parent_path())) return ec;
        made = sys::mkdir(folder.c_str(), 0700);
    }
    if (made == 0) {
        ::chmod(folder.c_str(), 0700);  // an odd umask may have taken the owner's bits
    } else if (errno != EEXIST) {
        return {errno, std::generic_category()};
    }
    return CheckPrivateFolder(folder);
}

}  // namespace tavren::platform
