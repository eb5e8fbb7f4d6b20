#include "platform/fs.h"

#include <chrono>
#include <thread>

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

std::error_code ReadFileOrRetry(const std::filesystem::path& file, std::string& out,
                                std::size_t maxBytes) {
    std::error_code ec = ReadFile(file, out, maxBytes);
    // Missing, or not a regular file: another try would say the same.
    if (!ec || ec == std::errc::no_such_file_or_directory || ec == std::errc::invalid_argument ||
        ec == std::errc::is_a_directory || ec == std::errc::not_a_directory) {
        return ec;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return ReadFile(file, out, maxBytes);
}

std::error_code CreateFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return ec;
    if (!IsFolder(folder)) return std::make_error_code(std::errc::not_a_directory);
    return {};
}

}  // namespace tavren::platform
