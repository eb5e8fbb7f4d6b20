#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/log_file.h"
#include "platform/posix/sys_calls.h"
#include "platform/posix/unique_fd.h"

namespace tavren::platform {
namespace {

using posix::UniqueFd;

std::error_code Errno() {
    return {errno, std::generic_category()};
}

class PosixAppendFile final : public AppendFile {
public:
    explicit PosixAppendFile(UniqueFd fd) : fd_(std::move(fd)) {}

    std::error_code Append(std::string_view bytes) override {
        // An interrupted write wrote nothing: the lines go out whole again.
        ssize_t n;
        while ((n = sys::write(fd_.get(), bytes.data(), bytes.size())) < 0) {
            if (errno != EINTR) return Errno();
        }
        // A short write (a full disk) leaves the line cut: count it failed.
        if (static_cast<std::size_t>(n) != bytes.size())
            return std::make_error_code(std::errc::no_space_on_device);
        return {};
    }

    std::error_code Flush() override {
        while (sys::fdatasync(fd_.get()) != 0) {
            if (errno != EINTR) return Errno();
        }
        return {};
    }

    std::uint64_t Size() override {
        struct stat st {};
        return ::fstat(fd_.get(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    }

    bool StillAt(const std::filesystem::path& path) override {
        struct stat here {
        }, there{};
        return ::fstat(fd_.get(), &here) == 0 && ::stat(path.c_str(), &there) == 0 &&
               here.st_dev == there.st_dev && here.st_ino == there.st_ino;
    }

private:
    UniqueFd fd_;
};

}  // namespace

std::unique_ptr<AppendFile> OpenForAppend(const std::filesystem::path& file, std::error_code& ec) {
    UniqueFd fd(sys::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (!fd) {
        ec = Errno();
        return nullptr;
    }
    ec.clear();
    return std::make_unique<PosixAppendFile>(std::move(fd));
}

std::error_code RotateLog(const std::filesystem::path& file, std::uint64_t limit, int keep) {
    std::filesystem::path lockPath = file;
    lockPath += ".lock";
    UniqueFd lock(sys::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    if (!lock) return Errno();
    while (sys::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return Errno();
    }
    // Another process may have rotated it while we waited.
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return errno == ENOENT ? std::error_code() : Errno();
    if (static_cast<std::uint64_t>(st.st_size) < limit) return {};
    auto numbered = [&](int n) { return RotatedLogPath(file, n); };
    for (int n = keep - 1; n >= 1; --n) {
        if (sys::rename(numbered(n).c_str(), numbered(n + 1).c_str()) != 0 && errno != ENOENT)
            return Errno();
    }
    if (sys::rename(file.c_str(), numbered(1).c_str()) != 0) return Errno();
    return {};  // the lock ends with its descriptor
}

}  // namespace tavren::platform
