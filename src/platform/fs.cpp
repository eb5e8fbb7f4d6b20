#include "platform/fs.h"

namespace tavren::platform {

std::error_code CreateFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return ec;
    if (!IsFolder(folder)) return std::make_error_code(std::errc::not_a_directory);
    return {};
}

}  // namespace tavren::platform
