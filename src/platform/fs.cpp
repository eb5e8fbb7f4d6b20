#include "platform/fs.h"

namespace tavren::platform {
namespace {

class SystemFolders final : public FolderReader {
public:
    std::error_code List(const std::filesystem::path& folder, std::vector<DirEntry>& out) override {
        return ListFolder(folder, out);
    }
    std::error_code Stat(const std::filesystem::path& file, DirEntry& out) override {
        return StatFile(file, out);
    }
    FileId Identity(const std::filesystem::path& path) override { return FileIdentity(path); }
};

}  // namespace

FolderReader& SystemFolderReader() {
    static SystemFolders folders;
    return folders;
}

std::error_code CreateFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return ec;
    if (!IsFolder(folder)) return std::make_error_code(std::errc::not_a_directory);
    return {};
}

}  // namespace tavren::platform
