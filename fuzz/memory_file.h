#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace tavren::fuzz {

// A file in memory with a path, for readers that only take a path: each
// input replaces its contents, so no disk is touched per run.
class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("fuzz-input", MFD_CLOEXEC)) {
        if (fd_ < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void Set(std::string_view bytes) {
        if (::ftruncate(fd_, 0) != 0 ||
            ::pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
            std::perror("memory file");
            std::abort();
        }
    }
    const std::filesystem::path& path() const { return path_; }

private:
    int fd_;
    std::filesystem::path path_;
};

}  // namespace tavren::fuzz
