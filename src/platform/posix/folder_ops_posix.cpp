#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/folder_ops.h"

namespace tavren::platform {

bool PathExists(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::error_code CreateFolder(const std::filesystem::path& path) {
    if (::mkdir(path.c_str(), 0777) != 0) return {errno, std::generic_category()};
    return {};
}

bool MayReplaceFile(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
    if (::stat(file.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) && ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace tavren::platform
