#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace tavren::platform {

// A log file opened for appending, shared by every process that writes it.
// Each Append is one write call at the end of the file (O_APPEND,
// FILE_APPEND_DATA), so whole lines that processes append at the same time
// never tear one another. The file may be renamed away (rotated) while it
// is open.
class AppendFile {
public:
    virtual ~AppendFile() = default;
    virtual std::error_code Append(std::string_view bytes) = 0;
    // Makes what was appended durable (fdatasync, FlushFileBuffers).
    virtual std::error_code Flush() = 0;
    // The size of the file this handle writes to.
    virtual std::uint64_t Size() = 0;
    // Whether `path` still names the file this handle writes to: false once
    // it was rotated away (or where that cannot be told cheaply).
    virtual bool StillAt(const std::filesystem::path& path) = 0;
};

// Opens `file` for appending, creating it when missing.
std::unique_ptr<AppendFile> OpenForAppend(const std::filesystem::path& file, std::error_code& ec);

// The n-th rotated copy of `file`: "file.1" is the newest.
inline std::filesystem::path RotatedLogPath(const std::filesystem::path& file, int n) {
    std::filesystem::path rotated = file;
    rotated += ".";
    rotated += std::to_string(n);
    return rotated;
}

// Renames `file` to "file.1", an existing "file.1" to "file.2", and so on,
// dropping "file.<keep>", when `file` has `limit` bytes or more. Done under
// a lock on "file.lock", and the size is read again under it, so that
// processes that found the file full at the same time rotate it once.
std::error_code RotateLog(const std::filesystem::path& file, std::uint64_t limit, int keep);

}  // namespace tavren::platform
