#include <sys/stat.h>

#include <cerrno>

#include "platform/fs.h"

namespace tavren::platform {

std::error_code StatFile(const std::filesystem::path& file, DirEntry& out) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return {errno, std::generic_category()};
    out.isDirectory = S_ISDIR(st.st_mode);
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.mtimeSeconds = st.st_mtim.tv_sec;
    out.mtimeNanoseconds = static_cast<std::int32_t>(st.st_mtim.tv_nsec);
    out.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return {};
}

}  // namespace tavren::platform
